#!/usr/bin/env bash
# Start-up: from starting melodriftdown (on the bundled site) to the first
# frame of its window, against a bare Qt dialog of the same size started the
# same way, and against 0.5 s; and `melodrift parse` of one song of the
# bundled site, from start to exit, against 0.2 s. Under Xvfb when it is
# installed (the display a desktop gives), else on Qt's offscreen platform.
# Each program in a fresh XDG profile. Expects the bench preset built;
# prints rows as bench/crawl/run.sh does.
set -euo pipefail
cd "$(dirname "$0")/../.."
. bench/lib.sh
runs="${RUNS:-5}"
bin="${BUILD_DIR:-build/bench}/src"  # another build of the same targets, for comparison
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
export XDG_CONFIG_HOME=$profile/config XDG_DATA_HOME=$profile/data XDG_CACHE_HOME=$profile/cache
export XDG_RUNTIME_DIR=$profile/runtime
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export MELODRIFT_AUDIO_SINK="${MELODRIFT_AUDIO_SINK:-fakesink sync=true}"

# A start takes some 30 ms, in which one busy moment of the machine weighs
# more than in the longer rows: four times as many starts of each program.
first_frames() {
  python3 bench/startup/first_frame.py "$((runs * 4))" build/bench/bench/startup/bare_dialog \
    -- "$bin/app/melodriftdown"
}
if command -v xvfb-run >/dev/null; then
  frames=$(xvfb-run -a -s "-screen 0 1280x1024x24" bash -c "$(declare -f first_frames); \
    runs=$runs bin=$bin first_frames")
  how="Xvfb"
else
  frames=$(QT_QPA_PLATFORM=offscreen first_frames)
  how="offscreen"
fi
bare=$(echo "$frames" | sed -n 1p)
window=$(echo "$frames" | sed -n 2p)
row() { printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$@"; }
row "start-up to first frame ($how)" "$window" s "bare Qt dialog, same size" "$bare" 1.5
row "start-up to first frame ($how)" "$window" s "limit" 0.5 1.0
# The bundled site prefers port 47580; a song page on it is the start song.
parse=$(best "$bin/app/melodrift" parse "http://localhost:47580/song/2244436/")
row "parse of one song, bundled site" "$parse" s "limit" 0.2 1.0
