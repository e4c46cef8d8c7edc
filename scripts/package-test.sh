#!/usr/bin/env bash
# Builds the Debian package from a build folder, checks it with lintian and
# systemd-analyze, and installs it into a fresh Debian 12 root (debootstrap
# minbase, no systemd running) where it plays an operator's first day: the
# groups, folders and rights; the suite server started by an ordinary member
# as the operator's guide says; --status as root, member, non-member and with
# no server; the socket folder after a reboot; orvel-cert init; the console
# under Xvfb as a member and as a non-member, with the boxes each sees taken
# from the console's own record; the log-on runner for both; then a purge
# while the member's server runs, which must stop it and leave only what the
# guide says it keeps.
#
# The base root (debootstrap) and the downloaded packages are kept under
# BUILD_FOLDER/package-test and reused; every run installs into a new copy.
#
# Usage: scripts/package-test.sh [BUILD_FOLDER]   (default build/ci, already configured)
# Needs root, debootstrap, Xvfb, lintian and the Debian mirror of the
# machine's apt sources; skips with a reason otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/ci}

skip() {
    echo "package-test: SKIPPED: $*"
    exit 0
}
fail() {
    echo "package-test: FAILED: $*" >&2
    exit 1
}
step() { echo "package-test: $*"; }

[ "$(id -u)" -eq 0 ] || skip "needs root (debootstrap, chroot, mounts)"
for tool in debootstrap Xvfb lintian unshare chroot dpkg-deb systemd-analyze; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done
[ -f "$build/CPackConfig.cmake" ] || fail "$build is not a configured build folder"
build=$(realpath "$build")

cache=$build/package-test
mkdir -p "$cache/archives/partial"
work=$(mktemp -d /tmp/orvel-package-test.XXXXXX)
root=$work/root
xvfb_pid=""
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    # Every mount was made in the test's own mount namespace and went with it.
    rm -rf --one-file-system "$work"
}
trap cleanup EXIT

# --- Build and lint ------------------------------------------------------------
step "building the package in $build"
cmake --build "$build" --target Orvel_Console Orvel_Server orvel-reg orvel-run orvel-cert \
    orvel_dist_files
(cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null)
deb=$(ls "$work"/deb/orvel-console_*.deb)
control=$(dpkg-deb --field "$deb" Version Depends)
echo "$control"
for needed in libqt6widgets6 libsystemd0 openssl qt6-qpa-plugins; do
    [[ "$control" == *"$needed"* ]] || fail "Depends lacks $needed"
done

step "lintian --pedantic"
lintian --pedantic --display-info --fail-on error,warning,pedantic --tag-display-limit 0 "$deb" ||
    fail "lintian reports errors or warnings"

step "systemd-analyze verify"
mkdir -p "$work/unpacked" "$work/units"
dpkg-deb -x "$deb" "$work/unpacked"
# The program named by its unpacked path: verify also checks that it can run.
sed "s|=/usr/bin/|=$work/unpacked/usr/bin/|" "$work/unpacked/usr/lib/systemd/user/orvel-server.service" \
    >"$work/units/orvel-server.service"
sed "s|=/usr/bin/|=$work/unpacked/usr/bin/|" "$work/unpacked/lib/systemd/system/orvel-server@.service" \
    >"$work/units/orvel-server@operator.service"
systemd-analyze verify --man=no "$work/units/orvel-server.service" \
    "$work/units/orvel-server@operator.service" || fail "systemd-analyze verify reports problems"

# --- A fresh Debian 12 root ------------------------------------------------------
base=$cache/debian12
if [ ! -f "$base/.complete" ]; then
    rm -rf --one-file-system "$base"
    mirror=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1)
    mirror=${mirror:-http://deb.debian.org/debian}
    step "debootstrap --variant=minbase bookworm from $mirror (kept in $base)"
    if ! debootstrap --variant=minbase --cache-dir="$cache/archives" bookworm "$base" "$mirror" \
        >"$cache/debootstrap.log" 2>&1; then
        tail -n 20 "$cache/debootstrap.log"
        fail "debootstrap failed (log: $cache/debootstrap.log)"
    fi
    # The machine's sources (updates and security too), so that the libraries
    # the programs were built against are there in their versions.
    rm -f "$base/etc/apt/sources.list"
    cp /etc/apt/sources.list.d/*.sources "$base/etc/apt/sources.list.d/" 2>/dev/null || true
    [ -f /etc/apt/sources.list ] && cp /etc/apt/sources.list "$base/etc/apt/"
    cp /etc/resolv.conf "$base/etc/resolv.conf"
    chroot "$base" apt-get update -qq >"$cache/apt-update.log" 2>&1 ||
        fail "apt-get update in the root (log: $cache/apt-update.log)"
    touch "$base/.complete"
fi
step "a fresh copy of the Debian 12 root"
cp -a "$base" "$root"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mkdir -p "$root/orvel-test" "$root/tmp/.X11-unix"
cp "$deb" "$root/orvel-test/orvel-console.deb"
cat >"$root/orvel-test/inside.sh" <<'INSIDE'
set -eu
export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8
t=/orvel-test
ini="/opt/orvel/console/Orvel Console.ini"
member=orvelop
guest=orvelguest
fail() {
    echo "package-test: FAILED: $*" >&2
    exit 1
}
step() { echo "package-test: inside: $*"; }
expect_mode() {
    got=$(stat -c '%a %U %G' "$1") || fail "$1 is missing"
    [ "$got" = "$2" ] || fail "$1 is $got, expected $2"
}
# as USER COMMAND...: runs COMMAND as USER with a log-in's plain environment.
as() {
    user=$1
    shift
    runuser -u "$user" -- env -i PATH=/usr/bin:/bin HOME="/home/$user" USER="$user" \
        DISPLAY="$DISPLAY" "$@"
}
# status_of USER: the exit status of Orvel_Server --status run as USER.
status_of() {
    if [ "$1" = root ]; then
        Orvel_Server --status >"$t/status-$1.txt" 2>&1 && return 0 || return $?
    fi
    as "$1" Orvel_Server --status >"$t/status-$1.txt" 2>&1 && return 0 || return $?
}
expect_status() {
    code=0
    status_of "$1" || code=$?
    [ "$code" -eq "$2" ] || { cat "$t/status-$1.txt"; fail "--status as $1 gave $code, expected $2"; }
}
# await CONDITION...: polls CONDITION for up to 120 seconds (a loaded machine).
await() {
    i=0
    while ! "$@"; do
        i=$((i + 1))
        [ "$i" -lt 1200 ] || return 1
        sleep 0.1
    done
}
no_server() { [ -z "$(pidof Orvel_Server)" ]; }
member_server_answers() { status_of "$member"; }

step "apt-get install (Recommends included)"
apt-get install -y -q "$t/orvel-console.deb" >"$t/apt.log" 2>&1 || {
    tail -n 30 "$t/apt.log"
    fail "apt-get install"
}

step "files, groups and rights"
for file in /usr/bin/Orvel_Server /usr/bin/orvel-reg /usr/bin/orvel-run /usr/bin/orvel-cert \
    /opt/orvel/console/Orvel_Console /usr/lib/systemd/user/orvel-server.service \
    /lib/systemd/system/orvel-server@.service /usr/lib/tmpfiles.d/orvel.conf \
    /usr/lib/sysusers.d/orvel.conf /etc/xdg/autostart/orvel-run.desktop \
    /usr/share/applications/orvel-console.desktop /usr/share/doc/orvel-console/operator-guide.md; do
    [ -e "$file" ] || fail "$file is missing"
done
[ "$(readlink /usr/bin/Orvel_Console)" = /opt/orvel/console/Orvel_Console ] ||
    fail "/usr/bin/Orvel_Console is not the link to the console"
getent group orvel >/dev/null || fail "group orvel missing"
getent group orvel-admin >/dev/null || fail "group orvel-admin missing"
expect_mode /opt/orvel/console "3775 root orvel"
expect_mode /var/lib/orvel "2775 root orvel-admin"
expect_mode /var/lib/orvel/registry.db "664 root orvel-admin"
expect_mode /run/orvel "2770 root orvel"
for program in Orvel_Console Orvel_Server orvel-reg orvel-run orvel-cert; do
    "$program" --help >/dev/null || fail "$program --help"
    "$program" --version | grep -q "^$program [0-9]" || fail "$program --version"
done

useradd --create-home --uid 59001 --groups orvel "$member"
useradd --create-home --uid 59002 "$guest"

step "the suite server, started by a member as the guide says, and --status"
expect_status root 3
as "$member" sh -c 'Orvel_Server 2>>"$HOME/orvel-server.log" &'
await member_server_answers || { cat "/home/$member/orvel-server.log"; fail "the member's server does not answer"; }
expect_status root 0
expect_status "$member" 0
expect_status "$guest" 4
as "$member" sh -c 'kill $(pidof Orvel_Server)'
await no_server || fail "the guide's kill did not stop the server"
expect_status "$member" 3

step "the socket folder after a reboot without systemd"
rm -rf /run/orvel
code=0
as "$member" Orvel_Server 2>"$t/no-folder.log" || code=$?
[ "$code" -ne 0 ] || fail "the member's server started without its socket folder"
grep -q "cannot create the socket folder /run/orvel: Permission denied (as root: install -d -o root -g orvel -m 2770 /run/orvel)" \
    "$t/no-folder.log" || { cat "$t/no-folder.log"; fail "no hint how to make the socket folder"; }
Orvel_Server 2>"$t/root-server.log" &
await test -S /run/orvel/suite-server.sock || fail "root's server made no socket"
expect_mode /run/orvel "2770 root orvel"
kill $(pidof Orvel_Server)
await no_server || fail "root's server did not stop"
rm -rf /run/orvel
install -d -o root -g orvel -m 2770 /run/orvel
expect_mode /run/orvel "2770 root orvel"

step "orvel-cert init"
orvel-cert init >"$t/cert.log" 2>&1 || { cat "$t/cert.log"; fail "orvel-cert init"; }
[ -n "$(ls /var/lib/orvel/tls)" ] || fail "orvel-cert init made nothing in /var/lib/orvel/tls"

# run_console USER: the installed console under the X server as USER, its
# boxes recorded in $t/boxes-USER.txt, until it has written its settings file
# (a member), or has told a non-member, or has ended; then it is closed as the
# system closes it (SIGTERM) and must end by itself, with status 0. The
# console's own process id is kept: ending only the shell that started it
# would leave it running into the next user's step.
settings_written() { grep -q LastUpdate "$ini" 2>/dev/null && [ "$ini" -nt "$t/console-started" ]; }
console_runs() { kill -0 "$console_pid" 2>/dev/null; }
console_done() {
    settings_written || grep -q "Not an Orvel Operator" "$boxes" || ! console_runs
}
run_console() {
    boxes=$t/boxes-$1.txt
    for file in "$boxes" "$t/console-$1.pid" "$t/console-$1.status"; do
        : >"$file"
        chmod 666 "$file"
    done
    touch "$t/console-started"
    sleep 1 # the settings file's time must be able to differ
    # shellcheck disable=SC2016 # expanded by the user's shell
    as "$1" env ORVEL_RECORD_BOXES="$boxes" XDG_RUNTIME_DIR="/tmp/runtime-$1" \
        sh -c '/usr/bin/Orvel_Console & echo $! >"$0"; wait $!; echo $? >"$1"' \
        "$t/console-$1.pid" "$t/console-$1.status" >"$t/console-$1.log" 2>&1 &
    starter_pid=$!
    await test -s "$t/console-$1.pid" || fail "the console of $1 did not start"
    console_pid=$(cat "$t/console-$1.pid")
    await console_done || true
    sleep 1 # a box that follows at once is recorded too
    kill "$console_pid" 2>/dev/null || true
    await test -s "$t/console-$1.status" || fail "the console of $1 did not end on SIGTERM"
    wait "$starter_pid" || true
    echo "boxes of $1:"
    sed 's/^/    /' "$boxes"
    [ "$(cat "$t/console-$1.status")" = 0 ] || {
        cat "$t/console-$1.log"
        fail "the console of $1 ended with status $(cat "$t/console-$1.status")"
    }
}
for user in "$member" "$guest"; do
    install -d -o "$user" -m 700 "/tmp/runtime-$user"
done

step "a member's first start, with the member's server running"
as "$member" sh -c 'Orvel_Server 2>>"$HOME/orvel-server.log" &'
await member_server_answers || fail "the member's server does not answer"
run_console "$member"
[ "$(wc -l <"$boxes")" -eq 1 ] && grep -q "^MsgBox	Create System File	" "$boxes" || {
    cat "$t/console-$member.log"
    fail "the member's first start showed other boxes than \"Create System File\""
}
settings_written || fail "the member's first start wrote no settings file"

step "the guide's troubleshooting commands without systemd, as the member"
for command in 'Orvel_Server --status' 'ls -l /run/orvel' 'tail -n 20 ~/orvel-server.log' 'id' \
    'ls -ld /run/orvel' 'tail -n 50 ~/orvel-server.log' \
    'orvel-reg query "HKCR\AppID" /s' 'ls -l /var/lib/orvel/' 'ls -ld /opt/orvel/console' \
    'ls -l "/opt/orvel/console/Orvel Console.ini"' 'dpkg-statoverride --list /opt/orvel/console'; do
    as "$member" sh -c "$command" >>"$t/guide-commands.log" 2>&1 || fail "the guide's \"$command\" failed"
done
# grep finds nothing in a clean log (status 1); only a failure to run is an error.
code=0
as "$member" sh -c 'grep -i -e refus -e denied ~/orvel-server.log' >>"$t/guide-commands.log" 2>&1 || code=$?
[ "$code" -le 1 ] || fail "the guide's grep of the server log failed"

step "a non-member's start"
run_console "$guest"
# One box, saying what to ask the administrator for, and none of the boxes of
# what fails for them (the settings file, the activation values).
[ "$(wc -l <"$boxes")" -eq 1 ] &&
    grep -q "^MsgBox	Not an Orvel Operator	You are not a member of the group orvel.  Ask your administrator to add you (adduser $guest orvel), then log in again.$" "$boxes" || {
    cat "$t/console-$guest.log"
    fail "the non-member's start showed other boxes than \"Not an Orvel Operator\""
}

step "the log-on runner for a member and a non-member"
printf '#!/bin/sh\nid -un >>%s/log-on-runs\n' "$t" >/usr/local/bin/orvel-log-on-mark
chmod 755 /usr/local/bin/orvel-log-on-mark
: >"$t/log-on-runs"
chmod 666 "$t/log-on-runs"
orvel-reg add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run' /v PackageTest \
    /d /usr/local/bin/orvel-log-on-mark /f >/dev/null
as "$guest" orvel-run --log-on 2>"$t/log-on-guest.txt" || fail "orvel-run --log-on as a non-member failed"
grep -q "not a member of the group orvel: nothing started" "$t/log-on-guest.txt" ||
    fail "orvel-run --log-on did not say why it started nothing"
as "$member" orvel-run --log-on || fail "orvel-run --log-on as a member"
await grep -q "^$member$" "$t/log-on-runs" || fail "the member's log-on started nothing"
if grep -q "^$guest$" "$t/log-on-runs"; then fail "the non-member's log-on started the Run list"; fi
orvel-reg delete 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run' /v PackageTest /f >/dev/null
rm /usr/local/bin/orvel-log-on-mark

step "the non-member made a member as the guide says"
adduser "$guest" orvel >"$t/adduser.log" 2>&1 || { cat "$t/adduser.log"; fail "adduser $guest orvel"; }
expect_status "$guest" 0

step "purge while the member's server runs"
apt-get purge -y -q orvel-console >"$t/purge.log" 2>&1 || { cat "$t/purge.log"; fail "apt-get purge"; }
grep -q "orvel-console: stopping the suite server of $member" "$t/purge.log" ||
    { cat "$t/purge.log"; fail "the removal did not say it stopped the member's server"; }
no_server || fail "a suite server still runs after the purge"
for path in /opt/orvel/console/Orvel_Console /usr/bin/Orvel_Console /usr/bin/Orvel_Server \
    /usr/bin/orvel-reg /usr/bin/orvel-run /usr/bin/orvel-cert /etc/xdg/autostart/orvel-run.desktop \
    /usr/lib/tmpfiles.d/orvel.conf /usr/lib/sysusers.d/orvel.conf /usr/share/doc/orvel-console \
    /run/orvel /lib/systemd/system/orvel-server@.service /usr/lib/systemd/user/orvel-server.service; do
    [ ! -e "$path" ] && [ ! -L "$path" ] || fail "$path is left after purge"
done
if dpkg-statoverride --list /opt/orvel/console >/dev/null 2>&1; then
    fail "the folder's rights override is left after purge"
fi
# What the guide says stays: the registry store, the operators' settings file, the groups.
[ -f /var/lib/orvel/registry.db ] || fail "purge removed the registry store"
[ -f "$ini" ] || fail "purge removed the operators' settings file"
getent group orvel >/dev/null && getent group orvel-admin >/dev/null || fail "purge removed the groups"
[ "$(ls -A /opt/orvel/console)" = "Orvel Console.ini" ] ||
    fail "purge left more than the settings file in /opt/orvel/console: $(ls -A /opt/orvel/console)"
step passed
INSIDE

# --- An X server for the console -----------------------------------------------------
display=""
for n in $(seq 90 120); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
        display=$n
        break
    fi
done
[ -n "$display" ] || fail "no free X display number"
Xvfb ":$display" -nolisten tcp -screen 0 1280x1024x24 >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 600); do
    [ -S "/tmp/.X11-unix/X$display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
done
[ -S "/tmp/.X11-unix/X$display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"

# --- The first day, inside the root --------------------------------------------------
# Its own mount and process namespaces: /proc shows only the root's processes
# (so the guide's pidof and kill, and the package's search for running
# servers, meet nothing of this machine), and the mounts end with it.
step "installing into the root and playing the first day (display :$display)"
export ORVEL_TEST_DISPLAY=":$display" ORVEL_TEST_ROOT="$root" ORVEL_TEST_ARCHIVES="$cache/archives"
# shellcheck disable=SC2016 # expanded by the inner shell, from the exported names
unshare --mount --pid --fork --propagation private /bin/sh -euc '
    mount -t proc proc "$ORVEL_TEST_ROOT/proc"
    mount --rbind /dev "$ORVEL_TEST_ROOT/dev"
    mount --bind /tmp/.X11-unix "$ORVEL_TEST_ROOT/tmp/.X11-unix"
    mount --bind "$ORVEL_TEST_ARCHIVES" "$ORVEL_TEST_ROOT/var/cache/apt/archives"
    mount -t tmpfs -o mode=755 tmpfs "$ORVEL_TEST_ROOT/run"
    exec chroot "$ORVEL_TEST_ROOT" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
        DISPLAY="$ORVEL_TEST_DISPLAY" /bin/sh /orvel-test/inside.sh
' <<<"" 2>&1 | tee "$work/inside.log" || true
grep -q "^package-test: inside: passed$" "$work/inside.log" || fail "the first day in the root failed"
step "passed"
