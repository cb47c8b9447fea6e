#!/bin/sh
# The serial terminal's pictures in the README, made on Qt's offscreen
# platform (no display needed): the hex view on the sensor unit emulator,
# and a YMODEM transfer to lrzsz's rb in progress.
#   tools/terminal/pictures.sh [BUILD_DIR [IMAGE_DIR]]
set -eu
build=${1:-build}
images=${2:-docs/images}
terminal=$build/tools/terminal/terminal
pty_shell=$(cd "$build/tools/terminal" && pwd)/pty_shell
work=$(mktemp -d)
pids=""
cleanup() {
    for pid in $pids; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
export QT_QPA_PLATFORM=offscreen

# Waits for the first line of FILE: the device a program offers.
device() {
    for _ in $(seq 100); do
        [ -s "$1" ] && { head -1 "$1"; return 0; }
        sleep 0.1
    done
    echo "pictures.sh: no device in $1" >&2
    exit 1
}

"$build/tools/sensor_emulator/sensor_emulator" --ignore-input >"$work/emulator" &
pids="$pids $!"
"$terminal" --settings "$work/t.ini" --port "$(device "$work/emulator")" --baud 19200 --connect --hex \
    --timestamps-since-connect --delay 2500 --screenshot "$images/terminal_emulator.png"

mkdir "$work/rb"
head -c 2000000 /dev/urandom >"$work/flight-log.bin"
(cd "$work/rb" && exec "$pty_shell" -- rb >"$work/rb.device" 2>/dev/null) &
pids="$pids $!"
# The picture is taken while the transfer runs; closing the window then
# cancels it, so the status says it failed.
"$terminal" --settings "$work/t.ini" --port "$(device "$work/rb.device")" --baud 115200 \
    --send "$work/flight-log.bin" --protocol ymodem --delay 1500 --screenshot "$images/terminal_transfer.png" \
    >/dev/null 2>&1 || true
echo "pictures.sh: $images/terminal_emulator.png, $images/terminal_transfer.png"
