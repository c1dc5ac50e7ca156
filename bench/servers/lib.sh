# Servers we did not write, for the benchmarks: nginx (Debian's nginx-light)
# and python's http.server (listen backlog 5), both on 127.0.0.1 only, each
# serving a folder of the bundled site's pages. Sourced after bench/lib.sh;
# the caller removes $work and calls stop_servers at its end.

nginx_pid=""
python_pid=""

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

wait_for_port() {  # port
  for _ in $(seq 100); do curl -s -o /dev/null "http://127.0.0.1:$1/" && return 0; sleep 0.05; done
  return 1
}

# The chart of $1 songs and every song page on it, as files under $2:
# music/chart, and song/ID/index.html for the address song/ID//.
dump_site_pages() {  # songs dir
  local songs=$1 dir=$2 port pid
  port=$(free_port)
  "$bin/site/melodrift-site" --port "$port" --chart-size "$songs" >/dev/null &
  pid=$!
  wait_for_port "$port"
  mkdir -p "$dir/music"
  curl -s -o "$dir/music/chart" "http://127.0.0.1:$port/music/chart"
  grep -o 'WL("[^"]*","[0-9]*"' "$dir/music/chart" | sed 's/.*"\([0-9]*\)"$/\1/' | sort -u |
    while read -r id; do
      mkdir -p "$dir/song/$id"
      echo "url = \"http://127.0.0.1:$port/song/$id/\""
      echo "output = \"$dir/song/$id/index.html\""
    done >"$dir.list"
  curl -s --no-progress-meter --fail --parallel -K "$dir.list" || true
  find "$dir/song" -type d -empty -delete
  rm -f "$dir.list"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
}

have_nginx() { command -v nginx >/dev/null || [ -x /usr/sbin/nginx ]; }

# nginx with a configuration of its own, in the foreground as our child.
start_nginx() {  # dir; sets nginx_port
  local dir=$1 conf=$work/nginx
  nginx_port=$(free_port)
  mkdir -p "$conf"
  cat >"$conf/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $conf/nginx.pid;
error_log $conf/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $conf/body;
  proxy_temp_path $conf/proxy;
  fastcgi_temp_path $conf/fastcgi;
  uwsgi_temp_path $conf/uwsgi;
  scgi_temp_path $conf/scgi;
  default_type text/html;
  keepalive_requests 100000;
  server {
    listen 127.0.0.1:$nginx_port;
    root $dir;
  }
}
CONF
  "$(command -v nginx || echo /usr/sbin/nginx)" -p "$conf" -c "$conf/nginx.conf" 2>/dev/null &
  nginx_pid=$!
  wait_for_port "$nginx_port"
}

# python's http.server: a thread per connection, HTTP/1.0 (one request a
# connection) and a listen backlog of 5.
start_python() {  # dir; sets python_port
  python_port=$(free_port)
  python3 -m http.server --bind 127.0.0.1 --directory "$1" "$python_port" >/dev/null 2>&1 &
  python_pid=$!
  wait_for_port "$python_port"
}

stop_servers() {
  local pid
  for pid in $nginx_pid $python_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  nginx_pid=""
  python_pid=""
}
