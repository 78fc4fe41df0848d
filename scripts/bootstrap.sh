#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, only those
# that are missing, and the page test's npm packages. Safe to run again; needs root
# (or sudo) only when something is missing.
#
#   scripts/bootstrap.sh [--packaging | --with-tools] [--arm64]
#
# --arm64 adds what the arm64 cross build and its emulated tests need (scripts/package.sh
# --arch arm64 and scripts/test-arm64.sh ask for it): the cross compiler, the arm64 libraries
# through multiarch, and qemu-user-static.
set -euo pipefail
mode=
arm64=
for arg in "$@"; do
    case $arg in
    --arm64) arm64=1 ;;
    *) mode=$arg ;;
    esac
done

packages=(build-essential cmake ninja-build pkg-config qt6-base-dev qt6-serialport-dev xvfb xauth)
# tavo-server's HTTP and WebSocket side (Boost.Beast, header-only) and the TLS it can take on;
# the server test's events client is Qt's own WebSocket, and its HTTP limit tests are Python,
# with a certificate that openssl makes for the HTTPS case.
packages+=(libboost1.81-dev libssl-dev openssl qt6-websockets-dev python3)
# Prometheus scrapes the server's metrics in a test (promtool checks their format and tests
# the shipped alert rules), and sends the alerts to Alertmanager in another.
packages+=(prometheus prometheus-alertmanager)
# The Arial-metric face the panel's captions are sized for (without it they are stepped
# down to fit), the X client library of the test that reads titles back from Xvfb, and
# DejaVu Sans, the desktop font the tests stand in for the operator's.
packages+=(fonts-liberation2 libxcb1-dev fonts-dejavu-core)
# The control page's test in three engines: Debian's Chromium and Firefox ESR, run headless,
# WebKitGTK's MiniBrowser with its WebDriver (on Xvfb, above), and Node for the clients that
# drive them (a Node already on the machine, with its npm, is used as it is).
packages+=(chromium firefox-esr webkit2gtk-driver)
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    packages+=(nodejs npm)
fi
if [[ $mode == --with-tools ]]; then
    packages+=(clang libclang-rt-14-dev)   # sanitizer and fuzzer builds
fi
# tavo-server's MQTT front end: the client library, and the broker and its clients that the
# tests start on a free loopback port of their own.
packages+=(libmosquitto-dev mosquitto mosquitto-clients)
# scripts/package.sh (--packaging): CPack's DEB generator runs dpkg-shlibdeps, which needs file.
# tests/test_package.sh and checking the package by hand (--with-tools): the validators too.
if [[ $mode == --packaging || $mode == --with-tools ]]; then
    packages+=(dpkg-dev file)
fi
if [[ $mode == --with-tools ]]; then
    packages+=(desktop-file-utils appstream systemd lintian)
    # systemd-analyze looks up the unit's manual page with man; the upgrade test mounts
    # overlays, and the package's scripts add its user to a group with usermod.
    packages+=(man-db mount passwd)
fi
# The arm64 build: Debian's cross compiler, the arm64 builds of the libraries the programs
# link, and the emulator that runs them here. The host's Qt tools (moc, rcc) serve both builds.
if [[ -n $arm64 ]]; then
    packages+=(crossbuild-essential-arm64 qemu-user-static)
    packages+=(qt6-base-dev:arm64 qt6-serialport-dev:arm64 libmosquitto-dev:arm64)
    packages+=(qt6-websockets-dev:arm64 libboost1.81-dev:arm64 libssl-dev:arm64)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]} > 0)); then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
    export DEBIAN_FRONTEND=noninteractive
    if [[ -n $arm64 ]] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
        "${sudo_cmd[@]}" dpkg --add-architecture arm64
    fi
    "${sudo_cmd[@]}" apt-get update -qq
    # Packages that bring a service (Prometheus, a message broker) must not start it: the
    # tests start their own, on free loopback ports. A policy-rc.d that refuses every start
    # keeps the package scripts from starting one; one the administrator put there is left alone.
    policy=/usr/sbin/policy-rc.d
    placed=
    if [[ ! -e $policy ]]; then
        placed=1
        trap '"${sudo_cmd[@]}" rm -f "$policy"' EXIT
        printf '#!/bin/sh\n# Placed by tavo-control'"'"'s bootstrap while it installs packages.\nexit 101\n' |
            "${sudo_cmd[@]}" tee "$policy" >/dev/null
        "${sudo_cmd[@]}" chmod 755 "$policy"
    fi
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    if [[ -n $placed ]]; then
        "${sudo_cmd[@]}" rm -f "$policy"
        trap - EXIT
    fi
fi

# The page test's npm packages (the browser clients and axe-core), exactly as locked, into
# tests/browser/node_modules; again only when the lock has changed since.
browser_tests=$(cd "$(dirname "$0")/../tests/browser" && pwd)
if ! cmp -s "$browser_tests/package-lock.json" "$browser_tests/node_modules/.installed-lock.json"; then
    echo "Installing the page test's npm packages"
    (cd "$browser_tests" && npm ci --no-audit --no-fund --ignore-scripts --loglevel=error >/dev/null)
    cp "$browser_tests/package-lock.json" "$browser_tests/node_modules/.installed-lock.json"
fi
