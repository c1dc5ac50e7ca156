#!/usr/bin/env bash
# CPU time while a song plays: `melodrift play` of a 15 s MP3 of the bundled
# site against gst-play-1.0 on the same address, both into the same sink
# (MELODRIFT_AUDIO_SINK, "fakesink sync=true" by default: real time, no
# sound card needed). Each process's CPU time from 2 s after its start to 2 s
# before the song's end, scaled to one minute of playback; start-up is left
# out. Skipped when gst-play-1.0 (gstreamer1.0-plugins-base-apps) is missing.
# Expects the bench preset built; prints rows as bench/crawl/run.sh does.
set -euo pipefail
cd "$(dirname "$0")/../.."
. bench/lib.sh
bin="${BUILD_DIR:-build/bench}/src"  # another build of the same targets, for comparison
sink="${MELODRIFT_AUDIO_SINK:-fakesink sync=true}"
if ! command -v gst-play-1.0 >/dev/null; then
  echo "playback: gst-play-1.0 is not installed: its row is skipped" >&2
  exit 0
fi
work=$(mktemp -d)
site_pid=""
trap 'if [ -n "$site_pid" ]; then kill "$site_pid" 2>/dev/null; fi; rm -rf "$work"' EXIT
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$bin/site/melodrift-site" --port "$port" >/dev/null &
site_pid=$!
wait_for_site "$port"
# 白露为霜: tide.mp3, the longest of the bundled songs.
song=$("$bin/app/melodrift" --site "localhost:$port" parse "http://localhost:$port/song/3100218/" \
  2>/dev/null | cut -f3 | tr -d '"')
mp3=$(python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1], safe=":/"))' "$song")

cpu_ticks() {  # pid: user + system time so far, in clock ticks
  awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0
}

playing_cpu() {  # command...: CPU seconds per minute of playback
  "$@" >/dev/null 2>&1 &
  local pid=$! first last
  sleep 2
  first=$(cpu_ticks "$pid")
  sleep 10
  last=$(cpu_ticks "$pid")
  wait "$pid" || true
  awk -v a="$first" -v b="$last" -v hz="$(getconf CLK_TCK)" 'BEGIN { print (b - a) / hz * 6 }'
}

ours=$(MELODRIFT_AUDIO_SINK="$sink" playing_cpu "$bin/app/melodrift" --site "localhost:$port" \
  play "$song")
reference=$(playing_cpu gst-play-1.0 --no-interactive --audiosink="$sink" "$mp3")
printf '%s\t%s\t%s\t%s\t%s\t%s\n' "playing a song: CPU per minute" "$ours" s \
  "gst-play-1.0, same MP3 and sink" "$reference" 1.5
