#!/bin/sh
# The serial terminal's pictures in the README, made on Qt's offscreen
# platform (no display needed): a shell and a full-screen program (dialog)
# in a demo folder with a neutral prompt, the hex view on the sensor unit
# emulator, and a YMODEM transfer to lrzsz's rb in progress.
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

# Each picture has a settings file of its own (a run keeps its view and
# times there). The shell and dialog run in a demo folder of their own, so that no path or
# name of the machine that makes the pictures shows in them.
demo=$work/demo
mkdir -p "$demo/logs"
touch "$demo/flight-log.bin" "$demo/notes.txt" "$demo/qr7.ini"
(cd "$demo" && LANG=C HOME=$demo exec "$pty_shell" --shell /bin/bash >"$work/shell.device" 2>/dev/null) &
pids="$pids $!"
"$terminal" --settings "$work/shell.ini" --port "$(device "$work/shell.device")" --connect --delay 6000 \
    --screenshot "$images/terminal_shell.png" --type 'PS1="$ "; clear\rls -F; echo $TERM\r'\
'tput bold; echo "bold text"; tput sgr0; tput rev; echo " reverse text "; tput sgr0; tput smul; echo "underlined"; tput sgr0\r'\
'for i in 1 2 3; do tput cup $((11+i)) $((36+i*8)); printf "(%d)" $i; done; tput cup 16 0\r'\
'printf "\\033[6n"; read -rsdR pos; echo "position report: ${pos#*[}"\r'

# dialog starts once the terminal has the line open, so its whole first
# screen arrives.
(cd "$demo" && LANG=C HOME=$demo exec "$pty_shell" -- sh -c 'sleep 1.5; exec dialog --backtitle "QR-7 sensor unit console" \
    --title "Port settings" --checklist "Choose the line settings:" 15 56 5 19200 "Baud rate" on \
    8N1 "Eight bits, no parity, one stop" on RTS/CTS "Hardware flow control" off \
    XON/XOFF "Software flow control" off Echo "Local echo" off' >"$work/dialog.device" 2>/dev/null) &
pids="$pids $!"
"$terminal" --settings "$work/dialog.ini" --port "$(device "$work/dialog.device")" --connect --delay 4000 \
    --screenshot "$images/terminal_fullscreen.png"

"$build/tools/sensor_emulator/sensor_emulator" --ignore-input >"$work/emulator" &
pids="$pids $!"
"$terminal" --settings "$work/emulator.ini" --port "$(device "$work/emulator")" --baud 19200 --connect --hex \
    --timestamps-since-connect --delay 2500 --screenshot "$images/terminal_emulator.png"

mkdir "$work/rb"
head -c 2000000 /dev/urandom >"$work/flight-log.bin"
(cd "$work/rb" && exec "$pty_shell" -- rb >"$work/rb.device" 2>/dev/null) &
pids="$pids $!"
# The picture is taken while the transfer runs; closing the window then
# cancels it, so the status says it failed.
"$terminal" --settings "$work/transfer.ini" --port "$(device "$work/rb.device")" --baud 115200 \
    --send "$work/flight-log.bin" --protocol ymodem --delay 1500 --screenshot "$images/terminal_transfer.png" \
    >/dev/null 2>&1 || true
echo "pictures.sh: $images/terminal_shell.png, $images/terminal_fullscreen.png, $images/terminal_emulator.png, $images/terminal_transfer.png"
