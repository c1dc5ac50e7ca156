#!/usr/bin/env bash
# Downloads from the bundled site on loopback against curl:
# - one 64 MiB MP3, melodrift download against curl -s -o FILE (goal: within
#   1.1x), and the peak resident memory of that download (goal: under 40 MB);
# - 40 songs with 20 ms before each answer, --jobs 4 against
#   curl --parallel --parallel-max 4 (goal: within 1.2x).
set -euo pipefail
cd "$(dirname "$0")/../.."
big_mib="${BIG_MIB:-64}"
songs="${SONGS:-40}"
song_kib="${SONG_KIB:-512}"
latency="${LATENCY_MS:-20}"
. bench/lib.sh

build_programs
work=$(mktemp -d)
trap 'kill $big_pid $slow_pid 2>/dev/null; rm -rf "$work"' EXIT

# MPEG frames (128 kbit/s, 44.1 kHz) with varying bytes, so that the tagger
# sees an MP3 and nothing compresses.
mp3() {  # bytes file
  python3 - "$1" "$2" <<'PY'
import os, sys
size, path = int(sys.argv[1]), sys.argv[2]
frame = 417
with open(path, "wb") as out:
    noise = os.urandom(frame * 256)
    written = 0
    while written < size:
        for i in range(256):
            chunk = b"\xff\xfb\x90\x00" + noise[i * frame + 4:(i + 1) * frame]
            out.write(chunk[: size - written])
            written += len(chunk[: size - written])
            if written >= size:
                break
PY
}
mkdir -p "$work/pages/big" "$work/pages/songs"
mp3 $((big_mib << 20)) "$work/pages/big/song.mp3"
for n in $(seq "$songs"); do mp3 $((song_kib << 10)) "$work/pages/songs/$n.mp3"; done

start_site() {  # port latency
  "$bin/site/melodrift-site" --port "$1" --latency-ms "$2" --pages "$work/pages" >/dev/null &
}
big_port=$((20000 + RANDOM % 20000)); slow_port=$((big_port + 1))
start_site "$big_port" 0; big_pid=$!
start_site "$slow_port" "$latency"; slow_pid=$!
wait_for_site "$big_port"
wait_for_site "$slow_port"

big_url="http://localhost:$big_port/big/song.mp3"
printf 'Bench\tBig\t"%s"\t\t\n' "$big_url" >"$work/big.tsv"
config="$work/songs.curl"
: >"$work/songs.tsv"; : >"$config"
for n in $(seq "$songs"); do
  url="http://localhost:$slow_port/songs/$n.mp3"
  printf 'Bench\tSong %s\t"%s"\t\t\n' "$n" "$url" >>"$work/songs.tsv"
  printf 'url = "%s"\noutput = "%s"\n' "$url" "$work/curl/$n.mp3" >>"$config"
done

before_each_run() {  # every run downloads into empty folders
  rm -rf "$work/out" "$work/curl"; mkdir -p "$work/out" "$work/curl"
}
download() {  # input jobs
  "$bin/app/melodrift" --site "localhost:$big_port" download -P "$work/out" --jobs "$2" - <"$1"
}

big_ours=(download "$work/big.tsv" 1)
big_theirs=(curl -s -o "$work/curl/song.mp3" "$big_url")
many_ours=(download "$work/songs.tsv" 4)
many_theirs=(curl -s --parallel --parallel-max 4 -K "$config")
read -r big big_curl many many_curl < <(best_each big_ours big_theirs many_ours many_theirs)
rm -rf "$work/out"; mkdir -p "$work/out"
/usr/bin/time -f '%M' -o "$work/rss" "$bin/app/melodrift" --site "localhost:$big_port" download \
  -P "$work/out" - <"$work/big.tsv" >/dev/null 2>&1
rss_kib=$(tail -1 "$work/rss")

report() {
  awk -v n="$1" -v a="$2" -v m="$3" -v b="$4" -v goal="$5" \
    'BEGIN { printf "%-22s %6.3f s   %-22s %6.3f s   ratio %.2f (goal <= %s)\n", n, a, m, b, a / b, goal }'
}
report "download ${big_mib} MiB:" "$big" "curl -o:" "$big_curl" 1.1
report "download $songs songs -j4:" "$many" "curl --parallel 4:" "$many_curl" 1.2
awk -v k="$rss_kib" 'BEGIN { printf "peak RSS of the %s MiB download: %.1f MB (goal < 40 MB)\n", '"$big_mib"', k / 1024 }'
