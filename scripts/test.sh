#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset ci
cmake --build --preset ci
# The window tests run offscreen; the X11 tests start their own Xvfb.
QT_QPA_PLATFORM=offscreen ctest --preset ci --timeout 300 -j2
