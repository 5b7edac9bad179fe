#!/usr/bin/env bash
# Sets TAPEWAY up on a Debian machine and builds it.
#   scripts/setup.sh run    install what is missing, build, start the program
#                           (the dialog; without a display tapeway-cli demo)
#   scripts/setup.sh test   install what is missing, build, run every test
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TAPEWAY_BUILD_DIR:-$here/build}
mode=${1:-run}

packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-serialport-dev libqt6svg6 libgl-dev
          libgtest-dev fonts-wqy-microhei)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
}

build() {
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    cmake --build "$build" -j"$(nproc)"
}

case "$mode" in
run)
    install_missing
    build
    # With a display the dialog; without one the demo shows the main job
    # over a virtual line.
    if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
        exec "$build/src/tapeway"
    fi
    echo "No display found: running tapeway-cli demo instead of the dialog."
    exec "$build/src/cli/tapeway-cli" demo
    ;;
test)
    install_missing
    build
    cd "$build"
    ctest --output-on-failure -j"$(nproc)"
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
