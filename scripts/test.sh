#!/usr/bin/env bash
# Installs what is missing, builds everything under ASan+UBSan and runs every test.
#   scripts/test.sh [CTEST-ARGS...]   the suite once (preset asan)
#   scripts/test.sh --tsan            also the threaded tests under ThreadSanitizer (preset tsan)
#   scripts/test.sh --ci              the suite, the tsan run and every fuzz target for 10 s
#   scripts/test.sh --stress [N]      the suite N times in a row (default 20) beside two
#                                     CPU-burning processes; stops at the first failure
set -euo pipefail
cd "$(dirname "$0")/.."
# Clones in other folders share ccache's objects, when ccache is there.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}" CCACHE_NOHASHDIR=1
mode=plain
case "${1:-}" in
  --tsan | --ci) mode="${1#--}" && shift ;;
  --stress)
    mode=stress && shift
    runs=20
    if [[ "${1:-}" =~ ^[0-9]+$ ]]; then runs="$1" && shift; fi
    ;;
esac

scripts/setup.sh
cmake --preset asan >/dev/null
cmake --build --preset asan

if [ "$mode" = stress ]; then
  burners=()
  trap 'kill "${burners[@]}" 2>/dev/null || true' EXIT
  for _ in 1 2; do
    (while :; do :; done) &
    burners+=($!)
  done
  for ((i = 1; i <= runs; ++i)); do
    echo "stress: run $i of $runs" >&2
    ctest --preset asan -j2 "$@" || { echo "stress: run $i failed" >&2 && exit 1; }
  done
  echo "stress: $runs runs passed beside two CPU burners" >&2
  exit 0
fi

ctest --preset asan -j2 "$@"
if [ "$mode" = tsan ] || [ "$mode" = ci ]; then
  cmake --preset tsan >/dev/null
  cmake --build --preset tsan
  ctest --preset tsan -j2
fi
if [ "$mode" = ci ]; then
  scripts/fuzz.sh 10
fi
