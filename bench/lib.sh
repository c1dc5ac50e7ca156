# What the benchmark scripts share; sourced from the repository's root.
runs="${RUNS:-${runs:-3}}"
bin=build/bench/src

build_programs() {
  cmake --preset bench >/dev/null
  cmake --build --preset bench --target melodrift melodrift-site >/dev/null
}

wait_for_site() {  # port
  for _ in $(seq 50); do curl -s -o /dev/null "http://localhost:$1/" && break; sleep 0.1; done
}

# curl's config for the chart of host:port and every song page it names, as the crawl fetches them.
chart_curl_config() {  # host:port melodrift-program file
  local host=$1 program=$2
  {
    echo "url = \"http://$host/music/chart\""
    echo "output = /dev/null"
    "$program" --site "$host" crawl chart --jobs 8 2>/dev/null | cut -f5 |
      while read -r song; do
        echo "url = \"$song\""
        echo "output = /dev/null"
      done
  } >"$3"
}

before_each_run() { :; }  # a script may clean up between runs

run_time() {  # wall time of one run of the command, in seconds, by bash's own clock
  local start=${EPOCHREALTIME/[.,]/}
  "$@" >/dev/null 2>&1
  local end=${EPOCHREALTIME/[.,]/}
  awk -v t=$((end - start)) 'BEGIN { printf "%.6f\n", t / 1e6 }'
}

smaller() {  # the smaller of two times; the second may be empty
  awk -v t="$1" -v b="$2" 'BEGIN { print (b == "" || t < b) ? t : b }'
}

best() {  # best wall time of $runs runs of the command, in seconds
  local -a only_command=("$@")
  best_each only_command
}

# The best wall time of each command (given as the names of arrays that hold
# them), in that order on one line. The commands take turns, $runs rounds, so
# that a change in the machine's load falls on all of them alike rather than
# on the one that ran through it.
best_each() {  # array-name...
  local -a bests=() command
  local i name
  for _ in $(seq "$runs"); do
    i=0
    for name in "$@"; do
      eval "command=(\"\${${name}[@]}\")"
      before_each_run
      bests[i]=$(smaller "$(run_time "${command[@]}")" "${bests[i]:-}")
      i=$((i + 1))
    done
  done
  echo "${bests[*]}"
}
