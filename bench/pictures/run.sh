#!/usr/bin/env bash
# Peak memory and time of mosalune-cut on hostile pictures and on pictures at
# the pixel bound (see bench/README.md).
#
#   bench/pictures/run.sh [BUILD_DIR] [CUTTER]   (default build/, its mosalune-cut)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
cutter=$(realpath "${2:-$build/bin/mosalune-cut}")
[ -x "$cutter" ] || { echo "build first: cmake --build $build --target mosalune-cut" >&2; exit 2; }
need=()
command -v python3 >/dev/null || need+=(python3)
command -v cjpeg >/dev/null || need+=(libjpeg-turbo-progs)
[ -x /usr/bin/time ] || need+=(time)
if ((${#need[@]})); then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${need[@]}" >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
here=$PWD
(cd "$work" && python3 "$here/bench/pictures/make.py" "$here/tests/data/picture.jpg")
cjpeg -quality 90 -outfile "$work/bound-noise.jpg" "$work/bound.ppm"
cjpeg -quality 90 -progressive -outfile "$work/bound-progressive.jpg" "$work/bound.ppm"
rm "$work/bound.ppm"

printf '%-24s %6s %12s %9s  %s\n' picture exit 'peak RSS' seconds 'standard error'
for name in huge-header.jpg huge-whole.jpg bomb.png big.tiff big.webp big.gif \
            bound.png bound-interlaced.png bound-turned.tiff bound.webp bound.gif \
            bound-noise.jpg bound-progressive.jpg; do
  out=$(mktemp -d)
  set +e
  /usr/bin/time -f '%x %M %e' -o "$work/time.txt" timeout 300 "$cutter" -o "$out" "$work/$name" \
    >/dev/null 2>"$work/err.txt"
  set -e
  read -r status kb seconds < <(tail -1 "$work/time.txt")
  printf '%-24s %6s %9s MB %9s  %s\n' "$name" "$status" "$(awk -v k="$kb" 'BEGIN {printf "%.1f", k / 1024}')" \
    "$seconds" "$(head -1 "$work/err.txt" | cut -c1-60)"
  rm -rf "$out"
done
