#!/usr/bin/env bash
# Builds the program and runs its main job on the embedded demo brand.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/demo -j"${JOBS:-2}"
if [ -x tools/demo/run-demo.sh ]; then
  exec bash tools/demo/run-demo.sh build/demo
fi
echo "demo: built; the window and the install flow are not part of this build yet"
