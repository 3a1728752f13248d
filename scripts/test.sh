#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the whole suite under a virtual display,
# then the unit tests again in a build with AddressSanitizer and UndefinedBehaviorSanitizer, then
# the fuzz targets for 150 seconds in all (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
# Paths relative to the clone in ccache's keys: another clone (CI's) reuses this one's results.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
./scripts/setup.sh

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"

# The web engine refuses its sandbox when run as root (CI); the tests need no sandbox.
export QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu --no-sandbox}"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-xcb}"
xvfb-run -a -s "-screen 0 1600x1000x24" ctest --test-dir build --output-on-failure -j "$jobs"

if [ "${TAVLO_SKIP_SANITIZERS:-0}" != "1" ]; then
  cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVLO_SANITIZE=ON -DTAVLO_BUILD_BENCH=OFF >/dev/null
  cmake --build build-sanitize -j "$jobs"
  ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
    QT_QPA_PLATFORM=offscreen ctest --test-dir build-sanitize --output-on-failure -L unit -j "$jobs"
fi

if [ "${TAVLO_SKIP_FUZZ:-0}" != "1" ]; then
  ./scripts/fuzz.sh 150
fi
