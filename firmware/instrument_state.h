// The instrument's whole state: process-wide plain variables shared by every
// firmware routine. All of them are zero at program start; ON loads the
// settings (load_defaults) and resets the loop state. Everything here is read
// and written on the main thread only, so nothing is locked.
//
// Widths follow the instrument: flags are bytes holding 0 or 1, counters are
// unsigned bytes, signed quantities are 32-bit.
#pragma once

#include <cstdint>

#include "firmware/link/link_protocol.h"

// A screen is a routine without arguments that the loop calls once per pass.
using screen_routine = void (*)();

// Flight readings: from the sliders while the port is closed, from the sensor
// link while it is open.
extern int32_t heading;     // 0..359, variation already applied
extern int32_t pitch;       // degrees, nose up positive
extern int32_t bank;        // degrees, banked left positive
extern int32_t slip;        // raw units, ball right positive
extern int32_t turn_rate;   // tenths of a degree per second, right positive
extern int32_t gforce_raw;  // 1/256 G; the sign is bit 0x10 of sensor_status

// Slider positions, written by the window's slider handlers.
extern int32_t slider_heading;
extern int32_t slider_pitch;
extern int32_t slider_bank;
extern int32_t slider_slip;
extern int32_t slider_turn;
extern int32_t slider_gforce;

// Data presence and sensor reports.
extern uint8_t heading_valid;
extern uint8_t heading_hold;  // two-second periods before heading_valid drops
// Like heading data, attitude data is dropped when the sensor unit has gone
// quiet: a frozen horizon must not pass for a live one.
extern uint8_t attitude_valid;
extern uint8_t attitude_hold;  // two-second periods before attitude_valid drops
extern uint8_t compass_heading_seen;
extern uint8_t sensor_status;  // 0x02 range exceeded, 0x10 G negative
extern uint8_t turn_source;    // 0 short frames, 1 no turn rate, 2 turn rate present
extern uint8_t tilt_comp;      // a TILT_COMP_ mode
extern uint8_t ack_received;
extern uint8_t compass_frame_received;
extern uint8_t compass_data_received;
extern int32_t compass_ns, compass_ew, compass_z;
extern int32_t compass_ns_min, compass_ns_max;
extern int32_t compass_ew_min, compass_ew_max;
extern int32_t compass_z_min, compass_z_max;

// Keys, screens and loop control.

// The codes of key_code, as the panel controls store them.
enum : uint8_t {
    KEY_NONE = 0,
    KEY_KNOB_PRESS = 1,
    KEY_CLOCKWISE = 2,      // knob turned clockwise
    KEY_ANTICLOCKWISE = 3,  // knob turned anticlockwise
    KEY_LEFT = 4,           // F1, up triangle
    KEY_RIGHT = 5,          // F2, down triangle
    KEY_CODE_COUNT
};

// The pages of the main screen, in the order the knob turns through them.
enum : uint8_t { PAGE_ATTITUDE, PAGE_COMPASS, PAGE_TURN_BANK, MAIN_PAGE_COUNT };

extern uint8_t key_code;  // a KEY_ code
extern screen_routine current_screen;
extern screen_routine return_screen;
extern uint8_t menu_cursor;
extern uint8_t menu_edit;
extern uint8_t main_page;  // a PAGE_ value
extern uint8_t key_step;   // 10 while "Key Fast" is checked, else 1
extern uint8_t stop_requested;

// Timers and display marks, driven by the 100 ms tick.
extern uint8_t ticks;  // wraps at 256; timed waits set it to 0 and watch it grow
extern uint8_t two_second_count;
extern uint8_t led_timer;       // ticks left with the alert lamp lit
extern uint8_t last_send_tick;  // 100 means nothing sent yet
extern uint8_t reciprocal_shown;
extern uint8_t reciprocal_timer;
extern uint8_t heading_bug_on;
extern int32_t heading_bug;
extern uint8_t calibrating;
extern int32_t calib_count;
extern uint32_t calib_fit;  // tenths of a percent

// Scratch results of the heading bug comparison, rewritten on every use.
extern uint8_t bug_turn_left;
extern uint8_t bug_turn_right;
extern uint32_t bug_offset;

// The compass unit's tilt compensation modes (tilt_comp) are the link's:
// TILT_COMP_... in firmware/link/link_protocol.h.

// The compass page's display styles (compass_display). What each looks like,
// and its name, is the table COMPASS_STYLES in firmware/flight/flight.h.
enum : uint8_t { COMPASS_NUMERIC, COMPASS_MIXED, COMPASS_CARD1, COMPASS_CARD2, COMPASS_ROSE, COMPASS_STYLE_COUNT };

// Settings: loaded by load_defaults at every ON, changed by the setup menus.
extern uint8_t contrast;
extern uint8_t backlight;
extern uint8_t slip_display;
extern int32_t slip_zero;
extern uint8_t slip_sense_high;
extern uint8_t bump_index;
extern uint8_t slew_index;
extern int32_t pitch_trim;
extern uint8_t tb_two_min;
extern uint8_t tb_display;
extern uint8_t numeric_display;
extern uint8_t icon_large;
extern uint8_t gforce_display;
extern uint8_t compass_on;
extern uint8_t compass_cal_type;  // 0 "GROUND", 1 "IN-FLIGHT"
extern uint8_t compass_display;   // a COMPASS_ style (firmware/flight/flight.h)
extern uint8_t heading_true;
extern int32_t variation;  // -99..99 degrees, negative is west

// Every setting to its default, in the instrument's order, with the display
// hooks it calls on the way.
void load_defaults();

// Brings every variable above back to its program-start value (all zero).
// Only tests need this: the program itself starts once.
void reset_instrument_state();
