#!/usr/bin/env bash
# Against servers we did not write, on 127.0.0.1 only: nginx (Debian's
# nginx-light, started here with a configuration of its own and stopped at
# the end; its rows are skipped when it is not installed) and python's
# http.server (listen backlog 5), each serving the bundled site's pages
# saved into a folder, and a 16 MiB page without a media line.
# - `melodrift parse` of that page against `curl -s -o /dev/null`, and its
#   resident memory against 1.5 x the page + the program's own base (the
#   parse of a page of a few bytes);
# - `crawl chart --jobs 8` of 200 songs against `curl --parallel
#   --parallel-max 8` on the same pages, and against `--jobs 1`; and the
#   wall time of crawls against the server's own processor time in them.
# Expects the bench preset built (bench/run.sh does that); prints one line a
# measurement: name, value, unit, reference, reference value, goal.
set -euo pipefail
cd "$(dirname "$0")/../.."
songs="${SONGS:-200}"
. bench/lib.sh
# A crawl here takes 20 to 150 ms, in which one busy moment of the machine
# weighs more than in a longer run. And python's server is itself uneven:
# its threads take turns on one interpreter lock, and how they happen to
# meet the two processors moves a crawl's time by a tenth from one run to
# the next. Best of 30 rounds unless told; with 15, two runs of the same
# command there still differed by up to a sixth.
runs="${RUNS:-30}"
bin="${BUILD_DIR:-build/bench}/src"  # another build of the same targets, for comparison
work=$(mktemp -d)
. bench/servers/lib.sh
trap 'stop_servers; rm -rf "$work"' EXIT
melodrift=$bin/app/melodrift

row() { # name value unit reference reference-value goal
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$@"
}

resident_kb() {  # the largest resident size of a run of the command
  { /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null || true; } | tail -1
}

# GBK lines with CRLF ends, no "cache" anywhere: read to its end.
make_big_page() {  # file
  python3 - "$1" <<'PY'
import sys
line = b'<td><a href="/song/12345.html">\xb8\xe8\xc7\xfa</a></td>' + b' ' * 40 + b'\r\n'
size = 16 << 20
open(sys.argv[1], 'wb').write((line * (size // len(line) + 1))[:size])
PY
}

big_page_rows() {  # server-name port
  local name=$1 port=$2 page parse curl base big
  page="http://127.0.0.1:$port/big.html"
  local ours=("$melodrift" --site "127.0.0.1:$port" parse "$page")
  local theirs=(curl -s -o /dev/null "$page")
  read -r parse curl < <(best_each ours theirs)
  row "parse of a 16 MiB page ($name)" "$parse" s "curl -s -o /dev/null" "$curl" 1.2
  base=$(resident_kb "$melodrift" --site "127.0.0.1:$port" parse "http://127.0.0.1:$port/small.html")
  big=$(resident_kb "$melodrift" --site "127.0.0.1:$port" parse "$page")
  row "parse of a 16 MiB page ($name): resident" "$(awk -v k="$big" 'BEGIN { print k / 1024 }')" \
    MB "1.5 x 16 MiB + base $(awk -v k="$base" 'BEGIN { printf "%.1f", k / 1024 }') MB" \
    "$(awk -v k="$base" 'BEGIN { print 1.5 * 16 * 1.048576 + k / 1024 }')" 1.0
}

# A crawl's wall time against the server's own processor time over the same
# runs (all its threads; /proc counts them in clock ticks, hence the sums):
# near 1, the server is busy all through the crawl, and no client can be
# faster there; far above 1, the client or the wire sets the pace.
server_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }  # pid
server_time_row() {  # server-name port server-pid jobs
  local name=$1 port=$2 pid=$3 jobs=$4 wall=0 ticks=0 before t count=$(((runs + 1) / 2))
  local crawl=("$melodrift" --site "localhost:$port" crawl chart --jobs "$jobs")
  for _ in $(seq "$count"); do
    before=$(server_ticks "$pid")
    t=$(run_time "${crawl[@]}")
    ticks=$((ticks + $(server_ticks "$pid") - before))
    wall=$(awk -v w="$wall" -v t="$t" 'BEGIN { print w + t }')
  done
  row "crawl --jobs $jobs ($name): $count runs" "$wall" s "the server's processor time" \
    "$(awk -v k="$ticks" -v hz="$(getconf CLK_TCK)" 'BEGIN { print k / hz }')" -
}

# `--jobs 1` is also measured a second time, as if it were another command:
# how far that ratio strays from 1 is how far the machine lets two equal
# commands differ in this run, which a server that answers one request at a
# time leaves `--jobs 8` no room to beat.
crawl_rows() {  # server-name port server-pid
  local name=$1 port=$2 pid=$3 jobs1 jobs8 curl8 again
  local one=("$melodrift" --site "localhost:$port" crawl chart --jobs 1)
  local eight=("$melodrift" --site "localhost:$port" crawl chart --jobs 8)
  local curls=(curl -s --parallel --parallel-max 8 -K "$work/pages.curl")
  chart_curl_config "localhost:$port" "$melodrift" "$work/pages.curl"
  read -r jobs1 jobs8 curl8 again < <(best_each one eight curls one)
  row "crawl --jobs 8 ($name)" "$jobs8" s "curl --parallel-max 8" "$curl8" 1.2
  row "crawl --jobs 8 ($name)" "$jobs8" s "crawl --jobs 1" "$jobs1" 1.0
  row "crawl --jobs 1 ($name) again" "$again" s "crawl --jobs 1" "$jobs1" -
  server_time_row "$name" "$port" "$pid" 1
  server_time_row "$name" "$port" "$pid" 8
}

site=$work/site
dump_site_pages "$songs" "$site"
make_big_page "$site/big.html"
printf 'small\n' >"$site/small.html"

start_python "$site"
crawl_rows "python http.server, backlog 5" "$python_port" "$python_pid"
stop_servers

if have_nginx; then
  start_nginx "$site"
  big_page_rows nginx "$nginx_port"
  crawl_rows nginx "$nginx_port" "$nginx_pid"
  stop_servers
else
  echo "servers: nginx is not installed (apt install nginx-light): its rows are skipped" >&2
fi
