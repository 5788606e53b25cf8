#!/usr/bin/env bash
# Figures of kvdownloader as a user meets it, under a private Xvfb with servers on loopback:
#   - time from exec to the first painted frame (median of RUNS; also when the window is mapped),
#   - the executable's size and what makes it up (sections, embedded resources, code by
#     component, linked shared libraries),
#   - peak memory and wall time of a whole install (Install, download, installer, Start),
#   - CPU used while the window sits on the banner page between ticks (10 s, slow download).
# Run by hand on a quiet machine, not in CI:  bench/startup.sh [RUNS]
# BUILD=build folder (default build/bench-app, configured like the demo's and built when the
# program is missing). Needs Xvfb, xdotool, xprop, ImageMagick, nginx and /usr/bin/time.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
RUNS=${1:-10}
BUILD=${BUILD:-build/bench-app}
EXE=$ROOT/$BUILD/app/kvdownloader
INSTALLER=$ROOT/$BUILD/tools/demo-installer/demo-installer

for tool in Xvfb xdotool xprop import convert nginx; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh)" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "missing /usr/bin/time (apt-get install time)" >&2; exit 1; }
if [ ! -x "$EXE" ] || [ ! -f "$INSTALLER.sig" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_TESTS=OFF >/dev/null
  cmake --build "$BUILD" -j"${JOBS:-2}" --target kvdownloader demo-installer-signed
fi

WORK=$(mktemp -d /tmp/kvstartup.XXXXXX)
chmod 755 "$WORK"
xvfb_pid="" nginx_pid="" app_pid="" product_pid=""
cleanup() {
  for pid in "$product_pid" "$app_pid" "$nginx_pid" "$xvfb_pid"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

now_ms() { echo $(($(date +%s%N) / 1000000)); }
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

# --- a private display -------------------------------------------------------------------------
for n in $(seq 140 399); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
  [ -e "/tmp/.X11-unix/X$n" ] && { export DISPLAY=":$n"; break; }
  kill "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
done
[ -n "$xvfb_pid" ] || { echo "no Xvfb display" >&2; exit 1; }

# --- the download server: the signed demo installer, at full speed and trickling ----------------
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$WORK/www/download" "$WORK/www/slow" "$WORK/nginx/logs"
cp "$INSTALLER" "$INSTALLER.sig" "$WORK/www/download/"
cp "$INSTALLER" "$INSTALLER.sig" "$WORK/www/slow/"
cat >"$WORK/nginx/nginx.conf" <<EOF
daemon off;
worker_processes 1;
error_log $WORK/nginx/logs/error.log;
pid $WORK/nginx/nginx.pid;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $WORK/nginx; proxy_temp_path $WORK/nginx;
  fastcgi_temp_path $WORK/nginx; uwsgi_temp_path $WORK/nginx; scgi_temp_path $WORK/nginx;
  server {
    listen 127.0.0.1:$port;
    root $WORK/www;
    location /slow/ { limit_rate 2k; }
  }
}
EOF
nginx -p "$WORK/nginx" -c "$WORK/nginx/nginx.conf" &
nginx_pid=$!
for _ in $(seq 100); do (echo >/dev/tcp/127.0.0.1/"$port") 2>/dev/null && break; sleep 0.05; done

# --- how the program runs: a fresh private home each time; as root, as "nobody" ---------------
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  as_user=(setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups)
fi
mkdir -p "$WORK/bin"
printf '#!/bin/sh\nexit 0\n' >"$WORK/bin/xdg-open" # no browser for the after-installation page
chmod 755 "$WORK/bin/xdg-open"

# url.ini: UTF-16LE with a byte-order mark, CR LF.
write_url_ini() { # file download-url
  { printf '\xff\xfe'
    printf '[CommonUrl]\r\nSTR_DOWN_URL=%s\r\nSTR_DOWN_URL_X64=%s\r\nSTR_INSTALL_URL=%s\r\n' \
      "$2" "$2" "http://127.0.0.1:9/producturl?key=installed" | iconv -f UTF-8 -t UTF-16LE
  } >"$1"
}

sandbox="" log=""
new_sandbox() { # download-url
  sandbox=$(mktemp -d "$WORK/run.XXXXXX")
  mkdir -p "$sandbox/home" "$sandbox/pf" "$sandbox/run"
  chmod 700 "$sandbox/run"
  write_url_ini "$sandbox/url.ini" "$1"
  [ ${#as_user[@]} -eq 0 ] || chown -R nobody: "$sandbox"
  log=$sandbox/pf/korvana_down/kvdownloader/Log/korvana_down.log
}
# Always run in the background (&): exec keeps the job's pid the program's.
program_env() {
  exec env -i PATH="$WORK/bin:/usr/bin:/bin" DISPLAY="$DISPLAY" GDK_BACKEND=x11 NO_AT_BRIDGE=1 \
    DBUS_SESSION_BUS_ADDRESS=disabled: HOME="$sandbox/home" XDG_RUNTIME_DIR="$sandbox/run" \
    LANG=C.UTF-8 KV_PROGRAM_FILES="$sandbox/pf" KV_TEST_URL_INI="$sandbox/url.ini" \
    KV_TEST_ANALYTICS_URL=http://127.0.0.1:9/mp/collect "$@"
}
# The main window of the program running as $program_pid (not one of a run that is ending).
program_pid=""
main_window() {
  local id
  for id in $(xdotool search --onlyvisible --classname kvdownloader 2>/dev/null); do
    [ "$(xdotool getwindowpid "$id" 2>/dev/null)" = "$program_pid" ] || continue
    xprop -id "$id" WM_WINDOW_ROLE 2>/dev/null | grep -q '"KVMainFrame"' && { echo "$id"; return; }
  done
}
# The window is drawn: a pixel of its background (black before the first frame) has colour.
painted() { # window
  local px
  px=$(import -window "$1" -crop 1x1+325+270 +repage txt:- 2>/dev/null | grep '^0,0:') || return 1
  [[ $px != *'#000000'* ]]
}
wait_log() { # text seconds
  local until=$(($(date +%s) + $2))
  while [ "$(date +%s)" -lt "$until" ]; do
    grep -q "$1" "$log" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}
stop_program() {
  [ -n "$app_pid" ] && kill -KILL "$app_pid" 2>/dev/null || true
  [ -n "$app_pid" ] && wait "$app_pid" 2>/dev/null || true
  app_pid=""
}

echo "== kvdownloader figures ($(date -u +%F), $(nproc) cores, $BUILD)"

# --- 1. exec to first painted frame ------------------------------------------------------------
mapped_ms=() painted_ms=()
for i in $(seq "$RUNS"); do
  new_sandbox "http://127.0.0.1:$port/download/demo-installer"
  t0=$(now_ms)
  program_env "${as_user[@]}" "$EXE" >/dev/null 2>&1 &
  app_pid=$!
  program_pid=$app_pid
  win="" t_map=""
  while [ $(($(now_ms) - t0)) -lt 20000 ]; do
    [ -z "$win" ] && win=$(main_window) && [ -n "$win" ] && t_map=$(now_ms)
    [ -n "$win" ] && painted "$win" && break
    sleep 0.01
  done
  t_paint=$(now_ms)
  stop_program
  [ -n "$t_map" ] || { echo "run $i: no window" >&2; exit 1; }
  mapped_ms+=($((t_map - t0)))
  painted_ms+=($((t_paint - t0)))
done
# What one poll costs (the resolution of the figures above).
t0=$(now_ms)
import -window root -crop 1x1+325+270 +repage txt:- >/dev/null 2>&1
poll_ms=$(($(now_ms) - t0))
echo "start-up, exec to mapped main window:  median $(printf '%s\n' "${mapped_ms[@]}" | median) ms  (runs: ${mapped_ms[*]})"
echo "start-up, exec to first painted frame: median $(printf '%s\n' "${painted_ms[@]}" | median) ms  (runs: ${painted_ms[*]}; one picture poll costs ~${poll_ms} ms)"

# --- 2. the executable's size ------------------------------------------------------------------
echo
echo "executable: $(stat -c %s "$EXE") bytes as built"
strip -o "$WORK/stripped" "$EXE"
echo "stripped:   $(stat -c %s "$WORK/stripped") bytes"
size -A "$WORK/stripped" | awk '$1 ~ /^\./ && $2 > 16384 { printf "  section %-22s %9d bytes\n", $1, $2 }'
python3 - "$EXE" <<'EOF'
import re, subprocess, sys
from collections import defaultdict
exe = sys.argv[1]
bounds = defaultdict(dict)
groups = defaultdict(int)
rules = [("boost", r"boost::"), ("ui toolkit (SkinUI)", r"SkinUI::"),
         ("engine (kvhttp)", r"kvhttp::"), ("platform, sys, log", r"platform::|kvsys|sys::|Log"),
         ("http, analytics, integrity, config",
          r"integrity::|analytics::|http::|Http|Web|Language|Config|Ini"),
         ("app", r"Setup|Banner|Install|Flow|Worker|Taskbar|TestHooks|main"),
         ("C++ library templates (std::)", r"std::")]
out = subprocess.run(["nm", "-C", "-S", "--size-sort", exe], capture_output=True, text=True).stdout
for line in out.splitlines():
    f = line.split(None, 3)
    if len(f) == 4 and f[2] in "tTwW":
        name = f[3]
        g = next((g for g, r in rules if re.search(r, name)), "other")
        groups[g] += int(f[1], 16)
for line in subprocess.run(["nm", exe], capture_output=True, text=True).stdout.splitlines():
    m = re.match(r"([0-9a-f]+) \w (kvres_\w+)_(begin|end)$", line)
    if m:
        bounds[m.group(2)][m.group(3)] = int(m.group(1), 16)
print("embedded resources (in .rodata):")
total = 0
for name, b in sorted(bounds.items()):
    total += b["end"] - b["begin"]
    print("  %-40s %9d bytes" % (name, b["end"] - b["begin"]))
print("  %-40s %9d bytes" % ("total", total))
print("code (.text symbols) by component:")
for g, n in sorted(groups.items(), key=lambda kv: -kv[1]):
    print("  %-40s %9d bytes" % (g, n))
print("  %-40s %9d bytes" % ("total", sum(groups.values())))
EOF
libs=$(ldd "$EXE" | awk '/=> \// { print $3 }')
libbytes=0
for l in $libs; do libbytes=$((libbytes + $(stat -L -c %s "$l"))); done
echo "linked shared libraries: $(echo "$libs" | wc -l), $libbytes bytes on disk together"
for l in $libs; do printf '  %9d %s\n' "$(stat -L -c %s "$l")" "$(basename "$l")"; done |
  sort -rn | head -8 | sed 's/^/  /'

# --- 3. a whole install: peak memory and wall time ---------------------------------------------
echo
new_sandbox "http://127.0.0.1:$port/download/demo-installer"
t0=$(now_ms)
program_env /usr/bin/time -v -o "$WORK/time.txt" "${as_user[@]}" "$EXE" >/dev/null 2>&1 &
app_pid=$!
win=""
for _ in $(seq 400); do
  program_pid=$(pgrep -P "$app_pid" || true) # /usr/bin/time's child
  [ -n "$program_pid" ] && win=$(main_window) && [ -n "$win" ] && break
  sleep 0.05
done
[ -n "$win" ] || { echo "whole install: no window" >&2; exit 1; }
for _ in $(seq 200); do painted "$win" && break; sleep 0.05; done
t_click=$(now_ms)
xdotool mousemove --window "$win" 325 207 click 1
wait_log "UpdateWindowSate:kWindow_Finish" 60 || { echo "whole install: no finish page" >&2; exit 1; }
t_finish=$(now_ms)
sleep 0.3
xdotool mousemove --window "$win" 325 207 click 1 # Start
wait "$app_pid" || true
app_pid=""
t_end=$(now_ms)
product=$(xdotool search --sync --onlyvisible --name '^Korvana Lumenstack$' 2>/dev/null | head -1 || true)
[ -n "$product" ] && product_pid=$(xdotool getwindowpid "$product" 2>/dev/null || true)
[ -n "$product_pid" ] && kill "$product_pid" 2>/dev/null || true
echo "whole install: exec to exit after Start $((t_end - t0)) ms; Install click to finish page $((t_finish - t_click)) ms; product started: $([ -n "$product" ] && echo yes || echo no)"
echo "peak memory (largest of the program and the processes it waited for): $(awk -F': ' '/Maximum resident/ { print $2 }' "$WORK/time.txt") KiB"
echo "CPU time of the whole install: user $(awk -F': ' '/User time/ { print $2 }' "$WORK/time.txt") s, system $(awk -F': ' '/System time/ { print $2 }' "$WORK/time.txt") s"

# --- 4. CPU on the banner page between ticks ---------------------------------------------------
new_sandbox "http://127.0.0.1:$port/slow/demo-installer"
program_env "${as_user[@]}" "$EXE" >/dev/null 2>&1 &
app_pid=$!
program_pid=$app_pid
win=""
for _ in $(seq 400); do win=$(main_window); [ -n "$win" ] && break; sleep 0.05; done
[ -n "$win" ] || { echo "banner page: no window" >&2; exit 1; }
for _ in $(seq 200); do painted "$win" && break; sleep 0.05; done
xdotool mousemove --window "$win" 325 207 click 1
wait_log "UpdateWindowSate:kWindow_Downloading" 20
sleep 2
ticks() { awk '{ print $14 + $15 }' "/proc/$app_pid/stat"; }
switches() { awk '/ctxt_switches/ { s += $2 } END { print s }' "/proc/$app_pid/status"; }
c0=$(ticks) s0=$(switches) t0=$(now_ms)
sleep 10
c1=$(ticks) s1=$(switches) t1=$(now_ms)
stop_program
hz=$(getconf CLK_TCK)
awk -v c=$((c1 - c0)) -v hz="$hz" -v ms=$((t1 - t0)) -v sw=$((s1 - s0)) 'BEGIN {
  printf "banner page, downloading at 2 KB/s per connection: %.2f %% of one core over %.1f s (%d ticks of 1/%d s), %.0f context switches/s\n",
    100 * c / hz / (ms / 1000), ms / 1000, c, hz, sw / (ms / 1000) }'
