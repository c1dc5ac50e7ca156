#!/usr/bin/env bash
# Crawls a 200-song chart from the bundled site (20 ms before each answer)
# with --jobs 1 and --jobs 8, against curl fetching the same list page and
# song pages one after another and with --parallel --parallel-max 8.
# Goals: jobs 1 within 1.2x of sequential curl, jobs 8 within 1.5x of
# parallel curl.
set -euo pipefail
cd "$(dirname "$0")/../.."
songs="${SONGS:-200}"
latency="${LATENCY_MS:-20}"
runs="${RUNS:-3}"

cmake --preset bench >/dev/null
cmake --build --preset bench --target melodrift melodrift-site >/dev/null
bin=build/bench/src
port=$((20000 + RANDOM % 20000))
"$bin/site/melodrift-site" --port "$port" --latency-ms "$latency" --chart-size "$songs" >/dev/null &
site_pid=$!
trap 'kill $site_pid 2>/dev/null; rm -f "$config_seq"' EXIT
for _ in $(seq 50); do curl -s -o /dev/null "http://localhost:$port/" && break; sleep 0.1; done

chart="http://localhost:$port/music/chart"
config_seq=$(mktemp)
{
  echo "url = \"$chart\""; echo "output = /dev/null"
  "$bin/app/melodrift" --site "localhost:$port" crawl chart --jobs 8 2>/dev/null | cut -f5 |
    while read -r song; do echo "url = \"$song\""; echo "output = /dev/null"; done
} >"$config_seq"
echo "song pages: $(($(grep -c '^url' "$config_seq") - 1))"

source bench/best-time.sh

crawl1=$(best "$bin/app/melodrift" --site "localhost:$port" crawl chart --jobs 1)
crawl8=$(best "$bin/app/melodrift" --site "localhost:$port" crawl chart --jobs 8)
curl1=$(best curl -s -K "$config_seq")
curl8=$(best curl -s --parallel --parallel-max 8 -K "$config_seq")
report() {
  awk -v n="$1" -v a="$2" -v m="$3" -v b="$4" -v goal="$5" \
    'BEGIN { printf "%-16s %6.2f s   %-16s %6.2f s   ratio %.2f (goal <= %s)\n", n, a, m, b, a / b, goal }'
}
report "crawl --jobs 1:" "$crawl1" "curl sequential:" "$curl1" 1.2
report "crawl --jobs 8:" "$crawl8" "curl parallel 8:" "$curl8" 1.5
