#!/usr/bin/env bash
# Builds the Debian package tavo-control_<version>_<arch>.deb and prints its path.
#
#   scripts/package.sh [--arch arm64] [OUT_DIR]     (default: the current directory)
#
# Installs what is missing (the build's packages, dpkg-dev and file), builds the four
# programs with Debian's compiler and linker flags (scripts/package-config.sh) into build/,
# the tests' own build (or $BUILD_DIR), and packs them with CPack. Install the result with:
# sudo apt install ./tavo-control_*.deb
#
# --arch arm64 cross-builds the same package for arm64 (a Raspberry Pi's Debian 12-based OS)
# into build-pkg-arm64/, with Debian's cross compiler and the arm64 libraries, which it
# installs first (scripts/bootstrap.sh --arm64).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=
if [[ ${1:-} == --arch ]]; then
    arch=${2:?--arch needs an architecture}
    shift 2
    if [[ $arch != arm64 ]]; then
        echo "package.sh: the one other architecture it builds for is arm64, not $arch" >&2
        exit 2
    fi
fi
out=$(mkdir -p "${1:-.}" && cd "${1:-.}" && pwd)
source "$root/scripts/package-config.sh"
if [[ -n $arch ]]; then
    "$root/scripts/bootstrap.sh" --packaging --arm64 >&2
    build=${BUILD_DIR:-$root/build-pkg-$arch}
    package_configuration "$root" "$arch"
    package_config+=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/$arch-toolchain.cmake")
else
    "$root/scripts/bootstrap.sh" --packaging >&2
    # The tests' own build (scripts/build.sh): what they passed on is what is packed, and
    # after scripts/test.sh nothing is left to compile.
    build=${BUILD_DIR:-$root/build}
    package_configuration "$root"
fi

# Only the installed programs are built here (the tests are not needed for the package).
cmake -S "$root" -B "$build" -G Ninja "${package_config[@]}" >/dev/null
# Progress goes to stderr: stdout carries only the package's path.
cmake --build "$build" --parallel "$(nproc)" --target tavo_installed >&2
shopt -s nullglob
rm -f "$build"/cpack/*.deb
if ! cpack_output=$(cd "$build" && "${package_run[@]}" cpack -G DEB -B "$build/cpack" 2>&1); then
    echo "$cpack_output" >&2
    exit 1
fi
debs=("$build"/cpack/tavo-control_*.deb)
if ((${#debs[@]} != 1)); then
    echo "package.sh: expected one package in $build/cpack, found ${#debs[@]}" >&2
    exit 1
fi
cp "${debs[0]}" "$out/"
echo "$out/$(basename "${debs[0]}")"
