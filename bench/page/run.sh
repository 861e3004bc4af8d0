#!/usr/bin/env bash
# Pages at the size cap: how long the windows' blocking read of a page of
# exactly the cap takes, against curl fetching the same body, and how soon a
# body without end is refused. Uses the test fixture server on 127.0.0.1.
#
#   bench/page/run.sh [RUNS] [BUILD_DIR]      (default: 9 runs, build/)
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-9}
build=${2:-build}
client=$PWD/$build/bench/bin/mosalune-bench-page
server=$PWD/$build/tests/bin/mosalune-fixture-server
for p in "$client" "$server"; do
  [ -x "$p" ] || { echo "build first: cmake --build $build --target mosalune-bench-page mosalune-fixture-server" >&2; exit 2; }
done
command -v curl >/dev/null || { echo "needs curl (apt-get install curl)" >&2; exit 2; }

# The server ends when its standard input closes, which the coprocess's does
# when this script ends, however it ends.
coproc SERVER { exec "$server" --root "$PWD/bench/page"; }
read -r _ port <&"${SERVER[0]}"
cap=$((4 * 1024 * 1024))
base="http://127.0.0.1:$port"

median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

ours=$("$client" "$base/bytes/$cap" "$runs" | awk '$2 != "refused:" { print $1 }' | median)
curls=$(for _ in $(seq "$runs"); do curl -s -o /dev/null -w '%{time_total}\n' "$base/bytes/$cap"; done | median)
endless=$("$client" "$base/nolength/bytes/100000000000" 1)

printf 'page of %d bytes (the cap), median of %d reads\n' "$cap" "$runs"
printf 'fetchBytes:   %8.4f s\n' "$ours"
printf 'curl:         %8.4f s\n' "$curls"
awk -v a="$ours" -v b="$curls" 'BEGIN { printf "ratio:        %8.2f  (ours / curl)\n", a / b;
  printf "target: well under 1 s: %s\n", (a < 0.5 ? "ok" : "NOT MET") }'
printf 'endless body: %s\n' "$endless"
