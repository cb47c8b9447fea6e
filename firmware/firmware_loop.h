// The firmware loop and the entry points the window's handlers call. The
// window keeps no firmware logic of its own: each handler calls one of these.
#pragma once

#include <cstdint>

// ON: loads the defaults, plays the splash and runs passes of the current
// screen until OFF. Returns only after OFF; may be entered again from inside
// its own message pumping (a second ON), and one OFF ends every level.
void firmware_run();

// OFF.
void firmware_stop();

// The state ON leaves before its first pass (settings at their defaults, the
// loop's own resets), without the splash: for drawing screens outside the
// loop.
void switched_on_state();
// Program start, then ON, with a level, still aircraft and both sensors
// reporting: every reading 0, as the sliders at rest give it. Where the
// screenshot tool's scenes, the flight tests and the benchmarks start from.
void level_aircraft_state();

// Whether the running loop ends at its next check: OFF was pressed and no
// splash is playing. OFF during a splash has no lasting effect (the loop's
// start clears it once the splash is over), so a host keeps pacing the
// splash frames whatever stop_requested says meanwhile.
bool loop_ending();

// One 100 ms tick of Timer1.
void timer_tick();

// A front-panel control was clicked: one of the KEY_ codes. Dropped while a
// key is pending.
void store_key_code(uint8_t code);

// TrackBar5 moved: besides the slider variable, the turn rate is now
// available to the turn and bank display.
void turn_slider_moved(int32_t position);

// Display hooks. They stand for the instrument's display and sensor hardware
// and do nothing in the simulator.
void contrast_hook();
void backlight_on_hook();
void backlight_off_hook();
void start_hook();

// The 17-character web address of the splash.
extern const char splash_web_address[];
