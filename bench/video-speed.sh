#!/usr/bin/env bash
# Frames per second of the colorspace tool turning a 1080p yuv420p stream
# (studio range, as ffmpeg writes video) into a full-range 4:4:4 .y4m,
# beside ffmpeg doing the same (-pix_fmt yuvj444p), in one run. Both write
# to a pipe, so that the disk does not decide. Needs ffmpeg.
#   bench/video-speed.sh BUILD_DIR [FRAMES]
set -euo pipefail
build=$(cd "$1" && pwd)
frames=${2:-200}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stream="$work/clip.y4m"
ffmpeg -loglevel error -f lavfi -i "testsrc2=size=1920x1080:rate=25" -frames:v "$frames" -pix_fmt yuv420p \
  -f yuv4mpegpipe "$stream"

run() {  # label command...
  local label=$1 start end
  shift
  start=$EPOCHREALTIME
  "$@" | cat >/dev/null
  end=$EPOCHREALTIME
  awk -v label="$label" -v start="$start" -v end="$end" -v frames="$frames" \
    'BEGIN { printf "%-40s %6.2f s %7.1f frames/s\n", label, end - start, frames / (end - start) }'
}

echo "input: $frames frames of 1920x1080 yuv420p ($(stat -c %s "$stream") bytes)"
for attempt in 1 2; do
  run "colorspace convert --to yuv (4:4:4)" "$build/tools/colorspace" convert --to yuv --format y4m "$stream" - 2>/dev/null
  run "ffmpeg -pix_fmt yuvj444p" ffmpeg -loglevel error -i "$stream" -pix_fmt yuvj444p -f yuv4mpegpipe -
done
