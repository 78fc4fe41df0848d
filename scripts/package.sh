#!/usr/bin/env bash
# Builds the Debian package tavo-control_<version>_<arch>.deb and prints its path.
#
#   scripts/package.sh [OUT_DIR]     (default: the current directory)
#
# Installs what is missing (the build's packages, dpkg-dev and file), builds the four
# programs with Debian's compiler and linker flags into build-pkg/ (or $BUILD_DIR), and
# packs them with CPack. Install the result with: sudo apt install ./tavo-control_*.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "${1:-.}" && cd "${1:-.}" && pwd)
"$root/scripts/bootstrap.sh" --packaging >&2
build=${BUILD_DIR:-$root/build-pkg}

# Hardening as Debian's own packages have it (stack protector, fortify, relro, bind-now, PIE).
# Their -O2 stands: the Release type only adds -DNDEBUG.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)

# Only the installed programs are built (the tests are not needed for the package), and
# installing does not build everything first. No run path: the programs in /usr/bin find
# Qt where the system keeps it (Qt's project setup would add $ORIGIN/../lib for
# relocatable installs).
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
    -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
    -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_RPATH=ON -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
# Progress goes to stderr: stdout carries only the package's path.
cmake --build "$build" --parallel "$(nproc)" --target tavo_installed >&2
shopt -s nullglob
rm -f "$build"/cpack/*.deb
if ! cpack_output=$(cd "$build" && cpack -G DEB -B "$build/cpack" 2>&1); then
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
