#!/usr/bin/env bash
# The whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer; with
# --thread, the server's tests built with ThreadSanitizer instead (its HTTP side runs on a
# thread of its own).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/bootstrap.sh"
if [[ ${1:-} == --thread ]]; then
    build=${BUILD_DIR:-$root/build-tsan}
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVO_SANITIZE_THREAD=ON >/dev/null
    cmake --build "$build" --parallel "$(nproc)" --target tavo-server tavo-projector-sim tavo-send \
        test_tavo_server test_page_holds test_mqtt
    cd "$build"
    # Debian's Qt is not instrumented: what crosses between the threads goes through the
    # server's own queues, where the sanitizer sees it; Qt's inside is suppressed.
    # die_after_fork=0: the tests start the broker, the simulator and the server with QProcess
    # from a process with many threads; left alone, the sanitizer stops such a child if it
    # starts a thread before its exec, and the test with it.
    export TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1:die_after_fork=0:suppressions=$root/scripts/tsan.supp"
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 -LE once \
        -R '^(test_tavo_server|test_page_holds|test_http_limits|test_mqtt)$'
    exit
fi
build=${BUILD_DIR:-$root/build-sanitize}
BUILD_DIR=$build BUILD_TYPE=Debug "$root/scripts/build.sh" -DTAVO_SANITIZE=ON
cd "$build"
# Qt's own libraries are not instrumented; leak reports from them and from the
# platform plugins are not ours to fix.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Tests labelled "once" drive outside programs (a browser, Prometheus) and prove nothing
# more when built with sanitizers; they run in the plain pass only.
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)" --timeout 600 -LE once
