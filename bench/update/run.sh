#!/usr/bin/env bash
# The updater's whole download path against curl, from a local nginx, in one
# run: release page, one share page per file, then the files.
#
#   bench/update/run.sh [RUNS] [BUILD_DIR]   (default 5 runs each, build/)
#
# Two cases: one file of 300 MB, and 100 files of 20 KB (the most a release page may list). For each,
# mslupdate-bench-update runs the download window headless (every body into a
# temporary file beside its target, all put in place at the end), and curl
# fetches the same addresses (page, share pages, files) in one process with
# one connection reused. Each case is signed as the maker signs a release
# (SHA256SUMS and its minisign signature beside the page, a throwaway key) and
# the updater runs with that key, so it checks the list and hashes every
# body while it streams; UNSIGNED=1 runs it without a key instead. Needs
# mslupdate-bench-update built in BUILD_DIR/bin.
# Installs nginx-light, curl and GNU time when missing (minisign comes with
# scripts/setup.sh). nginx listens on
# 127.0.0.1 only, on a random free port, with its prefix and config in a
# temporary folder.
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-5}
build=${2:-build}
client=$PWD/$build/bench/bin/mslupdate-bench-update
[ -x "$client" ] || { echo "build first: cmake --build $build --target mslupdate-bench-update" >&2; exit 2; }

source bench/nginx.sh
work=$(mktemp -d)
chmod 755 "$work"
cleanup() {
  bench_nginx_stop
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/run" && chmod 700 "$work/run"
mkdir -p "$work/www/big/share" "$work/www/small/share" "$work/www/small/files"

bench_nginx_start "keepalive_requests 10000; charset utf-8;"
base="http://127.0.0.1:$port"

# A release page as the maker writes it, with one share page per file.
# make_case NAME FILE... (files already under www/NAME/files or www/NAME)
make_case() {
  local name=$1; shift
  local page="$work/www/$name/release.html" i=0 file
  : > "$work/$name.urls"
  {
    printf '<html><head><meta charset="utf-8"><title>发布页</title></head><body>'
    printf '<p><strong>Ver13.04.21</strong></p><p><strong>更新日志</strong></p><p>速度测试</p>'
    printf '<p><strong>更新文件及地址：</strong></p>'
    for file in "$@"; do
      i=$((i + 1))
      # The entry's name starts at its third character: a one-character
      # mark, whatever the number of files.
      printf '<p>#、%s(<a href="%s/%s/share/%d.html" target="_blank">下载</a>)</p>' \
        "$(basename "$file")" "$base" "$name" "$i"
      printf '<html><body><div>保存至网盘</div><a class="btn" href="%s/%s/%s" id="downloadButton">下载</a></body></html>' \
        "$base" "$name" "$file" > "$work/www/$name/share/$i.html"
      printf 'url = "%s/%s/share/%d.html"\noutput = "/dev/null"\n' "$base" "$name" "$i" >> "$work/$name.urls"
      printf 'url = "%s/%s/%s"\noutput = "%s/out/%s"\n' "$base" "$name" "$file" "$work" "$(basename "$file")" >> "$work/$name.urls"
    done
    printf '<p><strong>消息推送：关</strong></p><p>最新完整版</p></body></html>'
  } > "$page"
  # The maker's signature beside the page.
  (cd "$work/www/$name" && sha256sum "$@" | sed 's|  .*/|  |' > SHA256SUMS &&
    minisign -S -s "$work/key" -m SHA256SUMS -t "Mosalune 13.04.21" </dev/null >/dev/null)
  { printf 'url = "%s/%s/release.html"\noutput = "/dev/null"\n' "$base" "$name"; cat "$work/$name.urls"; } > "$work/$name.curl"
}

echo "making the files ..."
minisign -G -W -p "$work/key.pub" -s "$work/key" </dev/null >/dev/null
key=$(sed -n 2p "$work/key.pub")
[ -n "${UNSIGNED:-}" ] && key=
head -c "${BIG_SIZE:-300M}" /dev/urandom > "$work/www/big/Mosalune.exe"
make_case big Mosalune.exe
small=()
for i in $(seq -w 1 100); do
  head -c 20480 /dev/urandom > "$work/www/small/files/file$i.bin"
  small+=("files/file$i.bin")
done
make_case small "${small[@]}"
chmod -R a+rX "$work/www"

# Microseconds (wall clock, whole process) and peak RSS in kB of one command.
measure() {
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f "%M" -o "$work/rss" "$@" >/dev/null
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000 )) $(cat "$work/rss")"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

run_case() {
  local name=$1 bytes=$2 i
  mkdir -p "$work/out"
  curl -s -K "$work/$name.curl" >/dev/null   # into the page cache first
  # One run of the updater that is not counted: the disk is still busy with
  # what the set-up wrote and removed (the first measured run took twice as
  # long as the rest).
  rm -rf "$work/prog"; mkdir -p "$work/prog"; sync
  QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/run" "$client" "$base/$name/release.html" "$work/prog" $key >/dev/null 2>&1 || true
  : > "$work/curl.txt"; : > "$work/ours.txt"; : > "$work/client.log"
  for i in $(seq "$runs"); do
    rm -rf "$work/out" "$work/prog"; mkdir -p "$work/out" "$work/prog"
    # Each starts on a quiet disk: the updater syncs what it puts in place,
    # and would otherwise wait behind the write-back of what curl and the
    # set-up left in the cache.
    sync
    measure curl -s -f -K "$work/$name.curl" >> "$work/curl.txt"
    sync
    QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/run" measure "$client" 2>>"$work/client.log" "$base/$name/release.html" "$work/prog" $key >> "$work/ours.txt"
    if [ "$i" -eq 1 ]; then
      for f in "$work/out/"*; do
        cmp -s "$f" "$work/prog/$(basename "$f")" || { echo "$name: $(basename "$f") differs" >&2; exit 1; }
      done
      [ "$(ls "$work/prog" | wc -l)" -eq "$(ls "$work/out" | wc -l)" ] || { echo "$name: files left over" >&2; exit 1; }
    fi
  done
  local c o cr or
  c=$(cut -d' ' -f1 "$work/curl.txt" | median)
  o=$(cut -d' ' -f1 "$work/ours.txt" | median)
  cr=$(cut -d' ' -f2 "$work/curl.txt" | sort -n | tail -1)
  or=$(cut -d' ' -f2 "$work/ours.txt" | sort -n | tail -1)
  awk -v name="$name" -v size="$bytes" -v c="$c" -v o="$o" -v cr="$cr" -v or="$or" -v runs="$runs" 'BEGIN {
    ct = size / c; ot = size / o             # bytes per microsecond = MB/s
    printf "%s\n", name
    printf "  curl:          %8.1f MB/s  %8.3f s  (median of %s)\n", ct, c / 1e6, runs
    printf "  updater:       %8.1f MB/s  %8.3f s  (median of %s)\n", ot, o / 1e6, runs
    printf "  ratio:         %8.2f  (updater / curl throughput, target >= 0.90) %s\n", ot / ct, (ot / ct >= 0.9) ? "ok" : "MISSED"
    printf "  peak RSS ours: %8.1f MB   (target < 64 MB) %s\n", or / 1024, (or < 64 * 1024) ? "ok" : "MISSED"
    printf "  peak RSS curl: %8.1f MB\n", cr / 1024
  }'
  printf "  each run (s):   curl %s / updater %s\n" \
    "$(cut -d' ' -f1 "$work/curl.txt" | awk '{ printf "%.3f ", $1 / 1e6 }')" \
    "$(cut -d' ' -f1 "$work/ours.txt" | awk '{ printf "%.3f ", $1 / 1e6 }')"
  # Of the updater's time, how much went into the page and the share pages.
  grep "lists ready" "$work/client.log" | awk '{ print $4 }' | median \
    | awk '{ printf "  updater lists: %8.3f s  (page and share pages, median)\n", $1 }'
}

echo "nginx on 127.0.0.1:$port, $runs runs each, updater $([ -n "$key" ] && echo "with the release key" || echo unsigned), load average $(cut -d' ' -f1-3 /proc/loadavg)"
for c in ${CASES:-big small}; do
  case $c in
    big) run_case big $((300 * 1024 * 1024)) ;;
    small) run_case small $((100 * 20480)) ;;
  esac
done
