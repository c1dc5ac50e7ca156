#!/usr/bin/env bash
# Makes the bundled site's demo songs: short jingles, mono 22.05 kHz, 32 kbit/s CBR with a Xing
# header (so players know the length and can seek at once), and measures each decoded length into
# res/audio/lengths.json, which the catalogue takes the song lengths from.
# The generated files are committed; run this again only after changing the tunes below.
set -euo pipefail
cd "$(dirname "$0")/.."
out=res/audio
mkdir -p "$out"

rate=22050
caps="audio/x-raw,format=S16LE,layout=interleaved,rate=$rate,channels=1"
tenth=100000000 # one tenth of a second in nanoseconds

# jingle NAME WAVE "FREQ:TENTHS ..." — the notes follow each other; a FREQ of 0 is a rest.
jingle() {
  local name=$1 wave=$2 notes=$3
  local -a branches=()
  local at=0 freq len
  for note in $notes; do
    freq=${note%%:*}
    len=${note##*:}
    if [ "$freq" -ne 0 ]; then
      branches+=(audiotestsrc "wave=$wave" "freq=$freq" volume=0.35 "samplesperbuffer=$((rate / 10))"
        "num-buffers=$len" "timestamp-offset=$((at * tenth))" ! "$caps" ! m.)
    fi
    at=$((at + len))
  done
  # A silent bed as long as the tune keeps rests (and the end) in the file.
  branches+=(audiotestsrc wave=silence "samplesperbuffer=$((rate / 10))" "num-buffers=$at" ! "$caps" ! m.)
  gst-launch-1.0 -q audiomixer name=m ! audioconvert \
    ! lamemp3enc target=bitrate bitrate=32 cbr=true ! xingmux ! filesink "location=$out/$name.mp3" \
    "${branches[@]}"
}

# length_ms FILE: the decoded length, which is what a player reports.
length_ms() {
  local raw
  raw=$(mktemp)
  gst-launch-1.0 -q filesrc "location=$1" ! decodebin ! audioconvert \
    ! "audio/x-raw,format=S16LE,channels=1,rate=$rate" ! filesink "location=$raw"
  echo $(($(stat -c %s "$raw") * 1000 / 2 / rate))
  rm -f "$raw"
}

jingle lantern sine "523:4 659:4 784:4 1047:8 0:2 784:4 659:4 523:8 0:2 587:4 698:4 880:8 0:2 784:4 659:4 587:4 523:20 0:4"
jingle breeze sine "880:3 988:3 1175:6 0:2 988:3 880:13"
jingle harbor triangle "392:5 494:5 587:10 0:3 494:5 392:17"
jingle dusk sine "330:6 392:6 440:6 523:12 0:4 440:6 392:6 330:14"
jingle ripple square "1319:2 1175:2 1047:2 988:2 880:12"
jingle meadow triangle "262:5 330:5 392:5 523:10 0:3 392:5 440:5 494:5 523:10 0:3 659:8 587:8 523:13"
jingle tide sine "196:10 247:10 294:10 392:20 0:5 294:10 247:10 196:20 0:5 220:10 277:10 330:20 196:10"
jingle spark square "1568:2 0:1 1568:2 0:1 1760:4 1568:4 1319:8 0:3 1175:4 1319:21"
jingle echo triangle "440:6 0:4 440:4 0:6 554:6 0:4 554:4 0:6 659:10 0:6 659:6 880:8"
jingle dawn sine "349:6 440:6 523:6 698:12 0:3 659:6 587:6 523:12 0:3 466:6 440:6 392:6 349:12"

{
  echo "{"
  sep=""
  for f in "$out"/*.mp3; do
    printf '%s  "%s": %s' "$sep" "$(basename "$f")" "$(length_ms "$f")"
    sep=$',\n'
  done
  printf '\n}\n'
} >"$out/lengths.json"
cat "$out/lengths.json"
du -ch "$out"/*.mp3 | tail -1
