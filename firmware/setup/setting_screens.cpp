// The three setup lists and the four adjustment screens.
#include <cstdio>

#include "firmware/firmware_loop.h"
#include "firmware/flight/flight.h"
#include "firmware/lcd/lcd.h"
#include "firmware/link/link.h"
#include "firmware/setup/setup.h"

const char* const factor_names[FACTOR_COUNT] = {"LOWEST", "LOW", "MEDIUM", "HIGH", "HIGHEST"};
const uint16_t bump_factor_values[FACTOR_COUNT] = {70, 100, 200, 300, 500};
const uint16_t slew_factor_values[FACTOR_COUNT] = {50, 100, 200, 300, 500};

namespace {

const char* const compass_display_names[] = {"NUMERIC", "MIXED", "CARD1", "CARD2", "ROSE"};
constexpr uint8_t COMPASS_DISPLAY_LAST = 4;
// Index 0 is what the sensor unit reports before it has said anything.
const char* const tilt_comp_names[] = {" ", "2D", "3D A", "3D G"};
constexpr uint8_t TILT_COMP_LAST = 3;

constexpr int32_t VARIATION_LIMIT = 99;

void toggle(uint8_t& flag)
{
    flag = flag != 0 ? 0 : 1;
}

// The setting rows all start at x = 0, the value right after the label.
void setting_row(uint8_t row, const char* label, const char* value)
{
    menu_setting_row(0, static_cast<uint8_t>(row - menu_list_scroll()), label, value);
}

bool key_raises()
{
    return key_code == 2 || key_code == 4;
}

bool key_lowers()
{
    return key_code == 3 || key_code == 5;
}

}  // namespace

const char* compass_display_name(uint8_t display)
{
    return display <= COMPASS_DISPLAY_LAST ? compass_display_names[display] : " ";
}

const char* tilt_comp_name(uint8_t mode)
{
    return mode <= TILT_COMP_LAST ? tilt_comp_names[mode] : " ";
}

void format_variation(char* text, int32_t value)
{
    if (value >= 0)
        std::snprintf(text, 16, "%d|E", static_cast<int>(value));
    else
        std::snprintf(text, 16, "%d|W", static_cast<int>(-value));
}

int32_t variation_stepped(int32_t value, uint8_t step, bool up)
{
    if (up)
        return value + step > VARIATION_LIMIT ? -VARIATION_LIMIT : value + step;
    return value - step < -VARIATION_LIMIT ? VARIATION_LIMIT : value - step;
}

// ---- display setup --------------------------------------------------------------

void display_setup_screen()
{
    constexpr uint8_t last = 2;
    if (menu_cursor > last)
        menu_cursor = last;

    menu_title(" DISPLAY SETUP ");
    menu_done_row();
    menu_action_row(1, "ADJUST CONTRAST");
    setting_row(2, "BACKLIGHT: ", menu_off_on(backlight));

    if (key_code == 1) {
        switch (menu_cursor) {
        case 0:
            menu_cursor = 1;
            current_screen = main_menu_screen;
            menu_edit = 0;
            break;
        case 1:
            menu_cursor = 0;
            current_screen = contrast_screen;
            menu_edit = 0;
            break;
        default:
            toggle(menu_edit);
            break;
        }
    } else if (menu_edit == 1) {
        if (key_code >= 2 && key_code <= 5)
            toggle(backlight);
    } else {
        menu_browse(last);
    }
    key_code = 0;
}

// ---- horizon setup ----------------------------------------------------------------

namespace {

// The two-valued settings of the horizon list by row; nullptr on the exit and
// action rows.
uint8_t* horizon_setting(uint8_t row)
{
    switch (row) {
    case 1: return &slip_display;
    case 3: return &slip_sense_high;
    case 7: return &tb_two_min;
    case 8: return &tb_display;
    case 9: return &numeric_display;
    case 10: return &icon_large;
    case 11: return &gforce_display;
    default: return nullptr;
    }
}

void horizon_select()
{
    switch (menu_cursor) {
    case 0:
        menu_cursor = 2;
        current_screen = main_menu_screen;
        menu_edit = 0;
        break;
    case 2:
        // Without attitude data there is no reading to take as the centre.
        if (attitude_valid == 1) {
            slip_zero = slip;
            return_screen = horizon_setup_screen;
            current_screen = done_screen;
        }
        break;
    case 4:
        menu_cursor = 0;
        current_screen = bump_factor_screen;
        menu_edit = 0;
        break;
    case 5:
        menu_cursor = 0;
        current_screen = slew_factor_screen;
        menu_edit = 0;
        break;
    case 6:
        // The source screen keeps its BANK/GYRO choice in the cursor; it
        // opens on GYRO when the sensor unit delivers a turn rate.
        menu_cursor = turn_source > 1 ? 1 : 0;
        current_screen = tb_source_screen;
        menu_edit = 0;
        break;
    default:
        toggle(menu_edit);
        break;
    }
}

}  // namespace

void horizon_setup_screen()
{
    constexpr uint8_t last = 11;
    if (menu_cursor > last)
        menu_cursor = last;

    menu_title(" HORIZON SETUP ");
    menu_done_row();
    setting_row(1, "SLIP: ", menu_off_on(slip_display));
    menu_action_row(2, "SLIP ZERO");
    setting_row(3, "SLIP SENSE: ", slip_sense_high != 0 ? "HIGH" : "LOW");
    menu_action_row(4, "BUMP FACTOR");
    menu_action_row(5, "SLEW FACTOR");
    menu_action_row(6, "TURN&BANK SOURCE");
    setting_row(7, "T&B MIN/REV: ", tb_two_min != 0 ? "2" : "1");
    setting_row(8, "TURN&BANK: ", menu_off_on(tb_display));
    setting_row(9, "NUMERIC: ", menu_off_on(numeric_display));
    setting_row(10, "ICON: ", icon_large != 0 ? "LARGE" : "SMALL");
    setting_row(11, "G-FORCE: ", menu_off_on(gforce_display));

    if (key_code == 1) {
        horizon_select();
    } else if (menu_edit == 1) {
        uint8_t* setting = horizon_setting(menu_cursor);
        if (setting != nullptr && key_code >= 2 && key_code <= 5)
            toggle(*setting);
    } else {
        menu_browse(last);
    }
    key_code = 0;
}

// ---- compass setup ----------------------------------------------------------------

namespace {

constexpr uint8_t COMPASS_ROW_CALIBRATE = 6;  // IN-FLIGHT
constexpr uint8_t COMPASS_ROW_TILT = 6;       // GROUND

uint8_t compass_last_row()
{
    return compass_cal_type == 1 ? 6 : 9;
}

void compass_select()
{
    const bool in_flight = compass_cal_type == 1;
    switch (menu_cursor) {
    case 0:
        menu_cursor = 3;
        current_screen = main_menu_screen;
        menu_edit = 0;
        return;
    case 6:
        if (in_flight) {
            const bool starting = calibrating == 0;
            // A start hands straight to the flight display, which then shows
            // the calibration box; a stop confirms with the message.
            if (menu_exchange(starting ? 18 : 19, 0, 0, ack_received, starting ? main_screen : done_screen,
                              compass_setup_screen))
                toggle(calibrating);
            menu_edit = 0;
            return;
        }
        break;
    case 7:
        current_screen = dev_cal_confirm_screen;
        menu_edit = 0;
        return;
    case 8:
        current_screen = dev_cal_clear_screen;
        menu_edit = 0;
        return;
    case 9:
        menu_cursor = 0;
        current_screen = set_alignment_screen;
        menu_edit = 0;
        return;
    default:
        break;
    }
    toggle(menu_edit);
}

void compass_edit(bool up)
{
    switch (menu_cursor) {
    case 1:
        toggle(compass_on);
        break;
    case 2:
        toggle(compass_cal_type);
        break;
    case 3:
        if (up)
            compass_display = compass_display < COMPASS_DISPLAY_LAST ? compass_display + 1 : 0;
        else
            compass_display = compass_display >= 1 && compass_display <= COMPASS_DISPLAY_LAST
                                  ? compass_display - 1
                                  : COMPASS_DISPLAY_LAST;
        break;
    case 4:
        toggle(heading_true);
        break;
    case 5:
        variation = variation_stepped(variation, key_step, up);
        break;
    case COMPASS_ROW_TILT:
        if (compass_cal_type == 1)
            break;
        if (up)
            tilt_comp = tilt_comp >= 1 && tilt_comp < TILT_COMP_LAST ? tilt_comp + 1 : 1;
        else
            tilt_comp = tilt_comp >= 2 && tilt_comp <= TILT_COMP_LAST ? tilt_comp - 1 : TILT_COMP_LAST;
        // The compass unit takes the mode without an acknowledgement.
        send_command(6, tilt_comp, 0);
        break;
    default:
        break;
    }
}

}  // namespace

void compass_setup_screen()
{
    const uint8_t last = compass_last_row();
    if (menu_cursor > last)
        menu_cursor = last;

    char variation_text[16];
    format_variation(variation_text, variation);

    menu_title(" COMPASS SETUP ");
    menu_done_row();
    setting_row(1, "COMPASS: ", menu_off_on(compass_on));
    setting_row(2, "TYPE: ", compass_cal_type != 0 ? "IN-FLIGHT" : "GROUND");
    setting_row(3, "DISPLAY: ", compass_display_name(compass_display));
    setting_row(4, "HEADING: ", heading_true != 0 ? "TRUE" : "MAG");
    setting_row(5, "VARIATION: ", variation_text);
    if (compass_cal_type == 1) {
        menu_action_row(COMPASS_ROW_CALIBRATE, calibrating != 0 ? "STOP CALIBRATE" : "START CALIBRATE");
    } else {
        setting_row(COMPASS_ROW_TILT, "TILT COMP: ", tilt_comp_name(tilt_comp));
        menu_action_row(7, "DEV CALIBRATE");
        menu_action_row(8, "CLEAR DEV CAL");
        menu_action_row(9, "SET ALIGNMENT");
    }

    if (key_code == 1) {
        compass_select();
    } else if (menu_edit == 1) {
        if (key_raises())
            compass_edit(true);
        else if (key_lowers())
            compass_edit(false);
    } else {
        menu_browse(last);
    }
    key_code = 0;
}

// ---- adjustment screens --------------------------------------------------------------

namespace {

void adjustment_hints(const char* second_line, const char* third_line)
{
    lcd_text_centred_const(64, 40, "USE { } OR ~", 0, PIXEL_SET, 0);
    lcd_text_centred_const(64, 48, second_line, 0, PIXEL_SET, 0);
    lcd_text_centred_const(64, 56, third_line, 0, PIXEL_SET, 0);
}

// Bump and slew differ only in their texts, their table and their command.
void factor_screen(const char* title, const char* hint, uint8_t& index, const uint16_t* values, uint8_t code,
                   uint8_t list_row)
{
    if (index >= FACTOR_COUNT)
        index = FACTOR_COUNT - 1;

    menu_title(title);
    lcd_text_centred_const(64, 17, factor_names[index], 1, PIXEL_SET, 0);
    adjustment_hints("TO SET THE", hint);

    if (key_raises()) {
        if (index < FACTOR_COUNT - 1)
            ++index;
    } else if (key_lowers()) {
        if (index > 0)
            --index;
    } else if (key_code == 1) {
        const uint16_t value = values[index];
        menu_cursor = list_row;
        menu_exchange(code, static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(value >> 8), ack_received,
                      done_screen, horizon_setup_screen);
    }
    key_code = 0;
}

}  // namespace

void contrast_screen()
{
    constexpr uint8_t contrast_max = 62;

    menu_title(" CONTRAST ");
    lcd_rect(1, 15, 126, 25, PIXEL_SET);
    const uint8_t shown = contrast > contrast_max ? contrast_max : contrast;
    lcd_fill_rect(1, 15, static_cast<uint8_t>(2 * shown + 1), 25, PIXEL_SET);
    adjustment_hints("TO ADJUST THE", "CONTRAST");

    if (key_raises()) {
        if (contrast <= contrast_max - 1) {
            contrast = static_cast<uint8_t>(contrast + 2);
            contrast_hook();
        }
    } else if (key_lowers()) {
        if (contrast > 1) {
            contrast = static_cast<uint8_t>(contrast - 2);
            contrast_hook();
        }
    } else if (key_code == 1) {
        menu_cursor = 1;
        current_screen = display_setup_screen;
    }
    key_code = 0;
}

void bump_factor_screen()
{
    factor_screen(" BUMP FACTOR ", "BUMP FACTOR", bump_index, bump_factor_values, 12, 4);
}

void slew_factor_screen()
{
    factor_screen(" SLEW FACTOR ", "SLEW FACTOR", slew_index, slew_factor_values, 13, 5);
}

void tb_source_screen()
{
    // The choice lives in the cursor: 0 BANK, 1 GYRO.
    const bool gyro = menu_cursor == 1;

    menu_title(" TURN & BANK ");
    lcd_text_centred_const(64, 17, gyro ? "GYRO" : "BANK", 1, PIXEL_SET, 0);
    adjustment_hints("TO SET THE", "TURN & BANK");

    switch (key_code) {
    case 2:
    case 5:
        menu_cursor = 1;
        break;
    case 3:
    case 4:
        menu_cursor = 0;
        break;
    case 1: {
        const uint8_t source = gyro ? 4 : 0;
        menu_cursor = 6;
        menu_exchange(17, source, source, ack_received, done_screen, horizon_setup_screen);
        break;
    }
    default:
        break;
    }
    key_code = 0;
}
