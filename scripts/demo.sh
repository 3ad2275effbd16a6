#!/usr/bin/env bash
# Builds the native library and the aurivane program, then runs the main job
# on built-in examples. Needs no sound card.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

bash scripts/install-deps.sh --build
cmake -S . -B out/release -DCMAKE_BUILD_TYPE=Release -DAURIVANE_TESTS=OFF -DAURIVANE_BENCH=OFF > /dev/null
cmake --build out/release --target aurivane_cli aurivane -j"$(nproc)"
AV="$ROOT/out/release/tools/aurivane"
WORK="$ROOT/out/demo"
mkdir -p "$WORK"

echo "== aurivane classes"
"$AV" classes
echo
echo "== aurivane splitter-demo"
"$AV" splitter-demo
