#!/usr/bin/env bash
# Installs what is missing, builds, lays out the demo installation in ./demo
# and starts the demo suite server and the console there.
#   scripts/demo.sh            build, set up and start
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

"$ORVEL_ROOT/console/Orvel_Console"
