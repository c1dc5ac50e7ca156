# Sourced by the benchmark scripts. best CMD...: the best wall time of $runs
# runs of the command (output dropped), in seconds.
best() {
  local best=""
  for _ in $(seq "$runs"); do
    local start end t
    start=$(date +%s.%N); "$@" >/dev/null 2>&1; end=$(date +%s.%N)
    t=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
    best=$(awk -v t="$t" -v b="$best" 'BEGIN { print (b == "" || t < b) ? t : b }')
  done
  echo "$best"
}
