#!/usr/bin/env bash
# Builds the program and the benchmark, measures, and prints one Markdown table of
# the numbers beside their targets; the same table goes to bench/results.md.
# Nothing here passes or fails on a number.
#
#   bench/run.sh                 everything
#   CLICKS=2000 RUNS=20 bench/run.sh
#   SKIP_LINE=1 SKIP_TOOLS=1 bench/run.sh     the start-ups alone
#
# Environment: BUILD_DIR (default build-bench), BUILD_TYPE (default RelWithDebInfo),
# CLICKS and REPLIES (default 1000 each), RUNS (start-ups per program, default 10),
# SKIP_BUILD=1 to measure what is already built, SKIP_LINE=1 to leave out the
# measurements on the pseudo-terminal (their rows then read n/a), SKIP_TOOLS=1 to leave
# out tavo-send and tavo-server (their rows read n/a too); STARTS (tavo-send start-ups,
# default 50) and QUERIES (round trips per PJLink and tavo-send measurement, default 200);
# SKIP_PAGE=1 to leave out tavo-server's page in headless Chromium (its rows read n/a),
# PAGE_CLICKS (default 200) and FANOUTS (exchanges to 50 events sockets, default 50).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
bench=$build/bench/tavo-bench
program=$build/src/tavo-control
peer=cutecom
# The floor under the panel: a bare Qt window with the same 68 styled buttons.
floor=$build/bench/tavo-bench-floor
# The console programs, the simulator they talk to, and the floor under tavo-send's start-up.
send=$build/tools/send/tavo-send
server=$build/tools/server/tavo-server
sim=$build/tools/projector_sim/tavo-projector-sim
bare=$build/bench/tavo-bench-bare-status

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
STARTS=${STARTS:-50}
QUERIES=${QUERIES:-200}

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
        cmake --build "$build" --target tavo-send tavo-server tavo-projector-sim tavo-bench-bare-status \
            >>"$log" 2>&1 || note "the console programs did not build; their rows read n/a"
    fi
fi
[[ -x $bench && -x $program ]] || { note "nothing to measure: $bench or $program is missing"; exit 1; }

work=$(mktemp -d /tmp/tavo-bench.XXXXXX)
# Simulators and daemons started in the background, ended however the bench ends.
background=()
stop() { # pid
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}
trap 'for pid in ${background[@]+"${background[@]}"}; do stop "$pid"; done
      [[ -n ${KEEP_WORK:-} ]] && echo "bench: raw results in $work" >&2 || rm -rf "$work"' EXIT
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

# --- the console programs against the simulator ---------------------------------------------
tools=$work/tools.txt
: >"$tools"
put() { echo "$1 $2" >>"$tools"; }
# Starts the simulator in the background with the given options, waits for its `count`
# announcement lines in `out`, and leaves its pid in sim_pid.
start_sim() { # out, count, options...
    local out=$1 count=$2
    shift 2
    "$sim" "$@" >"$out" 2>>"$work/sim.log" &
    sim_pid=$!
    background+=("$sim_pid")
    until [[ $(wc -l <"$out") -ge $count ]]; do
        kill -0 "$sim_pid" 2>/dev/null || { note "the simulator did not start (see $work/sim.log)"; return 1; }
        sleep 0.05
    done
}
# Starts tavo-server for the device with the given options (front ends on free loopback
# ports, e.g. --pjlink 127.0.0.1:0), leaves its pid in server_pid and the ports it announces
# in pjlink_port, line_port and http_port. Without a poll or answers from memory unless asked,
# so every query goes to the line.
start_server() { # device, baud, options...
    local log=$work/server-$RANDOM.log device=$1 baud=$2
    shift 2
    "$server" -p "$device" -b "$baud" --pjlink off --http off --poll 0 --max-age 0 "$@" 2>"$log" &
    server_pid=$!
    background+=("$server_pid")
    until grep -q '^listening on' "$log" 2>/dev/null && sleep 0.1; do
        kill -0 "$server_pid" 2>/dev/null || { note "tavo-server did not start:" "$(cat "$log")"; return 1; }
        sleep 0.05
    done
    announced() { sed -n "s/^listening on 127\.0\.0\.1:\([0-9]*\) for $1.*/\1/p" "$log"; }
    pjlink_port=$(announced PJLink)
    line_port=$(announced "the projector")
    http_port=$(announced HTTP)
}
# tavo-send's own round trips: QUERIES status commands on one run, the median of the
# "ms" each reports (write to end of reply, taken inside the program), in µs.
send_round_trip() { # key, device, baud
    "$send" --json -p "$2" -b "$3" $(for ((q = 0; q < QUERIES; q++)); do echo status; done) >"$work/$1.json" || true
    put "$1_ok" "$(grep -c '"ok":true' "$work/$1.json" || true)"
    put "$1_median_us" "$(grep -o '"ms":[0-9.e+-]*' "$work/$1.json" | cut -d: -f2 | sort -g |
        awk '{ v[NR] = $1 * 1000 } END { if (NR == 0) print "n/a"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }')"
}
# A tavo-bench PJLink measurement; its "key value" lines go to the table's file with a
# prefix.
pjlink_bench() { # prefix, tavo-bench arguments...
    local prefix=$1
    shift
    "$bench" "$@" --port "$pjlink_port" 2>>"$work/tools.log" | sed "s/^/${prefix}_/" >>"$tools" ||
        note "tavo-bench $1 failed (see $work/tools.log)"
}

# A tavo-bench measurement of the server; its lines go to the table's file with a prefix.
server_bench() { # prefix, tavo-bench arguments...
    local prefix=$1
    shift
    "$bench" "$@" 2>>"$work/tools.log" | sed "s/^/${prefix}_/" >>"$tools" || note "tavo-bench $1 failed (see $work/tools.log)"
}

measure_tools() {
    # Neither program may read the user's TAVO.conf.
    local XDG_CONFIG_HOME=$work/tools-config
    export XDG_CONFIG_HOME
    mkdir -p "$XDG_CONFIG_HOME"

    note "tavo-send: $STARTS start-ups beside a bare QSerialPort program, on a pseudo-terminal"
    start_sim "$work/sim-pty.txt" 1 --pty || return 1
    pty=$(awk '$1 == "PTY" { print $2; exit }' "$work/sim-pty.txt")
    # Run 0 of each warms the file cache and is not counted; the two take turns.
    for ((i = 0; i <= STARTS; i++)); do
        [[ $i == 0 ]] && suffix=-warm || suffix=
        "$bench" spawn -- "$send" -p "$pty" -b 9600 status >>"$work/send-start$suffix.txt" 2>>"$work/tools.log" || true
        "$bench" spawn -- "$bare" "$pty" >>"$work/bare-start$suffix.txt" 2>>"$work/tools.log" || true
    done
    # A start-up counts when its line is the answer: "Stand by" decoded, "80" read.
    put send_start_right "$(grep -c '^first_line .*Stand by$' "$work/send-start.txt" || true)"
    put bare_start_right "$(grep -c '^first_line 80$' "$work/bare-start.txt" || true)"

    note "PJLink against the simulator unpaced: $QUERIES round trips, then 50 clients x 20 queries"
    send_round_trip send_rtt_unpaced "$pty" 9600
    start_server "$pty" 9600 --pjlink 127.0.0.1:0 || return 1
    pjlink_bench unpaced pjlink-rtt --queries "$QUERIES"
    pjlink_bench unpaced pjlink-clients --clients 50 --queries 20
    stop "$server_pid"
    stop "$sim_pid"

    note "PJLink against the simulator paced at 9600 bit/s: $QUERIES round trips"
    start_sim "$work/sim-9600.txt" 1 --pty --pace --baud 9600 || return 1
    pty=$(awk '$1 == "PTY" { print $2; exit }' "$work/sim-9600.txt")
    send_round_trip send_rtt_9600 "$pty" 9600
    start_server "$pty" 9600 --pjlink 127.0.0.1:0 || return 1
    pjlink_bench paced9600 pjlink-rtt --queries "$QUERIES"
    stop "$server_pid"
    # The same through the server's line front end, as the panel and tavo-send reach it.
    start_server "$pty" 9600 --line 127.0.0.1:0 || return 1
    send_round_trip send_rtt_line_9600 "socket://127.0.0.1:$line_port" 9600
    stop "$server_pid"
    # The poll on its own: every second here; its share at the default 10 s is a tenth. Over
    # 20 s, so that two rounds read the lamp status and lamp mode too, as every tenth does.
    start_server "$pty" 9600 --http 127.0.0.1:0 --poll 1 || return 1
    server_bench poll poll-share --url "http://127.0.0.1:$http_port/metrics" --seconds 20
    stop "$server_pid"
    stop "$sim_pid"

    note "a power command's new state in every front end, no poll, simulator paced at 9600 bit/s"
    if command -v mosquitto >/dev/null || [[ -x /usr/sbin/mosquitto ]]; then
        broker_port=$((20000 + RANDOM % 20000))
        while (exec 3<>"/dev/tcp/127.0.0.1/$broker_port") 2>/dev/null; do broker_port=$((20000 + RANDOM % 20000)); done
        printf 'listener %s 127.0.0.1\npersistence false\nallow_anonymous true\n' "$broker_port" >"$work/mosquitto.conf"
        "$(command -v mosquitto || echo /usr/sbin/mosquitto)" -c "$work/mosquitto.conf" 2>>"$work/broker.log" &
        broker_pid=$!
        background+=("$broker_pid")
        start_sim "$work/sim-follow.txt" 1 --pty --pace --baud 9600 --warmup 0 --cooldown 0 || return 1
        pty=$(awk '$1 == "PTY" { print $2; exit }' "$work/sim-follow.txt")
        start_server "$pty" 9600 --pjlink 127.0.0.1:0 --http 127.0.0.1:0 --max-age 1 \
            --mqtt "mqtt://127.0.0.1:$broker_port" --mqtt-base tavo/bench || return 1
        server_bench follow power-follow --http "$http_port" --pjlink "$pjlink_port" --broker "$broker_port" \
            --base tavo/bench --count "${FOLLOWS:-20}"
        stop "$server_pid"
        stop "$sim_pid"
        stop "$broker_pid"
    else
        note "mosquitto is missing (scripts/bootstrap.sh installs it): the power state rows read n/a"
    fi

    note "PJLink against the simulator paced at 19200 bit/s: 50 clients x 20 queries"
    start_sim "$work/sim-19200.txt" 1 --pty --pace --baud 19200 || return 1
    pty=$(awk '$1 == "PTY" { print $2; exit }' "$work/sim-19200.txt")
    send_round_trip send_rtt_19200 "$pty" 19200
    start_server "$pty" 19200 --pjlink 127.0.0.1:0 || return 1
    pjlink_bench paced19200 pjlink-clients --clients 50 --queries 20
    stop "$server_pid"
    stop "$sim_pid"

    note "tavo-server at rest, with every front end at its cap of idle clients, and flooded; a /metrics scrape"
    start_sim "$work/sim-server.txt" 1 --pty || return 1
    pty=$(awk '$1 == "PTY" { print $2; exit }' "$work/sim-server.txt")
    start_server "$pty" 9600 --pjlink 127.0.0.1:0 --line 127.0.0.1:0 --http 127.0.0.1:0 --poll 10 --max-age 1 \
        --pjlink-idle 2 || return 1
    server_bench server server-memory --pid "$server_pid" --pjlink "$pjlink_port" --line "$line_port" \
        --http "$http_port" --flood-mb 10
    server_bench metrics http-get --url "http://127.0.0.1:$http_port/metrics" --count 200
    stop "$server_pid"

    note "tavo-server's HTTP side: GET /api/status from 50 keep-alive clients; memory under abuse"
    start_server "$pty" 9600 --http 127.0.0.1:0 --poll 10 --max-age 1 || return 1
    server_bench http http-rate --http "$http_port" --clients 50 --seconds 10
    server_bench http http-abuse --pid "$server_pid" --http "$http_port"
    stop "$server_pid"
    stop "$sim_pid"

    note "power-off to 100 simulated projectors answering after 200 ms: at once, then one at a time"
    start_sim "$work/sim-fleet.txt" 100 --tcp 0 --count 100 --reply-delay 200 || return 1
    mapfile -t fleet < <(awk '$1 == "TCP" { print "socket://" $2 }' "$work/sim-fleet.txt")
    port_options=()
    for address in "${fleet[@]}"; do port_options+=(-p "$address"); done
    # One warm-up, then five runs; each counts when every projector answered (status 0).
    for ((i = 0; i <= 5; i++)); do
        [[ $i == 0 ]] && suffix=-warm || suffix=
        "$bench" spawn -- "$send" "${port_options[@]}" power-off >>"$work/fleet$suffix.txt" 2>>"$work/tools.log" || true
    done
    # The same as a script would do it without tavo-send's many ports: one run per port.
    failures=0
    started=$(date +%s%N)
    for address in "${fleet[@]}"; do
        "$send" -p "$address" power-off >/dev/null 2>>"$work/tools.log" || failures=$((failures + 1))
    done
    put fleet_one_at_a_time_ms $((($(date +%s%N) - started) / 1000000))
    put fleet_one_at_a_time_failures "$failures"
    stop "$sim_pid"
}
if [[ ${SKIP_TOOLS:-} == 1 ]]; then
    :
elif ! [[ -x $send && -x $server && -x $sim && -x $bare ]]; then
    note "tavo-send, tavo-server, the simulator or $bare is missing: their rows read n/a"
else
    measure_tools || note "the console programs' measurements stopped early; the rows left read n/a"
fi

# --- tavo-server's page in headless Chromium ---------------------------------------------
# Node, Chromium and the npm packages come from scripts/bootstrap.sh.
server=$build/tools/server/tavo-server
if [[ ${SKIP_PAGE:-} == 1 ]]; then
    :
elif ! [[ -x $server && -x $sim && -x /usr/bin/chromium && -d $root/tests/browser/node_modules ]]; then
    note "tavo-server, the simulator, Chromium or the page test's npm packages are missing: the page rows read n/a"
else
    note "the page: first load, ${PAGE_CLICKS:-200} clicks to the line, ${FANOUTS:-50} exchanges to 50 events sockets"
    node "$root/bench/page.js" "$server" "$sim" "${PAGE_CLICKS:-200}" "${FANOUTS:-50}" >"$work/page.txt" \
        2>>"$work/page.log" || note "the page measurements failed (see $work/page.log); their rows read n/a"
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
# The console programs' numbers (n/a with SKIP_TOOLS=1).
tool() { awk -v k="$1" '$1 == k { print $2; found = 1; exit } END { if (!found) print "n/a" }' "$work/tools.txt"; }
# The page's numbers (n/a with SKIP_PAGE=1).
page() { awk -v k="$1" '$1 == k { print $2; found = 1; exit } END { if (!found) print "n/a" }' "$work/page.txt" 2>/dev/null || echo n/a; }
spawned() { # file, key: the median over the runs, or n/a
    if [[ -f $work/$1.txt ]]; then median "$1" "$2"; else echo n/a; fi
}
spawn_count() { if [[ -f $work/$1.txt ]]; then counted "$1" "$2"; else echo 0; fi; }
scaled() { # printf format, value, divisor
    fmt "$1" "$([[ $2 == n/a ]] && echo n/a || awk -v x="$2" -v d="$3" 'BEGIN { print x / d }')"
}
s_start=$(spawned send-start first_line_us)
b_start=$(spawned bare-start first_line_us)
fleet_at_once=$(spawned fleet exit_us)
fleet_in_turn=$(tool fleet_one_at_a_time_ms)
fleet_in_turn_us=$([[ $fleet_in_turn == n/a ]] && echo n/a || echo $((fleet_in_turn * 1000)))
unpaced_send=$(tool send_rtt_unpaced_median_us)
unpaced_pjlink=$(tool unpaced_pjlink_rtt_median_us)
paced_send=$(tool send_rtt_9600_median_us)
paced_pjlink=$(tool paced9600_pjlink_rtt_median_us)
line_send=$(tool send_rtt_line_9600_median_us)
paced19200_send=$(tool send_rtt_19200_median_us)
clients_qps=$(tool paced19200_pjlink_clients_qps)
# The line at 19200 bit/s carries "CR0\r" and "80\r", 7 characters of 10 bits, per query.
line_limit_qps=$(awk 'BEGIN { print 19200 / 70 }')
sim_limit_qps=$([[ $paced19200_send == n/a ]] && echo n/a || awk -v x="$paced19200_send" 'BEGIN { print 1e6 / x }')
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
| \`tavo-send status\` on a pty: fork to its decoded line on stdout, beside a bare QSerialPort program (fork to its reply line), median of $(spawn_count send-start first_line_us) / $(spawn_count bare-start first_line_us) | $(ms "$s_start") | bare: $(ms "$b_start") | $(ratio "$s_start" "$b_start") | ratio ≤ 1.5 |
| \`power-off\` to 100 simulated projectors on loopback TCP, each answering after 200 ms: one \`tavo-send\` with 100 \`-p\`, fork to exit, median of $(spawn_count fleet exit_us) | $(scaled "%.2f s" "$fleet_at_once" 1e6) | one port at a time, 100 runs in a row: $(scaled "%.1f s" "$fleet_in_turn" 1000) | $(ratio "$fleet_at_once" "$fleet_in_turn_us") | < 1 s (about 20 s one at a time) |
| PJLink \`POWR ?\` round trip through tavo-server on loopback, simulator unpaced, median of $(tool unpaced_pjlink_rtt_n) | $(scaled "%.0f µs" "$unpaced_pjlink" 1) | tavo-send \`status\` (its \`ms\`): $(scaled "%.0f µs" "$unpaced_send" 1) | $(ratio "$unpaced_pjlink" "$unpaced_send") | – (the bridge's own cost) |
| PJLink \`POWR ?\` round trip, simulator paced at 9600 bit/s, median of $(tool paced9600_pjlink_rtt_n) | $(scaled "%.2f ms" "$paced_pjlink" 1000) | tavo-send \`status\`: $(scaled "%.2f ms" "$paced_send" 1000) | $(ratio "$paced_pjlink" "$paced_send") | ratio ≤ 1.2 |
| 50 PJLink clients × 20 \`POWR ?\` at once, simulator paced at 19200 bit/s: queries answered per second (identical queries waiting share one exchange) | $(scaled "%.0f/s" "$clients_qps" 1) | a real line at 19200 bit/s (7 characters, 3.65 ms a query): $(fmt "%.0f/s" "$line_limit_qps") | $(ratio "$clients_qps" "$line_limit_qps") | – |
| of which the wait for one answer (queue and line), median / p99 | $(fmt "%.1f" "$(tool paced19200_pjlink_clients_latency_median_ms)") / $(fmt "%.1f ms" "$(tool paced19200_pjlink_clients_latency_p99_ms)") | – | – | – |
| the simulated line at 19200 bit/s (only the reply is paced): tavo-send \`status\` round trip, median, and the queries per second it allows | $(scaled "%.2f ms" "$paced19200_send" 1000) | $(fmt "%.0f/s" "$sim_limit_qps") | – | – |
| 50 PJLink clients × 20 \`POWR ?\`, simulator unpaced: queries answered per second | $(scaled "%.0f/s" "$(tool unpaced_pjlink_clients_qps)" 1) | – | – | – |
| tavo-server's line front end: tavo-send \`status\` through \`socket://\` to the server, simulator paced at 9600 bit/s, median of $(tool send_rtt_line_9600_ok) | $(scaled "%.2f ms" "$line_send" 1000) | tavo-send \`status\` on the line itself: $(scaled "%.2f ms" "$paced_send" 1000) | $(ratio "$line_send" "$paced_send") | ratio ≤ 1.1 |
| tavo-server resident memory at rest (PJLink, line and HTTP on, poll every 10 s) | $(mib "$(tool server_memory_rest_kib)") | – | – | – |
| … with every front end at its cap of idle clients ($(tool server_memory_caps_connections) connections: 256 PJLink, 16 line, 64 HTTP) | $(mib "$(tool server_memory_caps_kib)") | at rest: $(mib "$(tool server_memory_rest_kib)") | $(ratio "$(tool server_memory_caps_kib)" "$(tool server_memory_rest_kib)") | – |
| … while one PJLink client writes $(tool server_memory_flood_megabytes) MB of queries and reads nothing, peak; the client closed by the server after $(scaled "%.1f s" "$(tool server_memory_flood_closed_after_ms)" 1000) | $(mib "$(tool server_memory_flood_peak_kib)") | at rest: $(mib "$(tool server_memory_rest_kib)") | $(ratio "$(tool server_memory_flood_peak_kib)" "$(tool server_memory_rest_kib)") | flat |
| the poll's share of line time, simulator paced at 9600 bit/s, lamp status and lamp mode every tenth round: every 1 s (measured over $(tool poll_poll_wall_seconds) s) / every 10 s (the default, a tenth) | $(fmt "%.2f %%" "$(awk -v x="$(tool poll_poll_share)" 'BEGIN { print x * 100 }')") / $(fmt "%.3f %%" "$(awk -v x="$(tool poll_poll_share)" 'BEGIN { print x * 10 }')") | – | – | – |
| \`GET /api/status\` answered per second to 50 keep-alive clients, each asking again on its answer (tavo-server alone; the machine shared) | $(fmt "%.0f/s" "$(tool http_rate_rps)") | the earlier HTTP side (Qt HTTP Server), same machine: 1751/s | $(ratio "$(tool http_rate_rps)" 1751) | – |
| tavo-server resident memory at rest (HTTP on), before the abuses below | $(mib "$(tool http_abuse_rest_kib)") | – | – | – |
| … at most, while a client sends a 200 MiB body (answered $(tool http_abuse_body_answer | tr -d '\r')) | $(mib "$(tool http_abuse_body_kib)") | at rest: $(mib "$(tool http_abuse_rest_kib)") | $(ratio "$(tool http_abuse_body_kib)" "$(tool http_abuse_rest_kib)") | within 32 MiB |
| … at most, while a client sends 10,000 pipelined \`GET /api/catalogues\` and reads nothing | $(mib "$(tool http_abuse_pipelined_kib)") | at rest: $(mib "$(tool http_abuse_rest_kib)") | $(ratio "$(tool http_abuse_pipelined_kib)" "$(tool http_abuse_rest_kib)") | within 32 MiB |
| … at most, over 1,000 events sockets opened and dropped | $(mib "$(tool http_abuse_websockets_kib)") | at rest: $(mib "$(tool http_abuse_rest_kib)") | $(ratio "$(tool http_abuse_websockets_kib)" "$(tool http_abuse_rest_kib)") | within 32 MiB |
| … at most, under 64 clients sending their heads 3 bytes every 100 ms ($(tool http_abuse_slow_open) still open after 2 s) | $(mib "$(tool http_abuse_slow_kib)") | at rest: $(mib "$(tool http_abuse_rest_kib)") | $(ratio "$(tool http_abuse_slow_kib)" "$(tool http_abuse_rest_kib)") | within 32 MiB |
| a power command's acknowledgement (the answer to \`POST /api/commands\`) to every front end showing the new power state (events, \`/api/status\`, \`/metrics\`, MQTT; no poll), simulator paced at 9600 bit/s, median / worst of $(tool follow_follow_n) | $(fmt "%.0f" "$(tool follow_follow_all_median_ms)") / $(fmt "%.0f ms" "$(tool follow_follow_all_max_ms)") | – | – | < 2000 ms |
| of which each front end, median: events / \`/api/status\` / \`/metrics\` / MQTT; PJLink \`POWR ?\` disagreeing afterwards | $(fmt "%.0f" "$(tool follow_follow_events_median_ms)") / $(fmt "%.0f" "$(tool follow_follow_status_median_ms)") / $(fmt "%.0f" "$(tool follow_follow_metrics_median_ms)") / $(fmt "%.0f ms" "$(tool follow_follow_mqtt_median_ms)"); $(tool follow_follow_pjlink_disagrees) | – | – | – |
| a \`/metrics\` scrape on one connection, median / p99 of $(tool metrics_get_n) ($(tool metrics_get_bytes) bytes) | $(scaled "%.0f" "$(tool metrics_get_median_us)" 1) / $(scaled "%.0f µs" "$(tool metrics_get_p99_us)" 1) | – | – | – |
| tavo-server's page in headless Chromium on loopback: a click on "Status" (the mouse event sent to the browser) to CR0 arriving at the simulator, median (N=$(page clicks)) | $(scaled "%.2f ms" "$(page click_to_line_median_us)" 1000) | – | – | – |
| that click to the line, p99 | $(scaled "%.2f ms" "$(page click_to_line_p99_us)" 1000) | – | – | – |
| one exchange fanned out to $(page fanout_streams) open events sockets: the command's arrival at the simulator to the last socket holding the exchange, median (N=$(page fanouts)) | $(scaled "%.2f ms" "$(page fanout_last_median_us)" 1000) | – | – | < 100 ms |
| that fan-out, p99 | $(scaled "%.2f ms" "$(page fanout_last_p99_us)" 1000) | – | – | < 100 ms |
| the page's first load: bytes received, all $(page first_load_requests) requests (page, style, script, icon, panel and catalogue tables) | $(scaled "%.1f KiB" "$(page first_load_bytes)" 1024) | – | – | ≤ 100 KiB |
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
    echo "- console programs: the simulator on a pty (9600 bit/s unless paced otherwise), or on 100 loopback TCP ports;" \
        "tavo-send's start-up and the bare program's timed by tavo-bench spawn from fork to the first whole line read off" \
        "their stdout pipe, taking turns, warm cache, one warm-up each not counted; PJLink timed by a client in tavo-bench" \
        "(QTcpSocket, Nagle off) from the write of \"%1POWR ?\" to the answer's CR, one warm-up query not counted;" \
        "tavo-send's round trip is the median of the \"ms\" of one \`tavo-send --json\` run of $QUERIES status commands;" \
        "100 projectors one at a time: the wall time of a shell loop of 100 tavo-send runs"
    if [[ ${SKIP_TOOLS:-} != 1 ]]; then
        echo "- console programs' answers: tavo-send start-ups printing \"Stand by\" $(tool send_start_right)," \
            "bare program printing \"80\" $(tool bare_start_right); 100-projector runs ending with status 0:" \
            "$(grep -c '^exit_status 0$' "$work/fleet.txt" 2>/dev/null || true) of $(spawn_count fleet exit_status)," \
            "one-at-a-time runs failing: $(tool fleet_one_at_a_time_failures); PJLink answers other than a power state:" \
            "$(tool unpaced_pjlink_rtt_errors) / $(tool paced9600_pjlink_rtt_errors) (round trips unpaced / 9600)," \
            "$(tool unpaced_pjlink_clients_errors) / $(tool paced19200_pjlink_clients_errors) (50 clients unpaced / 19200)"
    fi
    failures=$(($(failed tavo) + $(failed peer) + $(failed floor)))
    echo "- page: tavo-server and the simulator on a pty, unpaced; Debian's Chromium $(dpkg-query -W -f='${Version}' chromium 2>/dev/null || echo "?")," \
        "headless at 1280x900, driven by puppeteer-core over DevTools; each click (press and release sent to the browser) after the last" \
        "exchange ended, one warm-up not counted; arrivals stamped by the simulator's --log-times on the monotonic clock the" \
        "measuring Node process reads; the 50 events sockets are ws clients in that process; first load as the browser's" \
        "DevTools counts the bytes received"
    ((failures == 0)) || echo "- launches that showed no window: tavo-control $(failed tavo), $peer $(failed peer), floor $(failed floor)"
    echo
    echo "$table"
} >"$root/bench/results.md"

echo "$table"
note "written to bench/results.md"
