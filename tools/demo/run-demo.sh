#!/usr/bin/env bash
# Runs what the demo brand can do on one machine: a download server on 127.0.0.1:18080 (the
# address the embedded URL configuration names), the brand's resolved strings and addresses,
# the installer download through the engine with 8 connections, and the skinned window.
# Usage: tools/demo/run-demo.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: run-demo.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/kvdemo-XXXXXX)
chmod 755 "$work"  # nginx workers run as an unprivileged user
nginx_pid=""
cleanup() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

echo "== demo servers on 127.0.0.1:18080"
mkdir -p "$work/root/download" "$work/root/producturl" "$work/logs" "$work/tmp"
head -c $((96 * 1024 * 1024)) /dev/urandom >"$work/root/download/korvana-lumenstack-setup.exe"
expected=$(sha256sum "$work/root/download/korvana-lumenstack-setup.exe" | cut -d' ' -f1)
sed -e "s#@WORK@#$work#g" "$here/nginx.conf.in" >"$work/nginx.conf"
nginx -p "$work" -c "$work/nginx.conf" -g "daemon off;" &
nginx_pid=$!
for _ in $(seq 50); do
  (exec 3<>/dev/tcp/127.0.0.1/18080) 2>/dev/null && break
  sleep 0.1
done

echo "== the embedded brand (kvbrand show)"
"$build/tools/kvbrand/kvbrand" show | tee "$work/brand.txt"
url=$(grep -Eo 'http://127\.0\.0\.1:18080/download/[^ ]+' "$work/brand.txt" | head -n 1)

echo
echo "== downloading $url with 8 connections (kvget)"
"$build/tools/kvget/kvget" -n 8 "$url" "$work/korvana-download.exe"
got=$(sha256sum "$work/korvana-download.exe" | cut -d' ' -f1)
if [ "$got" = "$expected" ]; then
  echo "SHA-256 matches: $got"
else
  echo "SHA-256 MISMATCH: $got != $expected" >&2
  exit 1
fi

echo
if [ -n "${DISPLAY:-}" ]; then
  echo "== the installer window (kvskin; close it to end the demo)"
  "$build/tools/kvskin/kvskin" || true
else
  "$build/tools/kvskin/kvskin" --png "$build/demo-window.png"
  echo "== no display: the window was rendered to $build/demo-window.png"
fi
