#!/usr/bin/env bash
# Sets up a Debian 12 machine for Tarnby, builds it, and runs the simulator or
# the tests.
#
#   tools/dev.sh run        install what is missing, build, start the simulator
#   tools/dev.sh test       install what is missing, build, run the whole test suite
#   tools/dev.sh sanitize   the test suite under ASan+UBSan, the serial tests under TSan
#   tools/dev.sh bench      build and run the benchmarks
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    cmake g++ make pkg-config
    qt6-base-dev libjpeg-dev fonts-dejavu-core
    libgtest-dev libgmock-dev libbenchmark-dev
    qt6-serialport-dev   # the benchmarks measure the serial component against it
    xvfb xauth           # running the window without a desktop
)

install_missing() {
    local missing=() p
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

jobs=$(nproc 2>/dev/null || echo 2)

build() {  # build <dir> [cmake options...]
    local dir=$1
    shift
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
}

case "${1:-}" in
run)
    install_missing
    build build
    exec ./build/app/tarnby
    ;;
test)
    install_missing
    build build
    ctest --test-dir build --output-on-failure -j"$jobs" --timeout 300
    ;;
sanitize)
    install_missing
    build build-asan -DTARNBY_SANITIZE=ON -DTARNBY_BUILD_BENCH=OFF
    ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 600
    build build-tsan -DTARNBY_TSAN=ON -DTARNBY_BUILD_BENCH=OFF -DTARNBY_BUILD_APP=OFF
    ctest --test-dir build-tsan --output-on-failure -j"$jobs" --timeout 600 -R 'cport|Cport|Com|e2e|Link'
    ;;
bench)
    install_missing
    build build-release -DCMAKE_BUILD_TYPE=Release
    for b in build-release/bench/*; do
        [ -x "$b" ] && [ -f "$b" ] && "$b"
    done
    ;;
*)
    sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
