#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the whole suite under a virtual display,
# the Debian package's checks, then the unit tests again in a build with AddressSanitizer and
# UndefinedBehaviorSanitizer, then the fuzz targets for 150 seconds in all (scripts/fuzz.sh).
# Prints how long each step took.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/steps.sh
step "Installing what is missing" ./scripts/setup.sh test

jobs=$(nproc)
# Every build here fails on a compiler warning (the fuzz build too: scripts/fuzz.sh reads this).
export TAVLO_WARNINGS_AS_ERRORS=ON
step "Configuring" cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVLO_WARNINGS_AS_ERRORS=ON >/dev/null
step "Building everything" cmake --build build -j "$jobs"

# The web engine refuses its sandbox when run as root (CI); the tests need no sandbox.
export QTWEBENGINE_DISABLE_SANDBOX=1
# The suites share one virtual display, where their windows cover each other: the engine would
# take a covered page for hidden and stop its animation frames, and a scroll would never end.
export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu --no-sandbox --disable-backgrounding-occluded-windows --disable-renderer-backgrounding --disable-background-timer-throttling}"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-xcb}"
step "Running the test suites" \
  xvfb-run -a -s "-screen 0 1600x1000x24" ctest --test-dir build --output-on-failure -j "$jobs"

step "Packaging" cmake --build build --target package >/dev/null
step "Checking the package" tests/Desktop/check-package.sh build

if [ "${TAVLO_SKIP_SANITIZERS:-0}" != "1" ]; then
  # Only what the unit suites run: the suites, and the programs that Desktop/install installs.
  step "Configuring the sanitizer build" \
    cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVLO_SANITIZE=ON -DTAVLO_BUILD_BENCH=OFF \
    -DTAVLO_WARNINGS_AS_ERRORS=ON >/dev/null
  step "Building the sanitizer build" cmake --build build-sanitize -j "$jobs" --target unit-suites tavlo
  ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 QT_QPA_PLATFORM=offscreen \
    step "Running the unit suites with sanitizers" ctest --test-dir build-sanitize --output-on-failure -L unit -j "$jobs"
fi

if [ "${TAVLO_SKIP_FUZZ:-0}" != "1" ]; then
  step "Fuzzing" ./scripts/fuzz.sh 150
fi
