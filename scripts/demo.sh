#!/usr/bin/env bash
# Installs what is missing, builds, lays out the demo installation in ./demo
# and starts the demo suite server and the console there.
#   scripts/demo.sh            build, set up and start
#   scripts/demo.sh remote     also start a second console, from the remote
#                              console's own installation (./demo/remote-console),
#                              to reach this computer's suite server over TLS
#   ORVEL_DEMO_ROOT=DIR        put the demo installation elsewhere
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

scripts/install-deps.sh
cmake --preset ci >/dev/null
cmake --build --preset ci

export ORVEL_ROOT="${ORVEL_DEMO_ROOT:-$top/demo}"
programs="$top/build/ci/bin"

"$programs/orvel-demo-setup" --programs "$programs" --ini "$top/scripts/demo/CORVANE.INI"
"$programs/Orvel_Server" --regserver

# TLS for the remote road on this one computer: the site authority and the
# server's certificate (kept once made), and a console bundle for this computer
# installed in a second installation root. A remote-role console keeps its own
# registry store (the role moves class registrations), so the remote console
# of the demo runs from there.
if [ ! -e "$ORVEL_ROOT/tls/ca.crt" ]; then
    "$programs/orvel-cert" init
fi
remote_root="$ORVEL_ROOT/remote-console"
computer=$(hostname)
if [ ! -e "$remote_root/tls/console/console.crt" ]; then
    "$programs/orvel-cert" bundle "$computer" >/dev/null
    ORVEL_ROOT="$remote_root" "$programs/orvel-demo-setup" --programs "$programs" \
        --ini "$top/scripts/demo/CORVANE.INI" >/dev/null
    ORVEL_ROOT="$remote_root" "$programs/orvel-cert" install "$ORVEL_ROOT/tls/bundles/$computer"
fi
# The remote console's installation has a store of its own: the suite server's
# class registration goes there too, or that console says the server is missing.
ORVEL_ROOT="$remote_root" "$programs/Orvel_Server" --regserver >/dev/null
# The demo's suite server serves remote consoles: the four values the console's
# DCOM correction writes on a real installation, so its check finds them right.
ole='HKLM\SOFTWARE\Microsoft\Ole'
"$programs/orvel-reg" add "$ole" /v EnableDCOM /t REG_SZ /d Y /f >/dev/null
"$programs/orvel-reg" add "$ole" /v EnableRemoteConnect /t REG_SZ /d Y /f >/dev/null
"$programs/orvel-reg" add "$ole" /v LegacyAuthenticationLevel /t REG_DWORD /d 1 /f >/dev/null
"$programs/orvel-reg" add "$ole" /v LegacyImpersonationLevel /t REG_DWORD /d 3 /f >/dev/null

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "The demo installation is ready in $ORVEL_ROOT, but the Orvel Console needs a display."
    echo "Run this command again from a desktop session (or set DISPLAY, e.g. under Xvfb)."
    exit 1
fi

# One suite server per demo installation: a second one refuses to start and
# the console uses the one that runs.
"$programs/Orvel_Server" 2>>"$ORVEL_ROOT/suite-server.log" &
server_pid=$!
trap 'kill "$server_pid" 2>/dev/null; wait 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    [ -S "$ORVEL_ROOT/run/suite-server.sock" ] && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
done
echo "Suite server log: $ORVEL_ROOT/suite-server.log"

if [ "${1:-}" = remote ]; then
    # The remote console first reaches a suite server of its own installation
    # (as on a Remote PC), then the file server's over TLS.
    ORVEL_ROOT="$remote_root" "$programs/Orvel_Server" 2>>"$remote_root/suite-server.log" &
    remote_server_pid=$!
    trap 'kill "$server_pid" "$remote_server_pid" 2>/dev/null; wait 2>/dev/null || true' EXIT
    for _ in $(seq 50); do
        [ -S "$remote_root/run/suite-server.sock" ] && break
        kill -0 "$remote_server_pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "Remote console: choose the remote role, then type 127.0.0.1 or $computer at the"
    echo "remote-name prompt; it connects over TLS with the bundle in $remote_root/tls/console."
    echo "Its own suite server's log: $remote_root/suite-server.log"
    ORVEL_ROOT="$remote_root" "$remote_root/console/Orvel_Console" &
fi
"$ORVEL_ROOT/console/Orvel_Console"
