#!/usr/bin/env bash
# The tile job on a 6000 x 4000 JPEG, whole process: mosalune-cut against
# ImageMagick doing the same job with its shrink-on-load hint, in one run.
#
#   bench/tiles/run.sh [RUNS]        (default 15 runs each)
#
# Needs a build in build/ (scripts/build.sh). Installs ImageMagick and GNU time
# when they are missing.
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-15}
cutter=$PWD/build/bin/mosalune-cut
[ -x "$cutter" ] || { echo "build first: scripts/build.sh" >&2; exit 2; }

need=()
command -v convert >/dev/null || need+=(imagemagick)
[ -x /usr/bin/time ] || need+=(time)
if ((${#need[@]})); then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${need[@]}" >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The same job in ImageMagick: shrink on load, stretch to 400 x 200, keep
# 396 x 196, cut eight rectangles of about 99 x 98, stretch each to
# 150 x 150, keep 146 x 146, write 24-bit bitmaps.
imagemagick() {
  local crops=("99x98+0+0" "99x98+99+0" "99x98+198+0" "99x98+297+0"
               "99x98+0+98" "99x98+99+98" "99x98+198+98" "99x98+297+98")
  local args=(-define jpeg:size=800x400 big.jpg -resize '400x200!' -crop 396x196+0+0 +repage
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
compare() {
local label=$1 make=$2
rm -rf "$work/ours" "$work/im"
mkdir -p "$work/ours" "$work/im"
echo "making a 6000 x 4000 JPEG ($label) ..."
eval "$make"
cp "$work/big.jpg" "$work/ours/big.jpg"
cp "$work/big.jpg" "$work/im/big.jpg"
ours_ms=(); im_ms=()
for ((r = 0; r < runs; r++)); do
  # Alternate the order so that neither side always runs on a warm cache.
  ours_ms+=("$(wall_us "$work/ours" "$cutter" big.jpg)")
  im_ms+=("$(wall_us "$work/im" imagemagick)")
done
ours_kb=0; im_kb=0
for ((r = 0; r < 3; r++)); do
  kb=$(peak_kb "$work/ours" "$cutter" big.jpg); ((kb > ours_kb)) && ours_kb=$kb
  kb=$(export -f imagemagick; peak_kb "$work/im" bash -c imagemagick); ((kb > im_kb)) && im_kb=$kb
done

m_ours=$(median "${ours_ms[@]}")
m_im=$(median "${im_ms[@]}")
ls "$work/ours"/[1-8].jpg "$work/im"/[1-8].jpg >/dev/null

awk -v o="$m_ours" -v i="$m_im" -v ok="$ours_kb" -v ik="$im_kb" -v n="$runs" -v s="$(stat -c %s "$work/big.jpg")" -v l="$label" 'BEGIN {
  printf "tile job, 6000x4000 JPEG, %s, %.1f MB, %d runs each (wall time incl. process start)\n", l, s / 1048576, n
  printf "mosalune-cut median: %.1f ms, peak memory %.1f MB\n", o / 1000, ok / 1024
  printf "ImageMagick  median: %.1f ms, peak memory %.1f MB\n", i / 1000, ik / 1024
  printf "ratio mosalune-cut / ImageMagick: %.2f (target <= 0.50)\n", o / i
  printf "mosalune-cut peak memory target < 40 MB: %s\n", (ok / 1024 < 40) ? "met" : "NOT met"
}'
}

# A photo-like picture: fractal clouds, smoothed the way a camera's optics
# and noise reduction smooth a real photo (about 3 MB, like a phone's).
compare "photo-like" 'convert -size 6000x4000 plasma:fractal -blur 0x2 -quality 90 "$work/big.jpg"'
echo
# The worst case: pixel-level noise everywhere. Nearly all the time then goes
# to entropy-decoding the file, which neither side can skip.
compare "pixel noise" 'convert -size 6000x4000 plasma:fractal -quality 90 "$work/big.jpg"'
