#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Packages already present are left alone; apt runs only when one is missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config clang-format clang-tidy
    qt6-base-dev
    libgrpc++-dev protobuf-compiler-grpc libprotobuf-dev protobuf-compiler
    libsqlite3-dev libsystemd-dev libssl-dev openssl
    libxcb1-dev libxcb-ewmh-dev libxcb-icccm4-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth openbox x11-utils
    # the Debian package: its build, its check, the SVG icon plug-in it depends on,
    # and the fresh Debian 12 root the package test installs it into
    dpkg-dev file lintian libqt6svg6 systemd python3 debootstrap
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: every package is present"
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
echo "install-deps: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
