#!/usr/bin/env bash
# Runs the fuzzers (the receive path, the PJLink line reader) for a bounded time in all
# (default 60 s), each from its seed corpus.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
"$root/scripts/bootstrap.sh" --with-tools
build=${BUILD_DIR:-$root/build-fuzz}
cmake -S "$root" -B "$build" -G Ninja -DTAVO_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build"
# Each target runs from its own seed corpus for its share of the time.
share=$((seconds / 2))
for target in fuzz_receive_path:corpus fuzz_pjlink_lines:pjlink-corpus; do
    name=${target%%:*}
    work=$(mktemp -d)
    cp "$root"/tests/fuzz/"${target#*:}"/* "$work"/
    echo "== $name, ${share} s"
    "$build/tests/fuzz/$name" -max_total_time="$share" -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="$build/$name-" "$work" 2>&1 | tail -n 12
    rm -rf "$work"
done
