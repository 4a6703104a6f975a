#!/usr/bin/env bash
# Builds the two packages and checks them as a user meets them:
#   build/deb/packages/velinor_VERSION_amd64.deb     (the `deb` presets: release build, man page)
#   build/windows/packages/velinor-VERSION-win64.zip (the `windows` build, `windows-zip` preset)
# The .deb is unpacked into a scratch root, and the program run from there must give its
# version, list the receivers and take a simulated receiver to a confirmed rate; its man page
# must render without warnings and name every command; lintian must find no error in it. The zip must hold both programs, the
# README and the notices at its top, and both programs must start under Wine. Any miss fails.
#
#   scripts/package.sh
#
# Installs what is missing when run as root on Debian; otherwise names the packages and stops.
# An existing windows build (CI's, from scripts/windows-tests.sh) is reused as it is.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
. scripts/lib.sh
. scripts/lib-wine.sh
log() { printf '== [%3ds] %s\n' "$SECONDS" "$*"; }
fail() { echo "package: $*" >&2; exit 1; }

ensure_packages "${BUILD_PACKAGES[@]}" dpkg-dev file man-db lintian \
    g++-mingw-w64-x86-64 wine wine64 xvfb x11-utils

VERSION="$(sed -n 's/^project(velinor VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
[[ -n "$VERSION" ]] || fail "no project version in CMakeLists.txt"
DEB="build/deb/packages/velinor_${VERSION}_amd64.deb"
ZIP="build/windows/packages/velinor-${VERSION}-win64.zip"

# --- build -----------------------------------------------------------------------------------
log "Debian package: release build with the man page, then CPack"
rm -rf build/deb/packages build/windows/packages
cmake --preset deb >/dev/null
cmake --build --preset deb
cpack --preset deb >/dev/null
[[ -f "$DEB" ]] || fail "CPack made no $DEB"

log "Windows zip: the windows build's programs, then CPack"
[[ -f build/windows/CMakeCache.txt ]] || cmake --preset windows >/dev/null
cmake --build --preset windows --target velinor velinor_dialog
cpack --preset windows-zip >/dev/null
[[ -f "$ZIP" ]] || fail "CPack made no $ZIP"

WORK="$(mktemp -d /tmp/velinor-package.XXXXXX)"
X_PID=""
DEMO_PID=""
cleanup() {
    local status=$?
    trap - EXIT INT TERM
    wine_stop
    [[ -n "$DEMO_PID" ]] && { kill "$DEMO_PID" 2>/dev/null || true; wait "$DEMO_PID" 2>/dev/null || true; }
    [[ -n "$X_PID" ]] && { kill "$X_PID" 2>/dev/null || true; wait "$X_PID" 2>/dev/null || true; }
    rm -rf "$WORK"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- the .deb --------------------------------------------------------------------------------
log "checking $DEB"
field() { dpkg-deb --field "$DEB" "$1"; }
[[ "$(field Package)" == velinor ]] || fail "package name '$(field Package)'"
[[ "$(field Version)" == "$VERSION" ]] || fail "package version '$(field Version)', not $VERSION"
[[ -n "$(field Section)" && "$(field Maintainer)" == *"<"*"@"*">" ]] || fail "section or maintainer missing"
for library in libc6 libstdc++6; do
    [[ "$(field Depends)" == *"$library "* ]] || fail "Depends lacks $library: '$(field Depends)'"
done

# Debian's own checks: an error fails the package; warnings and notes are shown.
log "lintian $DEB"
status=0
lintian_out="$(lintian --fail-on error --display-info "$DEB" 2>&1)" || status=$?
[[ -z "$lintian_out" ]] || printf '%s\n' "$lintian_out"
((status == 0)) || fail "lintian finds errors in $DEB"

ROOTFS="$WORK/root"
dpkg-deb -x "$DEB" "$ROOTFS"
for file in usr/bin/velinor usr/share/man/man1/velinor.1.gz usr/share/doc/velinor/copyright \
    usr/share/doc/velinor/README.md usr/share/doc/velinor/changelog.gz; do
    [[ -f "$ROOTFS/$file" ]] || fail "the package lacks /$file"
done
readelf -d "$ROOTFS/usr/bin/velinor" | grep -qE 'RPATH|RUNPATH' && fail "the installed program keeps a library path"

# As a user runs it: another folder, a home of its own, nothing of the build tree in sight.
mkdir -p "$WORK/home" "$WORK/run"
installed() { (cd "$WORK/run" && env -i HOME="$WORK/home" PATH=/usr/bin:/bin "$ROOTFS/usr/bin/velinor" "$@"); }
out="$(installed --version)" || fail "velinor --version failed"
[[ "$out" == "velinor $VERSION" ]] || fail "velinor --version says '$out', not 'velinor $VERSION'"
out="$(installed receivers)" || fail "velinor receivers failed"
grep -q "NavCom" <<<"$out" || fail "velinor receivers lists no NavCom: $out"
# The session waits on its line most of the time: it runs while the rest is checked.
log "velinor demo from the scratch root, in the background"
installed demo --receiver NavCom --start-baud 9600 --timeout 120 >"$WORK/demo.out" 2>&1 &
DEMO_PID=$!

PAGE="$ROOTFS/usr/share/man/man1/velinor.1.gz"
warnings="$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$PAGE" 2>&1 >/dev/null)"
[[ -z "$warnings" ]] || fail "the man page renders with warnings: $warnings"
text="$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$PAGE" 2>/dev/null)"
commands="$(installed --help | awk '/^commands:/ { on = 1; next } on && /^$/ { exit } on { print $1 }')"
[[ -n "$commands" ]] || fail "velinor --help lists no commands"
for command in $commands; do
    grep -q "^ *velinor $command\$" <<<"$text" || fail "the man page has no section on '$command'"
done

# --- the zip ---------------------------------------------------------------------------------
log "checking $ZIP"
mkdir -p "$WORK/zip"
(cd "$WORK/zip" && cmake -E tar xf "$ROOT/$ZIP")
for file in velinor.exe velinor-dialog.exe README.md COPYRIGHT.txt; do
    [[ -f "$WORK/zip/$file" ]] || fail "the zip has no $file at its top"
done
strings -el "$WORK/zip/velinor-dialog.exe" | grep -qx "$VERSION" ||
    fail "velinor-dialog.exe's version resource lacks $VERSION"

wine_prefix_with_ports "$WORK"
out="$(wine "$WORK/zip/velinor.exe" --version 2>/dev/null | tr -d '\r')" || fail "velinor.exe --version failed under Wine"
[[ "$out" == "velinor $VERSION" ]] || fail "velinor.exe --version says '$out'"

log "velinor-dialog.exe under Wine on a virtual display"
Xvfb -displayfd 3 -screen 0 1024x768x24 3>"$WORK/display" >"$WORK/xvfb.log" 2>&1 &
X_PID=$!
for _ in $(seq 50); do [[ -s "$WORK/display" ]] && break; sleep 0.1; done
[[ -s "$WORK/display" ]] || fail "Xvfb did not start: $(cat "$WORK/xvfb.log")"
export DISPLAY=":$(cat "$WORK/display")"
wine explorer /desktop=Velinor,560x500 "$WORK/zip/velinor-dialog.exe" >"$WORK/dialog.log" 2>&1 &
for _ in $(seq 600); do
    xwininfo -name "Quorvex Velinor" >/dev/null 2>&1 && break
    sleep 0.1
done
xwininfo -name "Quorvex Velinor" >/dev/null 2>&1 || fail "velinor-dialog.exe showed no window: $(cat "$WORK/dialog.log")"

log "waiting for velinor demo"
status=0
wait "$DEMO_PID" || status=$?
DEMO_PID=""
((status == 0)) || fail "velinor demo exited $status: $(cat "$WORK/demo.out")"
grep -q "Receiver confirmed at 115200 baud" "$WORK/demo.out" ||
    fail "velinor demo confirmed nothing: $(cat "$WORK/demo.out")"

log "passed: $DEB and $ZIP"
