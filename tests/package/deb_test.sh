#!/usr/bin/env bash
# The Debian packages as a user gets them. A build of the libraries alone
# (shared), configured twice without rebuilding anything, makes the runtime
# and development packages; the build under test makes the programs'
# package. Their contents are unpacked into a folder of their own (dpkg-deb
# -x, not installed into this machine), and a CMake project and a pkg-config
# command line are built against them and run on a pseudo-terminal.
#
#   deb_test.sh BUILD_DIR SOURCE_DIR WORK_DIR CMAKE CPACK CXX PYTHON
set -euo pipefail
build=$1 source=$2 work=$3 cmake=$4 cpack=$5 cxx=$6 python=$7

fail() { echo "FAIL: $*"; exit 1; }
# Shows the log of a step that failed.
step() {  # step <log> <command...>
    local log=$1
    shift
    "$@" >"$log" 2>&1 || { cat "$log"; fail "$*"; }
}

rm -rf "$work"
mkdir -p "$work"
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

# The libraries alone need no firmware, GoogleTest or libjpeg; configured
# again, nothing is built again.
lib=$work/lib
step "$work/lib-configure.log" "$cmake" -S "$source" -B "$lib" -G Ninja -DTARNBY_LIBRARY_ONLY=ON \
    -DBUILD_SHARED_LIBS=ON -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$cxx" "${launcher[@]}"
step "$work/lib-build.log" "$cmake" --build "$lib"
[ ! -e "$lib/firmware" ] || fail "the library-only build configured the firmware"
step "$work/lib-configure-again.log" "$cmake" -S "$source" -B "$lib"
step "$work/lib-build-again.log" "$cmake" --build "$lib" -- -d explain
grep -q "no work to do" "$work/lib-build-again.log" || { cat "$work/lib-build-again.log"; fail "configuring again rebuilt"; }

step "$work/lib-cpack.log" "$cpack" -G DEB -B "$work/debs" --config "$lib/CPackConfig.cmake"
step "$work/programs-cpack.log" "$cpack" -G DEB -B "$work/program-debs" --config "$build/CPackConfig.cmake"
runtime=$(ls "$work"/debs/libtarnby-cport0.*.deb)
dev=$(ls "$work"/debs/libtarnby-cport-dev_*.deb)
programs=$(ls "$work"/program-debs/tarnby_*.deb)
dpkg-deb -f "$dev" Depends | grep -q "libtarnby-cport0" || fail "the development package does not need the runtime"
dpkg-deb -f "$programs" Depends | grep -q "libqt6" || fail "the programs' package names none of its libraries"

root=$work/root
for deb in "$runtime" "$dev" "$programs"; do
    dpkg-deb -x "$deb" "$root"
done
for file in usr/lib/libtarnby_cport.so.0.1 usr/lib/libtarnby_cport.so usr/include/tarnby/cport/port_info.h \
    usr/lib/cmake/TarnbyCport/TarnbyCportConfig.cmake usr/lib/pkgconfig/tarnby-cport.pc \
    usr/share/doc/libtarnby-cport-dev/cport.md usr/lib/tarnby/assets/front_panel.jpg; do
    [ -e "$root/$file" ] || fail "no $file in the packages"
done
for program in tarnby-sensor-emulator tarnby-terminal; do
    step "$work/$program.log" "$root/usr/bin/$program" --version
done

# Unpacked, not installed: the dynamic linker is told where they are.
export LD_LIBRARY_PATH=$root/usr/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
export QT_QPA_PLATFORM=offscreen

step "$work/cmake-configure.log" "$cmake" -S "$source/examples/monitor" -B "$work/cmake-monitor" \
    -DCMAKE_PREFIX_PATH="$root/usr" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Release
step "$work/cmake-build.log" "$cmake" --build "$work/cmake-monitor"
"$python" "$source/tests/package/check_monitor.py" "$work/cmake-monitor/cport_monitor"

export PKG_CONFIG_PATH=$root/usr/lib/pkgconfig
# shellcheck disable=SC2046 # the flags are words
step "$work/pkg-config-build.log" "$cxx" -std=c++20 -o "$work/pkg-config-monitor" \
    "$source/examples/monitor/monitor.cpp" $(pkg-config --cflags --libs tarnby-cport)
"$python" "$source/tests/package/check_monitor.py" "$work/pkg-config-monitor"
# shellcheck disable=SC2046
step "$work/components-build.log" "$cxx" -std=c++20 -o "$work/components" \
    "$source/tests/package/components/main.cpp" $(pkg-config --cflags --libs tarnby-cport-extras-widgets)
"$work/components"
echo "packages: built, unpacked, built against and run"
