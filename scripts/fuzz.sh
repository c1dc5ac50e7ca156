#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (default 60 s each): any crash or sanitizer report fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_song_extract fuzz_text_rules
for target in fuzz_song_extract fuzz_text_rules; do
  corpus="fuzz/corpus-$target"
  mkdir -p "$corpus"
  echo "fuzz: $target for ${seconds}s" >&2
  "build/fuzz/fuzz/$target" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
    "$corpus" fuzz/seeds 2>&1 | tail -n 4
done
