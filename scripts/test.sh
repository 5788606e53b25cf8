#!/usr/bin/env bash
# Builds and runs every test: a warnings-as-errors build, the same tests under AddressSanitizer
# and UndefinedBehaviorSanitizer, the engine's tests under ThreadSanitizer, and each fuzz target
# for a short while. Installs what it needs first. Usage: scripts/test.sh [--quick]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

JOBS=${JOBS:-2}
QUICK=0
[ "${1:-}" = "--quick" ] && QUICK=1
PASSED=0
FAILED=0

configure_and_build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DKV_WERROR=ON "$@" >"$dir.configure.log" 2>&1 || {
    cat "$dir.configure.log"
    return 1
  }
  cmake --build "$dir" -j"$JOBS"
}

run_ctest() {
  local dir=$1
  shift
  local log="$dir.ctest.log"
  local rc=0
  ctest --test-dir "$dir" --output-on-failure -j"$JOBS" "$@" 2>&1 | tee "$log" || rc=$?
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -n "$line" ]; then
    local failed total
    failed=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
    PASSED=$((PASSED + total - failed))
    FAILED=$((FAILED + failed))
  elif [ $rc -ne 0 ]; then
    FAILED=$((FAILED + 1))
  fi
  return 0
}

mkdir -p build
echo "== build (warnings as errors) and tests"
configure_and_build build/ci -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_ctest build/ci

if [ $QUICK -eq 0 ]; then
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
  configure_and_build build/asan -DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE="address;undefined"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest build/asan

  if [ -d kvhttp ]; then
    echo "== ThreadSanitizer (engine, controller threads)"
    configure_and_build build/tsan -DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE=thread \
      -DKV_COMPONENTS="platform;log;sys;config;http;analytics;integrity;kvhttp;ui;app;tools"
    TSAN_OPTIONS=halt_on_error=1 run_ctest build/tsan -L "engine|threads"
  fi

  if [ -f fuzz/CMakeLists.txt ]; then
    echo "== fuzz targets, 20 s each"
    CC=clang CXX=clang++ configure_and_build build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DKV_FUZZ=ON -DKV_TESTS=OFF -DKV_COMPONENTS="platform;log;sys;http;analytics;kvhttp;ui"
    for target in build/fuzz/fuzz/fuzz_*; do
      [ -x "$target" ] || continue
      name=$(basename "$target")
      corpus=$(mktemp -d)
      cp -r "fuzz/corpus/${name#fuzz_}/." "$corpus/" 2>/dev/null || true
      if "$target" -max_total_time=20 -timeout=5 -rss_limit_mb=2048 "$corpus" >"build/fuzz/$name.log" 2>&1; then
        echo "fuzz $name: ok"
        PASSED=$((PASSED + 1))
      else
        echo "fuzz $name: FAILED"
        tail -n 40 "build/fuzz/$name.log"
        FAILED=$((FAILED + 1))
      fi
      rm -rf "$corpus"
    done
  fi
fi

echo
echo "all: $PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
