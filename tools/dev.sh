#!/usr/bin/env bash
# Sets up a Debian 12 machine for Tarnby, builds it, and runs the simulator or
# the tests.
#
#   tools/dev.sh run        install what is missing, build, start the simulator
#   tools/dev.sh test       install what is missing, build, run the whole test suite,
#                           then the sanitizer runs below
#   tools/dev.sh sanitize   the whole test suite under ASan+UBSan, and every test that
#                           starts a thread or opens a device (label "threads") under TSan
#   tools/dev.sh bench      install what is missing, build and run every benchmark, and print
#                           each figure as a ratio against its baseline of the same run
#                           (options after it go to tools/bench.sh; see its --help)
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; }

packages=(
    cmake g++ make pkg-config
    qt6-base-dev libjpeg-dev fonts-dejavu-core
    libxcb1-dev          # the window asks the X server itself whether there is a display
    libgtest-dev libgmock-dev libbenchmark-dev
    qt6-serialport-dev   # the benchmarks measure the serial component against it
    xvfb xauth           # running the window without a desktop
    python3              # tests: the serial library's example on a pseudo-terminal, a settings file read back
    dpkg-dev file        # tests: package_deb makes the Debian packages (dpkg-shlibdeps finds what they
                         # need; CPack looks at each binary with file first)
    xdotool imagemagick  # tests: tools/menu_walk.sh clicks through the real window and crops its pictures
    lrzsz                # tests/terminal: the serial terminal's XMODEM and YMODEM against sx, sb, rx and rb
    libvterm-dev         # tests and benchmarks: the terminal control against a reference VT100
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
    # Warnings are errors here, so that none goes unnoticed.
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNBY_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
}

sanitize() {
    echo "== The test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
    build build-asan -DTARNBY_SANITIZE=ON -DTARNBY_BUILD_BENCH=OFF
    ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 600
    # The window is left out: Qt's widgets are not built for the race checker,
    # which would see their own hand-overs as races.
    echo "== Every test that starts a thread or opens a device, under ThreadSanitizer"
    build build-tsan -DTARNBY_TSAN=ON -DTARNBY_BUILD_BENCH=OFF -DTARNBY_BUILD_APP=OFF
    ctest --test-dir build-tsan --output-on-failure -j"$jobs" --timeout 600 -L threads
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
    sanitize
    ;;
sanitize)
    install_missing
    sanitize
    ;;
bench)
    install_missing
    shift
    exec tools/bench.sh "$@"
    ;;
-h | --help)
    usage
    ;;
--version)
    echo "dev.sh (Tarnby) $(sed -n 's/^project(tarnby VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
    ;;
"")
    echo "dev.sh: which command? (run, test, sanitize or bench; see --help)" >&2
    exit 2
    ;;
*)
    echo "dev.sh: unknown command '$1' (run, test, sanitize or bench; see --help)" >&2
    exit 2
    ;;
esac
