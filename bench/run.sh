#!/usr/bin/env bash
# Downloads the same files from an nginx on loopback with kvget, aria2c (-x8 -s8), curl and wget
# in turn, checks every result's SHA-256 and prints medians of wall time, CPU time and peak
# memory with ratios to aria2c. Run by hand on a quiet machine: bench/run.sh [ROUNDS] [CASES]
# CASES is a comma-separated subset of plain,tls,limited,resume (default: all).
# Needs a build of kvget (KVGET=path, default build/bench/tools/kvget/kvget, built if missing).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
ROUNDS=${1:-3}
CASES=${2:-plain,tls,limited,resume}
KVGET=${KVGET:-$ROOT/build/bench/tools/kvget/kvget}
WORK=${BENCH_DIR:-$(mktemp -d /tmp/kvbench.XXXXXX)}
PORT=${BENCH_PORT:-18443}
TPORT=$((PORT + 1))

need() { command -v "$1" >/dev/null 2>&1; }
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
missing=()
need aria2c || missing+=(aria2)
need wget || missing+=(wget)
need curl || missing+=(curl)
[ -x /usr/bin/time ] || missing+=(time)
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
if [ ! -x "$KVGET" ]; then
  cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKV_TESTS=OFF \
    -DKV_COMPONENTS="platform;log;sys;kvhttp;tools" >/dev/null
  cmake --build build/bench --target kvget
fi

mkdir -p "$WORK"/{www/limited,prefix/logs,prefix/tmp,out,certs}
# nginx workers may run as another user.
chmod 755 "$WORK"
cleanup() {
  [ -f "$WORK/prefix/nginx.pid" ] && kill "$(cat "$WORK/prefix/nginx.pid")" 2>/dev/null || true
  [ -n "${KEEP:-}" ] || rm -rf "$WORK"
}
trap cleanup EXIT

echo "== preparing files in $WORK"
[ -f "$WORK/www/big.bin" ] || head -c $((1024 * 1024 * 1024)) /dev/urandom >"$WORK/www/big.bin"
[ -f "$WORK/www/limited/mid.bin" ] || head -c $((64 * 1024 * 1024)) /dev/urandom >"$WORK/www/limited/mid.bin"
chmod -R a+rX "$WORK/www"
BIG_SHA=$(sha256sum "$WORK/www/big.bin" | cut -d' ' -f1)
MID_SHA=$(sha256sum "$WORK/www/limited/mid.bin" | cut -d' ' -f1)

C=$WORK/certs
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=bench-ca" \
  -keyout "$C/ca.key" -out "$C/ca.pem" >/dev/null 2>&1
openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" -keyout "$C/srv.key" \
  -out "$C/srv.csr" >/dev/null 2>&1
printf 'subjectAltName=IP:127.0.0.1\n' >"$C/ext"
openssl x509 -req -in "$C/srv.csr" -CA "$C/ca.pem" -CAkey "$C/ca.key" -CAcreateserial \
  -days 2 -extfile "$C/ext" -out "$C/srv.pem" >/dev/null 2>&1

cat >"$WORK/prefix/nginx.conf" <<CONF
worker_processes 2;
error_log $WORK/prefix/logs/error.log;
pid $WORK/prefix/nginx.pid;
events { worker_connections 1024; }
http {
  log_format bytes '\$body_bytes_sent';
  access_log $WORK/prefix/logs/access.log bytes;
  client_body_temp_path $WORK/prefix/tmp;
  proxy_temp_path $WORK/prefix/tmp;
  fastcgi_temp_path $WORK/prefix/tmp;
  uwsgi_temp_path $WORK/prefix/tmp;
  scgi_temp_path $WORK/prefix/tmp;
  default_type application/octet-stream;
  sendfile on;
  keepalive_requests 100000;
  server {
    listen 127.0.0.1:$PORT;
    root $WORK/www;
    location /limited/ { limit_rate 2m; sendfile_max_chunk 16k; }
  }
  server {
    listen 127.0.0.1:$TPORT ssl;
    root $WORK/www;
    ssl_certificate $C/srv.pem;
    ssl_certificate_key $C/srv.key;
  }
}
CONF
NGINX=$(command -v nginx || echo /usr/sbin/nginx)
"$NGINX" -p "$WORK/prefix" -c "$WORK/prefix/nginx.conf"
sleep 0.5

RESULTS=$WORK/results.txt
: >"$RESULTS"
LOG=$WORK/prefix/logs/access.log

# The command line of one tool for URL -> OUT.
command_for() {
  local tool=$1 url=$2 out=$3
  case $tool in
    kvget) echo "$KVGET -n 8 $url $out" ;;
    aria2c) echo "aria2c -q -x8 -s8 -k1M --file-allocation=none --allow-overwrite=true \
--auto-file-renaming=false --ca-certificate=$C/ca.pem -d $(dirname "$out") -o $(basename "$out") $url" ;;
    curl) echo "curl -sS --cacert $C/ca.pem -o $out $url" ;;
    wget) echo "wget -q --ca-certificate=$C/ca.pem -O $out $url" ;;
  esac
}

# One timed run; appends "case tool wall cpu maxrss_kib" to the results.
timed() {
  local name=$1 tool=$2 url=$3 sha=$4 out=$WORK/out/$2.bin
  rm -f "$out" "$out".* "$WORK/out/"*.aria2
  local cmd
  cmd=$(command_for "$tool" "$url" "$out")
  local t0 t1
  t0=$(date +%s.%N)
  SSL_CERT_FILE=$C/ca.pem KVGET_LOG_DIR=$WORK/log /usr/bin/time -f "%U %S %M" -o "$WORK/time.txt" $cmd
  t1=$(date +%s.%N)
  local got
  got=$(sha256sum "$out" | cut -d' ' -f1)
  if [ "$got" != "$sha" ]; then
    echo "SHA-256 MISMATCH: $name $tool" >&2
    exit 1
  fi
  read -r user sys rss <"$WORK/time.txt"
  echo "$name $tool $(echo "$t1 - $t0" | bc -l) $(echo "$user + $sys" | bc -l) $rss" >>"$RESULTS"
  rm -f "$out"
}

# Bytes nginx sent since the log had `from` lines.
sent_since() { tail -n +"$(($1 + 1))" "$LOG" | awk '{s += $1} END {print s + 0}'; }

# Kill -9 at half the file, resume, report the bytes fetched beyond the file's size.
resume_run() {
  local tool=$1 url=$2 sha=$3 size=$4 out=$WORK/out/$1.bin
  rm -f "$out" "$out".* "$WORK/out/"*.aria2
  local cmd resume from
  cmd=$(command_for "$tool" "$url" "$out")
  case $tool in
    curl) resume="curl -sS -C - --cacert $C/ca.pem -o $out $url" ;;
    wget) resume="wget -q -c --ca-certificate=$C/ca.pem -O $out $url" ;;
    aria2c) resume="aria2c -q -c -x8 -s8 -k1M --file-allocation=none --auto-file-renaming=false \
-d $(dirname "$out") -o $(basename "$out") $url" ;;
    kvget) resume=$cmd ;;
  esac
  from=$(wc -l <"$LOG")
  KVGET_LOG_DIR=$WORK/log setsid $cmd &
  local pid=$!
  # Data on disk, counted by allocated blocks (the partial files are sparse).
  while :; do
    local f=$out
    [ -f "$out.tmp" ] && f=$out.tmp
    local have=0
    [ -f "$f" ] && have=$(($(stat -c %b "$f") * 512))
    [ "$have" -ge $((size / 2)) ] && break
    kill -0 $pid 2>/dev/null || break
    sleep 0.05
  done
  kill -9 -- -$pid 2>/dev/null || kill -9 $pid 2>/dev/null || true
  wait $pid 2>/dev/null || true
  sleep 0.3
  KVGET_LOG_DIR=$WORK/log $resume
  local got
  got=$(sha256sum "$out" | cut -d' ' -f1)
  [ "$got" = "$sha" ] || { echo "SHA-256 MISMATCH after resume: $tool" >&2; exit 1; }
  sleep 0.3
  local sent
  sent=$(sent_since "$from")
  echo "resume $tool 0 0 0 $((sent - size))" >>"$RESULTS"
  rm -f "$out" "$out".* "$WORK/out/"*.aria2
}

TOOLS=(kvget aria2c curl wget)
for round in $(seq 1 "$ROUNDS"); do
  echo "== round $round of $ROUNDS"
  for tool in "${TOOLS[@]}"; do
    [[ $CASES == *plain* ]] && timed plain "$tool" "http://127.0.0.1:$PORT/big.bin" "$BIG_SHA"
    [[ $CASES == *tls* ]] && timed tls "$tool" "https://127.0.0.1:$TPORT/big.bin" "$BIG_SHA"
    [[ $CASES == *limited* ]] && timed limited "$tool" "http://127.0.0.1:$PORT/limited/mid.bin" "$MID_SHA"
    [[ $CASES == *resume* ]] && [ "$round" -eq 1 ] &&
      resume_run "$tool" "http://127.0.0.1:$PORT/limited/mid.bin" "$MID_SHA" $((64 * 1024 * 1024))
    true
  done
done

python3 - "$RESULTS" <<'PY'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1]) if l.strip()]
cases = []
for r in rows:
    if r[0] not in cases:
        cases.append(r[0])
for case in cases:
    print("\n%s" % case)
    if case == "resume":
        print("  %-7s %s" % ("tool", "bytes fetched again"))
        for r in rows:
            if r[0] == case:
                print("  %-7s %d" % (r[1], int(r[5])))
        continue
    sizes = {"plain": 1024, "tls": 1024, "limited": 64}
    med = {}
    for tool in ["kvget", "aria2c", "curl", "wget"]:
        got = [r for r in rows if r[0] == case and r[1] == tool]
        if got:
            med[tool] = tuple(statistics.median(float(r[i]) for r in got) for i in (2, 3, 4))
    base = med.get("aria2c")
    print("  %-7s %9s %9s %9s %9s  %s" % ("tool", "wall s", "MiB/s", "cpu s", "peak MiB", "ratio to aria2c (wall, cpu, mem)"))
    for tool, (wall, cpu, rss) in med.items():
        ratio = ""
        if base:
            ratio = "%.2f %.2f %.2f" % (wall / base[0], cpu / base[1] if base[1] else 0, rss / base[2])
        print("  %-7s %9.2f %9.1f %9.2f %9.1f  %s" % (tool, wall, sizes[case] / wall, cpu, rss / 1024, ratio))
PY
