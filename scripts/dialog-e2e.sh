#!/usr/bin/env bash
# The Windows dialog end to end, the real thing: a simulated receiver (`velinor sim`, native)
# behind a pseudo-terminal that Wine maps to COM1; the dialog program under Wine on a virtual X
# display; Set Baud pressed with a real mouse click; the page followed until it monitors the
# receiver at the wanted rate; Stop pressed, with the window asked all along whether it still
# answers; screenshots of the page idle, detecting, monitoring and stopped; the settings the
# dialog writes when it is closed.
#
#   scripts/dialog-e2e.sh [OUTPUT-FOLDER]     (default: build/screenshots)
#
# Installs what is missing when run as root on Debian; otherwise names the packages and stops.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="$(mkdir -p "${1:-$ROOT/build/screenshots}" && cd "${1:-$ROOT/build/screenshots}" && pwd)"
cd "$ROOT"
. scripts/lib.sh
. scripts/lib-wine.sh
log() { printf '== [%3ds] %s\n' "$SECONDS" "$*"; }

# The receiver, where it starts, and the rate the dialog is to set: chosen in the lists, over
# other choices remembered from an earlier run (so the saved file shows what this run wrote).
RECEIVER_TYPE=7  # Leica System 500
RECEIVER_INDEX=6 # its place in the receiver list
START_BAUD=9600
TARGET_BAUD=115200
SAVED_RECEIVER=3 # Ashtech G12
SAVED_PORT=5     # COM6 (Wine may list it; COM1 is chosen in the list)
SAVED_BAUD=1200
STATUS=10701
BUTTON=10700
RECEIVERS=10703
PORTS=10704
RATES=10705

ensure_packages "${BUILD_PACKAGES[@]}" g++-mingw-w64-x86-64 wine wine64 fonts-wine xvfb xdotool imagemagick x11-utils

# The simulator comes from the debug preset, which the test command has built already in CI.
log "building the dialog and the probe (windows preset) and the simulator (debug preset)"
cmake --preset windows >/dev/null
cmake --build --preset windows --target velinor_dialog velinor_probe
cmake --preset debug >/dev/null
cmake --build --preset debug --target velinor

WORK="$(mktemp -d /tmp/velinor-dialog-e2e.XXXXXX)"
SIM_PID=""
X_PID=""
cleanup() {
    local status=$?
    trap - EXIT INT TERM
    wine_stop
    [[ -n "$SIM_PID" ]] && { kill -INT "$SIM_PID" 2>/dev/null || true; wait "$SIM_PID" 2>/dev/null || true; }
    [[ -n "$X_PID" ]] && { kill "$X_PID" 2>/dev/null || true; wait "$X_PID" 2>/dev/null || true; }
    if ((status != 0)); then
        echo "dialog-e2e: failed; the simulator said:" >&2
        cat "$WORK/sim.err" >&2 2>/dev/null || true
    fi
    rm -rf "$WORK"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

log "starting a simulated receiver (type $RECEIVER_TYPE at $START_BAUD baud)"
build/debug/velinor sim --receiver "$RECEIVER_TYPE" --baud "$START_BAUD" >"$WORK/sim.out" 2>"$WORK/sim.err" &
SIM_PID=$!
for _ in $(seq 50); do [[ -s "$WORK/sim.out" ]] && break; sleep 0.1; done
PTS="$(head -n 1 "$WORK/sim.out")"
[[ -e "$PTS" ]] || { echo "dialog-e2e: the simulator gave no terminal" >&2; exit 1; }

log "Wine prefix with COM1 on $PTS"
wine_prefix_with_ports "$WORK" "COM1=$PTS"
# The caption buttons' glyphs come from Marlett, which a fresh prefix lacks.
cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true

# The dialog keeps its settings beside itself: the last session's choices preselect the lists.
mkdir -p "$WORK/bin"
cp build/windows/velinor-dialog.exe build/windows/tests/velinor-probe.exe "$WORK/bin/"
printf '[BaudSet]\r\nLastRcvr=%d\r\nLastPort=%d\r\nLastBaud=%d\r\n' "$SAVED_RECEIVER" "$SAVED_PORT" "$SAVED_BAUD" \
    >"$WORK/bin/velinor-dialog.ini"
# The probe looks at the dialog from outside, on the Wine desktop the dialog is shown on.
probe() { VELINOR_DESKTOP=Velinor wine "$WORK/bin/velinor-probe.exe" "$@" 2>/dev/null | tr -d '\r'; }

log "virtual display and the dialog on a Wine desktop"
Xvfb -displayfd 3 -screen 0 1024x768x24 3>"$WORK/display" >"$WORK/xvfb.log" 2>&1 &
X_PID=$!
for _ in $(seq 50); do [[ -s "$WORK/display" ]] && break; sleep 0.1; done
export DISPLAY=":$(cat "$WORK/display")"
wine explorer /desktop=Velinor,560x500 "$WORK/bin/velinor-dialog.exe" >"$WORK/dialog.log" 2>&1 &

# The Wine desktop's window sits at the display's origin and the dialog at the desktop's:
# Windows screen coordinates are the display's, and a screenshot is the dialog's rectangle.
shot() {
    local size
    size="$(xwininfo -name "Quorvex Velinor" | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w "x" h}')"
    import -window root -crop "$size+0+0" +repage "$OUT/$1.png"
    log "screenshot $OUT/$1.png"
}
click() {  # click ID [sheet]: the middle of a control of the page (or of the sheet)
    local left top right bottom
    read -r left top right bottom < <(probe "${2:+sheet-}rect" "$1")
    xdotool mousemove $(((left + right) / 2)) $(((top + bottom) / 2)) click 1
}
expect_text() {  # expect_text ID TEXT WHAT
    local shown
    shown="$(probe text "$1")"
    [[ "$shown" == "$2" ]] || { echo "dialog-e2e: $3 shows \"$shown\", not \"$2\"" >&2; exit 1; }
}
# choose LIST KEYS...: gives a list the focus with a click (closing what the click dropped down)
# and picks an item with the keyboard, as a user.
choose() {
    local list="$1"
    shift
    click "$list"
    sleep 0.5
    xdotool key Escape
    sleep 0.3
    xdotool key "$@"
    sleep 0.5
}

probe wait-text "$STATUS" "Idle" 60 >/dev/null || { echo "dialog-e2e: the page never showed Idle" >&2; exit 1; }
expect_text "$RECEIVERS" "Ashtech G12" "the receiver list (remembered type $SAVED_RECEIVER)"
expect_text "$RATES" "$SAVED_BAUD" "the rate list (remembered rate)"
sleep 1
shot dialog-idle

# The status line's frame shows on every side: one of its two lines differs from the page just
# outside it (a frame whose lower and right lines are white vanishes there on a white page).
pixel() { convert "$OUT/dialog-idle.png" -crop "1x1+$1+$2" -depth 8 txt:- | awk 'END {print $3}'; }
read -r left top right bottom < <(probe rect "$STATUS")
mid_x=$(((left + right) / 2))
mid_y=$(((top + bottom) / 2))
while read -r side x1 y1 x2 y2 xo yo; do
    outside="$(pixel "$xo" "$yo")"
    if [[ "$(pixel "$x1" "$y1")" == "$outside" && "$(pixel "$x2" "$y2")" == "$outside" ]]; then
        echo "dialog-e2e: the status line's frame does not show on its $side side (page $outside)" >&2
        exit 1
    fi
done <<EOF_SIDES
top $mid_x $top $mid_x $((top + 1)) $mid_x $((top - 2))
bottom $mid_x $((bottom - 1)) $mid_x $((bottom - 2)) $mid_x $((bottom + 1))
left $left $mid_y $((left + 1)) $mid_y $((left - 2)) $mid_y
right $((right - 1)) $mid_y $((right - 2)) $mid_y $((right + 1)) $mid_y
EOF_SIDES

log "choosing Leica System 500, COM1 and $TARGET_BAUD in the lists"
downs=()
for _ in $(seq "$RECEIVER_INDEX"); do downs+=(Down); done
choose "$RECEIVERS" Home "${downs[@]}"
choose "$PORTS" Home
choose "$RATES" End
expect_text "$RECEIVERS" "Leica System 500" "the receiver list"
expect_text "$PORTS" "COM1" "the port list"
expect_text "$RATES" "$TARGET_BAUD" "the rate list"

log "clicking Set Baud"
click "$BUTTON"

# The first pass starts at the remembered rate (1200) and finds the receiver at 9600: 4800 on
# the way shows the status line's seven-character field.
probe wait-text "$STATUS" "Auto-detecting receiver baud:    4800" 60 || { echo "dialog-e2e: no detection" >&2; exit 1; }
sleep 0.3
shot dialog-detecting
probe wait-text "$STATUS" "Monitoring receiver at $TARGET_BAUD baud" 120 ||
    { echo "dialog-e2e: never monitored at $TARGET_BAUD" >&2; exit 1; }
sleep 2.5  # a monitoring ping or two: the indicator is green by then
shot dialog-monitoring
grep -q "now runs at $TARGET_BAUD baud" "$WORK/sim.err" ||
    { echo "dialog-e2e: the simulated receiver did not switch to $TARGET_BAUD" >&2; exit 1; }

# Stop: the worker may be inside a ping for a second; the window answers all the while.
log "clicking Stop, asking the window all along whether it answers"
probe answers "$STATUS" "Idle" 60 >"$WORK/answers" &
ANSWERS_PID=$!
sleep 0.3
click "$BUTTON"
wait "$ANSWERS_PID" || { echo "dialog-e2e: the page never went idle after Stop" >&2; exit 1; }
log "the window answered within $(cat "$WORK/answers") ms at most while the session stopped"
expect_text "$BUTTON" "Set Baud" "the button after the stop"
sleep 0.5
shot dialog-stopped

log "closing the dialog with its Close button"
click 1 sheet
for _ in $(seq 100); do pgrep -f velinor-dialog.exe >/dev/null || break; sleep 0.1; done
tr -d '\r' <"$WORK/bin/velinor-dialog.ini" >"$WORK/saved.ini"
# The file held other values before: each key once, with what this run chose.
for line in "LastRcvr=$RECEIVER_TYPE" "LastPort=0" "LastBaud=$TARGET_BAUD"; do
    [[ "$(grep -c "^${line%%=*}=" "$WORK/saved.ini")" == 1 ]] && grep -qx "$line" "$WORK/saved.ini" ||
        { echo "dialog-e2e: $line not saved:" >&2; cat "$WORK/saved.ini" >&2; exit 1; }
done
log "passed: the receiver runs at $TARGET_BAUD and the dialog saved its choices"
