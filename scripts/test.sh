#!/usr/bin/env bash
# Installs what is missing, builds everything under ASan+UBSan and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan -j2 "$@"
