#!/usr/bin/env bash
# The tile job on a 6000 x 4000 JPEG and on a 12000 x 9000 PNG, whole
# process: mosalune-cut against ImageMagick doing the same job (with its
# shrink-on-load hint for the JPEG), in one run.
#
#   bench/tiles/run.sh [RUNS] [all|jpeg|png|full]   (default 15 runs each,
#                                 all; PNG_RUNS=3 for the PNG, FULL_RUNS=5
#                                 for the full-resolution job)
#   CUTTER=/path/to/mosalune-cut bench/tiles/run.sh ...   (another build, for A/B)
#
# Besides the ratio to ImageMagick it prints the cutter on both cores against
# the cutter held to one (taskset -c 0; both runs started through taskset),
# the ratio to the single-core floor (JPEG), and the load average before and
# after, so that a figure taken on a busy machine shows as such.
#
# "full" is the grid job at the picture's own resolution on the 6000 x 4000
# JPEG (--grid 4x2 --fit crop --size full --format jpeg --quality 92) against
# ImageMagick's crop of the same 6000 x 3000 area into 4 x 2 JPEGs and
# against the single-core floor (djpeg of the picture plus cjpeg of the area,
# timed apart and added), and --lossless against that re-encoding job.
#
# Needs a build in build/ (scripts/build.sh). Installs ImageMagick, GNU time
# and taskset when they are missing.
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-15}
which=${2:-all}
cutter=${CUTTER:-$PWD/build/bin/mosalune-cut}
[ -x "$cutter" ] || { echo "build first: scripts/build.sh" >&2; exit 2; }

need=()
command -v convert >/dev/null || need+=(imagemagick)
command -v djpeg >/dev/null && command -v jpegtran >/dev/null || need+=(libjpeg-turbo-progs)
[ -x /usr/bin/time ] || need+=(time)
command -v taskset >/dev/null || need+=(util-linux)
if ((${#need[@]})); then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${need[@]}" >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The same job in ImageMagick: shrink on load, stretch to 400 x 200, keep
# 396 x 196, cut eight rectangles of about 99 x 98, stretch each to
# 150 x 150, keep 146 x 146, write 24-bit bitmaps.
imagemagick() {
  local source=${1:-big.jpg}
  local crops=("99x98+0+0" "99x98+99+0" "99x98+198+0" "99x98+297+0"
               "99x98+0+98" "99x98+99+98" "99x98+198+98" "99x98+297+98")
  local args=(-define jpeg:size=800x400 "$source" -resize '400x200!' -crop 396x196+0+0 +repage
              -write mpr:d +delete)
  local i
  for i in 0 1 2 3 4 5 6; do
    args+=('(' mpr:d -crop "${crops[$i]}" +repage -resize '150x150!' -crop 146x146+0+0 +repage
           -type TrueColor -write "BMP3:$((i + 1)).jpg" +delete ')')
  done
  args+=(mpr:d -crop "${crops[7]}" +repage -resize '150x150!' -crop 146x146+0+0 +repage
         -type TrueColor "BMP3:8.jpg")
  convert "${args[@]}"
}

# Peak memory in KB of one run of the command in folder $1.
peak_kb() {
  local dir=$1; shift
  (cd "$dir" && /usr/bin/time -f '%M' -o "$work/time.txt" "$@" >/dev/null)
  cat "$work/time.txt"
}

# Wall time in microseconds of one run of the command in folder $1. Nothing
# wraps the command, so neither side pays for a measuring process.
wall_us() {
  local dir=$1; shift
  local t0 t1
  t0=$(date +%s%N)
  (cd "$dir" && "$@" >/dev/null)
  t1=$(date +%s%N)
  echo $(( (t1 - t0) / 1000 ))
}

median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

# One picture, both sides, printed.
#   compare LABEL MAKE [FILE] [RUNS] [SIZE]
compare() {
local label=$1 make=$2 file=${3:-big.jpg} n=${4:-$runs} size=${5:-6000x4000 JPEG}
rm -rf "$work/ours" "$work/im"
mkdir -p "$work/ours" "$work/im"
echo "making a $size ($label) ..."
eval "$make"
cp "$work/$file" "$work/ours/$file"
cp "$work/$file" "$work/im/$file"
ours_ms=(); im_ms=(); djpeg_ms=(); start_ms=(); both_ms=(); one_ms=()
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
jpeg=0; [[ $file == *.jpg ]] && jpeg=1
for ((r = 0; r < n; r++)); do
  # Alternate the order so that neither side always runs on a warm cache.
  ours_ms+=("$(wall_us "$work/ours" "$cutter" "$file")")
  im_ms+=("$(wall_us "$work/im" imagemagick "$file")")
  # The same cutter on both cores and held to one.
  both_ms+=("$(wall_us "$work/ours" taskset -c 0,1 "$cutter" "$file")")
  one_ms+=("$(wall_us "$work/ours" taskset -c 0 "$cutter" "$file")")
  if ((jpeg)); then
    # The single-core floor: libjpeg's own decode at 1/8 plus a bare start
    # of the cutter.
    djpeg_ms+=("$(wall_us "$work/im" djpeg -scale 1/8 -outfile /dev/null "$file")")
    start_ms+=("$(wall_us "$work/im" "$cutter" --help)")
  fi
done
ours_kb=0; im_kb=0
for ((r = 0; r < 3 && r < n; r++)); do
  kb=$(peak_kb "$work/ours" "$cutter" "$file"); ((kb > ours_kb)) && ours_kb=$kb
  kb=$(export -f imagemagick; peak_kb "$work/im" bash -c "imagemagick $file"); ((kb > im_kb)) && im_kb=$kb
done

m_ours=$(median "${ours_ms[@]}")
m_im=$(median "${im_ms[@]}")
m_both=$(median "${both_ms[@]}")
m_one=$(median "${one_ms[@]}")
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
m_floor=0
if ((jpeg)); then m_floor=$(( $(median "${djpeg_ms[@]}" | cut -d. -f1) + $(median "${start_ms[@]}" | cut -d. -f1) )); fi
ls "$work/ours"/[1-8].jpg "$work/im"/[1-8].jpg >/dev/null

awk -v o="$m_ours" -v i="$m_im" -v ok="$ours_kb" -v ik="$im_kb" -v n="$n" -v s="$(stat -c %s "$work/$file")" -v l="$label" -v z="$size" -v f="$m_floor" -v t="${target:-0.50}" -v b="$m_both" -v u="$m_one" -v lb="$load_before" -v la="$load_after" 'BEGIN {
  printf "tile job, %s, %s, %.1f MB, %d runs each (wall time incl. process start)\n", z, l, s / 1048576, n
  printf "mosalune-cut median: %.1f ms, peak memory %.1f MB\n", o / 1000, ok / 1024
  printf "ImageMagick  median: %.1f ms, peak memory %.1f MB\n", i / 1000, ik / 1024
  printf "ratio mosalune-cut / ImageMagick: %.2f (target <= %s)\n", o / i, t
  printf "two cores / one core (taskset -c 0,1: %.1f ms, -c 0: %.1f ms): %.2f\n", b / 1000, u / 1000, b / u
  if (f > 0) printf "single-core floor (djpeg -scale 1/8 + bare start): %.1f ms; ratio mosalune-cut / floor: %.2f\n", f / 1000, o / f
  printf "mosalune-cut peak memory target < 40 MB: %s\n", (ok / 1024 < 40) ? "met" : "NOT met"
  printf "load average before: %s, after: %s\n", lb, la
}'
}

# The full-resolution grid job: ours, ImageMagick, the floor, lossless.
full_resolution() {
local n=${FULL_RUNS:-5} dir=$work/full
rm -rf "$dir"; mkdir -p "$dir/ours" "$dir/im" "$dir/lossless"
echo "making a 6000x4000 JPEG (photo-like) ..."
convert -size 6000x4000 plasma:fractal -blur 0x2 -quality 90 "$dir/big.jpg"
for d in ours im lossless; do cp "$dir/big.jpg" "$dir/$d/"; done
# The area both cut, as pixels, for the floor's encoder.
convert "$dir/big.jpg" -gravity center -crop 6000x3000+0+0 +repage "$dir/area.ppm"
local job=(--grid 4x2 --fit crop --size full --format jpeg --quality 92)
local ours=() im=() floor=() lossless=() load_before load_after
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for ((r = 0; r < n; r++)); do
  ours+=("$(wall_us "$dir/ours" "$cutter" "${job[@]}" big.jpg)")
  im+=("$(wall_us "$dir/im" convert big.jpg -gravity center -crop 6000x3000+0+0 +repage \
          -crop 4x2@ +repage -quality 92 t_%d.jpg)")
  floor+=($(( $(wall_us "$dir" djpeg -outfile /dev/null big.jpg) \
              + $(wall_us "$dir" cjpeg -quality 92 -outfile /dev/null area.ppm) )))
  lossless+=("$(wall_us "$dir/lossless" "$cutter" "${job[@]}" --lossless big.jpg)")
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
local kb lossless_kb
kb=$(peak_kb "$dir/ours" "$cutter" "${job[@]}" big.jpg)
lossless_kb=$(peak_kb "$dir/lossless" "$cutter" "${job[@]}" --lossless big.jpg)
ls "$dir/ours"/[1-8].jpg "$dir/lossless"/[1-8].jpg "$dir/im"/t_7.jpg >/dev/null
awk -v o="$(median "${ours[@]}")" -v i="$(median "${im[@]}")" -v f="$(median "${floor[@]}")" \
    -v l="$(median "${lossless[@]}")" -v k="$kb" -v lk="$lossless_kb" -v n="$n" \
    -v lb="$load_before" -v la="$load_after" 'BEGIN {
  printf "grid job at full resolution, 6000x4000 JPEG -> 4x2 JPEG tiles of the 6000x3000 centre, %d runs each\n", n
  printf "mosalune-cut median: %.1f ms, peak memory %.1f MB (target <= 150 MB: %s)\n", o / 1000, k / 1024, (k / 1024 <= 150) ? "met" : "NOT met"
  printf "mosalune-cut --lossless median: %.1f ms, peak memory %.1f MB\n", l / 1000, lk / 1024
  printf "ImageMagick median: %.1f ms\n", i / 1000
  printf "floor (djpeg + cjpeg -quality 92 of the area, timed apart) median: %.1f ms\n", f / 1000
  printf "ratio mosalune-cut / ImageMagick: %.2f (target <= 0.15)\n", o / i
  printf "ratio mosalune-cut / floor: %.2f (target <= 1.00)\n", o / f
  printf "ratio --lossless / re-encoding job: %.2f (target <= 0.60)\n", l / o
  printf "ratio peak memory / 150 MB: %.2f (target <= 1.00)\n", k / 1024 / 150
  printf "load average before: %s, after: %s\n", lb, la
}'
}

if [ "$which" = full ]; then
  full_resolution
  exit 0
fi
if [ "$which" != png ]; then
# A photo-like picture: fractal clouds, smoothed the way a camera's optics
# and noise reduction smooth a real photo (about 3 MB, like a phone's).
compare "photo-like" 'convert -size 6000x4000 plasma:fractal -blur 0x2 -quality 90 "$work/big.jpg"'
echo
# The same picture with a restart marker after every MCU row, as many
# cameras write it (jpegtran changes no coefficient): its bands of rows are
# decoded on all cores.
cp "$work/big.jpg" "$work/plain.jpg"
target=0.40 compare "photo-like, restart marker every MCU row" \
  'jpegtran -restart 1 -outfile "$work/big.jpg" "$work/plain.jpg"'
echo
# The same photo decoded and encoded afresh with libjpeg's defaults (4:2:0)
# and a restart marker every MCU row, as a camera writes it.
compare "photo-like, cjpeg -quality 90 -restart 1" \
  'djpeg "$work/plain.jpg" | cjpeg -quality 90 -restart 1 > "$work/big.jpg"'
echo
# The worst case: pixel-level noise everywhere. Nearly all the time then goes
# to entropy-decoding the file, which neither side can skip.
compare "pixel noise" 'convert -size 6000x4000 plasma:fractal -quality 90 "$work/big.jpg"'
echo
fi
if [ "$which" != jpeg ]; then
# A large PNG, as screenshots and exports come: PNG has no reduced decode,
# so every row is inflated; what counts is how little is kept of each.
compare "smooth gradient" 'convert -size 12000x9000 gradient:red-blue -depth 8 "$work/big.png"' \
  big.png "${PNG_RUNS:-3}" "12000x9000 PNG"
fi
if [ "$which" = all ]; then
  echo
  full_resolution
fi
