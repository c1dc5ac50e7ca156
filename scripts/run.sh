#!/usr/bin/env bash
# Installs what is missing, builds the programs and opens the window on the bundled site.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset dev >/dev/null
cmake --build --preset dev
exec build/dev/src/app/melodriftdown --demo "$@"
