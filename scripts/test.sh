#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless.
#
#   scripts/test.sh [--arch arm64]
#
# --arch arm64 runs the tests of the core, tavo-send and the server on the programs that
# scripts/package.sh --arch arm64 cross-builds (build-pkg-arm64/, or $BUILD_DIR), under
# qemu-user-static, but for those labelled real-timers, whose waits on real timers the
# emulator's pace would stretch past what they allow.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [[ ${1:-} == --arch ]]; then
    arch=${2:?--arch needs an architecture}
    # The package's own build: the tests try the very programs packed, and the package test
    # that follows in CI finds them built.
    out=$(mktemp -d)
    trap 'rm -rf "$out"' EXIT
    "$root/scripts/package.sh" --arch "$arch" "$out" >/dev/null
    cd "${BUILD_DIR:-$root/build-pkg-$arch}"
    cmake --build . --parallel "$(nproc)"
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)" --timeout 300 --label-exclude real-timers
    exit
fi
"$root/scripts/bootstrap.sh"
"$root/scripts/build.sh"
cd "${BUILD_DIR:-$root/build}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)" --timeout 300
