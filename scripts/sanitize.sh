#!/usr/bin/env bash
# The whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/bootstrap.sh"
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
