#!/usr/bin/env bash
# Runs the receive-path fuzzer for a bounded time (default 60 s) from the seed corpus.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
"$root/scripts/bootstrap.sh" --with-tools
build=${BUILD_DIR:-$root/build-fuzz}
cmake -S "$root" -B "$build" -G Ninja -DTAVO_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root"/tests/fuzz/corpus/* "$work"/
"$build/tests/fuzz/fuzz_receive_path" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$build/" "$work" 2>&1 | tail -n 12
