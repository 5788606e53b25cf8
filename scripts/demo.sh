#!/usr/bin/env bash
# Builds the downloader and the demo installer, starts the demo servers on loopback and runs the
# downloader against them with a private home under build/demo (see README.md).
#   bash scripts/demo.sh           the real window when there is a display, else as --auto
#   bash scripts/demo.sh --auto    under Xvfb, driven through the whole flow, screenshots in
#                                  build/demo/screens; exit 0 only when the product was
#                                  installed and started
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
  "" | --auto) ;;
  *)
    echo "usage: bash scripts/demo.sh [--auto]" >&2
    exit 2
    ;;
esac
bash scripts/install-deps.sh
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_TESTS=OFF >/dev/null
cmake --build build/demo -j"${JOBS:-2}" --target kvdownloader demo-installer-signed
exec bash tools/demo/run-demo.sh build/demo "$@"
