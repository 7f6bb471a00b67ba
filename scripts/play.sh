#!/usr/bin/env bash
# Sets up, builds the game with its default data and starts it. Extra arguments go to the game.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_TESTS=OFF -DKV_BENCH=OFF
cmake --build build --target kelvane
exec build/game/kelvane "$@"
