#!/bin/bash
# The icon renderer: a wide picture becomes square PNGs of each size, centred on transparency;
# a file that is not SVG and a bad size are refused.
#   check_icon_render.sh RENDERER SCRATCH_DIR
set -u
render=$1 dir=$2
fail=0
bad() { echo "FAIL: $*"; fail=1; }
rm -rf "$dir" && mkdir -p "$dir" || exit 1

cat >"$dir/wide.svg" <<'SVG'
<svg xmlns="http://www.w3.org/2000/svg" width="200" height="100" viewBox="0 0 200 100">
  <rect x="0" y="0" width="200" height="100" fill="#ff0000"/>
</svg>
SVG
"$render" "$dir/wide.svg" "$dir/out" app.id 16 48 256 || bad "rendering failed"
pixel() { convert "$1" -format "%[pixel:p{$2,$3}]" info:; }
for size in 16 48 256; do
  png=$dir/out/${size}x${size}/apps/app.id.png
  [[ -f $png ]] || { bad "no $png"; continue; }
  [[ $(identify -format '%w %h %m' "$png") == "$size $size PNG" ]] || bad "$png is $(identify -format '%w %h %m' "$png")"
  half=$((size / 2))
  # The 2:1 picture fills the middle half of the square's height.
  [[ $(pixel "$png" "$half" "$half") == "srgba(255,0,0,1)" ]] || bad "$png middle is $(pixel "$png" "$half" "$half")"
  [[ $(pixel "$png" "$half" 0) == "srgba(0,0,0,0)" ]] || bad "$png top is $(pixel "$png" "$half" 0)"
  [[ $(pixel "$png" "$half" $((size - 1))) == "srgba(0,0,0,0)" ]] || bad "$png bottom is not transparent"
done

echo "not a picture" >"$dir/broken.svg"
"$render" "$dir/broken.svg" "$dir/none" app.id 16 2>/dev/null
[[ $? == 1 ]] || bad "an unreadable SVG is not refused with 1"
[[ ! -e $dir/none ]] || bad "a refused SVG left output behind"
for size in 0 abc 5000; do
  "$render" "$dir/wide.svg" "$dir/none" app.id "$size" 2>/dev/null
  [[ $? == 2 ]] || bad "size $size is not refused with 2"
done
exit $fail
