#!/usr/bin/env bash
# Builds the Debian package tavo-control_<version>_<arch>.deb and prints its path.
#
#   scripts/package.sh [--arch arm64] [OUT_DIR]     (default: the current directory)
#
# Installs what is missing (the build's packages, dpkg-dev and file), builds the four
# programs with Debian's compiler and linker flags into build-pkg/ (or $BUILD_DIR), and
# packs them with CPack. Install the result with: sudo apt install ./tavo-control_*.deb
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
cross=()
on_host=()
if [[ -n $arch ]]; then
    "$root/scripts/bootstrap.sh" --packaging --arm64 >&2
    build=${BUILD_DIR:-$root/build-pkg-$arch}
    cross=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/$arch-toolchain.cmake")
    # Debian's flags for that architecture, and dpkg-shlibdeps (which CPack runs) looking up
    # its libraries rather than this machine's.
    on_host=(env CC=aarch64-linux-gnu-gcc dpkg-architecture -a"$arch" -c)
else
    "$root/scripts/bootstrap.sh" --packaging >&2
    build=${BUILD_DIR:-$root/build-pkg}
fi

# Hardening as Debian's own packages have it (stack protector, fortify, relro, bind-now, PIE).
# Their -O2 stands: the Release type only adds -DNDEBUG.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$("${on_host[@]}" dpkg-buildflags --get CPPFLAGS) $("${on_host[@]}" dpkg-buildflags --get CXXFLAGS)"
ldflags=$("${on_host[@]}" dpkg-buildflags --get LDFLAGS)

# Only the installed programs are built (the tests are not needed for the package), and
# installing does not build everything first. No run path: the programs in /usr/bin find
# Qt where the system keeps it (Qt's project setup would add $ORIGIN/../lib for
# relocatable installs).
cmake -S "$root" -B "$build" -G Ninja "${cross[@]}" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
    -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
    -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_RPATH=ON -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
# Progress goes to stderr: stdout carries only the package's path.
cmake --build "$build" --parallel "$(nproc)" --target tavo_installed >&2
shopt -s nullglob
rm -f "$build"/cpack/*.deb
if ! cpack_output=$(cd "$build" && "${on_host[@]}" cpack -G DEB -B "$build/cpack" 2>&1); then
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
