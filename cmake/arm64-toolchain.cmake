# Cross build for arm64 (a Raspberry Pi's Debian 12-based OS) on a Debian 12 machine of another
# architecture: Debian's cross compiler, the arm64 libraries installed beside the host's through
# multiarch (scripts/bootstrap.sh --arm64), the host's Qt tools, and qemu-user-static to run
# what is built (the tests; CTest and the tests themselves start arm64 programs through it).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# Packages' CMake files under /usr/lib/aarch64-linux-gnu/cmake, never the host's.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-aarch64-static)

# moc, rcc and uic run on the build machine: the host's, of the same Qt version.
execute_process(COMMAND dpkg-architecture -qDEB_BUILD_MULTIARCH
                OUTPUT_VARIABLE build_multiarch OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/${build_multiarch}/cmake)

# pkg-config reads the arm64 libraries' .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
