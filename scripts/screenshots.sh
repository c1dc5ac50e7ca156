#!/usr/bin/env bash
# Saves PNG pictures of the main window and the About box into docs/
# (offscreen, against the bundled site). Usage: scripts/screenshots.sh [OUT_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-docs}")"
build=build/screenshots
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMELO_BUILD_TESTS=ON >/dev/null
cmake --build "$build" --target ui_tests -j2
QT_QPA_PLATFORM=offscreen MELO_SCREENSHOT_DIR="$out" \
  "$build/tests/ui/ui_tests" --gtest_filter='ScreenshotTest.*'
ls -l "$out"/*.png
