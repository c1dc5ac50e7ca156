#!/usr/bin/env bash
# Crawls a 200-song chart with --jobs 1 and --jobs 8 from the bundled site and
# from plain_site (the same pages behind a plain loopback server of the
# benchmark's own), each with no added latency and with 20 ms before every
# answer, and fetches the same pages with curl, one after another and with
# --parallel --parallel-max 8. Compares each crawl with curl and with the
# limit the latency sets (songs x latency / jobs, plus the list page).
# Expects the bench preset built (bench/run.sh does that); prints one line a
# measurement: name, value, unit, reference, reference value, goal (the
# largest ratio that meets it; - for a figure shown for comparison).
set -euo pipefail
cd "$(dirname "$0")/../.."
songs="${SONGS:-200}"
. bench/lib.sh
build="${BUILD_DIR:-build/bench}"  # another build of the same targets, for comparison
bin=$build/src
plain=$build/bench/crawl/plain_site
work=$(mktemp -d)
server_pid=""
trap 'if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null; fi; rm -rf "$work"' EXIT

row() { # name value unit reference reference-value goal
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$@"
}

start_server() { # kind latency; sets host and server_pid
  local kind=$1 latency=$2
  if [ "$kind" = site ]; then
    "$bin/site/melodrift-site" --port 0 --latency-ms "$latency" --chart-size "$songs" \
      >"$work/out" &
  else
    "$plain" "$latency" "$songs" >"$work/out" &
  fi
  server_pid=$!
  for _ in $(seq 100); do [ -s "$work/out" ] && break; sleep 0.05; done
  if [ "$kind" = site ]; then
    host=$(sed -n 's|listening on http://\(.*\)/|\1|p' "$work/out")
  else
    host="localhost:$(cat "$work/out")"
  fi
}

stop_server() {
  kill "$server_pid"
  wait "$server_pid" 2>/dev/null || true
  server_pid=""
}

measure() { # kind latency
  local kind=$1 latency=$2 name
  name="$([ "$kind" = site ] && echo "bundled site" || echo "plain server"), $latency ms"
  start_server "$kind" "$latency"
  local one=("$bin/app/melodrift" --site "$host" crawl chart --jobs 1)
  local eight=("$bin/app/melodrift" --site "$host" crawl chart --jobs 8)
  local curl_one=(curl -s -K "$work/pages")
  local curl_eight=(curl -s --parallel --parallel-max 8 -K "$work/pages")
  chart_curl_config "$host" "$bin/app/melodrift" "$work/pages"
  local jobs1 jobs8 curl1 curl8
  read -r jobs1 jobs8 curl1 curl8 < <(best_each one eight curl_one curl_eight)
  stop_server
  # Goals: those of the bundled site; the plain server's figures show what
  # the program reaches when the server is not in the way.
  local curl_goal=- jobs_goal=-
  if [ "$kind" = site ]; then
    curl_goal=1.2
    jobs_goal=1.0
  fi
  row "crawl --jobs 1 ($name)" "$jobs1" s "curl one after another" "$curl1" -
  row "crawl --jobs 8 ($name)" "$jobs8" s "curl --parallel-max 8" "$curl8" "$curl_goal"
  row "crawl --jobs 8 ($name)" "$jobs8" s "crawl --jobs 1" "$jobs1" "$jobs_goal"
  if [ "$latency" -gt 0 ]; then
    row "crawl --jobs 1 ($name)" "$jobs1" s "limit (songs+1) x latency" \
      "$(awk -v n="$songs" -v l="$latency" 'BEGIN { print (n + 1) * l / 1000 }')" 1.1
    row "crawl --jobs 8 ($name)" "$jobs8" s "limit songs x latency / 8 + latency" \
      "$(awk -v n="$songs" -v l="$latency" 'BEGIN { print (n * l / 8 + l) / 1000 }')" 1.2
  fi
  eval "last_jobs1_${kind}=$jobs1"
}

for latency in 0 20; do
  measure plain "$latency"
  measure site "$latency"
  if [ "$latency" -eq 0 ]; then
    # The issue's goal: 0.3 s against 0.12 s from a plain server.
    row "crawl --jobs 1 (bundled site, 0 ms)" "$last_jobs1_site" s "crawl --jobs 1 (plain server)" \
      "$last_jobs1_plain" 2.5
  fi
done
