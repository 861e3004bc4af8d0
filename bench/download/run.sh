#!/usr/bin/env bash
# One 300 MB download from a local nginx, whole process: mosalune-bench-download
# (startDownload into a file beside the target, then one rename, as the updater does) against
# curl -o, alternating, in one run.
#
#   bench/download/run.sh [RUNS] [BUILD_DIR]   (default 7 runs each, build/)
#
# Needs mosalune-bench-download built in BUILD_DIR/bin. Installs nginx-light,
# curl and GNU time when they are missing. The server listens on 127.0.0.1
# only, on a random free port, with its prefix and config in a temporary
# folder; it never touches the system's nginx.
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-7}
build=${2:-build}
client=$PWD/$build/bench/bin/mosalune-bench-download
[ -x "$client" ] || { echo "build first: cmake --build $build --target mosalune-bench-download" >&2; exit 2; }

source bench/nginx.sh
work=$(mktemp -d)
chmod 755 "$work"
cleanup() {
  bench_nginx_stop
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/www" "$work/out"

echo "making a 300 MB file ..."
head -c 300M /dev/urandom > "$work/www/big.bin"
chmod 644 "$work/www/big.bin"
size=$(stat -c %s "$work/www/big.bin")

bench_nginx_start
url="http://127.0.0.1:$port/big.bin"
echo "nginx on 127.0.0.1:$port, $runs runs each"

# Seconds (wall clock, whole process) and peak RSS in kB of one command.
measure() {
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f "%M" -o "$work/rss" "$@" >/dev/null
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000 )) $(cat "$work/rss")"
}

curl -s -o /dev/null "$url"   # into the page cache before anything is timed
: > "$work/curl.txt"; : > "$work/ours.txt"
for i in $(seq "$runs"); do
  rm -f "$work/out/"*
  measure curl -s -f -o "$work/out/curl.bin" "$url" >> "$work/curl.txt"
  measure "$client" "$url" "$work/out/ours.bin" >> "$work/ours.txt"
  if [ "$i" -eq 1 ]; then
    cmp -s "$work/www/big.bin" "$work/out/curl.bin" || { echo "curl's copy differs" >&2; exit 1; }
    cmp -s "$work/www/big.bin" "$work/out/ours.bin" || { echo "our copy differs" >&2; exit 1; }
  fi
done

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
curl_us=$(cut -d' ' -f1 "$work/curl.txt" | median)
ours_us=$(cut -d' ' -f1 "$work/ours.txt" | median)
curl_rss=$(cut -d' ' -f2 "$work/curl.txt" | sort -n | tail -1)
ours_rss=$(cut -d' ' -f2 "$work/ours.txt" | sort -n | tail -1)

awk -v size="$size" -v c="$curl_us" -v o="$ours_us" -v cr="$curl_rss" -v or="$ours_rss" 'BEGIN {
  ct = size / c; ot = size / o             # bytes per microsecond = MB/s
  printf "file:            %.0f MiB\n", size / 1048576
  printf "curl:            %8.1f MB/s  (median of %s)\n", ct, "'"$runs"'"
  printf "mosalune:        %8.1f MB/s  (median of %s)\n", ot, "'"$runs"'"
  printf "ratio:           %8.2f  (mosalune / curl, target >= 0.80) %s\n", ot / ct, (ot / ct >= 0.8) ? "ok" : "MISSED"
  printf "peak RSS ours:   %8.1f MB   (target < 64 MB) %s\n", or / 1024, (or < 64 * 1024) ? "ok" : "MISSED"
  printf "peak RSS curl:   %8.1f MB\n", cr / 1024
}'
