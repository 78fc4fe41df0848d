#!/usr/bin/env bash
# The Debian package as a user gets it: built by scripts/package.sh, its control data and
# file list, its desktop entry, AppStream data and systemd unit validated, lintian's
# verdict, its programs run from the unpacked files against the projector simulator, and
# the upgrade from 1.0 installed with dpkg; then the arm64 package, cross-built: its architecture,
# its dependencies and lintian's verdict. Run by .ci/run, as root.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# The upgrade checks install packages, and the server writes under /run: both happen in a
# mount namespace of this test's own, on overlays it drops, so the machine keeps its
# packages, users and services.
if [[ ${TAVO_PACKAGE_TEST_PRIVATE:-} != 1 ]]; then
    if ! unshare --mount true 2>/dev/null; then
        echo "test_package.sh: run it as root: it needs a mount namespace of its own" >&2
        exit 1
    fi
    exec unshare --mount -- env TAVO_PACKAGE_TEST_PRIVATE=1 "$0" "$@"
fi
"$root/scripts/bootstrap.sh" --with-tools

work=$(mktemp -d /tmp/tavo-package.XXXXXX)
pids=()
scratch=
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    if [[ -n $scratch ]]; then scratch_end; fi
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

dpkg-deb --contents "$deb" | awk '{ print $NF }' | sed 's|^\./|/|' >"$work/contents"
# The instances' option files are the administrator's: the one conffile is the alerts'
# thresholds, and nothing is left of 1.0's tavo-pjlink (whose conffile the scripts take away).
conffiles=$(dpkg-deb --info "$deb" conffiles 2>/dev/null || true)
if [[ $conffiles == /etc/tavo-control/prometheus/tavo-thresholds.yml ]] && ! grep -q pjlink "$work/contents"; then
    pass "the thresholds the only conffile, and no file of tavo-pjlink"
else
    fail "the thresholds the only conffile, and no file of tavo-pjlink (conffiles: $conffiles)"
    grep pjlink "$work/contents" || true
fi
expected=(
    /usr/bin/tavo-control /usr/bin/tavo-projector-sim /usr/bin/tavo-send /usr/bin/tavo-server
    /usr/share/applications/tavo-control.desktop
    /usr/share/icons/hicolor/scalable/apps/tavo-control.svg
    /usr/share/metainfo/org.example.tavo_control.metainfo.xml
    /lib/systemd/system/tavo-server@.service
    /etc/tavo-server/
    /usr/share/doc/tavo-control/examples/tavo-server.conf
    /usr/lib/sysusers.d/tavo-server.conf
    /usr/share/doc/tavo-control/copyright
    /usr/share/tavo-control/prometheus/tavo-alerts.yml /etc/tavo-control/prometheus/tavo-thresholds.yml
    /usr/share/tavo-control/grafana/tavo-fleet.json
)
for page in tavo-control tavo-send tavo-server tavo-projector-sim; do
    expected+=("/usr/share/man/man1/$page.1.gz")
done
for size in 16 32 48 64 128 256; do
    expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/tavo-control.png")
done
missing=()
for path in "${expected[@]}"; do grep -qx "$path" "$work/contents" || missing+=("$path"); done
if ((${#missing[@]} == 0)); then
    pass "programs, desktop entry, icons, metainfo, unit, example, alert rules and dashboard where they belong"
else
    fail "programs, desktop entry, icons, metainfo, unit, example, alert rules and dashboard where they belong (missing: ${missing[*]})"
fi
programs=$(grep -E '^/usr/bin/.' "$work/contents" | sort | tr '\n' ' ')
if [[ $programs == "/usr/bin/tavo-control /usr/bin/tavo-projector-sim /usr/bin/tavo-send /usr/bin/tavo-server " ]]; then
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
# that ExecStart is executable has something to find. An instance of the template is what
# systemd loads; its manual page is looked up in the package.
unit=$tree/lib/systemd/system/tavo-server@.service
mkdir "$work/unit"
sed "s|/usr/bin/tavo-server|$tree/usr/bin/tavo-server|" "$unit" >"$work/unit/tavo-server@.service"
if unit_report=$(MANPATH=$tree/usr/share/man systemd-analyze verify "$work/unit/tavo-server@hall.service" 2>&1); then
    pass "systemd-analyze verify tavo-server@hall.service"
else
    fail "systemd-analyze verify tavo-server@hall.service"
    echo "$unit_report"
fi
if lintian_report=$(lintian --fail-on error,warning "$deb" 2>&1); then
    pass "lintian: no error, no warning"
else
    fail "lintian: no error, no warning"
    echo "$lintian_report"
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
# grep reads every descriptor's name: one that stopped at the first match could kill the loop
# with SIGPIPE, which pipefail counts as a miss.
holds=no
for _ in $(seq 100); do
    if [[ -n $pty ]] && for fd in /proc/"$panel"/fd/*; do readlink "$fd"; done 2>/dev/null | grep -x "$pty" >/dev/null; then
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

# 6. The server as its unit runs it (the unit's UMask and LimitNOFILE) with every front end
# at its default connection cap, under a /run of its own: the records and lock files it
# leaves there are what the panel reads as a desktop user.
mount -t tmpfs tavo-run /run
mkdir -m 1777 /run/lock
limit=$(sed -n 's/^LimitNOFILE=//p' "$unit")
mask=$(sed -n 's/^UMask=//p' "$unit")
(umask "$mask" && exec prlimit --nofile="$limit" "$tree/usr/bin/tavo-server" --port "$work/projector" --baud 9600 \
    --pjlink 127.0.0.1:0 --line 127.0.0.1:0 --http 127.0.0.1:0 --poll 0 </dev/null >"$work/server.out" 2>&1) &
server=$!
pids+=("$server")
for _ in $(seq 100); do grep -q '^listening on .* for HTTP' "$work/server.out" && break; sleep 0.1; done
port_of() { sed -n "s/^listening on 127\.0\.0\.1:\([0-9]*\) for $1.*/\1/p" "$work/server.out"; }
pjlink_port=$(port_of PJLink)
line_port=$(port_of "the projector's")
http_port=$(port_of HTTP)
# The tavo_clients lines of one scrape, on the last free HTTP connection.
clients() {
    local fd line length=0
    exec {fd}<>"/dev/tcp/127.0.0.1/$http_port"
    printf 'GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n' >&"$fd"
    while IFS= read -r -t 2 -u "$fd" line && [[ $line != $'\r' ]]; do
        [[ $line =~ ^[Cc]ontent-[Ll]ength:\ *([0-9]+) ]] && length=${BASH_REMATCH[1]}
    done
    head -c "$length" <&"$fd" | grep '^tavo_clients{' | tr '\n' ' '
    exec {fd}>&-
}
held=()
if [[ -n $pjlink_port && -n $line_port && -n $http_port ]]; then
    for ((i = 0; i < 256; i++)); do exec {fd}<>"/dev/tcp/127.0.0.1/$pjlink_port" && held+=("$fd"); done
    for ((i = 0; i < 16; i++)); do exec {fd}<>"/dev/tcp/127.0.0.1/$line_port" && held+=("$fd"); done
    for ((i = 0; i < 63; i++)); do exec {fd}<>"/dev/tcp/127.0.0.1/$http_port" && held+=("$fd"); done
fi
full='tavo_clients{front_end="pjlink"} 256 tavo_clients{front_end="line"} 16 tavo_clients{front_end="http"} 64 '
seen=
for _ in $(seq 25); do
    seen=$(clients 2>/dev/null) || true
    [[ $seen == "$full"* ]] && break
    sleep 0.2
done
descriptors=$(find /proc/"$server"/fd -mindepth 1 2>/dev/null | wc -l)
if [[ $seen == "$full"* ]] && ((descriptors < limit)); then
    pass "LimitNOFILE=$limit holds every front end at its cap ($descriptors descriptors open)"
else
    fail "LimitNOFILE=$limit holds every front end at its cap ($descriptors descriptors open; metrics: ${seen:-none})"
    cat "$work/server.out"
fi
for fd in "${held[@]}"; do exec {fd}>&-; done
if [[ -n $(find /run/tavo-server -name '*.json' -perm -o=r) && -n $(find /run/lock -name 'LCK..*' -perm -o=r) ]]; then
    pass "the server's record in /run/tavo-server and its lock file are readable by every user"
else
    fail "the server's record in /run/tavo-server and its lock file are readable by every user"
    ls -l /run/tavo-server /run/lock
fi
kill "$server" 2>/dev/null || true
wait "$server" 2>/dev/null || true
umount /run

# 7. Upgrades from 1.0, installed with dpkg on overlays of /etc, /usr and /var that are
# dropped afterwards, and with an empty /run: PID 1 is not systemd, so the scripts only
# write files, as in a chroot. The 1.0 they start from is a stand-in with what the upgrade
# meets of it: the tavo-pjlink service, its conffile, its user and its scripts.
cp -r "$root/tests/package/tavo-control-1.0" "$work/old"
chmod -R go-w "$work/old"
# Of this machine's architecture, as the package that replaces it: dpkg-maintscript-helper
# looks for the conffile's owner under that architecture.
sed -i "s/^Architecture: .*/Architecture: $arch/" "$work/old/DEBIAN/control"
old_deb=$work/tavo-control_1.0_$arch.deb
dpkg-deb --root-owner-group --build "$work/old" "$old_deb" >/dev/null
scratch_begin() {
    scratch=$(mktemp -d "$work/scratch.XXXXXX")
    mount -t tmpfs tavo-scratch "$scratch"
    for dir in etc usr var; do
        mkdir "$scratch/$dir" "$scratch/$dir.work"
        mount -t overlay tavo-scratch -o "lowerdir=/$dir,upperdir=$scratch/$dir,workdir=$scratch/$dir.work" "/$dir"
    done
    mount -t tmpfs tavo-scratch /run
    mkdir -m 1777 /run/lock
    # Whatever this machine has installed of tavo-control is not the 1.0 to start from.
    if dpkg-query -W tavo-control >/dev/null 2>&1; then dpkg --purge tavo-control >/dev/null 2>&1; fi
    dpkg -i "$old_deb" >"$work/install-1.0.out" 2>&1
}
scratch_end() {
    # Lazily: umount itself runs from the overlay of /usr.
    umount --lazy /run /var /usr /etc
    umount --lazy "$scratch"
    scratch=
}
# What 1.0's README asked of an administrator: the options, and "systemctl enable".
configure_1_0() {
    sed -i "s|^TAVO_PJLINK_OPTS=.*|TAVO_PJLINK_OPTS=\"$1\"|" /etc/default/tavo-pjlink
}
enable_1_0() { systemctl enable tavo-pjlink.service >/dev/null 2>&1; }
upgrade() { dpkg -i "$deb" >"$work/upgrade.out" 2>&1 || cat "$work/upgrade.out"; }
# Every file of systemd's or deb-systemd-helper's that still names the old unit.
old_unit_traces() {
    find /lib/systemd/system /etc/systemd /var/lib/systemd -name 'tavo-pjlink.service*' 2>/dev/null
}
instance_links() { find /etc/systemd -name 'tavo-server@*' 2>/dev/null; }

# An enabled service with options and a password file as 1.0 advised: owner root, group
# tavo-pjlink, mode 640.
scratch_begin
options='--port /dev/ttyUSB0 --listen 0.0.0.0:4352 --password-file /etc/tavo-pjlink/password'
configure_1_0 "$options"
install -d /etc/tavo-pjlink
install -m 640 -g tavo-pjlink /dev/null /etc/tavo-pjlink/password
echo secret >/etc/tavo-pjlink/password
enable_1_0
upgrade
traces=$(old_unit_traces)
if [[ -z $traces ]]; then
    pass "enabled 1.0 upgraded: nothing left of tavo-pjlink.service"
else
    fail "enabled 1.0 upgraded: nothing left of tavo-pjlink.service: $traces"
fi
if [[ ! -e /etc/default/tavo-pjlink ]] && grep -qxF "TAVO_SERVER_OPTS=\"$options\"" /etc/tavo-server/pjlink.conf 2>/dev/null &&
    ! dpkg-query -W -f='${Conffiles}' tavo-control | grep -q tavo-pjlink; then
    pass "enabled 1.0 upgraded: the conffile gone, its options in /etc/tavo-server/pjlink.conf"
else
    fail "enabled 1.0 upgraded: the conffile gone, its options in /etc/tavo-server/pjlink.conf"
    ls -l /etc/default/tavo-pjlink* /etc/tavo-server 2>&1 || true
    cat /etc/tavo-server/pjlink.conf 2>&1 || true
    dpkg-query -W -f='${Conffiles}\n' tavo-control
fi
enabled=$(systemctl is-enabled tavo-server@pjlink.service 2>&1) || true
if [[ $enabled == enabled ]]; then
    pass "enabled 1.0 upgraded: tavo-server@pjlink is enabled"
else
    fail "enabled 1.0 upgraded: tavo-server@pjlink is enabled (systemctl is-enabled: $enabled)"
fi
# As systemd starts the service: its user, that user's groups.
if setpriv --reuid=tavo-server --regid=tavo-server --init-groups test -r /etc/tavo-pjlink/password &&
    id -nG tavo-server | grep -qw dialout; then
    pass "enabled 1.0 upgraded: the user tavo-server, in dialout, can read the password file"
else
    fail "enabled 1.0 upgraded: the user tavo-server, in dialout, can read the password file ($(id tavo-server 2>&1))"
fi
if grep -q 'tavo-server@pjlink' "$work/upgrade.out"; then
    pass "enabled 1.0 upgraded: the upgrade says the service goes on as tavo-server@pjlink"
else
    fail "enabled 1.0 upgraded: the upgrade says the service goes on as tavo-server@pjlink"
    cat "$work/upgrade.out"
fi
# Purged with a second instance of the administrator's own, enabled.
echo 'TAVO_SERVER_OPTS="--port /dev/ttyUSB1 --pjlink 127.0.0.1:4353 --http 127.0.0.1:8736"' >/etc/tavo-server/lab.conf
systemctl enable tavo-server@lab.service >/dev/null 2>&1
dpkg --purge tavo-control >"$work/purge.out" 2>&1 || cat "$work/purge.out"
links=$(instance_links)
if [[ -z $links && ! -e /etc/tavo-server/pjlink.conf && -f /etc/tavo-server/lab.conf && -f /etc/tavo-pjlink/password ]]; then
    pass "purge: no instance enabled, the options taken over from 1.0 gone, the administrator's files kept"
else
    fail "purge: no instance enabled, the options taken over from 1.0 gone, the administrator's files kept"
    echo "${links:-no links}"
    ls -l /etc/tavo-server /etc/tavo-pjlink 2>&1 || true
fi
scratch_end

# Enabled, with a password file only its owner tavo-pjlink could read.
scratch_begin
configure_1_0 '--port /dev/ttyUSB0 --password-file /etc/tavo-pjlink/password'
install -d /etc/tavo-pjlink
install -m 600 -o tavo-pjlink /dev/null /etc/tavo-pjlink/password
enable_1_0
upgrade
if grep -q 'cannot read /etc/tavo-pjlink/password' "$work/upgrade.out" &&
    grep -q 'systemctl restart tavo-server@pjlink' "$work/upgrade.out"; then
    pass "enabled 1.0 upgraded: a password file tavo-server cannot read is named, with what to do"
else
    fail "enabled 1.0 upgraded: a password file tavo-server cannot read is named, with what to do"
    cat "$work/upgrade.out"
fi
scratch_end

# Never configured nor enabled: the upgrade leaves nothing of 1.0 and enables nothing, and
# purge leaves nothing either.
scratch_begin
upgrade
leftovers=$(old_unit_traces; instance_links; ls /etc/default/tavo-pjlink* /etc/tavo-server/* 2>/dev/null || true)
dpkg --purge tavo-control >"$work/purge.out" 2>&1 || cat "$work/purge.out"
if [[ -z $leftovers && ! -e /etc/tavo-server ]] && ! grep -q 'tavo-pjlink is now' "$work/upgrade.out"; then
    pass "1.0 as installed upgraded quietly: nothing of it left, nothing enabled; purge removes /etc/tavo-server"
else
    fail "1.0 as installed upgraded quietly: nothing of it left, nothing enabled; purge removes /etc/tavo-server"
    echo "${leftovers:-no leftovers}"
    cat "$work/upgrade.out"
fi
scratch_end

# Options set but never enabled: they are kept aside, and the upgrade says where to put them.
scratch_begin
configure_1_0 '--port /dev/ttyUSB0'
upgrade
if [[ -f /etc/default/tavo-pjlink.dpkg-bak && -z $(instance_links) && ! -e /etc/tavo-server/pjlink.conf ]] &&
    grep -q 'tavo-pjlink.dpkg-bak' "$work/upgrade.out" && grep -q '/etc/tavo-server/NAME.conf' "$work/upgrade.out"; then
    pass "configured, not enabled 1.0 upgraded: its options kept as .dpkg-bak, nothing enabled, the way on told"
else
    fail "configured, not enabled 1.0 upgraded: its options kept as .dpkg-bak, nothing enabled, the way on told"
    cat "$work/upgrade.out"
fi
scratch_end

# 8. The arm64 package, cross-built for a Raspberry Pi's Debian 12-based OS: packed for arm64,
# its dependencies the Debian packages of the arm64 libraries its programs load (dpkg-shlibdeps
# looked them up, not this machine's), and lintian's verdict. The build is the one that
# scripts/test.sh --arch arm64 ran its tests on, when it is there.
arm_deb=$("$root/scripts/package.sh" --arch arm64 "$work/arm64")
if [[ $(basename "$arm_deb") == "tavo-control_${version}_arm64.deb" && $(dpkg-deb --field "$arm_deb" Architecture) == arm64 ]]; then
    pass "arm64 package built as tavo-control_${version}_arm64.deb, Architecture: arm64"
else
    fail "arm64 package built as tavo-control_${version}_arm64.deb, Architecture: arm64 (got '$arm_deb')"
fi
arm_tree=$work/arm64/root
dpkg -x "$arm_deb" "$arm_tree"
arm_depends=" $(dpkg-deb --field "$arm_deb" Depends | sed 's/([^)]*)//g; s/[,|]/ /g' | tr -s ' ') "
strays=()
# Outputs are read whole, not piped into grep -q: under pipefail, a writer that grep leaves
# early dies of SIGPIPE and turns a match into a failure.
for program in "$arm_tree"/usr/bin/*; do
    kind=$(file -b "$program")
    [[ $kind == *'ARM aarch64'* ]] || strays+=("$(basename "$program"): $kind")
    dynamic=$(readelf -d "$program")
    for soname in $(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' <<<"$dynamic"); do
        # Its arm64 package (dpkg knows libc's under /lib, the others' under /usr/lib), as
        # Debian's archive has it for arm64, and named in Depends.
        owner=$(dpkg -S "/lib/aarch64-linux-gnu/$soname" "/usr/lib/aarch64-linux-gnu/$soname" 2>/dev/null |
            sed -n 's/^\([^:]*\):arm64: .*/\1/p' | head -n 1) || true
        archive=$(apt-cache madison "$owner:arm64" 2>/dev/null) || true
        if [[ -z $owner || $arm_depends != *" $owner "* || $archive != *'arm64 Packages'* ]]; then
            strays+=("$(basename "$program") loads $soname (${owner:-in no arm64 package})")
        fi
    done
    if [[ $dynamic =~ \((RUNPATH|RPATH)\) ]]; then strays+=("$(basename "$program") has a run path"); fi
done
if ((${#strays[@]} == 0)); then
    pass "arm64 programs load only Debian's arm64 libraries, each package in Depends"
else
    fail "arm64 programs load only Debian's arm64 libraries, each package in Depends"
    printf '  %s\n' "${strays[@]}"
    echo "  Depends:$arm_depends"
fi
if lintian_report=$(lintian --fail-on error,warning "$arm_deb" 2>&1); then
    pass "arm64 package, lintian: no error, no warning"
else
    fail "arm64 package, lintian: no error, no warning"
    echo "$lintian_report"
fi

echo "package: $passed passed, $failed failed"
((failed == 0))
