#!/usr/bin/env bash
# The serial port library as another program gets it: installed into a
# prefix of its own, then used from a separate CMake project (find_package)
# or with pkg-config, and the programs built so run against a
# pseudo-terminal.
#
#   package_test.sh cmake|pkg-config BUILD_DIR SOURCE_DIR WORK_DIR CMAKE CXX PYTHON
set -euo pipefail
way=$1 build=$2 source=$3 work=$4 cmake=$5 cxx=$6 python=$7

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
for component in cport_runtime cport; do
    "$cmake" --install "$build" --prefix "$prefix" --component "$component" >>"$work/install.log"
done

# Nothing of the source tree but the public headers.
unexpected=$(find "$prefix/include" -type f ! -path "$prefix/include/tarnby/cport/*" -o -name '*internal*' | head -1)
if [ -n "$unexpected" ]; then
    echo "FAIL: installed a header that is not public: $unexpected"
    exit 1
fi
libdir=$(dirname "$(find "$prefix" -name 'libtarnby_cport.*' | head -1)")
# A shared build's libraries are found by the programs run below.
export LD_LIBRARY_PATH=$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
export QT_QPA_PLATFORM=offscreen

case $way in
cmake)
    configure() {  # configure <source> <binary> [options]
        local from=$1 to=$2
        shift 2
        "$cmake" -S "$from" -B "$to" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_COMPILER="$cxx" \
            -DCMAKE_BUILD_TYPE=Release "$@" >"$to.log" 2>&1
    }
    configure "$source/examples/monitor" "$work/monitor"
    "$cmake" --build "$work/monitor" >"$work/monitor-build.log" 2>&1 || { cat "$work/monitor-build.log"; exit 1; }
    "$python" "$source/tests/package/check_monitor.py" "$work/monitor/cport_monitor"

    configure "$source/tests/package/components" "$work/components"
    "$cmake" --build "$work/components" >"$work/components-build.log" 2>&1 ||
        { cat "$work/components-build.log"; exit 1; }
    "$work/components/components"

    # A version the package is not.
    if configure "$source/tests/package/components" "$work/too-new" -DTARNBY_CPORT_WANTED_VERSION=9.0; then
        echo "FAIL: find_package(TarnbyCport 9.0) found version $(sed -n 's/.*PACKAGE_VERSION "\(.*\)".*/\1/p' \
            "$prefix"/lib*/cmake/TarnbyCport/TarnbyCportConfigVersion.cmake | head -1)"
        exit 1
    fi
    grep -q "TarnbyCport" "$work/too-new.log"
    ;;
pkg-config)
    export PKG_CONFIG_PATH=$libdir/pkgconfig
    for module in tarnby-cport tarnby-cport-extras tarnby-cport-extras-widgets; do
        pkg-config --exists --print-errors "$module"
    done
    # shellcheck disable=SC2046 # the flags are words
    "$cxx" -std=c++20 -o "$work/cport_monitor" "$source/examples/monitor/monitor.cpp" \
        $(pkg-config --cflags --libs tarnby-cport)
    "$python" "$source/tests/package/check_monitor.py" "$work/cport_monitor"
    # shellcheck disable=SC2046
    "$cxx" -std=c++20 -o "$work/components" "$source/tests/package/components/main.cpp" \
        $(pkg-config --cflags --libs tarnby-cport-extras-widgets)
    "$work/components"
    ;;
*)
    echo "package_test.sh: unknown way '$way' (cmake or pkg-config)" >&2
    exit 2
    ;;
esac
echo "package ($way): installed, built and run"
