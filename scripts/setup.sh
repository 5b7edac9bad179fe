#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets TAPEWAY up on a Debian machine and builds it.
#   scripts/setup.sh run    install what is missing, build, start the program
#                           (the dialog; without a display tapeway-cli demo)
#   scripts/setup.sh test   install what is missing, build, run every test (those
#                           labelled postgresql inside pg_virtualenv, against a
#                           throw-away PostgreSQL server)
#   scripts/setup.sh sanitize
#                           the core and its tests built with AddressSanitizer and
#                           UndefinedBehaviorSanitizer in a second build directory,
#                           the tests run there; any report fails
#   scripts/setup.sh fuzz [seconds]
#                           builds the libFuzzer targets with clang and runs each
#                           for the given time (default 600 s)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TAPEWAY_BUILD_DIR:-$here/build}
sanitize_build=${TAPEWAY_SANITIZE_BUILD_DIR:-$here/build-sanitize}
fuzz_build=${TAPEWAY_FUZZ_BUILD_DIR:-$here/build-fuzz}
mode=${1:-run}

packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-serialport-dev libqt6svg6 libgl-dev
          libgtest-dev fonts-wqy-microhei qt6-translations-l10n libqt6sql6-sqlite libqt6sql6-psql
          postgresql postgresql-common ser2net qt6-httpserver-dev qt6-websockets-dev chromium)
# The office view's browser test drives chromium with playwright-core from npm.
command -v npm >/dev/null || packages+=(nodejs npm)

install_missing() {
    local missing=()
    if [ "$mode" = fuzz ]; then
        packages+=(clang libclang-rt-dev)
    fi
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

# Every test; those labelled postgresql get a throw-away server from
# pg_virtualenv (-t: its cluster in a temporary directory, also as root).
run_tests() {
    ctest --output-on-failure -j"$(nproc)" -LE postgresql
    if command -v pg_virtualenv >/dev/null; then
        pg_virtualenv -t ctest --output-on-failure -L postgresql
    else
        ctest --output-on-failure -L postgresql # reported as skipped
    fi
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
    run_tests
    ;;
sanitize)
    install_missing
    # Only the core, the test helpers and the core tests: no dialog.
    cmake -S "$here" -B "$sanitize_build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DTAPEWAY_BUILD_GUI=OFF -DTAPEWAY_SANITIZE=ON
    cmake --build "$sanitize_build" -j"$(nproc)"
    cd "$sanitize_build"
    export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:strict_string_checks=1
    export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
    run_tests
    ;;
fuzz)
    install_missing
    seconds=${2:-600}
    CXX=clang++ cmake -S "$here" -B "$fuzz_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTAPEWAY_BUILD_GUI=OFF -DTAPEWAY_BUILD_TESTS=OFF -DTAPEWAY_FUZZ=ON
    cmake --build "$fuzz_build" -j"$(nproc)"
    # Each target starts from its regression corpus; new inputs go to a
    # scratch corpus in the build directory, crashes to artifacts/. The
    # settings target writes files: memory-backed scratch space keeps it fast.
    [ -d /dev/shm ] && export TMPDIR=/dev/shm
    for target in fuzz_receive_protocol fuzz_ini_reader; do
        mkdir -p "$fuzz_build/corpus/$target" "$fuzz_build/artifacts"
        "$fuzz_build/fuzz/$target" -max_total_time="$seconds" \
            -artifact_prefix="$fuzz_build/artifacts/$target-" \
            "$fuzz_build/corpus/$target" "$here/tests/corpus/$target"
    done
    ;;
*)
    echo "usage: $0 run|test|sanitize|fuzz [seconds]" >&2
    exit 2
    ;;
esac
