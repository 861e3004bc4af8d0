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
set -euo pipefail
export LC_ALL=C.UTF-8

old=$1
new=$2
server=$3
host=${server%:*}
port=${server#*:}

work=$(mktemp -d)
chmod 755 "$work"
xvfb_pid=
nginx_pid=
tmpfs=
log() { printf "[%s] %s\n" "$(date +%T)" "$*" >&2; }
fail() {
  log "FAIL: $*"
  shot "failure"
  exit 1
}

# The programs started here, and whatever they started in turn, run from the
# program folders below $work: they are ended by their process ids.
end_programs() {
  local p exe
  for p in /proc/[0-9]*; do
    exe=$(readlink "$p/exe" 2>/dev/null) || continue
    case $exe in "$work"/*) kill -9 "${p#/proc/}" 2>/dev/null || true ;; esac
  done
}
cleanup() {
  set +e
  end_programs
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  [ -n "$tmpfs" ] && umount "$tmpfs" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# ------------------------------------------------------------------ display
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 20 display <"$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=:$display
unset WAYLAND_DISPLAY
log "Xvfb on $DISPLAY"

shot() {
  command -v xwd >/dev/null || return 0
  xwd -root -silent >"$work/$1.xwd" 2>/dev/null || return 0
  if [ -n "${MOSALUNE_E2E_SHOTS:-}" ]; then
    mkdir -p "$MOSALUNE_E2E_SHOTS"
    cp "$work/$1.xwd" "$MOSALUNE_E2E_SHOTS/$1.xwd"
  fi
}

# Waits up to $2 seconds for a visible window titled exactly $1; prints its id.
wait_window() {
  local title=$1 limit=${2:-30} id i
  for ((i = 0; i < limit * 5; i++)); do
    id=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -n 1) || true
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.2
  done
  return 1
}
gone_window() {
  local title=$1 limit=${2:-30} i
  for ((i = 0; i < limit * 5; i++)); do
    xdotool search --onlyvisible --name "^${title}\$" >/dev/null 2>&1 || return 0
    sleep 0.2
  done
  return 1
}
# A key pressed on window $1, as the user would after clicking into it.
press() {
  xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"
  sleep 0.2
  xdotool key --clearmodifiers "$2"
}
# A left click at client position $2,$3 of window $1.
click() {
  xdotool mousemove --sync --window "$1" "$2" "$3"
  sleep 0.1
  xdotool click 1
}

# ------------------------------------------------------------------ server
www=$work/www
mkdir -p "$www/share" "$www/files" "$work/nginx/logs" "$work/nginx/tmp"
cp "$new/Mosalune.exe" "$www/files/Mosalune.exe"
cp "$new/MSLUpdate.exe" "$www/files/MSLUpdate.exe"
printf '帮助\r\n把图片切成八张，按顺序上传。\r\n' | iconv -f UTF-8 -t GBK >"$www/files/help.txt"
chmod -R a+rX "$www"

# Share pages as the sharing service writes them: the direct address after
# "保存至网盘" in an href, followed by id=". One address carries &amp;.
share_page() {
  printf '<html><head><meta charset="utf-8"><title>文件分享</title></head><body>'
  printf '<div class="file">%s</div><div class="bar"><span>保存至网盘</span>' "$2"
  printf '<a class="btn" href="%s" id="downloadButton">普通下载</a></div></body></html>\n' "$1"
}
base="http://$server"
share_page "$base/files/Mosalune.exe?from=share&amp;v=13.04.21" Mosalune.exe >"$www/share/1.html"
share_page "$base/files/MSLUpdate.exe" MSLUpdate.exe >"$www/share/2.html"
share_page "$base/files/help.txt" 帮助.txt >"$www/share/3.html"

entry() { printf '<p>%s、%s(<a href="%s" target="_blank">%s</a>)</p>' "$1" "$2" "$3" "$3"; }
release_page() {
  local list=$1 push=${2-<p><strong>消息推送：关</strong></p>}
  printf '<!DOCTYPE html>\n<html lang="zh-CN"><head><meta charset="utf-8"><title>Mosalune 发布页</title></head>\n'
  printf '<body><div class="article"><p><strong>Ver13.04.21</strong></p><p><strong>更新日志</strong></p>'
  printf '<p>切图更快</p><p><span style="color: #ff0000;">更新窗口居中显示</span></p>'
  printf '%s%s<p>欢迎使用新版本。</p><p>最新完整版：<a href="%s/" target="_blank">官网下载</a></p></div></body></html>\n' \
    "$list" "$push" "$base"
}
full_list="<p><strong>更新文件及地址：</strong></p>$(entry 1 Mosalune.exe "$base/share/1.html?from=page&amp;n=1")$(entry 2 MSLUpdate.exe "$base/share/2.html")$(entry 3 帮助.txt "$base/share/3.html")"

start_nginx() {
  local limit=${1:-}
  cat >"$work/nginx/nginx.conf" <<EOF
$([ "$(id -u)" -eq 0 ] && echo "user root;")
daemon off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log warn;
events { worker_connections 64; }
http {
  access_log $work/nginx/logs/access.log;
  client_body_temp_path $work/nginx/tmp/body;
  proxy_temp_path $work/nginx/tmp/proxy;
  fastcgi_temp_path $work/nginx/tmp/fastcgi;
  uwsgi_temp_path $work/nginx/tmp/uwsgi;
  scgi_temp_path $work/nginx/tmp/scgi;
  types { text/html html; application/octet-stream exe; text/plain txt; }
  charset utf-8;
  server {
    listen $host:$port;
    root $www;
    location = /files/MSLUpdate.exe { $limit }
  }
}
EOF
  /usr/sbin/nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/logs/error.log" &
  nginx_pid=$!
  local i
  for ((i = 0; i < 50; i++)); do
    curl -s -o /dev/null "$base/release.html" && return 0
    kill -0 "$nginx_pid" 2>/dev/null || break
    sleep 0.1
  done
  fail "nginx did not start on $server: $(cat "$work/nginx/logs/error.log")"
}
stop_nginx() {
  [ -n "$nginx_pid" ] || return 0
  kill "$nginx_pid" 2>/dev/null || true
  wait "$nginx_pid" 2>/dev/null || true
  nginx_pid=
}

# ------------------------------------------------------------ the scenarios
support_files=(BrontelSkin.dll Brontel.Skin License.txt ReadMe.txt WhatsNew.txt 广告合作及其协议.txt)

# A program folder holding only the two programs of the running release.
new_folder() {
  local dir=$1
  mkdir -p "$dir"
  cp "$old/Mosalune.exe" "$old/MSLUpdate.exe" "$dir/"
  chmod 755 "$dir/Mosalune.exe" "$dir/MSLUpdate.exe"
}

# Starts the main program as the user would, checks the splash's files and
# answers the version question with OK; prints the id of the updater's
# notice window once it has read the page.
start_to_notice() {
  local dir=$1 name=$2 id f
  (cd "$dir" && setsid ./Mosalune.exe </dev/null >>"$work/programs.log" 2>&1 &)
  id=$(wait_window "更新提示：" 40) || fail "$name: the version question did not appear"
  shot "${name}-question"
  for f in "${support_files[@]}"; do
    [ -s "$dir/$f" ] || fail "$name: the splash did not write $f"
  done
  press "$id" Return >&2
  id=$(wait_window "Mosalune 更新程序" 40) || fail "$name: the updater's notice window did not appear"
  gone_window " Mosalune   Ver13.04.20" 1 || fail "$name: the main window opened although the user chose to update"
  # "确定" is enabled once the version and change log are read.
  sleep 1
  shot "${name}-notice"
  echo "$id"
}
# "确定" in the notice window.
press_update() { click "$1" 52 314; }

# Process ids of the programs running from folder $1.
programs_in() {
  local p exe
  for p in /proc/[0-9]*; do
    exe=$(readlink "$p/exe" 2>/dev/null) || continue
    case $exe in "$1"/*) echo "${p#/proc/}" ;; esac
  done
}

# Every file of the folder with its checksum, temporary files included.
snapshot() { (cd "$1" && find . -type f -printf '%P\n' | LC_ALL=C sort | while IFS= read -r f; do
  printf '%s %s\n' "$(sha256sum <"$f" | cut -c1-64)" "$f"; done); }

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
press_update "$notice"
wait_window "Mosalune 更新" 20 >/dev/null || fail "the download window did not appear"
shot "roundtrip-download"
wait_window " Mosalune   Ver13.04.21" 60 >/dev/null || fail "the new main program did not open its window"
shot "roundtrip-new-main"
gone_window "Mosalune 更新" 5 || fail "the download window is still there"
for ((i = 0; i < 50; i++)); do
  [ -e "$dir/NewMSLUpdate.exe" ] || break
  sleep 0.2
done
[ ! -e "$dir/NewMSLUpdate.exe" ] || fail "NewMSLUpdate.exe was not moved over MSLUpdate.exe"
cmp -s "$dir/Mosalune.exe" "$www/files/Mosalune.exe" || fail "Mosalune.exe differs from what was served"
cmp -s "$dir/MSLUpdate.exe" "$www/files/MSLUpdate.exe" || fail "MSLUpdate.exe differs from what was served"
cmp -s "$dir/帮助.txt" "$www/files/help.txt" || fail "帮助.txt differs from what was served"
for p in Mosalune.exe MSLUpdate.exe; do [ -x "$dir/$p" ] || fail "$p is not executable"; done
expected=$(printf '%s\n' Mosalune.exe MSLUpdate.exe 帮助.txt "${support_files[@]}" | LC_ALL=C sort)
actual=$(cd "$dir" && find . -mindepth 1 -printf '%P\n' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "the folder holds other files than expected: $actual"
grep -q 'GET /share/1.html?from=page&n=1 ' "$work/nginx/logs/access.log" ||
  fail "the share address was not made plain (&amp;)"
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
