#!/usr/bin/env bash
# The Debian package as a user gets it: built by scripts/package.sh, its control data and
# file list, its desktop entry, AppStream data and systemd unit validated, and its
# programs run from the unpacked files against the projector simulator. Run by .ci/run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/bootstrap.sh" --with-tools

work=$(mktemp -d /tmp/tavo-package.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1"; }

version=$(sed -n 's/^project(tavo-control VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
arch=$(dpkg --print-architecture)

# 1. Build it.
deb=$("$root/scripts/package.sh" "$work")
if [[ $(basename "$deb") == "tavo-control_${version}_${arch}.deb" && -f $deb ]]; then
    pass "package built as tavo-control_${version}_${arch}.deb"
else
    fail "package built as tavo-control_${version}_${arch}.deb (got '$deb')"
    echo "$passed passed, $failed failed"
    exit 1
fi

# 2. Control data and file list.
field() { dpkg-deb --field "$deb" "$1"; }
if [[ $(field Package) == tavo-control && $(field Version) == "$version" ]]; then
    pass "Package and Version are tavo-control $version"
else
    fail "Package and Version are tavo-control $version (got $(field Package) $(field Version))"
fi
depends=$(field Depends)
# Whole package names: "libqt6serialport6 (>= ...)" and "fonts-liberation2".
if grep -Eq '(^|, )libqt6serialport6( |,|$)' <<<"$depends" && grep -Eq '(^|, )fonts-liberation2( |,|$)' <<<"$depends"; then
    pass "Depends names Qt's serial-port library and the panel's font"
else
    fail "Depends names Qt's serial-port library and the panel's font (Depends: $depends)"
fi
if dpkg-deb --info "$deb" conffiles | grep -qx /etc/default/tavo-pjlink; then
    pass "the daemon's options file is a conffile"
else
    fail "the daemon's options file is a conffile"
fi

dpkg-deb --contents "$deb" | awk '{ print $NF }' | sed 's|^\./|/|' >"$work/contents"
expected=(
    /usr/bin/tavo-control /usr/bin/tavo-projector-sim /usr/bin/tavo-send /usr/bin/tavo-pjlink
    /usr/share/applications/tavo-control.desktop
    /usr/share/icons/hicolor/scalable/apps/tavo-control.svg
    /usr/share/metainfo/org.example.tavo_control.metainfo.xml
    /lib/systemd/system/tavo-pjlink.service
    /etc/default/tavo-pjlink
    /usr/lib/sysusers.d/tavo-pjlink.conf
    /usr/share/doc/tavo-control/copyright
)
for page in tavo-control tavo-send tavo-pjlink tavo-projector-sim; do
    expected+=("/usr/share/man/man1/$page.1.gz")
done
for size in 16 32 48 64 128 256; do
    expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/tavo-control.png")
done
missing=()
for path in "${expected[@]}"; do grep -qx "$path" "$work/contents" || missing+=("$path"); done
if ((${#missing[@]} == 0)); then
    pass "programs, desktop entry, icons, metainfo and unit where they belong"
else
    fail "programs, desktop entry, icons, metainfo and unit where they belong (missing: ${missing[*]})"
fi
programs=$(grep -E '^/usr/bin/.' "$work/contents" | sort | tr '\n' ' ')
if [[ $programs == "/usr/bin/tavo-control /usr/bin/tavo-pjlink /usr/bin/tavo-projector-sim /usr/bin/tavo-send " ]]; then
    pass "no program but the four (no tests, benchmarks or fuzzers)"
else
    fail "no program but the four (no tests, benchmarks or fuzzers): $programs"
fi

# 3. Unpack it.
tree=$work/root
dpkg -x "$deb" "$tree"

# 4. Validators, on the unpacked files.
desktop_report=$(desktop-file-validate "$tree/usr/share/applications/tavo-control.desktop" 2>&1) && desktop_status=0 ||
    desktop_status=$?
if ((desktop_status == 0)) && ! grep -Eq 'error:|warning:' <<<"$desktop_report"; then
    pass "desktop-file-validate: no error, no warning"
else
    fail "desktop-file-validate: no error, no warning"
    echo "$desktop_report"
fi
metainfo=$tree/usr/share/metainfo/org.example.tavo_control.metainfo.xml
if appstream_report=$(appstreamcli validate --no-net --strict "$metainfo" 2>&1); then
    pass "appstreamcli validate --no-net --strict"
else
    fail "appstreamcli validate --no-net --strict"
    echo "$appstream_report"
fi
if grep -q "<release version=\"$version\"" "$metainfo"; then
    pass "metainfo's release is version $version"
else
    fail "metainfo's release is version $version"
fi
# The unit names the installed program; point it at the unpacked one so that the check
# that ExecStart is executable has something to find.
mkdir "$work/unit"
sed "s|/usr/bin/tavo-pjlink|$tree/usr/bin/tavo-pjlink|" "$tree/lib/systemd/system/tavo-pjlink.service" \
    >"$work/unit/tavo-pjlink.service"
if unit_report=$(systemd-analyze verify "$work/unit/tavo-pjlink.service" 2>&1); then
    pass "systemd-analyze verify tavo-pjlink.service"
else
    fail "systemd-analyze verify tavo-pjlink.service"
    echo "$unit_report"
fi

# 5. The unpacked programs against the simulator, with a private TAVO.conf naming its pty.
"$tree/usr/bin/tavo-projector-sim" --pty --link "$work/projector" --log "$work/commands.log" \
    >"$work/sim.out" 2>"$work/sim.err" &
pids+=($!)
for _ in $(seq 100); do [[ -e $work/projector ]] && break; sleep 0.1; done
pty=$(readlink -f "$work/projector" || true)
mkdir -p "$work/config" && mkdir -m 700 "$work/runtime"
printf '[StartUP]\nComPort=1\nBaudRate=96\n\n[Ports]\nCOM1=%s\n' "$work/projector" >"$work/config/TAVO.conf"
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime

# The panel holds the port open from start-up on; had it failed to open it, the port dialog
# would be up instead and no descriptor would lead to the pty.
QT_QPA_PLATFORM=offscreen "$tree/usr/bin/tavo-control" </dev/null >"$work/panel.out" 2>&1 &
panel=$!
pids+=("$panel")
holds=no
for _ in $(seq 100); do
    if [[ -n $pty ]] && for fd in /proc/"$panel"/fd/*; do readlink "$fd"; done 2>/dev/null | grep -qx "$pty"; then
        holds=yes
        break
    fi
    kill -0 "$panel" 2>/dev/null || break
    sleep 0.1
done
if [[ $holds == yes ]]; then
    pass "tavo-control opens the port named in TAVO.conf (${pty:-no pty})"
else
    fail "tavo-control opens the port named in TAVO.conf (${pty:-no pty})"
    cat "$work/panel.out" "$work/sim.err"
fi
kill "$panel" 2>/dev/null || true
wait "$panel" 2>/dev/null || true

# The projector is in standby: "CR0" is answered "80", which reads "Stand by".
send_output=$(timeout 20 "$tree/usr/bin/tavo-send" --port "$work/projector" status 2>&1 </dev/null) || true
if grep -q 'Stand by' <<<"$send_output"; then
    pass "tavo-send status prints Stand by"
else
    fail "tavo-send status prints Stand by"
    echo "tavo-send printed: ${send_output:-nothing}"
fi

echo "package: $passed passed, $failed failed"
((failed == 0))
