#!/usr/bin/env bash
# Runs the built downloader against the demo servers (tools/demo/servers.sh) on loopback, with
# a private home under BUILD_DIR/home, so nothing touches the user's own folders.
#   run-demo.sh BUILD_DIR [--auto]
# With a display and without --auto: the real window, for the user to click through.
# Otherwise: under Xvfb, driven by X input events through the whole flow, a screenshot of each
# step in BUILD_DIR/screens; exit 0 only when the product was installed and started.
# As root, the program runs as the unprivileged user "nobody" (its home made over to it), so
# that neither it nor the installer it runs writes outside BUILD_DIR.
set -euo pipefail

build=$(cd "${1:?usage: run-demo.sh BUILD_DIR [--auto]}" && pwd)
auto=0
[ "${2:-}" = "--auto" ] && auto=1
[ -n "${DISPLAY:-}" ] || auto=1
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tools/demo/servers.sh
source "$here/servers.sh"

exe="$build/app/kvdownloader"
home="$build/home"
servers="$build/servers"
screens="$build/screens"
output="$build/kvdownloader.out"
started=$(date +%s)

xvfb_pid="" program_pid="" product_pid="" remove_at_exit="" remove_dir_at_exit=""
cleanup() {
  [ -n "$remove_at_exit" ] && rm -f "$remove_at_exit"
  [ -n "$remove_dir_at_exit" ] && rmdir "$remove_dir_at_exit" 2>/dev/null
  [ -n "$product_pid" ] && kill "$product_pid" 2>/dev/null
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null
  demo_stop_servers
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  return 0
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
  echo "demo: FAILED: $*" >&2
  exit 1
}

# A fresh run: the product not installed yet, nothing left to resume.
rm -rf "$home" "$servers" "${build:?}/pki" "$screens" "${build:?}/bin" "$output"
mkdir -p "$home/.config" "$home/.cache" "$home/.local/share" "$home/.local/state" \
  "$home/run" "$servers" "$screens" "$build/bin"
chmod 700 "$home/run"

# Who runs the program: the current user, or "nobody" in place of root.
as_user=()
user_env=()
runs_as=self
if [ "$(id -u)" -eq 0 ]; then
  nobody_uid=$(id -u nobody)
  nobody_gid=$(id -g nobody)
  as_nobody=(setpriv --reuid="$nobody_uid" --regid="$nobody_gid" --clear-groups)
  if "${as_nobody[@]}" test -x "$exe"; then
    as_user=("${as_nobody[@]}")
    runs_as=nobody
    echo "demo: running as root: the program runs as the user nobody"
  else
    # The build folder is out of its reach: root runs it, its files still under BUILD_DIR.
    user_env=("KV_PROGRAM_FILES=$home/.local/share")
    runs_as=root
    NGINX_USER="user root;" # nginx's workers would not reach the installer either
    echo "demo: running as root, and nobody cannot reach $build: the program runs as root"
  fi
fi

demo_make_pki "$build/pki"
demo_start_servers "$build" "$servers" 8 || fail "the demo servers did not start"

# Auto: what the program opens in a browser is recorded and fetched as a browser would.
if [ "$auto" -eq 1 ]; then
  cat >"$build/bin/xdg-open" <<'EOF'
#!/bin/sh
echo "$1" >>"$HOME/opened.txt"
curl -sS -o "$HOME/opened-page.html" -w 'HTTP %{http_code}\n' "$1" >>"$HOME/opened.txt" 2>&1
EOF
  chmod 755 "$build/bin/xdg-open"
fi

display=${DISPLAY:-}
if [ "$auto" -eq 1 ]; then
  for tool in Xvfb xdotool xprop import; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh)"
  done
  Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$servers/xvfb.display" \
    >"$servers/logs/xvfb.out" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$servers/xvfb.display" ] && break
    sleep 0.1
  done
  [ -s "$servers/xvfb.display" ] || fail "Xvfb did not start: $(cat "$servers/logs/xvfb.out")"
  display=":$(cat "$servers/xvfb.display")"
fi

xauthority=${XAUTHORITY:-${HOME:-/nonexistent}/.Xauthority}
if [ "$auto" -eq 0 ] && [ -f "$xauthority" ]; then
  cp "$xauthority" "$home/.Xauthority"  # the program's home is private
  user_env+=("XAUTHORITY=$home/.Xauthority")
fi
[ "$runs_as" != nobody ] || chown -R "$nobody_uid:$nobody_gid" "$home"

path="/usr/local/bin:/usr/bin:/bin"
[ "$auto" -eq 1 ] && path="$build/bin:$path"
lang=${LANG:-C.UTF-8}
[ "$auto" -eq 1 ] && lang=C.UTF-8
program_env=(
  "PATH=$path" "LANG=$lang" "DISPLAY=$display" "GDK_BACKEND=x11"
  "HOME=$home" "XDG_CONFIG_HOME=$home/.config" "XDG_CACHE_HOME=$home/.cache"
  "XDG_DATA_HOME=$home/.local/share" "XDG_STATE_HOME=$home/.local/state"
  "XDG_RUNTIME_DIR=$home/run" "DBUS_SESSION_BUS_ADDRESS=disabled:"
  "SSL_CERT_FILE=$build/pki/ca.pem" "KV_REGISTRY_DIR=$home/.local/state/registry"
)
[ "$auto" -eq 1 ] && program_env+=("NO_AT_BRIDGE=1")
if [ "$auto" -eq 0 ]; then
  # The user's language settings, for the window in their language.
  for name in LC_ALL LC_MESSAGES LANGUAGE; do
    [ -z "${!name:-}" ] || program_env+=("$name=${!name}")
  done
fi
program_env+=("${user_env[@]}")

work_folder="$home/.local/share/korvana_down/kvdownloader"
log="$work_folder/Log/korvana_down.log"
product="$home/.local/share/Korvana/Korvana Lumenstack/lumenstack"
desktop_entry="$home/.local/share/applications/korvana-lumenstack.desktop"
if [ "$runs_as" = root ]; then
  # As root the installer adds its desktop entry for everybody; the demo takes it away again.
  desktop_entry="/usr/local/share/applications/korvana-lumenstack.desktop"
  [ -e "$desktop_entry" ] || remove_at_exit="$desktop_entry"
  [ -d "${desktop_entry%/*}" ] || remove_dir_at_exit="${desktop_entry%/*}"
fi

print_results() {
  echo
  echo "== the program's log ($log)"
  cat "$log" 2>/dev/null || echo "(none)"
  echo
  echo "== analytics events received by the collector"
  cat "$servers/events.txt" 2>/dev/null || echo "(none)"
  echo
  echo "== installer requests (nginx: request, status, bytes, range, connection/request)"
  grep -E '/download/' "$servers/logs/access.log" 2>/dev/null | head -40 || true
  if [ -f "$home/opened.txt" ]; then
    echo
    echo "== pages the program opened in the browser"
    cat "$home/opened.txt"
  fi
}

if [ "$auto" -eq 0 ]; then
  echo "demo: the window is on $display; close it to end the demo"
  env -i "${program_env[@]}" "${as_user[@]}" "$exe" 2>&1 | tee "$output" || true
  print_results
  if [ -x "$product" ]; then
    echo "demo: the product is installed at $product"
  else
    echo "demo: the product was not installed"
  fi
  exit 0
fi

# ---- automatic run under Xvfb --------------------------------------------------------------
x() { DISPLAY="$display" "$@"; }

# until COMMAND succeeds, SECONDS at most
wait_for() {
  local seconds=$1
  shift
  local end=$(($(date +%s) + seconds))
  until "$@"; do
    [ "$(date +%s)" -lt "$end" ] || return 1
    sleep 0.1
  done
}
log_has() { grep -qF -- "$1" "$log" 2>/dev/null; }
main_window() {
  local id
  for id in $(x xdotool search --onlyvisible --name . 2>/dev/null); do
    if x xprop -id "$id" WM_WINDOW_ROLE 2>/dev/null | grep -q '"KVMainFrame"'; then
      echo "$id"
      return 0
    fi
  done
  return 1
}
window_height() { x xdotool getwindowgeometry --shell "$1" | sed -n 's/^HEIGHT=//p'; }
height_is() { [ "$(window_height "$window")" = "$1" ]; }
click() { x xdotool mousemove --window "$window" "$1" "$2" click 1; }
shot() {
  x import -window "$1" "$screens/$2.png" || fail "screenshot $2"
  echo "demo: screenshot $screens/$2.png"
}
product_window() {
  local ids
  ids=$(x xdotool search --onlyvisible --name '^Korvana Lumenstack$' 2>/dev/null) || return 1
  echo "${ids%%$'\n'*}"
}

# Points of the 650 x 360 window.
install_x=325 install_y=207 # "Install", then "Start" in the same place
fold_x=535 fold_y=336       # "Customize Installation"

env -i "${program_env[@]}" "${as_user[@]}" "$exe" >"$output" 2>&1 &
program_pid=$!
window=""
wait_for 20 main_window >/dev/null || fail "no window: $(cat "$output")"
window=$(main_window)
wait_for 10 log_has "UpdateWindowSate:kWindow_Init" || fail "the home page did not come"
sleep 0.5 # the first frame
shot "$window" 1-home

click "$fold_x" "$fold_y"
wait_for 5 height_is 435 || fail "the custom panel did not unfold"
sleep 0.3
shot "$window" 2-unfolded
click "$fold_x" "$fold_y"
wait_for 5 height_is 360 || fail "the custom panel did not fold"

click "$install_x" "$install_y"
wait_for 20 log_has "UpdateWindowSate:kWindow_Downloading" || fail "the download did not start"
wait_for 20 log_has "get image finished." || fail "the banners did not come"
sleep 1.5 # the carousel looks for them every second
log_has "UpdateWindowSate:kWindow_Installing" && echo "demo: the download ended before the banner"
shot "$window" 3-downloading

wait_for 60 log_has "UpdateWindowSate:kWindow_Installing" || fail "the download did not end"
sleep 0.7
shot "$window" 4-installing
wait_for 30 log_has "UpdateWindowSate:kWindow_Finish" || fail "the installation did not end"
sleep 0.5
shot "$window" 5-finish

click "$install_x" "$install_y" # Start
wait_for 20 bash -c "! kill -0 $program_pid 2>/dev/null" || fail "the program did not end after Start"
status=0
wait "$program_pid" || status=$?
program_pid=""
[ "$status" -eq 0 ] || fail "the program ended with $status"
wait_for 20 product_window >/dev/null || fail "the product's window did not show"
product_win=$(product_window)
product_pid=$(x xdotool getwindowpid "$product_win")
sleep 0.5
shot "$product_win" 6-product
# Analytics go out on their own thread; the last may still be on its way.
wait_for 10 grep -q "EVENT Installed_Succeed" "$servers/events.txt" || true

print_results

echo
echo "== checks"
ok=1
check() {
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; ok=0; fi
}
check "the product is installed at $product" test -x "$product"
check "the installed product answers --version" \
  bash -c "[ \"\$(${as_user[*]} '$product' --version)\" = 'Korvana Lumenstack 2.1.0' ]"
check "its desktop entry names it" grep -qF "Exec=\"$product\"" "$desktop_entry"
check "the running product is the installed file (pid $product_pid)" \
  bash -c "[ \"\$(readlink /proc/$product_pid/exe)\" = '$product' ]"
check "the installer is gone from the work folder" \
  bash -c "[ ! -e '$work_folder/korvana-download.exe' ]"
check "the collector accepted the analytics events" grep -q "^EVENT Installed_Succeed" \
  "$servers/events.txt"
check "the collector rejected nothing" bash -c "! grep -q '^REJECTED' '$servers/events.txt'"
check "the installer came in ranges" grep -q 'range="bytes=' "$servers/logs/access.log"
check "over kept-alive connections" grep -q 'conn=[0-9]*/[2-9]' "$servers/logs/access.log"
check "the banners came from the carousel service" \
  grep -q '^GET /downloader/banners/1.png' "$servers/logs/carousel.log"
echo "demo: screenshots in $screens; $(($(date +%s) - started)) s"
[ "$ok" -eq 1 ] || exit 1
echo "demo: the product was installed and started"
