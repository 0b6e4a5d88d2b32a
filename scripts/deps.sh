#!/usr/bin/env bash
# Installs the Debian 12 packages the console needs to build, test and run.
# Sourced by ./run and ./test; does nothing when everything is already there.
set -euo pipefail

PLV_PACKAGES=(build-essential cmake pkg-config qt6-base-dev qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev
              libhidapi-dev libgl-dev clang libclang-rt-14-dev help2man
              libmosquitto-dev mosquitto mosquitto-clients openssl)

plv_install_deps() {
    local missing=()
    for p in "${PLV_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}

plv_build() {   # plv_build DIR [target...]: everything when no target is named
    local dir=$1; shift
    cmake -S "$PLV_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    if [ $# -gt 0 ]; then
        cmake --build "$dir" -j"$(nproc)" --target "$@"
    else
        cmake --build "$dir" -j"$(nproc)"
    fi
}
