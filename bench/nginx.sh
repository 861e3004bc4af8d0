# Sourced by the benchmarks that download from a local nginx. Installs
# nginx-light, curl and GNU time when missing, and starts nginx on 127.0.0.1
# on a random free port, with its prefix and config in the folder $work
# (which the caller made, and removes with bench_nginx_stop in its EXIT trap),
# serving $work/www. It never touches the system's nginx.
#
#   bench_nginx_start [EXTRA HTTP DIRECTIVES]   sets $port and $server_pid
#   bench_nginx_stop

bench_nginx_need() {
  local need=()
  command -v nginx >/dev/null || [ -x /usr/sbin/nginx ] || need+=(nginx-light)
  command -v curl >/dev/null || need+=(curl)
  [ -x /usr/bin/time ] || need+=(time)
  if ((${#need[@]})); then
    local sudo=
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${need[@]}" >/dev/null
  fi
}

bench_nginx_try() {
  local candidate=$1 extra=$2 user_line= nginx
  nginx=$(command -v nginx || echo /usr/sbin/nginx)
  # In the foreground as a child of the script; run as root its worker would
  # drop to nobody, so it stays root instead (the files are ours).
  [ "$(id -u)" -eq 0 ] && user_line="user root;"
  mkdir -p "$work/logs" "$work/tmp"
  cat >"$work/nginx.conf" <<CONF
$user_line
daemon off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/logs/error.log warn;
events { worker_connections 256; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  client_body_temp_path $work/tmp/body;
  proxy_temp_path $work/tmp/proxy;
  fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi;
  scgi_temp_path $work/tmp/scgi;
  types { application/octet-stream bin; text/html html; }
  $extra
  server {
    listen 127.0.0.1:$candidate;
    root $work/www;
  }
}
CONF
  "$nginx" -p "$work" -c "$work/nginx.conf" -e "$work/logs/error.log" &
  server_pid=$!
  for _ in $(seq 50); do
    curl -s -o /dev/null "http://127.0.0.1:$candidate/" 2>/dev/null && return 0
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null || true
  server_pid=
  return 1
}

bench_nginx_start() {
  bench_nginx_need
  port=
  for _ in $(seq 20); do
    local candidate=$((20000 + RANDOM % 40000))
    if bench_nginx_try "$candidate" "${1:-}"; then port=$candidate; return 0; fi
  done
  echo "nginx did not start:" >&2
  cat "$work/logs/error.log" >&2
  exit 1
}

bench_nginx_stop() {
  [ -n "${server_pid:-}" ] || return 0
  kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  server_pid=
}
