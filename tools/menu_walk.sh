#!/usr/bin/env bash
# Walks the setup menus in the real window against the sensor unit emulator,
# clicking the instrument's face as a person would, and keeps a picture of the
# display after every step. See usage below.
set -euo pipefail

me=menu_walk.sh
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

usage() {
    cat <<TEXT
Usage: $me [options] [BUILD_DIR [OUT_DIR]]
Walks the setup menus in the real window (BUILD_DIR/app/tarnby) against the
sensor unit emulator (BUILD_DIR/tools/sensor_emulator/sensor_emulator),
clicking the instrument's face as a person would, and keeps a picture of the
display after every step in OUT_DIR, with all of them side by side in
OUT_DIR/walk.png and both programs' logs. The emulator's log at the end shows
each command it received and answered. Both programs are stopped at the end.

BUILD_DIR is build by default, OUT_DIR menu-walk. OUT_DIR is made if missing;
an existing one is used only if it is empty or an earlier walk's, and only the
walk's own files in it are replaced.

Needs xdotool and ImageMagick (import, montage) and an X display; without a
desktop, run it under Xvfb:
  xvfb-run -a -s "-screen 0 1024x768x24" tools/$me [BUILD_DIR] [OUT_DIR]

Options:
  -h, --help     Show this help and exit.
  -v, --version  Show the version and exit.
TEXT
}

reject() {
    echo "$me: $1 (see $me --help)" >&2
    exit 2
}

fail() {
    echo "$me: $1" >&2
    exit 1
}

positional=()
while [ $# -gt 0 ]; do
    case $1 in
    -h | --help) usage; exit 0 ;;
    -v | --version)
        version=$(sed -n 's/^project([a-z_]* VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
        echo "$me (Tarnby) ${version:-unknown}"
        exit 0 ;;
    --) shift; positional+=("$@"); break ;;
    -?*) reject "unknown option '${1%%=*}'" ;;
    *) positional+=("$1") ;;
    esac
    shift
done
[ ${#positional[@]} -le 2 ] || reject "at most BUILD_DIR and OUT_DIR, not ${#positional[@]} arguments"
build=${positional[0]:-build}
out=${positional[1]:-menu-walk}

missing=()
for tool in xdotool import montage; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
[ ${#missing[@]} -eq 0 ] ||
    fail "needs xdotool and ImageMagick; missing: ${missing[*]} (Debian: apt-get install xdotool imagemagick)"
[ -n "${DISPLAY:-}" ] || fail "needs an X display; without one: xvfb-run -a -s \"-screen 0 1024x768x24\" tools/$me"
tarnby_bin=$build/app/tarnby
emulator_bin=$build/tools/sensor_emulator/sensor_emulator
for program in "$tarnby_bin" "$emulator_bin"; do
    [ -x "$program" ] || fail "no $program; build it first: cmake --build $build --target tarnby sensor_emulator"
done

# The output folder: ours (marked) or empty, never someone else's.
marker=.made-by-menu-walk
if [ -e "$out" ]; then
    [ -d "$out" ] || fail "$out exists and is not a folder"
    if [ -e "$out/$marker" ]; then
        rm -f -- "$out"/[0-9][0-9]_*.png "$out/walk.png" "$out/emulator.log" "$out/tarnby.log"
    elif [ -n "$(ls -A "$out")" ]; then
        fail "$out is not empty and not an earlier walk's; name another folder"
    fi
fi
mkdir -p "$out"
: >"$out/$marker"

# Both programs are stopped however the walk ends: the window by a signal,
# the emulator by the end of its input (and a signal if it lingers).
tarnby=""
emulator=""
to_emulator=""
stop_all() {
    if [ -n "$tarnby" ]; then
        kill "$tarnby" 2>/dev/null || true
        wait "$tarnby" 2>/dev/null || true
    fi
    if [ -n "$emulator" ]; then
        [ -z "$to_emulator" ] || exec {to_emulator}>&-
        to_emulator=""
        for _ in $(seq 50); do
            kill -0 "$emulator" 2>/dev/null || break
            sleep 0.1
        done
        kill "$emulator" 2>/dev/null || true
        wait "$emulator" 2>/dev/null || true
    fi
}
trap stop_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# exec: the coprocess is the emulator itself, so its pid is the one to stop.
coproc EMULATOR { exec "$emulator_bin" --heading 75 2>"$out/emulator.log"; }
emulator=$EMULATOR_PID
to_emulator=${EMULATOR[1]}
read -r -t 20 device <&"${EMULATOR[0]}" || fail "the emulator named no device; see $out/emulator.log"
TARNBY_PORT=$device TARNBY_AUTO_ON=0,0,0,0,0,0 TARNBY_AUTO_CONNECT=1 "$tarnby_bin" 2>"$out/tarnby.log" &
tarnby=$!

window=""
for _ in $(seq 50); do
    window=$(xdotool search --onlyvisible --pid "$tarnby" 2>/dev/null | head -1) && [ -n "$window" ] && break
    sleep 0.2
done
[ -n "$window" ] || fail "the window did not appear; see $out/tarnby.log"
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

stop_all
tarnby=""
emulator=""
montage "$out"/[0-9][0-9]_*.png -tile 4x -geometry +4+4 "$out/walk.png"
cat "$out/emulator.log"
echo "$me: $step pictures and walk.png in $out"
