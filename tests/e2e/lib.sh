# Shared by the end-to-end tests (sourced, not run): a work folder cleaned up
# on exit, an X server of the test's own, xdotool helpers that find the real
# windows by their titles, and nginx serving release 13.04.21 on a loopback
# address of the test's own.
#
#   source lib.sh NEW_PROGRAM_DIR HOST:PORT
#
# NEW_PROGRAM_DIR holds Mosalune.exe and MSLUpdate.exe of the published
# release; the page, share pages and files are laid out under $www.
set -euo pipefail
export LC_ALL=C.UTF-8
# Nothing of the caller's desktop: every window goes to the test's own server.
unset DISPLAY WAYLAND_DISPLAY

new=$1
server=$2
host=${server%:*}
port=${server#*:}
base="http://$server"

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

# Every program the test starts runs from a folder below $work, and so does
# whatever it starts in turn: they are ended by their process ids.
programs_in() {
  local p exe
  for p in /proc/[0-9]*; do
    exe=$(readlink "$p/exe" 2>/dev/null) || continue
    case $exe in "$1"/*) echo "${p#/proc/}" ;; esac
  done
}
end_programs() {
  local p
  for p in $(programs_in "$work"); do kill -9 "$p" 2>/dev/null || true; done
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
# One server for the whole test, never reset between programs.
start_xvfb() {
  mkfifo "$work/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  local display
  read -r -t 20 display <"$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  export DISPLAY=:$display
  log "Xvfb on $DISPLAY"
}

# A screenshot of the whole screen, kept in $MOSALUNE_E2E_SHOTS when set.
shot() {
  command -v xwd >/dev/null || return 0
  [ -n "${DISPLAY:-}" ] || return 0
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
# A left click at client position $2,$3 of window $1. Not --sync: with the
# pointer already on that spot (the same button of a window in the same
# place as before) xdotool waits 15 s for a move that never comes; the X
# server handles the move before the click in any case.
click() {
  xdotool mousemove --window "$1" "$2" "$3"
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
share_page "$base/files/Mosalune.exe?from=share&amp;v=13.04.21" Mosalune.exe >"$www/share/1.html"
share_page "$base/files/MSLUpdate.exe" MSLUpdate.exe >"$www/share/2.html"
share_page "$base/files/help.txt" 帮助.txt >"$www/share/3.html"

entry() { printf '<p>%s、%s(<a href="%s" target="_blank">%s</a>)</p>' "$1" "$2" "$3" "$3"; }
release_page() {
  local list=$1 push=${2-<p><strong>消息推送：关</strong></p>} version=${3:-13.04.21}
  printf '<!DOCTYPE html>\n<html lang="zh-CN"><head><meta charset="utf-8"><title>Mosalune 发布页</title></head>\n'
  printf '<body><div class="article"><p><strong>Ver%s</strong></p><p><strong>更新日志</strong></p>' "$version"
  printf '<p>切图更快</p><p><span style="color: #ff0000;">更新窗口居中显示</span></p>'
  printf '%s%s<p>欢迎使用新版本。</p><p>最新完整版：<a href="%s/" target="_blank">官网下载</a></p></div></body></html>\n' \
    "$list" "$push" "$base"
}
full_list="<p><strong>更新文件及地址：</strong></p>$(entry 1 Mosalune.exe "$base/share/1.html?from=page&amp;n=1")$(entry 2 MSLUpdate.exe "$base/share/2.html")$(entry 3 帮助.txt "$base/share/3.html")"

# The maker's signature beside the page: SHA256SUMS of the page's files as
# sha256sum writes it (without file $3 when given), signed with secret key $1
# for version $2.
sign_release() {
  local key=$1 version=${2:-13.04.21} drop=${3:-}
  (cd "$www/files" && sha256sum Mosalune.exe MSLUpdate.exe &&
    printf '%s  帮助.txt\n' "$(sha256sum <help.txt | cut -c1-64)") |
    grep -v "  $drop\$" >"$www/SHA256SUMS"
  rm -f "$www/SHA256SUMS.minisig"
  minisign -S -s "$key" -m "$www/SHA256SUMS" -t "Mosalune $version" </dev/null >/dev/null ||
    fail "minisign could not sign the release"
}

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
# The fixture server (tests/fixtures) on 127.0.0.1, serving $www as well, for
# what nginx cannot do: answers that stall, lengths no disk can hold. It ends
# with the test, when its standard input closes.
fixture_base=
start_fixture() {
  coproc FIXTURE { exec "$1" --root "$www" 2>>"$work/fixture.log"; }
  local line
  read -r -t 10 line <&"${FIXTURE[0]}" || fail "the fixture server did not start: $(cat "$work/fixture.log")"
  fixture_base="http://127.0.0.1:${line#PORT }"
}

stop_nginx() {
  [ -n "$nginx_pid" ] || return 0
  kill "$nginx_pid" 2>/dev/null || true
  wait "$nginx_pid" 2>/dev/null || true
  nginx_pid=
}

# ------------------------------------------------------------ the programs
support_files=(BrontelSkin.dll Brontel.Skin License.txt ReadMe.txt WhatsNew.txt 广告合作及其协议.txt)

# Once the main program of 13.04.20 has been started from folder $1: checks
# the splash's files and answers the version question with OK; prints the id
# of the updater's notice window once it has read the page.
answer_question() {
  local dir=$1 name=$2 id f
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

# From the notice window $3 of folder $1 to the new release running: "确定",
# the download, the countdown, the new main window, and the updater swapped
# in by it. Every served file then equals what the server sent. Prints the
# process id of the new main window.
finish_update() {
  local dir=$1 name=$2 notice=$3 id pid i p
  press_update "$notice" >&2
  wait_window "Mosalune 更新" 20 >/dev/null || fail "$name: the download window did not appear"
  shot "${name}-download"
  id=$(wait_window " Mosalune   Ver13.04.21" 60) || fail "$name: the new main program did not open its window"
  gone_window "Mosalune 更新" 5 || fail "$name: the download window is still there"
  for ((i = 0; i < 50; i++)); do
    [ -e "$dir/NewMSLUpdate.exe" ] || break
    sleep 0.2
  done
  [ ! -e "$dir/NewMSLUpdate.exe" ] || fail "$name: NewMSLUpdate.exe was not moved over MSLUpdate.exe"
  shot "${name}-new-main"
  cmp -s "$dir/Mosalune.exe" "$www/files/Mosalune.exe" || fail "$name: Mosalune.exe differs from what was served"
  cmp -s "$dir/MSLUpdate.exe" "$www/files/MSLUpdate.exe" || fail "$name: MSLUpdate.exe differs from what was served"
  cmp -s "$dir/帮助.txt" "$www/files/help.txt" || fail "$name: 帮助.txt differs from what was served"
  for p in Mosalune.exe MSLUpdate.exe; do [ -x "$dir/$p" ] || fail "$name: $p is not executable"; done
  grep -q 'GET /share/1.html?from=page&n=1 ' "$work/nginx/logs/access.log" ||
    fail "$name: the share address was not made plain (&amp;)"
  pid=$(xdotool getwindowpid "$id") || fail "$name: the new main window has no process id"
  echo "$pid"
}

# Every file of the folder with its checksum, temporary files included.
snapshot() { (cd "$1" && find . -type f -printf '%P\n' | LC_ALL=C sort | while IFS= read -r f; do
  printf '%s %s\n' "$(sha256sum <"$f" | cut -c1-64)" "$f"; done); }
