// The ground compass procedures: deviation calibration (confirm, turn,
// finish), clearing it, the alignment commands and the raw sensor values.
// The sensor unit does the work; these screens only send the commands.
#include <cstdio>
#include <iterator>

#include "firmware/lcd/lcd.h"
#include "firmware/link/link.h"
#include "firmware/setup/setup.h"

namespace {

void soft_key_labels(const char* left, const char* right)
{
    lcd_text_const(0, 56, left, 0, PIXEL_SET, 1);
    lcd_text_const(64, 56, right, 0, PIXEL_SET, 1);
}

void three_lines(uint8_t y0, uint8_t y_step, const char* first, const char* second, const char* third)
{
    lcd_text_centred_const(64, y0, first, 1, PIXEL_SET, 0);
    lcd_text_centred_const(64, static_cast<uint8_t>(y0 + y_step), second, 1, PIXEL_SET, 0);
    lcd_text_centred_const(64, static_cast<uint8_t>(y0 + 2 * y_step), third, 1, PIXEL_SET, 0);
}

}  // namespace

void dev_cal_confirm_screen()
{
    three_lines(4, 16, "PROCEED WITH", "COMPASS DEV", "CALIBRATION?");
    soft_key_labels(" OK ", " CANCEL ");

    if (key_code == KEY_LEFT) {
        // The compass unit answers the start with a data frame.
        menu_exchange(CMD_START_DEV_CAL, 0, 0, compass_data_received, dev_cal_turn_screen, compass_setup_screen);
    } else if (key_code == KEY_RIGHT) {
        current_screen = compass_setup_screen;
    }
    key_code = KEY_NONE;
}

void dev_cal_clear_screen()
{
    three_lines(4, 16, "CLEAR COMPASS", "DEVIATION", "CALIBRATION?");
    soft_key_labels(" OK ", " CANCEL ");

    if (key_code == KEY_LEFT)
        menu_exchange(CMD_CLEAR_DEV_CAL, 0, 0, ack_received, done_screen, compass_setup_screen);
    else if (key_code == KEY_RIGHT || key_code == KEY_KNOB_PRESS)
        current_screen = compass_setup_screen;
    key_code = KEY_NONE;
}

void dev_cal_turn_screen()
{
    three_lines(0, 16, "TURN COMPASS", "THROUGH 360|", "TWICE");
    lcd_text_const(0, 48, " SENSOR ", 0, PIXEL_SET, 1);
    lcd_text_const(0, 56, "  DATA  ", 0, PIXEL_SET, 1);
    lcd_text_const(80, 56, " DONE ", 0, PIXEL_SET, 1);

    // The compass unit answers both finishing commands with a data frame, as
    // it does the start; that one flag is cleared, awaited and judged.
    if (key_code == KEY_LEFT) {
        menu_cursor = 0;
        current_screen = sensor_data_screen;
    } else if (key_code == KEY_RIGHT) {
        menu_exchange(CMD_FINISH_DEV_CAL_DONE, 0, 0, compass_data_received, done_screen, compass_setup_screen);
    } else if (key_code == KEY_KNOB_PRESS) {
        menu_exchange(CMD_FINISH_DEV_CAL_KNOB, 0, 0, compass_data_received, done_screen, compass_setup_screen);
    }
    key_code = KEY_NONE;
}

// ---- sensor data ---------------------------------------------------------------

namespace {

// A reading formatted into the one buffer every row shares: each is drawn
// before the next is formatted.
const char* reading(const char* format, int32_t value)
{
    static char text[32];
    std::snprintf(text, sizeof text, format, static_cast<int>(value));
    return text;
}

const char* done_text()
{
    return " *** DONE ***";
}

// The procedure goes on; when it ends, the compass list comes back one row
// above DEV CALIBRATE.
void back_to_turning(const MenuRow&)
{
    menu_cursor = static_cast<uint8_t>(compass_setup_row_opening(dev_cal_confirm_screen) - 1);
    current_screen = dev_cal_turn_screen;
}

constexpr MenuRow SENSOR_DATA_ROWS[] = {
    changing_action_row(done_text, back_to_turning, 12),
    changing_action_row([] { return reading("NS: %d", compass_ns); }, nullptr),
    changing_action_row([] { return reading("EW: %d", compass_ew); }, nullptr),
    changing_action_row([] { return reading("Z: %d", compass_z); }, nullptr),
    changing_action_row([] { return reading("NS MIN: %d", compass_ns_min); }, nullptr),
    changing_action_row([] { return reading("NS MAX: %d", compass_ns_max); }, nullptr),
    changing_action_row([] { return reading("EW MIN: %d", compass_ew_min); }, nullptr),
    changing_action_row([] { return reading("EW MAX: %d", compass_ew_max); }, nullptr),
    changing_action_row([] { return reading("Z MIN: %d", compass_z_min); }, nullptr),
    changing_action_row([] { return reading("Z MAX: %d", compass_z_max); }, nullptr),
};

}  // namespace

constexpr MenuList SENSOR_DATA = {sensor_data_screen, " SENSOR DATA ", SENSOR_DATA_ROWS, std::size(SENSOR_DATA_ROWS)};

void sensor_data_screen()
{
    menu_list_screen(SENSOR_DATA);
}

// ---- alignment -------------------------------------------------------------------

namespace {

void back_to_compass_setup(const MenuRow&)
{
    menu_cursor = compass_setup_row_opening(set_alignment_screen);
    current_screen = compass_setup_screen;
}

// The cursor stays, so the list comes back on the same row after the message.
void align(uint8_t code)
{
    menu_exchange(code, 0, 0, ack_received, done_screen, set_alignment_screen);
}

constexpr MenuRow ALIGNMENT_ROWS[] = {
    done_row(back_to_compass_setup),
    action_row("SET NORTH", [](const MenuRow&) { align(CMD_ALIGN_NORTH); }),
    action_row("SET SOUTH", [](const MenuRow&) { align(CMD_ALIGN_SOUTH); }),
    action_row("SET EAST", [](const MenuRow&) { align(CMD_ALIGN_EAST); }),
    action_row("SET WEST", [](const MenuRow&) { align(CMD_ALIGN_WEST); }),
    action_row("CLEAR ALIGNMENT", [](const MenuRow&) { align(CMD_CLEAR_ALIGNMENT); }),
};

}  // namespace

constexpr MenuList SET_ALIGNMENT = {set_alignment_screen, " SET ALIGNMENT ", ALIGNMENT_ROWS, std::size(ALIGNMENT_ROWS)};

void set_alignment_screen()
{
    menu_list_screen(SET_ALIGNMENT);
}
