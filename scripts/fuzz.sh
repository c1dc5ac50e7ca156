#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (default 60 s each, two at a time): any crash or sanitizer report fails the
# script. `scripts/fuzz.sh SECONDS [TARGET...]`.
set -euo pipefail
cd "$(dirname "$0")/.."
# Clones in other folders share ccache's objects, when ccache is there.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}" CCACHE_NOHASHDIR=1
seconds="${1:-60}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(fuzz_song_extract fuzz_text_rules fuzz_crawl_scan fuzz_search_scan fuzz_update_check
    fuzz_line_rule fuzz_request_address fuzz_gbk_round_trip fuzz_terminal_text)
fi
scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${targets[@]}"

run() {
  local target="$1" corpus="fuzz/corpus-$1" log
  log="$(mktemp)"
  mkdir -p "$corpus" fuzz/findings
  if "build/fuzz/fuzz/$target" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="fuzz/findings/$target-" "$corpus" fuzz/seeds >"$log" 2>&1; then
    echo "fuzz: $target clean, $(grep -o 'number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$') runs" >&2
    rm -f "$log"
  else
    tail -n 60 "$log" >&2
    echo "fuzz: $target FAILED (log: $log)" >&2
    return 1
  fi
}

# Two at a time: the machines this runs on have two cores.
failed=0
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  pids=()
  for target in "${targets[@]:i:2}"; do
    run "$target" &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do
    wait "$pid" || failed=1
  done
done
exit "$failed"
