#!/usr/bin/env bash
# The Windows dialog end to end, the real thing: a simulated receiver (`velinor sim`, native)
# behind a pseudo-terminal that Wine maps to COM1; the dialog program under Wine on a virtual X
# display; Set Baud pressed with a real mouse click; the page followed until it monitors the
# receiver at the wanted rate; screenshots of the page idle, detecting and monitoring; the
# settings the dialog writes when it is closed.
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

# The receiver, where it starts, and the rate the dialog is to set (remembered choices, as a
# user's last session would have left them).
RECEIVER_TYPE=7  # Leica System 500
START_BAUD=9600
TARGET_BAUD=115200
STATUS=10701
BUTTON=10700

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
printf '[BaudSet]\r\nLastRcvr=%d\r\nLastPort=0\r\nLastBaud=%d\r\n' "$RECEIVER_TYPE" "$TARGET_BAUD" >"$WORK/bin/velinor-dialog.ini"
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
probe wait-text "$STATUS" "Idle" 60 >/dev/null || { echo "dialog-e2e: the page never showed Idle" >&2; exit 1; }
sleep 1
shot dialog-idle

read -r left top right bottom < <(probe rect "$BUTTON")
log "clicking Set Baud at $(((left + right) / 2)),$(((top + bottom) / 2))"
xdotool mousemove $(((left + right) / 2)) $(((top + bottom) / 2)) click 1

# The first pass starts at the remembered rate, the next from 1200: 4800 shows the status line's
# seven-character field.
probe wait-text "$STATUS" "Auto-detecting receiver baud:    4800" 60 || { echo "dialog-e2e: no detection" >&2; exit 1; }
sleep 0.3
shot dialog-detecting
probe wait-text "$STATUS" "Monitoring receiver at $TARGET_BAUD baud" 120 ||
    { echo "dialog-e2e: never monitored at $TARGET_BAUD" >&2; exit 1; }
sleep 2.5  # a monitoring ping or two: the indicator is green by then
shot dialog-monitoring
grep -q "now runs at $TARGET_BAUD baud" "$WORK/sim.err" ||
    { echo "dialog-e2e: the simulated receiver did not switch to $TARGET_BAUD" >&2; exit 1; }

log "closing the dialog with its Close button"
read -r left top right bottom < <(probe sheet-rect 1)
xdotool mousemove $(((left + right) / 2)) $(((top + bottom) / 2)) click 1
for _ in $(seq 100); do pgrep -f velinor-dialog.exe >/dev/null || break; sleep 0.1; done
tr -d '\r' <"$WORK/bin/velinor-dialog.ini" >"$WORK/saved.ini"
for line in "LastRcvr=$RECEIVER_TYPE" "LastPort=0" "LastBaud=$TARGET_BAUD"; do
    grep -qx "$line" "$WORK/saved.ini" || { echo "dialog-e2e: $line not saved:" >&2; cat "$WORK/saved.ini" >&2; exit 1; }
done
log "passed: the receiver runs at $TARGET_BAUD and the dialog saved its choices"
