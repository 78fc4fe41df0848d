# Sourced by scripts/build.sh and scripts/package.sh: the configuration the Debian package is
# built with, so that the tests run on the very programs it packs and CI builds them once.
#
#   package_configuration ROOT [ARCH]
#
# fills the array package_run with what runs a tool as for ARCH (dpkg-buildflags, and CPack's
# dpkg-shlibdeps, looking up its libraries rather than this machine's; empty for this
# machine's), and the array package_config with cmake's arguments:
# - Debian's compiler and linker flags for ARCH (this machine's when empty), with every
#   hardening option (stack protector, fortify, relro, bind-now, PIE);
# - less -g: CPack strips the programs (there is no debug symbols package), and debug
#   information took a quarter of the compile time for nothing;
# - the Release type, which only adds -DNDEBUG to their -O2;
# - installed under /usr with no run path (Qt's project setup would add $ORIGIN/../lib for
#   relocatable installs), and installing does not build everything first;
# - the sanitizer and fuzzer options off, in case the folder was configured with them before.
package_configuration() {
    local root=$1 arch=${2:-} cppflags cxxflags ldflags
    package_run=()
    if [[ -n $arch ]]; then
        package_run=(env CC=aarch64-linux-gnu-gcc dpkg-architecture -a"$arch" -c)
    fi
    # From the source folder: the prefix map among the flags names the folder they are asked
    # in, and the same flags keep the build folder as it is.
    cppflags=$(cd "$root" && DEB_BUILD_MAINT_OPTIONS=hardening=+all "${package_run[@]}" dpkg-buildflags --get CPPFLAGS)
    cxxflags=$(cd "$root" && DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_STRIP=-g \
        "${package_run[@]}" dpkg-buildflags --get CXXFLAGS)
    ldflags=$(cd "$root" && DEB_BUILD_MAINT_OPTIONS=hardening=+all "${package_run[@]}" dpkg-buildflags --get LDFLAGS)
    package_config=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG
        -DCMAKE_CXX_FLAGS="$cppflags $cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags"
        -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_RPATH=ON -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
        -DTAVO_SANITIZE=OFF -DTAVO_SANITIZE_THREAD=OFF -DTAVO_FUZZ=OFF)
}
