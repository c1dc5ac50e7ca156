#!/usr/bin/env bash
# Builds the benchmarks (preset bench) and prints one table: each measurement,
# its limit or the reference measured in the same run, their ratio and the
# goal for that ratio. Run it on a quiet machine: every figure is a wall time
# or a thread's CPU time.
#   bench/run.sh            everything
#   RUNS=5 bench/run.sh     best of 5 runs of each timed command (default 3;
#                           30 for the rows against nginx and python)
#   MELO_IDLE_SECONDS=10 bench/run.sh   the idle window measured for 10 s,
#                           scaled to 60 s (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset bench >/dev/null
cmake --build --preset bench --target melodrift melodrift-site plain_site reader_bench \
  list_bench store_bench melodriftdown bare_dialog >/dev/null
rows=$(mktemp)
trap 'rm -f "$rows"' EXIT

# One 16 MiB page through PageReader against the curl tool (medians).
build/bench/bench/reader/reader_bench --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null |
  awk -F, '/_median"/ { gsub(/"/, "", $1); t[$1] = $3 }
    END {
      printf "16 MiB page, PageReader::ReadToEnd\t%.4f\ts\tcurl -s -o /dev/null\t%.4f\t1.2\n",
        t["BM_PageReaderReadToEnd/real_time_median"] / 1000,
        t["BM_CurlToolToDevNull/real_time_median"] / 1000
    }' >>"$rows"

bench/crawl/run.sh >>"$rows"
# nginx and python's http.server: a 16 MiB page, and the crawls.
bench/servers/run.sh >>"$rows"
bench/startup/run.sh >>"$rows"
bench/playback/cpu.sh >>"$rows"

# The song list in the window; each figure against its limit.
build/bench/bench/list/list_bench 2>/dev/null |
  awk -F'\t' '{ printf "%s\t%s\t%s\tlimit\t%s\t%s\n", $1, $2, $4, $3, (NF >= 5 ? $5 : "1.0") }' >>"$rows"

# The remembered list: each figure against its reference or limit.
build/bench/bench/store/store_bench 2>/dev/null |
  awk -F'\t' '{ printf "%s\t%s\t%s\treference\t%s\t%s\n", $1, $2, $5, $3, $4 }' >>"$rows"

awk -F'\t' '
  BEGIN {
    printf "%-52s %10s  %-36s %10s  %6s  %6s\n", "measurement", "value", "reference / limit",
      "ref", "ratio", "goal"
  }
  {
    ratio = $5 > 0 ? $2 / $5 : 0
    goal = $6 == "-" ? "" : sprintf("<=%4.1f %s", $6, ratio <= $6 ? "ok" : "MISSED")
    printf "%-52s %8.3f %-2s %-36s %8.3f %-2s %6.2f  %s\n", $1, $2, $3, $4, $5, $3, ratio, goal
  }' "$rows"
