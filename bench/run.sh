#!/usr/bin/env bash
# Downloads the same files from an nginx on loopback with kvget and the peer tools (curl,
# aria2c -x8 -s8, wget, axel -n 8), checks every result's SHA-256 and prints the medians of
# wall time, CPU time and peak memory, the goals and whether each is met. Output goes to the
# machine's ordinary disk (BENCH_DIR, default a folder below /var/tmp), never to tmpfs.
# Run it alone (through `heavy`): bench/run.sh [ROUNDS] [CASES]
#   CASES: comma-separated subset of plain,tls,limited,norange,resume,single,syscalls,profile
#          (default: all). Rounds rotate the order of the tools; BENCH_TOOLS="kvget curl"
#          limits the tools; KEEP=1 keeps BENCH_DIR and its test files for the next run.
# Needs a release build of kvget (KVGET=path, default build/bench/tools/kvget/kvget, built if
# missing). Peers come from Debian packages (installed when missing).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
ROUNDS=${1:-3}
CASES=${2:-plain,tls,limited,norange,resume,single,syscalls,profile}
KVGET=${KVGET:-$ROOT/build/bench/tools/kvget/kvget}
WORK=${BENCH_DIR:-$(mktemp -d /var/tmp/kvbench.XXXXXX)}
PORT=${BENCH_PORT:-18443}
TPORT=$((PORT + 1))

need() { command -v "$1" >/dev/null 2>&1; }
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
missing=()
need aria2c || missing+=(aria2)
need wget || missing+=(wget)
need curl || missing+=(curl)
need axel || missing+=(axel)
need strace || missing+=(strace)
need perf || missing+=(linux-perf)
need bc || missing+=(bc)
[ -x /usr/bin/time ] || missing+=(time)
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
if [ ! -x "$KVGET" ]; then
  cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKV_TESTS=OFF \
    -DKV_COMPONENTS="platform;log;sys;kvhttp;tools" >/dev/null
  cmake --build build/bench --target kvget
fi
mkdir -p "$WORK"
if [ "$(stat -f -c %T "$WORK")" = "tmpfs" ]; then
  echo "BENCH_DIR $WORK is on tmpfs; the goals are about the ordinary disk" >&2
  exit 2
fi

mkdir -p "$WORK"/{www/limited,www/norange,prefix/logs,prefix/tmp,out,certs,log}
# nginx workers may run as another user.
chmod 755 "$WORK"
cleanup() {
  [ -f "$WORK/prefix/nginx.pid" ] && kill "$(cat "$WORK/prefix/nginx.pid")" 2>/dev/null || true
  [ -n "${KEEP:-}" ] || rm -rf "$WORK"
}
trap cleanup EXIT

echo "== preparing files in $WORK ($(stat -f -c %T "$WORK"))"
[ -f "$WORK/www/big.bin" ] || head -c $((1024 * 1024 * 1024)) /dev/urandom >"$WORK/www/big.bin"
[ -f "$WORK/www/mid.bin" ] || head -c $((64 * 1024 * 1024)) /dev/urandom >"$WORK/www/mid.bin"
ln -f "$WORK/www/mid.bin" "$WORK/www/limited/mid.bin"
ln -f "$WORK/www/mid.bin" "$WORK/www/norange/mid.bin"
chmod -R a+rX "$WORK/www"
BIG_SHA=$(sha256sum "$WORK/www/big.bin" | cut -d' ' -f1)
MID_SHA=$(sha256sum "$WORK/www/mid.bin" | cut -d' ' -f1)
BIG=$((1024 * 1024 * 1024))
MID=$((64 * 1024 * 1024))

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
  log_format bytes '\$body_bytes_sent \$connection';
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
    # 2 MB/s per connection.
    location /limited/ { limit_rate 2000000; sendfile_max_chunk 16k; }
    location /norange/ { max_ranges 0; }
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
export SSL_CERT_FILE=$C/ca.pem KVGET_LOG_DIR=$WORK/log

# The command line of one tool for URL -> OUT.
command_for() {
  local tool=$1 url=$2 out=$3
  case $tool in
    kvget) echo "$KVGET -n 8 $url $out" ;;
    kvget1) echo "$KVGET -n 1 $url $out" ;;
    aria2c) echo "aria2c -q -x8 -s8 -k1M --file-allocation=none --allow-overwrite=true \
--auto-file-renaming=false --ca-certificate=$C/ca.pem -d $(dirname "$out") -o $(basename "$out") $url" ;;
    curl) echo "curl -sS --cacert $C/ca.pem -o $out $url" ;;
    wget) echo "wget -q --ca-certificate=$C/ca.pem -O $out $url" ;;
    # axel checks the name and not the IP address of the certificate: no verification there.
    axel) echo "axel -q -n 8 $([[ $url == https:* ]] && echo --insecure) -o $out $url" ;;
  esac
}

# Bytes and connections nginx served since the log had `from` lines.
sent_since() { tail -n +"$(($1 + 1))" "$LOG" | awk '{s += $1} END {print s + 0}'; }
conns_since() { tail -n +"$(($1 + 1))" "$LOG" | awk '{print $2}' | sort -u | wc -l; }

# One timed run; appends "case tool wall cpu maxrss_kib wasted_bytes connections".
timed() {
  local name=$1 tool=$2 url=$3 sha=$4 size=$5 out=$WORK/out/$2.bin
  rm -f "$out" "$out".* "$WORK/out/"*.aria2 "$WORK/out/"*.st
  sync
  local cmd from t0 t1 got
  cmd=$(command_for "$tool" "$url" "$out")
  from=$(wc -l <"$LOG")
  t0=$(date +%s.%N)
  if ! /usr/bin/time -f "%U %S %M" -o "$WORK/time.txt" $cmd; then
    # A peer that fails is left out of this case; kvget failing ends the bench.
    echo "FAILED: $name $tool" >&2
    [ "${tool#kvget}" = "$tool" ] || exit 1
    rm -f "$out" "$out".*
    return 0
  fi
  t1=$(date +%s.%N)
  got=$(sha256sum "$out" | cut -d' ' -f1)
  if [ "$got" != "$sha" ]; then
    echo "SHA-256 MISMATCH: $name $tool" >&2
    exit 1
  fi
  sleep 0.2  # nginx writes its log line when the connection ends
  local user sys rss
  read -r user sys rss <"$WORK/time.txt"
  echo "$name $tool $(echo "$t1 - $t0" | bc -l) $(echo "$user + $sys" | bc -l) $rss" \
    "$(($(sent_since "$from") - size)) $(conns_since "$from")" >>"$RESULTS"
  rm -f "$out" "$out".*
}

# Kill -9 at half the file, resume, report the bytes fetched beyond the file's size.
resume_run() {
  local tool=$1 url=$2 sha=$3 size=$4 out=$WORK/out/$1.bin
  rm -f "$out" "$out".* "$WORK/out/"*.aria2 "$WORK/out/"*.st
  local cmd resume from
  cmd=$(command_for "$tool" "$url" "$out")
  case $tool in
    curl) resume="curl -sS -C - --cacert $C/ca.pem -o $out $url" ;;
    wget) resume="wget -q -c --ca-certificate=$C/ca.pem -O $out $url" ;;
    aria2c) resume="aria2c -q -c -x8 -s8 -k1M --file-allocation=none --auto-file-renaming=false \
-d $(dirname "$out") -o $(basename "$out") $url" ;;
    *) resume=$cmd ;;
  esac
  from=$(wc -l <"$LOG")
  setsid $cmd &
  local pid=$!
  # Data on disk, counted by allocated blocks (the partial files are sparse).
  while :; do
    local f=$out have=0
    [ -f "$out.tmp" ] && f=$out.tmp
    [ -f "$f" ] && have=$(($(stat -c %b "$f") * 512))
    [ "$have" -ge $((size / 2)) ] && break
    kill -0 $pid 2>/dev/null || break
    sleep 0.05
  done
  kill -9 -- -$pid 2>/dev/null || kill -9 $pid 2>/dev/null || true
  wait $pid 2>/dev/null || true
  sleep 0.3
  $resume
  local got
  got=$(sha256sum "$out" | cut -d' ' -f1)
  [ "$got" = "$sha" ] || { echo "SHA-256 MISMATCH after resume: $tool" >&2; exit 1; }
  sleep 0.3
  echo "resume $tool 0 0 0 $(($(sent_since "$from") - size)) 0" >>"$RESULTS"
  rm -f "$out" "$out".* "$WORK/out/"*.aria2 "$WORK/out/"*.st
}

read -r -a TOOLS <<<"${BENCH_TOOLS:-kvget curl aria2c wget axel}"
for round in $(seq 1 "$ROUNDS"); do
  echo "== round $round of $ROUNDS"
  # Each round starts with another tool, so that no tool always follows the same one.
  order=("${TOOLS[@]:$(((round - 1) % ${#TOOLS[@]}))}" "${TOOLS[@]:0:$(((round - 1) % ${#TOOLS[@]}))}")
  for tool in "${order[@]}"; do
    [[ $CASES == *plain* ]] && timed plain "$tool" "http://127.0.0.1:$PORT/big.bin" "$BIG_SHA" $BIG
    [[ $CASES == *tls* ]] && timed tls "$tool" "https://127.0.0.1:$TPORT/big.bin" "$BIG_SHA" $BIG
    [[ $CASES == *limited* ]] && timed limited "$tool" "http://127.0.0.1:$PORT/limited/mid.bin" \
      "$MID_SHA" $MID
    [[ $CASES == *norange* ]] && timed norange "$tool" "http://127.0.0.1:$PORT/norange/mid.bin" \
      "$MID_SHA" $MID
    [[ $CASES == *resume* ]] && [ "$round" -eq 1 ] &&
      resume_run "$tool" "http://127.0.0.1:$PORT/limited/mid.bin" "$MID_SHA" $MID
    if [[ $CASES == *single* ]] && [[ $tool == kvget || $tool == curl ]]; then
      t=$tool
      [ "$tool" = kvget ] && t=kvget1
      timed single "$t" "http://127.0.0.1:$PORT/big.bin" "$BIG_SHA" $BIG
    fi
    true
  done
done

if [[ $CASES == *syscalls* ]]; then
  echo "== system calls of one kvget -n 8 run (1 GiB, plain)"
  rm -f "$WORK/out/k.bin"*
  strace -f -c -o "$WORK/strace.txt" $KVGET -n 8 "http://127.0.0.1:$PORT/big.bin" "$WORK/out/k.bin"
  rm -f "$WORK/out/k.bin"*
fi

if [[ $CASES == *profile* ]]; then
  for url in "http://127.0.0.1:$PORT/big.bin" "https://127.0.0.1:$TPORT/big.bin"; do
    echo "== where kvget -n 8 spends its time ($url; perf, by thread and symbol)"
    rm -f "$WORK/out/k.bin"*
    perf record -q -F 1999 -o "$WORK/perf.data" $KVGET -n 8 "$url" "$WORK/out/k.bin" 2>/dev/null
    perf report -q -i "$WORK/perf.data" --stdio --sort pid 2>/dev/null | head -8 || true
    perf report -q -i "$WORK/perf.data" --stdio --sort dso,sym 2>/dev/null | head -30 || true
    rm -f "$WORK/out/k.bin"*
  done
fi

python3 - "$RESULTS" "$WORK/strace.txt" <<'PY'
import os, statistics, sys
rows = [l.split() for l in open(sys.argv[1]) if l.strip()]
def med(case, tool, i):
    got = [float(r[i]) for r in rows if r[0] == case and r[1] == tool]
    return statistics.median(got) if got else None
sizes = {"plain": 1024, "tls": 1024, "limited": 64, "norange": 64, "single": 1024}
for case in ["plain", "tls", "limited", "norange", "single"]:
    tools = [t for t in ["kvget", "kvget1", "curl", "aria2c", "wget", "axel"]
             if med(case, t, 2) is not None]
    if not tools:
        continue
    print("\n%s (median of %d)" % (case, len([r for r in rows if r[0] == case and r[1] == tools[0]])))
    print("  %-7s %8s %8s %8s %9s %12s %6s" % ("tool", "wall s", "MiB/s", "cpu s", "peak MiB",
                                            "wasted B", "conns"))
    for t in tools:
        wall, cpu, rss = med(case, t, 2), med(case, t, 3), med(case, t, 4)
        print("  %-7s %8.2f %8.1f %8.2f %9.1f %12d %6d" % (t, wall, sizes[case] / wall, cpu,
                                                        rss / 1024, med(case, t, 5), med(case, t, 6)))
res = [r for r in rows if r[0] == "resume"]
if res:
    print("\nresume after kill -9 at 50 % (64 MiB, 2 MB/s per connection)")
    for r in res:
        print("  %-7s %10d bytes fetched again" % (r[1], int(r[5])))

def goal(text, ok):
    print("  %-58s %s" % (text, "met" if ok else "NOT MET"))
print("\ngoals")
for case in ["plain", "tls"]:
    k, c, a = med(case, "kvget", 2), med(case, "curl", 2), med(case, "aria2c", 3)
    if k and c:
        goal("%s: kvget wall %.2f s <= curl's %.2f s" % (case, k, c), k <= c)
    if k and a is not None:
        goal("%s: kvget cpu %.2f s <= aria2c's %.2f s" % (case, med(case, "kvget", 3), a),
             med(case, "kvget", 3) <= a)
k = med("limited", "kvget", 2)
if k:
    rate = 64 * 1024 * 1024 / k
    goal("limited: %.1f MB/s >= 90 %% of 8 x 2 MB/s" % (rate / 1e6), rate >= 0.9 * 16e6)
if med("norange", "kvget", 2):
    goal("norange: kvget %d connection(s), %d bytes wasted" % (med("norange", "kvget", 6),
         med("norange", "kvget", 5)), med("norange", "kvget", 6) == 1 and med("norange", "kvget", 5) == 0)
for r in res:
    if r[1] == "kvget":
        # 64 MiB: pieces of 32 KiB, 8 per request, 8 connections.
        goal("resume: %d bytes again <= 8 x 256 KiB" % int(r[5]), int(r[5]) <= 8 * 256 * 1024)
if med("plain", "kvget", 4):
    goal("memory: kvget peak %.1f MiB < 40 MB (1 GiB plain)" % (med("plain", "kvget", 4) / 1024),
         med("plain", "kvget", 4) * 1024 < 40e6)
if med("single", "kvget1", 2) and med("single", "curl", 2):
    k, c = med("single", "kvget1", 2), med("single", "curl", 2)
    goal("single: kvget -n 1 %.2f s <= 1.1 x curl's %.2f s" % (k, c), k <= 1.1 * c)
if med("plain", "kvget", 3):
    print("\nkvget cpu per GiB: plain %.2f s, tls %s s" % (med("plain", "kvget", 3),
          "%.2f" % med("tls", "kvget", 3) if med("tls", "kvget", 3) else "-"))
if os.path.exists(sys.argv[2]):
    lines = open(sys.argv[2]).read().splitlines()
    total = [l for l in lines if l.strip().endswith("total")]
    print("\nsystem calls per GiB (strace -c -f, kvget -n 8, plain)")
    for l in lines[:2] + lines[2:14] + total:
        print("  " + l)
PY
