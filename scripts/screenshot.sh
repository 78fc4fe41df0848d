#!/usr/bin/env bash
# Takes a picture of the control panel at its full height, for the documentation.
#
#   scripts/screenshot.sh [BINARY] [DEVICE]
#
# BINARY  the built program (default: build/src/tavo-control); nothing is built here.
# DEVICE  the serial device to use as COM1, for example the pseudo-terminal of
#         tools/projector_sim ("tavo-projector-sim --pty --link /tmp/qt735").
#         Without it COM1 is the platform's own first port; if that cannot be
#         opened, the port settings dialog comes up and that is what is pictured.
#
# The program runs on a private virtual screen (xvfb-run) with a private settings
# file, so neither the desktop nor the operator's saved port is touched.
# Uses xvfb-run, ImageMagick's import and xdotool (installed when missing): xdotool
# switches the window to its full height (Ctrl+H) and lets the picture be cropped to it.
# Writes docs/panel.png.

set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
binary=${1:-$root/build/src/tavo-control}
device=${2:-}
output=$root/docs/panel.png

if [[ ! -x $binary ]]; then
    echo "screenshot.sh: no program at $binary; build it first" >&2
    exit 1
fi
# The picture's own tools, installed when missing (no fonts come with them).
missing=()
command -v xvfb-run >/dev/null || missing+=(xvfb xauth)
command -v import >/dev/null || missing+=(imagemagick)
command -v xdotool >/dev/null || missing+=(xdotool)
if ((${#missing[@]})); then
    echo "screenshot.sh: installing ${missing[*]}" >&2
    sudo_cmd=()
    if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
if [[ -n $device && ! -e $device && $device != socket://* ]]; then
    echo "screenshot.sh: warning: $device does not exist; the port dialog will show" >&2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/config"
mkdir -m 700 "$work/runtime"
{
    echo "[StartUP]"
    echo "ComPort=1"
    echo "BaudRate=96"
    if [[ -n $device ]]; then
        echo "[Ports]"
        echo "COM1=$device"
    fi
} >"$work/config/TAVO.conf"

# Runs inside the virtual screen: start the program, wait for its window, switch to
# the full height, take the picture.
cat >"$work/inside.sh" <<'INSIDE'
set -u
binary=$1
work=$2
title='TAVO   QT735  CONTROL'

"$binary" >"$work/program.log" 2>&1 &
program=$!

window=
if command -v xdotool >/dev/null; then
    for _ in $(seq 1 50); do
        window=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -n 1) || true
        [[ -n $window ]] && break
        sleep 0.2
    done
fi

if [[ -n $window ]]; then
    xdotool windowfocus --sync "$window" 2>/dev/null || true
    sleep 0.3
    xdotool key --clearmodifiers ctrl+h
    sleep 0.8
    # Ask "Status" (right-hand column, 5380 twips down) so the picture shows an exchange:
    # the command, the projector's answer and its meaning. It clears itself after 1.2 s.
    xdotool mousemove --window "$window" 618 369 click 1
    sleep 0.3
    eval "$(xdotool getwindowgeometry --shell "$window")"
    echo "$X $Y $WIDTH $HEIGHT" >"$work/geometry"
else
    # No xdotool, or the panel never came up (the port dialog may be showing).
    sleep 3
fi

import -window root "$work/screen.png"
kill "$program" 2>/dev/null
wait "$program" 2>/dev/null
exit 0
INSIDE

XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" xvfb-run -a -s "-screen 0 1024x768x24" \
    bash "$work/inside.sh" "$binary" "$work"

mkdir -p "$(dirname "$output")"
if [[ -s $work/geometry ]]; then
    read -r x y width height <"$work/geometry"
    # Without a window manager there is no frame: the window is its client area.
    import_crop="${width}x${height}+${x}+${y}"
    if command -v convert >/dev/null; then
        convert "$work/screen.png" -crop "$import_crop" +repage "$output"
    else
        cp "$work/screen.png" "$output"
    fi
else
    cp "$work/screen.png" "$output"
fi

if [[ -s $work/program.log ]]; then
    echo "--- program output ---" >&2
    cat "$work/program.log" >&2
fi
echo "$output"
