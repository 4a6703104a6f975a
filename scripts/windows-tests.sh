#!/usr/bin/env bash
# Builds the Windows cross build (the `windows` preset) and runs all its test programs under Wine,
# with COM1 and COM12 mapped to a pseudo-terminal whose other end is held by a native peer program.
#
#   scripts/windows-tests.sh [extra ctest arguments]
#
# Installs what is missing when run as root on Debian; otherwise names the packages and stops.
# Everything it starts (the peer, the Wine server) and the temporary Wine prefix are cleaned up
# on every exit, failed or not.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build/windows"
cd "$ROOT"

log() { printf '== [%3ds] %s\n' "$SECONDS" "$*"; }

# --- tools -----------------------------------------------------------------------------------
missing=()
need() {  # need PACKAGE TEST...
    local package="$1"
    shift
    if ! "$@" >/dev/null 2>&1; then missing+=("$package"); fi
}
need g++-mingw-w64-x86-64 command -v x86_64-w64-mingw32-g++-posix
need wine command -v wine
need wine64 test -x /usr/lib/wine/wine64
need cmake command -v cmake
need ninja-build command -v ninja
need g++ command -v g++
need googletest test -f /usr/src/googletest/CMakeLists.txt
need nlohmann-json3-dev test -f /usr/include/nlohmann/json.hpp
need libcli11-dev test -f /usr/include/CLI/CLI.hpp

if ((${#missing[@]})); then
    if [[ $(id -u) -ne 0 ]]; then
        echo "windows-tests: missing packages; as root run:" >&2
        echo "  apt-get install --no-install-recommends ${missing[*]}" >&2
        exit 1
    fi
    log "installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# --- build -----------------------------------------------------------------------------------
log "configuring and building the windows preset"
cmake --preset windows
cmake --build --preset windows -j2

PEER="$BUILD/tools/pty_peer"
mkdir -p "$BUILD/tools"
if [[ ! -x "$PEER" || "$ROOT/tests/tools/pty_peer/PtyPeer.cpp" -nt "$PEER" ]]; then
    log "building the pseudo-terminal peer"
    g++ -std=c++20 -O2 -Wall -Wextra -Wpedantic -Wshadow -Werror \
        -o "$PEER" "$ROOT/tests/tools/pty_peer/PtyPeer.cpp"
fi

# --- Wine with COM1 on a pseudo-terminal -------------------------------------------------------
. "$ROOT/scripts/lib-wine.sh"
WORK="$(mktemp -d /tmp/velinor-wintest.XXXXXX)"
# Without a display a message box returns at once instead of waiting for a click.
unset DISPLAY WAYLAND_DISPLAY
PEER_PID=""

cleanup() {
    local status=$?
    trap - EXIT INT TERM
    wine_stop
    if [[ -n "$PEER_PID" ]]; then
        kill "$PEER_PID" 2>/dev/null || true
        wait "$PEER_PID" 2>/dev/null || true
    fi
    rm -rf "$WORK"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$PEER" "$WORK/pty-name" >"$WORK/peer.log" 2>&1 &
PEER_PID=$!
for _ in $(seq 50); do
    [[ -s "$WORK/pty-name" ]] && break
    kill -0 "$PEER_PID" 2>/dev/null || break
    sleep 0.1
done
if [[ ! -s "$WORK/pty-name" ]]; then
    echo "windows-tests: the pseudo-terminal peer did not start:" >&2
    cat "$WORK/peer.log" >&2
    exit 1
fi
PTS="$(cat "$WORK/pty-name")"

log "creating a fresh Wine prefix with COM1 and COM12 on $PTS"
# COM12 leads to the same terminal: past COM9 a port opens only by its device-namespace name.
wine_prefix_with_ports "$WORK" "COM1=$PTS" "COM12=$PTS"

# --- tests -----------------------------------------------------------------------------------
log "running the Windows tests under Wine"
export VELINOR_PTY_PEER=1
ctest --preset windows --timeout 600 -E '^app_tests$' "$@"

# The dialog's tests make real windows. Without X, Wine makes none unless told to use its null
# display driver, where windows work but a message box waits for a click that never comes; so
# only this program runs with it, after the others (its tests never let a message box show).
log "running the dialog's tests under Wine's null display driver"
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >>"$WORK/wine-setup.log" 2>&1
wineserver -k >/dev/null 2>&1 || true
wineserver -w
wineserver -p
# Wine's services start with the first program; started by ctest's they would hold its output.
wine cmd /c exit >>"$WORK/wine-setup.log" 2>&1 || true
# A display is set up now: the dialog's tests fail instead of skipping when they cannot make a window.
VELINOR_DISPLAY_READY=1 ctest --preset windows --timeout 600 -R '^app_tests$' "$@"
