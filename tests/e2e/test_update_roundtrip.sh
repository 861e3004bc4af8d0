#!/usr/bin/env bash
# The whole update, end to end, as a user lives it: the real programs of
# release 13.04.20 in a fresh program folder, nginx serving release 13.04.21
# on a loopback address of the test's own, an X server of the test's own, and
# xdotool doing the clicks and keys on the real windows, found by their
# titles. Then the same start with the faults an update meets: the connection
# cut in the middle of a file, a share page gone, a page whose file list
# cannot be read, and a full disk.
#
#   test_update_roundtrip.sh OLD_PROGRAM_DIR NEW_PROGRAM_DIR HOST:PORT
#
# OLD_ and NEW_PROGRAM_DIR hold Mosalune.exe and MSLUpdate.exe of the two
# releases, both built to read http://HOST:PORT/release.html.
source "$(dirname "$0")/lib.sh" "$2" "$3"
old=$1
start_xvfb

# A program folder holding only the two programs of the running release.
new_folder() {
  local dir=$1
  mkdir -p "$dir"
  cp "$old/Mosalune.exe" "$old/MSLUpdate.exe" "$dir/"
  chmod 755 "$dir/Mosalune.exe" "$dir/MSLUpdate.exe"
}

# Starts the main program from its folder as the user would, and answers
# the version question with OK; prints the id of the updater's notice window.
start_to_notice() {
  (cd "$1" && setsid ./Mosalune.exe </dev/null >>"$work/programs.log" 2>&1 &)
  answer_question "$1" "$2"
}

# After a failed update: the question is asked, "否" ends the updater, and the
# folder is exactly as it was before the download began.
expect_failure() {
  local dir=$1 name=$2 before=$3 id
  id=$(wait_window "提示" 60) || fail "$name: the failure question did not appear"
  shot "${name}-failure"
  press "$id" n
  gone_window "提示" 10 || fail "$name: the failure question did not close"
  gone_window "Mosalune 更新" 10 || fail "$name: the download window is still there"
  local i
  for ((i = 0; i < 50; i++)); do
    [ -n "$(programs_in "$dir")" ] || break
    sleep 0.2
  done
  [ -z "$(programs_in "$dir")" ] || fail "$name: a program still runs from the folder"
  diff <(echo "$before") <(snapshot "$dir") >"$work/diff.txt" ||
    fail "$name: the program folder changed: $(cat "$work/diff.txt")"
  log "$name: the failure question was shown, nothing changed, the programs ended"
}

# --- the whole update
release_page "$full_list" >"$www/release.html"
start_nginx
dir=$work/app
new_folder "$dir"
notice=$(start_to_notice "$dir" roundtrip)
finish_update "$dir" roundtrip "$notice" >/dev/null
expected=$(printf '%s\n' Mosalune.exe MSLUpdate.exe 帮助.txt "${support_files[@]}" | LC_ALL=C sort)
actual=$(cd "$dir" && find . -mindepth 1 -printf '%P\n' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "the folder holds other files than expected: $actual"
log "round trip: 13.04.21 runs, every file equals what was served, the updater was swapped in"
for p in $(programs_in "$dir"); do kill "$p"; done
stop_nginx

# --- faults, each from the same start
# The connection cut in the middle of the second file: it comes slowly, and
# the server is stopped once part of it has arrived.
start_nginx "limit_rate 32k;"
dir=$work/cut
new_folder "$dir"
notice=$(start_to_notice "$dir" cut)
before=$(snapshot "$dir")
press_update "$notice"
for ((i = 0; i < 100; i++)); do
  [ -n "$(find "$dir" -name '*.part' -size +16k)" ] && break
  sleep 0.1
done
[ -n "$(find "$dir" -name '*.part' -size +16k)" ] || fail "the second file's download never got under way"
stop_nginx
expect_failure "$dir" "connection cut mid-file" "$before"

# A share page answered with 404.
start_nginx
mv "$www/share/2.html" "$www/share/2.html.away"
dir=$work/share404
new_folder "$dir"
notice=$(start_to_notice "$dir" share404)
before=$(snapshot "$dir")
press_update "$notice"
expect_failure "$dir" "share page 404" "$before"
mv "$www/share/2.html.away" "$www/share/2.html"

# A page whose file list cannot be read (its end marker is missing).
release_page "$full_list" "" >"$www/release.html"
dir=$work/nolist
new_folder "$dir"
notice=$(start_to_notice "$dir" nolist)
before=$(snapshot "$dir")
press_update "$notice"
expect_failure "$dir" "page without a readable file list" "$before"
release_page "$full_list" >"$www/release.html"

# The disk full while writing: the program folder is a small file system,
# filled up once the splash has written its files.
if [ "$(id -u)" -eq 0 ]; then
  dir=$work/full
  mkdir -p "$dir"
  mount -t tmpfs -o size=64m mosalune-e2e "$dir"
  tmpfs=$dir
  new_folder "$dir"
  notice=$(start_to_notice "$dir" full)
  free_kb=$(df -k --output=avail "$dir" | tail -n 1)
  dd if=/dev/zero of="$dir/.filler" bs=1k count=$((free_kb - 256)) status=none 2>/dev/null || true
  before=$(snapshot "$dir")
  press_update "$notice"
  expect_failure "$dir" "disk full" "$before"
  umount "$dir"
  tmpfs=
else
  log "disk full: skipped (mounting a small file system needs root)"
fi

stop_nginx
log "all update scenarios passed"
