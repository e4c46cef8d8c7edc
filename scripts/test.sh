#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, runs every test,
# then builds, installs, checks and purges the Debian package.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset ci
cmake --build --preset ci
# The window tests run offscreen; the X11 tests start their own Xvfb.
QT_QPA_PLATFORM=offscreen ctest --preset ci --timeout 300 -j2
# clang-tidy and clang-format over the sources as the CI build compiled them.
scripts/lint.sh build/ci
# The same tests built with the address and undefined-behaviour sanitizers; a
# finding ends its test with a failure (the asan test preset sets the options).
cmake --preset asan
cmake --build --preset asan
ctest --preset asan
# The Debian package: built from the same build, installed, checked and purged.
scripts/package-test.sh build/ci
