#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless.
#
#   scripts/test.sh [--arch arm64 [--label LABEL]]
#
# --arch arm64 runs the tests of the core, tavo-send and the server on the programs that
# scripts/package.sh --arch arm64 cross-builds (build-pkg-arm64/, or $BUILD_DIR), under
# qemu-user-static, but for those labelled real-timers, whose waits on real timers the
# emulator's pace would stretch past what they allow, and those labelled once, which run on
# the host's programs alone. With --label, only the tests with that label are built and run
# (CI's is ci-emulated).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [[ ${1:-} == --arch ]]; then
    arch=${2:?--arch needs an architecture}
    label=()
    if [[ ${3:-} == --label ]]; then
        label=(--label-regex "^${4:?--label needs a label}\$")
    fi
    # The package's own build: the tests try the very programs packed, and the package test
    # that follows in CI finds them built.
    out=$(mktemp -d)
    trap 'rm -rf "$out"' EXIT
    "$root/scripts/package.sh" --arch "$arch" "$out" >/dev/null
    cd "${BUILD_DIR:-$root/build-pkg-$arch}"
    selection=(--label-exclude '^(real-timers|once)$' "${label[@]}")
    # Each test is a program of its name: build those that run, and nothing else.
    mapfile -t tests < <(ctest -N "${selection[@]}" | sed -n 's/^ *Test *#[0-9]*: //p')
    if ((${#tests[@]} == 0)); then
        echo "test.sh: no test to run under emulation" >&2
        exit 1
    fi
    cmake --build . --parallel "$(nproc)" --target "${tests[@]}"
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)" --timeout 300 "${selection[@]}"
    exit
fi
"$root/scripts/bootstrap.sh"
"$root/scripts/build.sh"
cd "${BUILD_DIR:-$root/build}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)" --timeout 300
