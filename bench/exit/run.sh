#!/usr/bin/env bash
# Usage: [MELO_BUILD_DIR=build/x] bench/exit/run.sh
# How long `melodrift parse` of one demo song takes from start to exit: with
# the bundled site started and stopped in-process, and, for reference, against
# a site already running elsewhere. Goal: the in-process run within half the
# 0.2 s limit.
set -euo pipefail
cd "$(dirname "$0")/../.."
runs="${RUNS:-5}"
. bench/lib.sh

if [ -z "${MELO_BUILD_DIR:-}" ]; then
  build_programs
fi
bin="${MELO_BUILD_DIR:-build/bench}/src"
port=$((20000 + RANDOM % 20000))
"$bin/site/melodrift-site" --port "$port" >/dev/null &
site_pid=$!
trap 'kill $site_pid 2>/dev/null' EXIT
wait_for_site "$port"

# The bundled site prefers port 47580; a song page on it is the start song.
bundled=$(best "$bin/app/melodrift" parse "http://localhost:47580/song/2244436/")
external=$(best "$bin/app/melodrift" --site "localhost:$port" parse \
  "http://localhost:$port/song/2244436/")
awk -v a="$bundled" -v b="$external" 'BEGIN {
  printf "parse, bundled site:  %5.3f s   ratio to the 0.2 s limit %.2f (goal <= 0.5)\n", a, a / 0.2
  printf "parse, running site:  %5.3f s   (reference: no site to start or stop)\n", b
}'
