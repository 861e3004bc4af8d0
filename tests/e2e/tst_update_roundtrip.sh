#!/usr/bin/env bash
# The whole update, end to end, as a user lives it: the real programs of
# release 13.04.20 in a fresh program folder, nginx serving release 13.04.21
# on a loopback address of the test's own, an X server of the test's own, and
# xdotool doing the clicks and keys on the real windows, found by their
# titles. The running release's updater carries a throwaway release key, and
# the release is signed with it. Then the same start with the faults an
# update meets: the connection cut in the middle of a file, a share page
# gone, a page whose file list cannot be read, a full disk, releases whose
# signature does not hold, and a server that turns against the user: an old
# release replayed, the page switched between the two windows, a list that
# leaves out signed files, a length no disk holds, and answers that never
# come while the user wants to stop.
#
#   tst_update_roundtrip.sh OLD_PROGRAM_DIR NEW_PROGRAM_DIR HOST:PORT SIGNED_PROGRAM_DIR SECRET_KEY FIXTURE_SERVER
#
# OLD_ and NEW_PROGRAM_DIR hold Mosalune.exe and MSLUpdate.exe of the two
# releases, both built to read http://HOST:PORT/release.html;
# SIGNED_PROGRAM_DIR holds the old release's two programs built with the
# public half of SECRET_KEY. FIXTURE_SERVER is tests/fixtures' server.
source "$(dirname "$0")/lib.sh" "$2" "$3"
old=$1
signed=$4
key=$5
public_key=$(sed -n 2p "${key%.key}.pub")
# The maker's check of a published release, as the updater would verify it.
page_check() { "$old/../bin/mosalune-page" check --resolve --key "$public_key" "$base/release.html"; }
start_xvfb
start_fixture "$6"

# A program folder holding only the two programs of the running release.
new_folder() {
  local dir=$1
  mkdir -p "$dir"
  cp "$signed/Mosalune.exe" "$signed/MSLUpdate.exe" "$dir/"
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
  "a file changed after signing|SHA-256 与签名的列表不符|printf x >>\"\$www/files/help.txt\"|page"
  "a list signed by another key|密钥编号不符|sign_release \"\$work/other.key\"|page"
  "a list signed for another version|不是给本次发布“Mosalune 13.04.21”的|sign_release \"\$key\" 13.04.22|page"
  "no SHA256SUMS.minisig|无法取得 $base/SHA256SUMS.minisig|rm \"\$www/SHA256SUMS.minisig\"|page"
  "a list lacking one of the page's files|SHA256SUMS 中没有“MSLUpdate.exe”|sign_release \"\$key\" 13.04.21 MSLUpdate.exe|page"
  "a page listing fewer files than were signed|发布页的文件列表中没有 SHA256SUMS 里的“Mosalune.exe”|release_page \"\$partial_list\" >\"\$www/release.html\"|page"
  "a length no disk can hold|磁盘的可用空间不够|share_page \"\$fixture_base/bytes/1000000000000\" Mosalune.exe >\"\$www/share/1.html\"|"
)
partial_list="<p><strong>更新文件及地址：</strong></p>$(entry 1 帮助.txt "$base/share/3.html")"
cp "$www/share/1.html" "$work/share1.html"
n=0
for row in "${signature_faults[@]}"; do
  IFS='|' read -r name said spoil checked <<<"$row"
  eval "$spoil"
  if [ -n "$checked" ]; then
    ! page_check >"$work/check.txt" 2>&1 || fail "$name: mosalune-page passes the release"
    grep -qF "$said" "$work/check.txt" || fail "$name: mosalune-page did not say \"$said\": $(cat "$work/check.txt")"
  fi
  dir=$work/signature$((++n))
  new_folder "$dir"
  notice=$(start_to_notice "$dir" "signature$n")
  before=$(snapshot "$dir")
  press_update "$notice"
  expect_failure "$dir" "$name" "$before"
  grep -qF "$said" "$work/programs.log" || fail "$name: the updater did not say \"$said\""
  : >"$work/programs.log"
  cp "$work/help.txt" "$www/files/help.txt"
  cp "$work/share1.html" "$www/share/1.html"
  release_page "$full_list" >"$www/release.html"
  sign_release "$key"
done

# An old release replayed, genuinely signed in its day: the main program does
# not offer it, and the updater started by hand refuses it before any file.
push_off="<p><strong>消息推送：关</strong></p>"
release_page "$full_list" "$push_off" 13.04.19 >"$www/release.html"
sign_release "$key" 13.04.19
dir=$work/rollback
new_folder "$dir"
(cd "$dir" && setsid ./Mosalune.exe </dev/null >>"$work/programs.log" 2>&1 &)
wait_window " Mosalune   Ver13.04.20" 40 >/dev/null || fail "rollback: the main window did not open"
gone_window "更新提示：" 1 || fail "rollback: the main program offered 13.04.19"
for p in $(programs_in "$dir"); do kill "$p"; done
gone_window " Mosalune   Ver13.04.20" 10 || fail "rollback: the main window did not close"
before=$(snapshot "$dir")
: >"$work/nginx/logs/access.log"
(cd "$dir" && setsid ./MSLUpdate.exe </dev/null >>"$work/programs.log" 2>&1 &)
notice=$(wait_window "Mosalune 更新程序" 40) || fail "rollback: the notice window did not appear"
sleep 1
press_update "$notice"
expect_failure "$dir" "rollback to 13.04.19" "$before"
grep -qF "发布页的版本 13.04.19 不比本程序的 13.04.20 新" "$work/programs.log" || fail "rollback: the updater did not say why"
! grep -q 'GET /files/' "$work/nginx/logs/access.log" || fail "rollback: a file was fetched"
: >"$work/programs.log"

# The page switched between the two windows: the notice window shows
# 13.99.98, the download window finds 13.99.99 (signed for it).
release_page "$full_list" "$push_off" 13.99.98 >"$www/release.html"
sign_release "$key" 13.99.98
dir=$work/switched
new_folder "$dir"
notice=$(start_to_notice "$dir" switched)
before=$(snapshot "$dir")
sed -i 's/Ver13.99.98/Ver13.99.99/' "$www/release.html"
sign_release "$key" 13.99.99
press_update "$notice"
expect_failure "$dir" "page switched after the notice" "$before"
grep -qF "发布页现在公布的版本 13.99.99 不是更新窗口显示的 13.99.98" "$work/programs.log" ||
  fail "switched: the updater did not say why"
: >"$work/programs.log"
release_page "$full_list" >"$www/release.html"
sign_release "$key"

# A share page that takes 45 s: Esc, then the window manager's close (openbox
# runs for this), bring the stop question at once, and "是" ends the update.
sed -i "s|$base/share/2.html|$fixture_base/delay/45000/share/2.html|g" "$www/release.html"
openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm_pid=$!
for how in Escape alt+F4; do
  dir=$work/stop-$how
  new_folder "$dir"
  notice=$(start_to_notice "$dir" "stop-$how")
  before=$(snapshot "$dir")
  press_update "$notice"
  id=$(wait_window "Mosalune 更新" 20) || fail "stop $how: the download window did not appear"
  sleep 3
  xdotool windowactivate --sync "$id" 2>/dev/null || xdotool windowfocus "$id"
  asked=$(date +%s%N)
  xdotool key --clearmodifiers "$how"
  question=$(wait_window "提示" 10) || fail "stop $how: no stop question"
  log "stop $how: the question stood after $((($(date +%s%N) - asked) / 1000000)) ms"
  (($(date +%s%N) - asked < 3000000000)) || fail "stop $how: the question took longer than 3 s"
  shot "stop-$how"
  press "$question" y
  gone_window "Mosalune 更新" 3 || fail "stop $how: the download window stayed"
  for ((i = 0; i < 15; i++)); do
    [ -n "$(programs_in "$dir")" ] || break
    sleep 0.2
  done
  [ -z "$(programs_in "$dir")" ] || fail "stop $how: the updater still runs"
  [ "$(snapshot "$dir")" = "$before" ] || fail "stop $how: the program folder changed"
done
kill "$wm_pid" 2>/dev/null || true
wait "$wm_pid" 2>/dev/null || true
release_page "$full_list" >"$www/release.html"

stop_nginx
log "all update scenarios passed"
