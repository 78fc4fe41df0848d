#!/usr/bin/env bash
# Installs what is missing, builds, and starts the control panel.
#
#   scripts/run.sh              against the built-in projector simulator: a private settings
#                               directory points port 1 (9600 bit/s) at the simulator's
#                               pseudo-terminal; the simulator stops when the panel closes.
#   scripts/run.sh --real       against your own settings (~/.config/TAVO.conf) and your projector.
#
# With no display (no $DISPLAY / $WAYLAND_DISPLAY) the panel runs headless (offscreen).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/bootstrap.sh"
"$root/scripts/build.sh"
build=${BUILD_DIR:-$root/build}

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
    echo "No display found: running headless (QT_QPA_PLATFORM=offscreen). Close with Ctrl+C." >&2
    export QT_QPA_PLATFORM=offscreen
fi

if [[ "${1:-}" == "--real" ]]; then
    exec "$build/src/tavo-control"
fi

demo=$(mktemp -d /tmp/tavo-demo.XXXXXX)
sim_pid=
cleanup() {
    [[ -n "$sim_pid" ]] && kill "$sim_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$demo"
}
trap cleanup EXIT INT TERM

"$build/tools/projector_sim/tavo-projector-sim" --pty --link "$demo/projector" --log "$demo/commands.log" \
    >"$demo/sim.out" 2>"$demo/sim.err" &
sim_pid=$!
for _ in $(seq 100); do [[ -e "$demo/projector" ]] && break; sleep 0.05; done
if [[ ! -e "$demo/projector" ]]; then
    echo "The projector simulator did not start:" >&2
    cat "$demo/sim.err" >&2
    exit 1
fi
echo "Projector simulator on $(readlink "$demo/projector") (commands logged to $demo/commands.log)"

mkdir -p "$demo/config"
cat >"$demo/config/TAVO.conf" <<CONF
[StartUP]
ComPort=1
BaudRate=96

[Ports]
COM1=$demo/projector
CONF
XDG_CONFIG_HOME="$demo/config" "$build/src/tavo-control"
