#!/usr/bin/env bash
# Builds velinor and runs the main job: with no arguments, a baud session against a simulated
# receiver ("velinor demo"); with arguments, those of velinor (e.g. set --receiver "Leica GMX900"
# --port /dev/ttyUSB0 --baud 115200 for a real receiver).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
ensure_packages "${BUILD_PACKAGES[@]}"
cmake --preset app >/dev/null
cmake --build --preset app --target velinor
if [ $# -eq 0 ]; then
    exec ./build/app/velinor demo
fi
exec ./build/app/velinor "$@"
