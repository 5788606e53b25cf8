# shellcheck shell=bash
# The demo servers on 127.0.0.1, for tools/demo/run-demo.sh (sourced, bash):
#   https://127.0.0.1:18443  nginx: /download/ the signed demo installer and its .sig (ranges,
#                            keep-alive, a rate limit), /downloader/ the carousel service
#   https://127.0.0.1:18444  the analytics collector
#   http://127.0.0.1:18080   nginx: the licence and after-installation pages
# These are the addresses the demo brand (data/) carries. The certificates come from a CA made
# for each run; the program trusts it through SSL_CERT_FILE.

DEMO_HTTPS_PORT=18443
DEMO_COLLECTOR_PORT=18444
DEMO_HTTP_PORT=18080
DEMO_SERVER_PIDS=()

demo_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

demo_port_open() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# demo_wait_port PORT PID: until something listens on PORT, while PID lives (10 s at most).
demo_wait_port() {
  for _ in $(seq 100); do
    demo_port_open "$1" && return 0
    kill -0 "$2" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# demo_make_pki DIR: ca.pem (the CA to trust), server.pem and server.key for 127.0.0.1.
demo_make_pki() {
  local dir=$1
  mkdir -p "$dir"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 7 \
    -subj "/CN=KVDownloader demo CA" -keyout "$dir/ca.key" -out "$dir/ca.pem" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    2>/dev/null
  openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
    -subj "/CN=127.0.0.1" -keyout "$dir/server.key" -out "$dir/server.csr" 2>/dev/null
  printf '%s\n' "subjectAltName=IP:127.0.0.1,DNS:localhost" "basicConstraints=CA:FALSE" \
    "keyUsage=critical,digitalSignature" "extendedKeyUsage=serverAuth" >"$dir/server.ext"
  openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" \
    -CAcreateserial -days 7 -extfile "$dir/server.ext" -out "$dir/server.pem" 2>/dev/null
  chmod 600 "$dir/ca.key" "$dir/server.key"
  chmod 644 "$dir/ca.pem" "$dir/server.pem"
  openssl verify -CAfile "$dir/ca.pem" "$dir/server.pem" >/dev/null
}

# demo_start_servers BUILD_DIR WORK_DIR SECONDS: the servers, the installer download lasting
# about SECONDS over the program's 8 connections. NGINX_USER: the nginx "user" line as root.
demo_start_servers() {
  local build=$1 work=$2 seconds=$3
  local installer="$build/tools/demo-installer/demo-installer"
  local port
  for port in $DEMO_HTTPS_PORT $DEMO_COLLECTOR_PORT $DEMO_HTTP_PORT; do
    if demo_port_open "$port"; then
      echo "demo: 127.0.0.1:$port is in use; the demo brand's servers need it" >&2
      return 1
    fi
  done
  if [ ! -f "$installer.sig" ]; then
    echo "demo: $installer.sig is missing (target demo-installer-signed)" >&2
    return 1
  fi

  mkdir -p "$work/www/download" "$work/www/pages" "$work/logs" "$work/tmp"
  cp "$installer" "$work/www/download/korvana-lumenstack-setup.exe"
  cp "$installer.sig" "$work/www/download/korvana-lumenstack-setup.exe.sig"
  cp "$demo_here/pages/license.html" "$demo_here/pages/installed.html" "$work/www/pages/"
  chmod -R a+rX "$work/www"

  python3 "$demo_here/carousel/carousel_server.py" --port 0 --port-file "$work/carousel.port" \
    --log "$work/logs/carousel.log" >"$work/logs/carousel.out" 2>&1 &
  DEMO_SERVER_PIDS+=($!)
  local carousel_pid=$!
  for _ in $(seq 100); do
    [ -s "$work/carousel.port" ] && break
    kill -0 "$carousel_pid" 2>/dev/null || break
    sleep 0.1
  done
  local carousel_port
  carousel_port=$(cat "$work/carousel.port" 2>/dev/null || true)
  if [ -z "$carousel_port" ] || ! demo_wait_port "$carousel_port" "$carousel_pid"; then
    echo "demo: the carousel service did not start" >&2
    cat "$work/logs/carousel.out" >&2
    return 1
  fi

  python3 -u "$demo_here/collector.py" --port "$DEMO_COLLECTOR_PORT" \
    --events "$work/events.txt" --cert "$work/../pki/server.pem" --key "$work/../pki/server.key" \
    >"$work/logs/collector.out" 2>&1 &
  DEMO_SERVER_PIDS+=($!)
  if ! demo_wait_port "$DEMO_COLLECTOR_PORT" $!; then
    echo "demo: the analytics collector did not start" >&2
    cat "$work/logs/collector.out" >&2
    return 1
  fi

  local size rate
  size=$(stat -c %s "$installer")
  rate=$((size / (8 * seconds)))
  [ "$rate" -ge 4096 ] || rate=4096
  sed -e "s#@WORK@#$work#g" -e "s#@PKI@#$work/../pki#g" -e "s#@RATE@#$rate#g" \
    -e "s#@HTTPS_PORT@#$DEMO_HTTPS_PORT#g" -e "s#@HTTP_PORT@#$DEMO_HTTP_PORT#g" \
    -e "s#@CAROUSEL_PORT@#$carousel_port#g" -e "s#@USER@#${NGINX_USER:-}#g" \
    "$demo_here/nginx.conf.in" >"$work/nginx.conf"
  nginx -p "$work" -c "$work/nginx.conf" -e "$work/logs/error.log" -g "daemon off;" \
    >"$work/logs/nginx.out" 2>&1 &
  DEMO_SERVER_PIDS+=($!)
  local nginx_pid=$!
  if ! demo_wait_port "$DEMO_HTTPS_PORT" "$nginx_pid" ||
    ! demo_wait_port "$DEMO_HTTP_PORT" "$nginx_pid"; then
    echo "demo: nginx did not start" >&2
    cat "$work/logs/nginx.out" "$work/logs/error.log" >&2 2>/dev/null
    return 1
  fi
  echo "demo: servers on 127.0.0.1: https $DEMO_HTTPS_PORT (installer $size bytes at" \
    "$rate bytes/s per connection, carousel), https $DEMO_COLLECTOR_PORT (analytics)," \
    "http $DEMO_HTTP_PORT (pages)"
}

# Stops what demo_start_servers started.
demo_stop_servers() {
  local pid
  for pid in "${DEMO_SERVER_PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${DEMO_SERVER_PIDS[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  DEMO_SERVER_PIDS=()
}
