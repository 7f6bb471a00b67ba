#!/usr/bin/env bash
# Sets up, builds everything with AddressSanitizer and UndefinedBehaviorSanitizer, and runs the
# whole test suite; the tests that need a GL context run under Xvfb. Then the demo loader is
# fuzzed for a fixed count.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=build-test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_SANITIZE=ON -DKV_BENCH=OFF
cmake --build "$build"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
jobs=$(nproc)
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir "$build" --output-on-failure -j "$jobs"
scripts/fuzz.sh "$build"
