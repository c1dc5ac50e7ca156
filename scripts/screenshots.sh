#!/usr/bin/env bash
# Saves PNG pictures of the main window and the About box (offscreen, against
# the bundled site) into docs/ or OUT_DIR.
# Usage: [MELO_BUILD_DIR=build/x] scripts/screenshots.sh [OUT_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-docs}")"
build="${MELO_BUILD_DIR:-build/screenshots}"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMELO_BUILD_TESTS=ON >/dev/null
fi
cmake --build "$build" --target ui_tests -j2
QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 MELO_SCREENSHOT_DIR="$out" \
  "$build/tests/ui/ui_tests" --gtest_filter='ScreenshotTest.*'
ls -l "$out"/*.png
