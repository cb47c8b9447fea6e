// The ground compass procedures: deviation calibration (confirm, turn,
// finish), clearing it, the alignment commands and the raw sensor values.
// The sensor unit does the work; these screens only send the commands.
#include <cstdio>

#include "firmware/lcd/lcd.h"
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

    if (key_code == 4) {
        // The compass unit answers the start with a data frame.
        menu_exchange(1, 0, 0, compass_data_received, dev_cal_turn_screen, compass_setup_screen);
    } else if (key_code == 5) {
        current_screen = compass_setup_screen;
    }
    key_code = 0;
}

void dev_cal_clear_screen()
{
    three_lines(4, 16, "CLEAR COMPASS", "DEVIATION", "CALIBRATION?");
    soft_key_labels(" OK ", " CANCEL ");

    if (key_code == 4)
        menu_exchange(0, 0, 0, ack_received, done_screen, compass_setup_screen);
    else if (key_code == 5 || key_code == 1)
        current_screen = compass_setup_screen;
    key_code = 0;
}

void dev_cal_turn_screen()
{
    three_lines(0, 16, "TURN COMPASS", "THROUGH 360|", "TWICE");
    lcd_text_const(0, 48, " SENSOR ", 0, PIXEL_SET, 1);
    lcd_text_const(0, 56, "  DATA  ", 0, PIXEL_SET, 1);
    lcd_text_const(80, 56, " DONE ", 0, PIXEL_SET, 1);

    // The compass unit answers both finishing commands with a data frame, as
    // it does the start; that one flag is cleared, awaited and judged.
    if (key_code == 4) {
        menu_cursor = 0;
        current_screen = sensor_data_screen;
    } else if (key_code == 5) {
        menu_exchange(2, 0, 0, compass_data_received, done_screen, compass_setup_screen);
    } else if (key_code == 1) {
        menu_exchange(3, 0, 0, compass_data_received, done_screen, compass_setup_screen);
    }
    key_code = 0;
}

void sensor_data_screen()
{
    constexpr uint8_t last = 9;
    if (menu_cursor > last)
        menu_cursor = last;

    struct Reading {
        const char* format;
        int32_t value;
    };
    const Reading readings[last] = {
        {"NS: %d", compass_ns},          {"EW: %d", compass_ew},          {"Z: %d", compass_z},
        {"NS MIN: %d", compass_ns_min},  {"NS MAX: %d", compass_ns_max},  {"EW MIN: %d", compass_ew_min},
        {"EW MAX: %d", compass_ew_max},  {"Z MIN: %d", compass_z_min},    {"Z MAX: %d", compass_z_max},
    };

    menu_title(" SENSOR DATA ");
    const uint8_t scroll = menu_list_scroll();
    for (uint8_t row = 0; row <= last; ++row) {
        const uint8_t line = static_cast<uint8_t>(row - scroll);
        if (line >= MENU_VISIBLE_ROWS)
            continue;
        const uint8_t y = static_cast<uint8_t>(8 + 8 * line);
        if (row == 0) {
            menu_item(12, y, " *** DONE ***", menu_cursor == 0 ? 1 : 0);
            continue;
        }
        char text[32];
        std::snprintf(text, sizeof text, readings[row - 1].format, static_cast<int>(readings[row - 1].value));
        menu_item(0, y, text, menu_cursor == row ? 1 : 0);
    }

    if (key_code == 1) {
        if (menu_cursor == 0) {
            menu_cursor = 6;
            current_screen = dev_cal_turn_screen;
        }
    } else {
        menu_browse(last);
    }
    key_code = 0;
}

void set_alignment_screen()
{
    constexpr uint8_t last = 5;
    if (menu_cursor > last)
        menu_cursor = last;

    static const char* const rows[last] = {"SET NORTH", "SET SOUTH", "SET EAST", "SET WEST", "CLEAR ALIGNMENT"};

    menu_title(" SET ALIGNMENT ");
    lcd_text_centred_const(64, 8, "*** DONE ***", 0, PIXEL_SET, menu_cursor == 0 ? 1 : 0);
    for (uint8_t row = 1; row <= last; ++row)
        lcd_text_const(0, static_cast<uint8_t>(8 + 8 * row), rows[row - 1], 0, PIXEL_SET, menu_cursor == row ? 1 : 0);

    if (key_code == 1) {
        if (menu_cursor == 0) {
            menu_cursor = 9;
            current_screen = compass_setup_screen;
        } else {
            // Codes 7..11; the cursor stays, so the list comes back on the
            // same row after the message.
            menu_exchange(static_cast<uint8_t>(6 + menu_cursor), 0, 0, ack_received, done_screen,
                          set_alignment_screen);
        }
    } else {
        menu_browse(last);
    }
    key_code = 0;
}
