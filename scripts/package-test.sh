#!/usr/bin/env bash
# Builds the Debian package from a build folder, checks it with lintian,
# installs it, checks files, groups and rights, runs the installed programs as
# an ordinary operator created for the test (the console offscreen, its boxes
# counted), verifies the systemd units, then purges the package and checks
# that nothing of it is left.
#
# Usage: scripts/package-test.sh [BUILD_FOLDER]   (default build/ci, already built)
# Needs root (it installs a package and creates a user); skips with a reason otherwise.
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

[ "$(id -u)" -eq 0 ] || skip "needs root to install a package and create a test user"
command -v apt-get >/dev/null && command -v dpkg >/dev/null || skip "not a Debian system"
if dpkg-query -W -f='${Status}' orvel-console 2>/dev/null | grep -q "installed"; then
    skip "orvel-console is already installed here; the test would replace and purge it"
fi
[ ! -e /opt/orvel ] || skip "/opt/orvel exists (settings of an earlier installation); the test would change it"
[ -f "$build/CPackConfig.cmake" ] || fail "$build is not a configured build folder"

operator=orvelpkgtest
ini="/opt/orvel/console/Orvel Console.ini"
work=$(mktemp -d /tmp/orvel-package-test.XXXXXX)
chmod 755 "$work"
console_pid=""
cleanup() {
    [ -n "$console_pid" ] && kill "$console_pid" 2>/dev/null || true
    if id "$operator" >/dev/null 2>&1; then userdel -r "$operator" >/dev/null 2>&1 || true; fi
    if dpkg-query -W -f='${Status}' orvel-console 2>/dev/null | grep -q "installed\|config-files"; then
        apt-get purge -y -qq orvel-console >/dev/null 2>&1 || true
    fi
    # The settings file purge keeps (an operator's): made by this test, so it goes.
    rm -f "$ini"
    rmdir /opt/orvel/console /opt/orvel 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# --- Build and lint ------------------------------------------------------------
step "building the package in $build"
cmake --build "$build" --target Orvel_Console Orvel_Server orvel-reg orvel-run orvel_dist_files
(cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null)
deb=$(ls "$work"/deb/orvel-console_*.deb)
control=$(dpkg-deb --field "$deb" Version Depends)
echo "$control"
[[ "$control" == *libqt6widgets6* && "$control" == *libsystemd0* ]] ||
    fail "Depends lacks the libraries of the programs"

step "lintian"
lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian reports errors"

# --- Install -------------------------------------------------------------------
# Whatever the machine held before (a store of another run) is set aside.
[ -e /var/lib/orvel ] && mv /var/lib/orvel "$work/var-lib-orvel.before"
restore_store() {
    rm -rf /var/lib/orvel
    [ -e "$work/var-lib-orvel.before" ] && mv "$work/var-lib-orvel.before" /var/lib/orvel
    return 0
}
trap 'restore_store; cleanup' EXIT

step "apt-get install $deb"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null

mode_of() { stat -c '%a %U %G' "$1"; }
expect_mode() {
    local got
    got=$(mode_of "$1")
    [ "$got" = "$2" ] || fail "$1 is $got, expected $2"
}

step "files, groups and rights"
for file in /usr/bin/Orvel_Server /usr/bin/orvel-reg /usr/bin/orvel-run \
    /opt/orvel/console/Orvel_Console \
    /usr/lib/systemd/user/orvel-server.service /lib/systemd/system/orvel-server@.service \
    /usr/lib/tmpfiles.d/orvel.conf /usr/lib/sysusers.d/orvel.conf \
    /etc/xdg/autostart/orvel-run.desktop /usr/share/applications/orvel-console.desktop \
    /usr/share/icons/hicolor/scalable/apps/orvel-console.svg \
    /usr/share/man/man1/Orvel_Console.1.gz /usr/share/man/man1/Orvel_Server.1.gz \
    /usr/share/man/man1/orvel-reg.1.gz /usr/share/man/man1/orvel-run.1.gz \
    /usr/share/doc/orvel-console/operator-guide.md /usr/share/doc/orvel-console/copyright; do
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

step "systemd-analyze verify"
units=$work/units
mkdir -p "$units"
cp /usr/lib/systemd/user/orvel-server.service "$units/"
cp /lib/systemd/system/orvel-server@.service "$units/orvel-server@$operator.service"
man_check=no
command -v man >/dev/null && man_check=yes
systemd-analyze verify --man=$man_check "$units/orvel-server.service" \
    "$units/orvel-server@$operator.service" || fail "systemd-analyze verify reports problems"

# --- Every program answers --help and --version ----------------------------------
step "--help and --version"
for program in Orvel_Console Orvel_Server orvel-reg orvel-run; do
    /usr/bin/$program --help >/dev/null || fail "$program --help"
    /usr/bin/$program --version | grep -q "^$program [0-9]" || fail "$program --version"
done

# --- An administrator sets the machine up once ------------------------------------
# run_console USER BOXES: starts the installed console offscreen as USER with
# its boxes recorded in BOXES, waits until it has written its settings file,
# then ends it.
run_console() {
    local user=$1 boxes=$2 before after
    before=$(stat -c %Y.%s "$ini" 2>/dev/null || echo none)
    : >"$boxes"
    chmod 666 "$boxes"
    runuser -u "$user" -- env -i PATH=/usr/bin:/bin HOME="$(getent passwd "$user" | cut -d: -f6)" \
        QT_QPA_PLATFORM=offscreen ORVEL_RECORD_BOXES="$boxes" \
        XDG_RUNTIME_DIR="$work/runtime-$user" /usr/bin/Orvel_Console >"$work/console-$user.log" 2>&1 &
    console_pid=$!
    # The settings are written once the main window has loaded (after the splash).
    for _ in $(seq 1 300); do
        after=$(stat -c %Y.%s "$ini" 2>/dev/null || echo none)
        if grep -q "Settings Not Saved" "$boxes" || { [ "$after" != none ] && [ "$after" != "$before" ] &&
            grep -q "LastUpdate" "$ini"; }; then
            break
        fi
        kill -0 "$console_pid" 2>/dev/null || break
        sleep 0.1
    done
    sleep 0.5
    kill "$console_pid" 2>/dev/null || true
    wait "$console_pid" 2>/dev/null || true
    console_pid=""
}
for user in root "$operator"; do mkdir -p "$work/runtime-$user"; done

step "the administrator's first start"
run_console root "$work/boxes-root.txt"
cat "$work/boxes-root.txt"
[ -f "$ini" ] || fail "the administrator's start made no settings file"

# --- An operator on the configured machine ------------------------------------------
step "an operator's start on the configured machine"
useradd --create-home --groups orvel "$operator"
chown "$operator" "$work/runtime-$operator"
chmod 700 "$work/runtime-$operator"
run_console "$operator" "$work/boxes-operator.txt"
if [ -s "$work/boxes-operator.txt" ]; then
    cat "$work/boxes-operator.txt"
    cat "$work/console-$operator.log"
    fail "the operator's start showed $(wc -l <"$work/boxes-operator.txt") box(es)"
fi
[ -f "$ini" ] || fail "the settings file is gone"
grep -q "LastUpdate" "$ini" || fail "the settings file lost its contents"

step "the operator reads the store but may not change it"
runuser -u "$operator" -- orvel-reg query 'HKCR\Orvel_Server.clsOrvel_Server\Clsid' >/dev/null ||
    fail "the operator cannot read the store"
if runuser -u "$operator" -- orvel-reg add 'HKLM\SOFTWARE\Quarlen\PackageTest' /f >/dev/null 2>&1; then
    fail "the operator could write the store"
fi
orvel-reg add 'HKLM\SOFTWARE\Quarlen\PackageTest' /f >/dev/null || fail "root cannot write the store"
orvel-reg delete 'HKLM\SOFTWARE\Quarlen\PackageTest' /f >/dev/null
usermod --append --groups orvel-admin "$operator"
runuser -u "$operator" -- orvel-reg add 'HKLM\SOFTWARE\Quarlen\PackageTest' /f >/dev/null ||
    fail "a member of orvel-admin cannot write the store"
runuser -u "$operator" -- orvel-reg delete 'HKLM\SOFTWARE\Quarlen\PackageTest' /f >/dev/null
gpasswd --delete "$operator" orvel-admin >/dev/null
runuser -u "$operator" -- orvel-run >/dev/null || fail "orvel-run as the operator"

step "the suite server as the operator, and --status"
set +e
runuser -u "$operator" -- Orvel_Server --status >/dev/null 2>&1
status=$?
set -e
[ "$status" -eq 3 ] || fail "--status without a server gave $status, expected 3"
# The readiness notice a Type=notify unit waits for, received as systemd would.
notify_socket=$work/notify.sock
python3 - "$notify_socket" "$operator" >"$work/notify.txt" <<'PY' &
import os, pwd, socket, sys
path, user = sys.argv[1], sys.argv[2]
listener = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
listener.bind(path)
os.chown(path, pwd.getpwnam(user).pw_uid, -1)
listener.settimeout(20)
try:
    while True:
        message = listener.recv(4096).decode()
        print(message, flush=True)
        if "READY=1" in message:
            break
except socket.timeout:
    pass
PY
notify_pid=$!
for _ in $(seq 1 100); do [ -S "$notify_socket" ] && break; sleep 0.1; done
runuser -u "$operator" -- env -i PATH=/usr/bin:/bin NOTIFY_SOCKET="$notify_socket" \
    Orvel_Server 2>"$work/server.log" &
server_pid=$!
wait "$notify_pid" || true
grep -q "READY=1" "$work/notify.txt" || {
    cat "$work/server.log"
    fail "the server sent no readiness notice"
}
runuser -u "$operator" -- Orvel_Server --status >"$work/status.txt" || {
    cat "$work/server.log"
    fail "--status with the server running"
}
grep -q "^Clients:" "$work/status.txt" || fail "--status printed no clients line"
kill "$server_pid"
wait "$server_pid" || true

# --- Purge ------------------------------------------------------------------------------
step "purge"
rm -f "$ini"  # operator-made: purge keeps it, the test removes it to check the rest
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq orvel-console >/dev/null
for path in /opt/orvel /usr/bin/Orvel_Console /usr/bin/Orvel_Server /usr/bin/orvel-reg \
    /usr/bin/orvel-run /etc/xdg/autostart/orvel-run.desktop /usr/lib/tmpfiles.d/orvel.conf \
    /usr/lib/sysusers.d/orvel.conf /usr/share/doc/orvel-console /run/orvel \
    /lib/systemd/system/orvel-server@.service /usr/lib/systemd/user/orvel-server.service; do
    [ ! -e "$path" ] && [ ! -L "$path" ] || fail "$path is left after purge"
done
if dpkg-statoverride --list /opt/orvel/console >/dev/null 2>&1; then
    fail "the folder's rights override is left after purge"
fi
[ -f /var/lib/orvel/registry.db ] || fail "purge removed the registry store"

step "passed"
