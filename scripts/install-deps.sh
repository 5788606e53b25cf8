#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the demo need.
# Idempotent: apt is only touched when something is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git zip unzip python3 clang libclang-rt-14-dev
  libboost-dev libboost-system-dev libboost-thread-dev libboost-filesystem-dev
  libboost-date-time-dev
  libssl-dev openssl rapidjson-dev liblog4cpp5-dev zlib1g-dev libzip-dev
  libcurl4-openssl-dev libgtk-3-dev libpng-dev libjpeg-dev glib-networking gsettings-desktop-schemas
  libgtest-dev libgmock-dev googletest
  nginx squid dante-server microsocks
  at-spi2-core libatspi2.0-dev
  xvfb xauth xdotool x11-utils imagemagick dbus-daemon fonts-noto-core fonts-dejavu-core fonts-noto-cjk
  iproute2 procps psmisc curl
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
# The packaged daemons must not keep running or hold their default ports; tests start their own.
for svc in nginx squid danted; do
  $SUDO systemctl disable --now "$svc" >/dev/null 2>&1 || true
  $SUDO service "$svc" stop >/dev/null 2>&1 || true
done
