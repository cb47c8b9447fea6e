// The three setup lists and the four adjustment screens.
#include <array>
#include <cstdio>

#include "firmware/firmware_loop.h"
#include "firmware/flight/flight.h"
#include "firmware/lcd/lcd.h"
#include "firmware/link/link.h"
#include "firmware/setup/setup.h"

namespace {

// By TILT_COMP_ mode; the first is what the sensor unit reports before it
// has said anything.
const char* const tilt_comp_names[] = {" ", "2D", "3D A", "3D G"};
static_assert(std::size(tilt_comp_names) == TILT_COMP_MODE_COUNT, "a text for every tilt compensation mode");
constexpr uint8_t TILT_COMP_LAST = TILT_COMP_MODE_COUNT - 1;

constexpr uint8_t COMPASS_DISPLAY_LAST = COMPASS_STYLE_COUNT - 1;

constexpr int32_t VARIATION_LIMIT = 99;

}  // namespace

const char* compass_display_name(uint8_t display)
{
    return compass_style(display).name;
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

namespace {

constexpr MenuRow DISPLAY_ROWS[] = {
    done_row(menu_back_to_main_menu),
    action_row("ADJUST CONTRAST", menu_open, contrast_screen),
    flag_row("BACKLIGHT: ", backlight),
};

}  // namespace

constexpr MenuList DISPLAY_SETUP = {display_setup_screen, " DISPLAY SETUP ", DISPLAY_ROWS, std::size(DISPLAY_ROWS)};

void display_setup_screen()
{
    menu_list_screen(DISPLAY_SETUP);
}

// ---- horizon setup ----------------------------------------------------------------

namespace {

void slip_zero_here(const MenuRow&)
{
    // Without attitude data there is no reading to take as the centre.
    if (attitude_valid == 1) {
        slip_zero = slip;
        return_screen = horizon_setup_screen;
        current_screen = done_screen;
    }
}

// The source screen keeps its BANK/GYRO choice in the cursor; it opens on
// GYRO when the sensor unit delivers a turn rate.
void open_tb_source(const MenuRow& row)
{
    menu_cursor = turn_source > 1 ? 1 : 0;
    current_screen = row.opens;
    menu_edit = 0;
}

constexpr MenuRow HORIZON_ROWS[] = {
    done_row(menu_back_to_main_menu),
    flag_row("SLIP: ", slip_display),
    action_row("SLIP ZERO", slip_zero_here),
    flag_row("SLIP SENSE: ", slip_sense_high, "LOW", "HIGH"),
    action_row("BUMP FACTOR", menu_open, bump_factor_screen),
    action_row("SLEW FACTOR", menu_open, slew_factor_screen),
    action_row("TURN&BANK SOURCE", open_tb_source, tb_source_screen),
    flag_row("T&B MIN/REV: ", tb_two_min, "1", "2"),
    flag_row("TURN&BANK: ", tb_display),
    flag_row("NUMERIC: ", numeric_display),
    flag_row("ICON: ", icon_large, "SMALL", "LARGE"),
    flag_row("G-FORCE: ", gforce_display),
};

}  // namespace

constexpr MenuList HORIZON_SETUP = {horizon_setup_screen, " HORIZON SETUP ", HORIZON_ROWS, std::size(HORIZON_ROWS)};

void horizon_setup_screen()
{
    menu_list_screen(HORIZON_SETUP);
}

// ---- compass setup ----------------------------------------------------------------

namespace {

const char* display_text()
{
    return compass_display_name(compass_display);
}

void step_display(bool up)
{
    if (up)
        compass_display = compass_display < COMPASS_DISPLAY_LAST ? compass_display + 1 : 0;
    else
        compass_display = compass_display >= 1 && compass_display <= COMPASS_DISPLAY_LAST ? compass_display - 1
                                                                                           : COMPASS_DISPLAY_LAST;
}

const char* variation_text()
{
    static char text[16];
    format_variation(text, variation);
    return text;
}

void step_variation(bool up)
{
    variation = variation_stepped(variation, key_step, up);
}

const char* tilt_comp_text()
{
    return tilt_comp_name(tilt_comp);
}

void step_tilt_comp(bool up)
{
    if (up)
        tilt_comp = tilt_comp >= TILT_COMP_2D && tilt_comp < TILT_COMP_LAST ? tilt_comp + 1 : TILT_COMP_2D;
    else
        tilt_comp = tilt_comp > TILT_COMP_2D && tilt_comp <= TILT_COMP_LAST ? tilt_comp - 1 : TILT_COMP_LAST;
    // The compass unit takes the mode without an acknowledgement.
    send_command(CMD_TILT_COMP, tilt_comp, 0);
}

const char* calibrate_text()
{
    return calibrating != 0 ? "STOP CALIBRATE" : "START CALIBRATE";
}

void start_or_stop_calibration(const MenuRow&)
{
    const bool starting = calibrating == 0;
    // A start hands straight to the flight display, which then shows the
    // calibration box; a stop confirms with the message.
    if (menu_exchange(starting ? CMD_START_CALIBRATION : CMD_STOP_CALIBRATION, 0, 0, ack_received,
                      starting ? main_screen : done_screen, compass_setup_screen))
        calibrating = calibrating != 0 ? 0 : 1;
    menu_edit = 0;
}

template <size_t A, size_t B>
constexpr std::array<MenuRow, A + B> joined(const std::array<MenuRow, A>& first, const std::array<MenuRow, B>& second)
{
    std::array<MenuRow, A + B> rows{};
    for (size_t i = 0; i < A; ++i)
        rows[i] = first[i];
    for (size_t i = 0; i < B; ++i)
        rows[A + i] = second[i];
    return rows;
}

// The calibration type chooses the rest of the list.
constexpr std::array<MenuRow, 6> COMPASS_COMMON_ROWS = {
    done_row(menu_back_to_main_menu),
    flag_row("COMPASS: ", compass_on),
    flag_row("TYPE: ", compass_cal_type, "GROUND", "IN-FLIGHT"),
    value_row("DISPLAY: ", display_text, step_display),
    flag_row("HEADING: ", heading_true, "MAG", "TRUE"),
    value_row("VARIATION: ", variation_text, step_variation),
};
constexpr auto COMPASS_IN_FLIGHT_ROWS = joined(COMPASS_COMMON_ROWS, std::array<MenuRow, 1>{
    changing_action_row(calibrate_text, start_or_stop_calibration),
});
constexpr auto COMPASS_GROUND_ROWS = joined(COMPASS_COMMON_ROWS, std::array<MenuRow, 4>{
    value_row("TILT COMP: ", tilt_comp_text, step_tilt_comp),
    action_row("DEV CALIBRATE", menu_open_keeping_cursor, dev_cal_confirm_screen),
    action_row("CLEAR DEV CAL", menu_open_keeping_cursor, dev_cal_clear_screen),
    action_row("SET ALIGNMENT", menu_open, set_alignment_screen),
});

}  // namespace

constexpr MenuList COMPASS_SETUP_IN_FLIGHT = {compass_setup_screen, " COMPASS SETUP ", COMPASS_IN_FLIGHT_ROWS.data(),
                                              COMPASS_IN_FLIGHT_ROWS.size()};
constexpr MenuList COMPASS_SETUP_GROUND = {compass_setup_screen, " COMPASS SETUP ", COMPASS_GROUND_ROWS.data(), COMPASS_GROUND_ROWS.size()};

void compass_setup_screen()
{
    menu_list_screen(compass_cal_type == 1 ? COMPASS_SETUP_IN_FLIGHT : COMPASS_SETUP_GROUND);
}

uint8_t compass_setup_row_opening(screen_routine screen)
{
    return menu_row_opening(COMPASS_SETUP_GROUND, screen);
}

uint8_t compass_setup_calibrate_row()
{
    return menu_row_selecting(COMPASS_SETUP_IN_FLIGHT, start_or_stop_calibration);
}

// ---- adjustment screens --------------------------------------------------------------

namespace {

void adjustment_hints(const char* second_line, const char* third_line)
{
    lcd_text_centred_const(64, 40, "USE { } OR ~", 0, PIXEL_SET, 0);
    lcd_text_centred_const(64, 48, second_line, 0, PIXEL_SET, 0);
    lcd_text_centred_const(64, 56, third_line, 0, PIXEL_SET, 0);
}

// Back to the horizon list on the row that opened `screen`, through the
// exchange's message.
void horizon_exchange(screen_routine screen, uint8_t code, uint8_t a, uint8_t b)
{
    menu_cursor = menu_row_opening(HORIZON_SETUP, screen);
    menu_exchange(code, a, b, ack_received, done_screen, horizon_setup_screen);
}

// Bump and slew differ only in their texts, their factor and their command.
void factor_screen(screen_routine self, const char* title, const char* hint, uint8_t& index,
                   uint16_t Factor::*value, uint8_t code)
{
    if (index >= FACTOR_COUNT)
        index = FACTOR_COUNT - 1;

    menu_title(title);
    lcd_text_centred_const(64, 17, FACTORS[index].name, 1, PIXEL_SET, 0);
    adjustment_hints("TO SET THE", hint);

    if (key_raises()) {
        if (index < FACTOR_COUNT - 1)
            ++index;
    } else if (key_lowers()) {
        if (index > 0)
            --index;
    } else if (key_code == KEY_KNOB_PRESS) {
        const uint16_t v = FACTORS[index].*value;
        horizon_exchange(self, code, static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>(v >> 8));
    }
    key_code = KEY_NONE;
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
    } else if (key_code == KEY_KNOB_PRESS) {
        menu_cursor = menu_row_opening(DISPLAY_SETUP, contrast_screen);
        current_screen = display_setup_screen;
    }
    key_code = KEY_NONE;
}

void bump_factor_screen()
{
    factor_screen(bump_factor_screen, " BUMP FACTOR ", "BUMP FACTOR", bump_index, &Factor::bump, CMD_BUMP_FACTOR);
}

void slew_factor_screen()
{
    factor_screen(slew_factor_screen, " SLEW FACTOR ", "SLEW FACTOR", slew_index, &Factor::slew, CMD_SLEW_FACTOR);
}

void tb_source_screen()
{
    // The choice lives in the cursor: 0 BANK, 1 GYRO.
    const bool gyro = menu_cursor == 1;

    menu_title(" TURN & BANK ");
    lcd_text_centred_const(64, 17, gyro ? "GYRO" : "BANK", 1, PIXEL_SET, 0);
    adjustment_hints("TO SET THE", "TURN & BANK");

    switch (key_code) {
    case KEY_CLOCKWISE:
    case KEY_RIGHT:
        menu_cursor = 1;
        break;
    case KEY_ANTICLOCKWISE:
    case KEY_LEFT:
        menu_cursor = 0;
        break;
    case KEY_KNOB_PRESS: {
        const uint8_t source = gyro ? 4 : 0;
        horizon_exchange(tb_source_screen, CMD_TB_SOURCE, source, source);
        break;
    }
    default:
        break;
    }
    key_code = KEY_NONE;
}
