#!/usr/bin/env bash
# Builds the demo fuzz target with clang's libFuzzer and runs it for a fixed count, seeded with a
# short demo recorded by the game of the given build folder. Usage: scripts/fuzz.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-test}
out="$build/fuzz"
mkdir -p "$out/demo_corpus"
sources=(src/demo/demo.cpp src/demo/demo_file.cpp src/demo/state_history.cpp src/demo/state_record.cpp
         src/resources/stream.cpp src/resources/data.cpp src/core/memory.cpp src/core/console.cpp
         src/core/options.cpp src/core/digest.cpp src/core/session.cpp src/platform/log.cpp
         src/platform/clock.cpp)
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc -DdDOUBLE \
  fuzz/demo_fuzz.cpp "${sources[@]}" -lz -lpng -lnettle -o "$out/demo_fuzz"
# The seed: two robots through the gate drop, recorded as a menu race records.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
XDG_DATA_HOME="$home" "$build/game/kelvane" --headless --track ridgeback --robots 2 --laps 1 \
  --record-demo --quit-after-ticks 2100 > /dev/null
cp "$home/Kelvane/demos/default.kvdemo" "$out/demo_corpus/seed.kvdemo"
"$out/demo_fuzz" -runs=20000 -seed=1 -max_len=65536 "$out/demo_corpus" 2>&1 | tail -n 20
