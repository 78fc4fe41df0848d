#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR) as the Debian package is built
# (scripts/package-config.sh): the tests run on the very programs scripts/package.sh packs
# from the same folder. With BUILD_TYPE set (the sanitizer pass's Debug, the benchmarks'
# RelWithDebInfo), CMake's own flags for that type instead. Extra arguments go to cmake's
# configure step.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
if [[ -n ${BUILD_TYPE:-} ]]; then
    config=(-DCMAKE_BUILD_TYPE="$BUILD_TYPE")
else
    source "$root/scripts/package-config.sh"
    package_configuration "$root"
    config=("${package_config[@]}")
fi
cmake -S "$root" -B "$build" -G Ninja "${config[@]}" "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
