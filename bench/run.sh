#!/usr/bin/env bash
# Builds the program and the benchmark, measures, and prints one Markdown table of
# the numbers beside their targets; the same table goes to bench/results.md.
# Nothing here passes or fails on a number.
#
#   bench/run.sh                 everything
#   CLICKS=2000 RUNS=20 bench/run.sh
#
# Environment: BUILD_DIR (default build-bench), BUILD_TYPE (default RelWithDebInfo),
# CLICKS and REPLIES (default 1000 each), RUNS (start-ups per program, default 10),
# SKIP_BUILD=1 to measure what is already built, SKIP_LINE=1 to leave out the
# measurements on the pseudo-terminal (their rows then read n/a).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
bench=$build/bench/tavo-bench
program=$build/src/tavo-control
peer=cutecom
# The floor under the panel: a bare Qt window with the same 68 styled buttons.
floor=$build/bench/tavo-bench-floor

# --- start-up and memory, run inside one X server (see the end of this file) ---------
if [[ ${1:-} == __startup ]]; then
    work=$2
    runs=$3
    launch() { # name, then the launcher's arguments
        local name=$1
        shift
        mkdir -p "$work/$name-config"
        if XDG_CONFIG_HOME=$work/$name-config "$bench" launch "$@" >"$work/one.txt" 2>>"$work/$name.log"; then
            cat "$work/one.txt" >>"$work/$name.txt"
        else
            echo "failed" >>"$work/$name.txt"
        fi
    }
    # Run 0 of each warms the file cache and lets each program write its first
    # settings; it is not counted. The two programs take turns so that whatever
    # else the machine is doing falls on both alike.
    for ((i = 0; i <= runs; i++)); do
        [[ $i == 0 ]] && suffix=-warm || suffix=
        launch "tavo$suffix" --tavo-conf "$work/tavo$suffix-config" -- "$program"
        launch "peer$suffix" -- "$peer"
        launch "floor$suffix" -- "$floor"
    done
    exit 0
fi

CLICKS=${CLICKS:-1000}
REPLIES=${REPLIES:-1000}
RUNS=${RUNS:-10}

note() { echo "bench: $*" >&2; }

# --- what the measurements need on the machine ----------------------------------------
missing=()
command -v xvfb-run >/dev/null || missing+=(xvfb xauth)
command -v "$peer" >/dev/null || missing+=(cutecom)
pkg-config --exists xcb 2>/dev/null || missing+=(libxcb1-dev pkg-config)
pkg-config --exists xcb-damage 2>/dev/null || missing+=(libxcb-damage0-dev)
if ((${#missing[@]})); then
    note "installing ${missing[*]}"
    apt-get update >/dev/null && apt-get install -y "${missing[@]}" >/dev/null
fi

# --- build ---------------------------------------------------------------------------------
if [[ ${SKIP_BUILD:-} != 1 ]]; then
    note "building into $build"
    mkdir -p "$build"
    log=$build/bench-build.log
    if ! BUILD_DIR=$build BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} "$root/scripts/build.sh" >"$log" 2>&1; then
        # Unfinished work elsewhere in the tree need not stop the measurement.
        note "the full build failed (see $log); building the program and the benchmark alone"
        cmake --build "$build" --target tavo-control tavo-bench tavo-bench-floor >>"$log" 2>&1
    fi
fi
[[ -x $bench && -x $program ]] || { note "nothing to measure: $bench or $program is missing"; exit 1; }

work=$(mktemp -d /tmp/tavo-bench.XXXXXX)
trap '[[ -n ${KEEP_WORK:-} ]] && echo "bench: raw results in $work" >&2 || rm -rf "$work"' EXIT
# Neither program may touch the user's own runtime or data directories.
export XDG_RUNTIME_DIR=$work/runtime XDG_DATA_HOME=$work/data
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_DATA_HOME" && chmod 700 "$XDG_RUNTIME_DIR"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# --- the panel on a pseudo-terminal ------------------------------------------------------
if [[ ${SKIP_LINE:-} == 1 ]]; then
    : >"$work/line.txt"
else
    note "panel on a pseudo-terminal: $CLICKS clicks, $REPLIES replies, a 1 s and a 10 s hold"
    "$bench" line --clicks "$CLICKS" --replies "$REPLIES" >"$work/line.txt" 2>"$work/line.log" || {
        cat "$work/line.log" >&2
        exit 1
    }
fi

# --- start-up to first window and peak memory, against the peer -----------------------
note "start-up and memory: $RUNS runs each of tavo-control, $peer and the floor under Xvfb"
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$0" __startup "$work" "$RUNS"
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# --- the table -----------------------------------------------------------------------------
value() { awk -v k="$1" '$1 == k { print $2; found = 1; exit } END { if (!found) print "n/a" }' "$work/line.txt"; }
# Median of one key over the launch runs of one program.
median() {
    awk -v k="$2" '$1 == k { print $2 }' "$work/$1.txt" | sort -n |
        awk '{ v[NR] = $1 } END { if (NR == 0) print "n/a"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
counted() { awk -v k="$2" '$1 == k' "$work/$1.txt" | wc -l; }
failed() { grep -c '^failed' "$work/$1.txt" || true; }
fmt() { # printf format, value (n/a passes through)
    if [[ $2 == n/a || -z $2 ]]; then echo "n/a"; else awk -v f="$1" -v x="$2" 'BEGIN { printf f, x }'; fi
}
ratio() {
    if [[ $1 == n/a || $2 == n/a || -z $1 || -z $2 ]]; then echo "n/a"; else awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; fi
}

t_start=$(median tavo startup_us)
p_start=$(median peer startup_us)
t_mem=$(median tavo vmhwm_kb)
p_mem=$(median peer vmhwm_kb)
t_start_ms=$(fmt %.1f "$(awk -v x="$t_start" 'BEGIN { print x / 1000 }')")
p_start_ms=$(fmt %.1f "$(awk -v x="$p_start" 'BEGIN { print x / 1000 }')")
t_mem_mib=$(fmt %.1f "$(awk -v x="$t_mem" 'BEGIN { print x / 1024 }')")
p_mem_mib=$(fmt %.1f "$(awk -v x="$p_mem" 'BEGIN { print x / 1024 }')")
t_cpu=$(median tavo cpu_to_window_us)
f_start=$(median floor startup_us)
f_cpu=$(median floor cpu_to_window_us)
f_mem=$(median floor vmhwm_kb)
t_drawn=$(median tavo drawn_us)
p_drawn=$(median peer drawn_us)
f_drawn=$(median floor drawn_us)
t_cpu_drawn=$(median tavo cpu_to_drawn_us)
f_cpu_drawn=$(median floor cpu_to_drawn_us)
ms() { fmt "%.1f ms" "$([[ $1 == n/a ]] && echo n/a || awk -v x="$1" 'BEGIN { print x / 1000 }')"; }
mib() { fmt "%.1f MiB" "$([[ $1 == n/a ]] && echo n/a || awk -v x="$1" 'BEGIN { print x / 1024 }')"; }
peer_version=$(dpkg-query -W -f='${Version}' "$peer" 2>/dev/null || echo "?")
peer_toolkit=$(ldd "$(command -v "$peer")" 2>/dev/null | grep -o 'libQt[0-9]Core' | head -1 || true)
case $peer_toolkit in
libQt5Core) peer_toolkit="Qt $(dpkg-query -W -f='${Version}' libqt5core5a 2>/dev/null | cut -d+ -f1)" ;;
libQt6Core) peer_toolkit="Qt $(dpkg-query -W -f='${Version}' libqt6core6 2>/dev/null | cut -d+ -f1)" ;;
*) peer_toolkit="toolkit unknown" ;;
esac

table=$(
    cat <<EOF
| metric | this program | peer ($peer $peer_version) | ratio | target |
| --- | ---: | ---: | ---: | --- |
| click on "Status" to 4th byte readable on the pty, median (N=$(value click_to_wire_n)) | $(fmt "%.0f µs" "$(value click_to_wire_median_us)") | – | – | < 1000 µs |
| click to 4th byte, p99 | $(fmt "%.0f µs" "$(value click_to_wire_p99_us)") | – | – | – |
| of which the click itself (press + release handled), median | $(fmt "%.0f µs" "$(value click_handler_median_us)") | – | – | – |
| "80\\r" written on the pty to receive line showing it, median (N=$(value receive_to_text_n)) | $(fmt "%.0f µs" "$(value receive_to_text_median_us)") | – | – | < 1000 µs |
| "80\\r" to receive line showing it, p99 | $(fmt "%.0f µs" "$(value receive_to_text_p99_us)") | – | – | – |
| "80\\r" to receive line repainted, median / p99 | $(fmt "%.0f" "$(value receive_to_paint_median_us)") / $(fmt "%.0f µs" "$(value receive_to_paint_p99_us)") | – | – | – |
| 1 s hold on Volume up: commands on the wire | $(value hold_1s_sends) | – | – | about 11 |
| 10 s hold: commands on the wire | $(value hold_10s_sends) | – | – | about 101 |
| 10 s hold: interval between arrivals, median (min – max) | $(fmt %.2f "$(value hold_interval_median_ms)") ($(fmt %.2f "$(value hold_interval_min_ms)") – $(fmt "%.2f ms" "$(value hold_interval_max_ms)")) | – | – | 100 ms |
| 10 s hold: worst deviation from 100 ms | $(fmt "%.2f ms" "$(value hold_interval_worst_deviation_ms)") | – | – | < 5 ms |
| 10 s hold: worst deviation of the repeat timer's own ticks, in the program | $(fmt "%.2f ms" "$(value hold_timer_worst_deviation_ms)") | – | – | – |
| start-up to first window mapped, median of $(counted tavo startup_us) / $(counted peer startup_us) | $t_start_ms ms | $p_start_ms ms | $(ratio "$t_start" "$p_start") | ratio ≤ 0.5 |
| CPU time of the process (all threads) until that window, median | $(fmt "%.1f ms" "$(awk -v x="$(median tavo cpu_to_window_us)" 'BEGIN { print x / 1000 }')") | $(fmt "%.1f ms" "$(awk -v x="$(median peer cpu_to_window_us)" 'BEGIN { print x / 1000 }')") | $(ratio "$(median tavo cpu_to_window_us)" "$(median peer cpu_to_window_us)") | – |
| of which, in-process: first panel built (with the font database) / later builds, median / first show (offscreen) | $(ms "$(value form_first_build_us)" | cut -d' ' -f1) / $(ms "$(value form_build_median_us)" | cut -d' ' -f1) / $(ms "$(value form_show_us)") | – | – | – |
| start-up to the first drawing in that window, median of $(counted tavo drawn_us) / $(counted peer drawn_us) | $(ms "$t_drawn") | $(ms "$p_drawn") | $(ratio "$t_drawn" "$p_drawn") | – |
| peak resident memory (VmHWM) after 1 s idle, median | $t_mem_mib MiB | $p_mem_mib MiB | $(ratio "$t_mem" "$p_mem") | ratio ≤ 0.5 |
| start-up to first window mapped, beside its floor (bare Qt 6 window, the same 68 styled buttons), median of $(counted tavo startup_us) / $(counted floor startup_us) | $(ms "$t_start") | floor: $(ms "$f_start") | $(ratio "$t_start" "$f_start") | ratio ≤ 1.2 |
| CPU time until that window, beside the floor, median | $(ms "$t_cpu") | floor: $(ms "$f_cpu") | $(ratio "$t_cpu" "$f_cpu") | – |
| start-up to the first drawing in that window, beside the floor, median of $(counted tavo drawn_us) / $(counted floor drawn_us) | $(ms "$t_drawn") | floor: $(ms "$f_drawn") | $(ratio "$t_drawn" "$f_drawn") | – |
| CPU time until that drawing, beside the floor, median | $(ms "$t_cpu_drawn") | floor: $(ms "$f_cpu_drawn") | $(ratio "$t_cpu_drawn" "$f_cpu_drawn") | – |
| peak resident memory (VmHWM) after 1 s idle, beside the floor, median | $(mib "$t_mem") | floor: $(mib "$f_mem") | $(ratio "$t_mem" "$f_mem") | ratio ≤ 1.2 |
EOF
)

qt_version=$(pkg-config --modversion Qt6Core 2>/dev/null || dpkg-query -W -f='${Version}' libqt6core6 2>/dev/null || echo "?")
cpu=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
{
    echo "# tavo-control benchmarks"
    echo
    echo "Measured $(date '+%Y-%m-%d %H:%M %Z') by bench/run.sh."
    echo
    echo "- machine: $(nproc) cores, $cpu; Linux $(uname -r); Qt $qt_version; build type ${BUILD_TYPE:-RelWithDebInfo}"
    echo "- load average before / after: $load_before / $load_after"
    echo "- line measurements: offscreen window at full height, real QSerialPort on a pseudo-terminal (9600,N,8,1), QTest mouse events"
    echo "- peer: $peer $peer_version ($peer_toolkit), started with an empty private configuration; tavo-control with a private TAVO.conf naming a fresh pty as COM1, so it shows its panel"
    echo "- floor: bench/floor, a QApplication and one window of the panel's size with the panel's 68 push buttons at their places, each with its caption and a coloured style sheet of the panel's kind (65 styled, 3 plain), default font, nothing else; started like the others"
    echo "- start-up: fork to the X server's MapNotify of the first top-level window (Xvfb, no window manager), and to the first" \
        "drawing inside that window (a damage report on the root window), warm cache, programs alternating;" \
        "memory: /proc/PID/status VmHWM after the first drawing and 1 s of idling"
    failures=$(($(failed tavo) + $(failed peer) + $(failed floor)))
    ((failures == 0)) || echo "- launches that showed no window: tavo-control $(failed tavo), $peer $(failed peer), floor $(failed floor)"
    echo
    echo "$table"
} >"$root/bench/results.md"

echo "$table"
note "written to bench/results.md"
