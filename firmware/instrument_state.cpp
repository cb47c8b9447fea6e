#include "firmware/instrument_state.h"

#include "firmware/firmware_loop.h"

int32_t heading, pitch, bank, slip, turn_rate, gforce_raw;

int32_t slider_heading, slider_pitch, slider_bank, slider_slip, slider_turn, slider_gforce;

uint8_t heading_valid, heading_hold, attitude_valid, attitude_hold, compass_heading_seen, sensor_status;
uint8_t turn_source, tilt_comp, ack_received, compass_frame_received, compass_data_received;
int32_t compass_ns, compass_ew, compass_z;
int32_t compass_ns_min, compass_ns_max, compass_ew_min, compass_ew_max, compass_z_min, compass_z_max;

uint8_t key_code;
screen_routine current_screen;
screen_routine return_screen;
uint8_t menu_cursor, menu_edit, main_page, key_step, stop_requested;

uint8_t ticks, two_second_count, led_timer, last_send_tick;
uint8_t reciprocal_shown, reciprocal_timer, heading_bug_on;
int32_t heading_bug;
uint8_t calibrating;
int32_t calib_count;
uint32_t calib_fit;

uint8_t bug_turn_left, bug_turn_right;
uint32_t bug_offset;

uint8_t contrast, backlight, slip_display;
int32_t slip_zero;
uint8_t slip_sense_high, bump_index, slew_index;
int32_t pitch_trim;
uint8_t tb_two_min, tb_display, numeric_display, icon_large, gforce_display;
uint8_t compass_on, compass_cal_type, compass_display, heading_true;
int32_t variation;

void load_defaults()
{
    contrast = 32;
    contrast_hook();
    backlight = 1;
    backlight_on_hook();
    slip_display = 1;
    bump_index = 0;
    slew_index = 0;
    slip_zero = 0;
    slip_sense_high = 0;
    pitch_trim = 0;
    tb_two_min = 1;
    tb_display = 1;
    compass_on = 1;
    compass_cal_type = 1;
    compass_display = COMPASS_CARD1;
    heading_true = 0;
    variation = 0;
    numeric_display = 0;
    icon_large = 1;
    gforce_display = 1;
}

void reset_instrument_state()
{
    heading = pitch = bank = slip = turn_rate = gforce_raw = 0;
    slider_heading = slider_pitch = slider_bank = slider_slip = slider_turn = slider_gforce = 0;
    heading_valid = heading_hold = attitude_valid = attitude_hold = compass_heading_seen = sensor_status = 0;
    turn_source = tilt_comp = ack_received = compass_frame_received = compass_data_received = 0;
    compass_ns = compass_ew = compass_z = 0;
    compass_ns_min = compass_ns_max = compass_ew_min = compass_ew_max = compass_z_min = compass_z_max = 0;
    key_code = KEY_NONE;
    current_screen = nullptr;
    return_screen = nullptr;
    menu_cursor = menu_edit = main_page = key_step = stop_requested = 0;
    ticks = two_second_count = led_timer = last_send_tick = 0;
    reciprocal_shown = reciprocal_timer = heading_bug_on = 0;
    heading_bug = 0;
    calibrating = 0;
    calib_count = 0;
    calib_fit = 0;
    bug_turn_left = bug_turn_right = 0;
    bug_offset = 0;
    contrast = backlight = slip_display = 0;
    slip_zero = 0;
    slip_sense_high = bump_index = slew_index = 0;
    pitch_trim = 0;
    tb_two_min = tb_display = numeric_display = icon_large = gforce_display = 0;
    compass_on = compass_cal_type = compass_display = heading_true = 0;
    variation = 0;
}
