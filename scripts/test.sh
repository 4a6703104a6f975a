#!/usr/bin/env bash
# Builds everything in the debug preset and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
cmake --preset debug >/dev/null
cmake --build --preset debug
ctest --preset debug --timeout 600 -j2
