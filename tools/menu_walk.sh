#!/usr/bin/env bash
# Walks the setup menus in the real window against the sensor unit emulator,
# clicking the instrument's face as a person would, and keeps a picture of the
# display after every step. Needs xdotool and imagemagick; run it without a
# desktop under xvfb-run:
#
#   xvfb-run -a -s "-screen 0 1024x768x24" tools/menu_walk.sh [BUILD_DIR] [OUT_DIR]
#
# The emulator's log at the end shows each command it received and answered.
set -euo pipefail
build=$(realpath "${1:-build}")
out=${2:-menu-walk}
rm -rf "$out"
mkdir -p "$out"

coproc EMULATOR { "$build/tools/sensor_emulator/sensor_emulator" --heading 75 2>"$out/emulator.log"; }
emulator=$EMULATOR_PID
read -r device <&"${EMULATOR[0]}"
TARNBY_PORT=$device TARNBY_AUTO_ON=0,0,0,0,0,0 TARNBY_AUTO_CONNECT=1 "$build/app/tarnby" 2>"$out/tarnby.log" &
tarnby=$!
trap 'kill $tarnby $emulator 2>/dev/null || true' EXIT

window=""
for _ in $(seq 50); do
    window=$(xdotool search --name "Aldane QR-7" 2>/dev/null | head -1) && [ -n "$window" ] && break
    sleep 0.2
done
[ -n "$window" ] || { echo "menu_walk: the window did not appear" >&2; exit 1; }
sleep 3  # the splash, then the first passes with sensor data

step=0
shot() {  # the display only: Image1 inside Panel1
    step=$((step + 1))
    import -window "$window" -crop 258x130+39+92 +repage "$out/$(printf %02d $step)_$1.png"
}
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; sleep 0.4; }
knob() { click 168 276; }        # Image5: press the knob
cw() { click 117 304; }          # Button5: knob clockwise
acw() { click 225 304; }         # Button6: knob anticlockwise
f1() { click 97 266; }           # Image3: left key
f2() { click 238 264; }          # Image6: right key
times() { local n=$1; shift; for _ in $(seq "$n"); do "$@"; done; }

shot attitude
knob; shot main_menu
times 2 cw; shot main_menu_horizon
knob; times 4 cw; shot horizon_setup_bump_factor
knob; cw; shot bump_factor_low
knob; sleep 1; shot bump_factor_done
f1; shot back_in_horizon_setup
times 4 acw; knob; cw; knob; shot compass_setup
times 2 cw; knob; cw; knob; shot compass_setup_ground
times 7 cw; knob; times 3 cw; shot set_alignment_east
knob; sleep 1; shot alignment_done
f1; times 3 acw; knob; times 2 acw; knob; shot dev_cal_confirm
f1; sleep 1; shot dev_cal_turn
f1; shot sensor_data
knob; f2; sleep 1; shot dev_cal_done

kill $tarnby $emulator 2>/dev/null || true
wait $tarnby 2>/dev/null || true
montage "$out"/[0-9]*.png -tile 4x -geometry +4+4 "$out/walk.png" 2>/dev/null || true
cat "$out/emulator.log"
