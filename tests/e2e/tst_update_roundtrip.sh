#!/usr/bin/env bash
# The whole update, end to end, as a user lives it: the real programs of
# release 13.04.20 in a fresh program folder, nginx serving release 13.04.21
# on a loopback address of the test's own, an X server of the test's own, and
# xdotool doing the clicks and keys on the real windows, found by their
# titles. The running release's updater carries a throwaway release key, and
# the release is signed with it. Then the same start with the faults an
# update meets: the connection cut in the middle of a file, a share page
# gone, a page whose file list cannot be read, a full disk, and releases
# whose signature does not hold.
#
#   tst_update_roundtrip.sh OLD_PROGRAM_DIR NEW_PROGRAM_DIR HOST:PORT SIGNED_UPDATER SECRET_KEY
#
# OLD_ and NEW_PROGRAM_DIR hold Mosalune.exe and MSLUpdate.exe of the two
# releases, both built to read http://HOST:PORT/release.html; SIGNED_UPDATER
# is the old release's MSLUpdate.exe built with the public half of SECRET_KEY.
source "$(dirname "$0")/lib.sh" "$2" "$3"
old=$1
signed_updater=$4
key=$5
public_key=$(sed -n 2p "${key%.key}.pub")
# The maker's check of a published release, as the updater would verify it.
page_check() { "$old/../bin/mosalune-page" check --resolve --key "$public_key" "$base/release.html"; }
start_xvfb

# A program folder holding only the two programs of the running release.
new_folder() {
  local dir=$1
  mkdir -p "$dir"
  cp "$old/Mosalune.exe" "$dir/"
  cp "$signed_updater" "$dir/MSLUpdate.exe"
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
sign_release "$key"
start_nginx
page_check >"$work/check.txt" 2>&1 || fail "mosalune-page does not pass the signed release: $(cat "$work/check.txt")"
: >"$work/nginx/logs/access.log"
dir=$work/app
new_folder "$dir"
notice=$(start_to_notice "$dir" roundtrip)
finish_update "$dir" roundtrip "$notice" >/dev/null
expected=$(printf '%s\n' Mosalune.exe MSLUpdate.exe 帮助.txt "${support_files[@]}" | LC_ALL=C sort)
actual=$(cd "$dir" && find . -mindepth 1 -printf '%P\n' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "the folder holds other files than expected: $actual"
grep -q 'GET /SHA256SUMS.minisig ' "$work/nginx/logs/access.log" || fail "the signature was never fetched"
log "round trip: 13.04.21 runs, every file equals what was served and signed, the updater was swapped in"
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

# A release whose signature does not hold: each row spoils it its own way
# (name | what the updater and mosalune-page say | command); the release is
# signed afresh and its files restored after.
minisign -G -W -p "$work/other.pub" -s "$work/other.key" </dev/null >/dev/null
cp "$www/files/help.txt" "$work/help.txt"
signature_faults=(
  "a file changed after signing|SHA-256 与签名的列表不符|printf x >>\"\$www/files/help.txt\""
  "a list signed by another key|密钥编号不符|sign_release \"\$work/other.key\""
  "a list signed for another version|不是给本次发布“Mosalune 13.04.21”的|sign_release \"\$key\" 13.04.22"
  "no SHA256SUMS.minisig|无法取得 $base/SHA256SUMS.minisig|rm \"\$www/SHA256SUMS.minisig\""
  "a list lacking one of the page's files|SHA256SUMS 中没有“MSLUpdate.exe”|sign_release \"\$key\" 13.04.21 MSLUpdate.exe"
)
n=0
for row in "${signature_faults[@]}"; do
  IFS='|' read -r name said spoil <<<"$row"
  eval "$spoil"
  ! page_check >"$work/check.txt" 2>&1 || fail "$name: mosalune-page passes the release"
  grep -qF "$said" "$work/check.txt" || fail "$name: mosalune-page did not say \"$said\": $(cat "$work/check.txt")"
  dir=$work/signature$((++n))
  new_folder "$dir"
  notice=$(start_to_notice "$dir" "signature$n")
  before=$(snapshot "$dir")
  press_update "$notice"
  expect_failure "$dir" "$name" "$before"
  grep -qF "$said" "$work/programs.log" || fail "$name: the updater did not say \"$said\""
  : >"$work/programs.log"
  cp "$work/help.txt" "$www/files/help.txt"
  sign_release "$key"
done

stop_nginx
log "all update scenarios passed"
