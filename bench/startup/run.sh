#!/usr/bin/env bash
# Start-up timings on an X server of our own (Xvfb):
#  1. the splash writing the two skin files on a first start, against plain
#     writes of the same bytes (mosalune-bench-supportfiles);
#  2. the real Mosalune.exe (test build: page address and network state from
#     the environment) from process start to its main window on screen, with
#     a release page of the same version from the local fixture server,
#     against the same program offline (no page fetched) in the same run.
#     Both include the progress's fixed pace of 100 ticks of 10 ms.
#
#   bench/startup/run.sh [RUNS] [BUILD_DIR]   (default 9 runs, build/)
#
# Needs the targets mosalune-bench-supportfiles, Mosalune-testbuild and
# mosalune-fixture-server built in BUILD_DIR.
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-9}
build=${2:-build}
writer=$PWD/$build/bench/bin/mosalune-bench-supportfiles
program=$PWD/$build/tests/main/program/Mosalune.exe
server=$PWD/$build/tests/bin/mosalune-fixture-server
for f in "$writer" "$program" "$server"; do
  [ -x "$f" ] || { echo "build first: $f is missing" >&2; exit 2; }
done
command -v xdotool >/dev/null || { echo "xdotool is missing (scripts/setup.sh installs it)" >&2; exit 2; }

work=$(mktemp -d)
xvfb_pid= server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

exec 3> "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

"$writer" 25

# A release page announcing the running version.
mkdir -p "$work/www"
printf '<html><body><p><strong>最新版本：</strong>Ver13.04.20</p><p>消息推送：关</p><p>最新完整版</p></body></html>' \
  > "$work/www/release.html"
coproc SERVER { exec "$server" --root "$work/www"; }
server_pid=$SERVER_PID
read -r line <&"${SERVER[0]}"
port=${line#PORT }

# Milliseconds from process start to the main window being mapped.
start_to_window() {
  local network=$1 folder=$work/program-$RANDOM
  mkdir -p "$folder"
  cp "$program" "$folder/"
  # Support files in place, as on every start after the first.
  MOSALUNE_TEST_NETWORK=offline MOSALUNE_TEST_RELEASE_PAGE=http://127.0.0.1:$port/release.html \
    "$folder/Mosalune.exe" & local pid=$!
  until xdotool search --onlyvisible --name '^ Mosalune   Ver13.04.20$' >/dev/null 2>&1; do sleep 0.01; done
  kill "$pid"; wait "$pid" 2>/dev/null || true
  local t0 t1
  t0=$(date +%s%N)
  MOSALUNE_TEST_NETWORK=$network MOSALUNE_TEST_RELEASE_PAGE=http://127.0.0.1:$port/release.html \
    "$folder/Mosalune.exe" & pid=$!
  until xdotool search --onlyvisible --name '^ Mosalune   Ver13.04.20$' >/dev/null 2>&1; do sleep 0.005; done
  t1=$(date +%s%N)
  kill "$pid"; wait "$pid" 2>/dev/null || true
  rm -rf "$folder"
  echo $(( (t1 - t0) / 1000000 ))
}

online=() offline=()
for _ in $(seq "$runs"); do
  online+=("$(start_to_window online)")
  offline+=("$(start_to_window offline)")
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
m_on=$(median "${online[@]}")
m_off=$(median "${offline[@]}")
echo "start to main window, $runs runs each (100 ticks of 10 ms = 1000 ms of fixed pace included)"
echo "  same version, page from 127.0.0.1: median ${m_on} ms   (${online[*]})"
echo "  offline, no page fetched:          median ${m_off} ms   (${offline[*]})"
awk -v a="$m_on" -v b="$m_off" 'BEGIN { printf "  ratio online/offline: %.2f\n", a / b }'
