#!/usr/bin/env bash
# Times the colorspace tool on one large photograph-like PNG beside
# ImageMagick's convert doing the same colourspace change, in one run, and
# prints the output sizes. Needs ImageMagick (Debian imagemagick) and a
# build with -DCOLORSPACE_BUILD_BENCHMARKS=ON.
#   bench/tool-speed.sh BUILD_DIR [OTHER_COLORSPACE_TOOL] [INPUT.png]
# Without INPUT, a 7680x5120 8-bit picture is made: a plasma fractal,
# blurred, with Gaussian noise, which compresses about as a photograph does.
set -euo pipefail
build=$(cd "$1" && pwd)
other=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
input=${3:-}
if [ -z "$input" ]; then
  input="$work/photo.png"
  convert -size 7680x5120 -seed 11 plasma:fractal -blur 0x2 -attenuate 0.4 +noise Gaussian -depth 8 "$input"
fi

run() {  # label command...
  local label=$1 start end
  shift
  start=$EPOCHREALTIME
  "$@"
  end=$EPOCHREALTIME
  awk -v label="$label" -v start="$start" -v end="$end" 'BEGIN { printf "%-34s %6.2f s\n", label, end - start }'
}

echo "input: $input ($(stat -c %s "$input") bytes)"
"$build/bench/colorspace-stages" "$input" "$work/stages.png"
run "colorspace convert --to ycbcr" "$build/tools/colorspace" convert --to ycbcr "$input" "$work/ours.png"
run "convert -colorspace YCbCr" convert "$input" -colorspace YCbCr "$work/imagemagick.png"
if [ -n "$other" ]; then
  run "other colorspace (given)" "$other" convert --to ycbcr "$input" "$work/other.png"
fi
for file in ours imagemagick other; do
  [ -f "$work/$file.png" ] && printf '%-34s %12d bytes\n' "$file.png" "$(stat -c %s "$work/$file.png")"
done
