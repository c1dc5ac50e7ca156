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

best() {  # best wall time of $runs runs of the command, in seconds
  local best=""
  for _ in $(seq "$runs"); do
    before_each_run
    local start end t
    start=$(date +%s.%N); "$@" >/dev/null 2>&1; end=$(date +%s.%N)
    t=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
    best=$(awk -v t="$t" -v b="$best" 'BEGIN { print (b == "" || t < b) ? t : b }')
  done
  echo "$best"
}
