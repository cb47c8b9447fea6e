// The main screen: one of the three flight pages, the calibration box while an
// in-flight compass calibration runs, and the panel keys outside the menus.
#include <cstdio>
#include <iterator>

#include "firmware/code_table.h"
#include "firmware/flight/flight.h"
#include "firmware/instrument_state.h"
#include "firmware/lcd/lcd.h"
#include "firmware/link/link.h"
#include "firmware/setup/setup.h"

// Shown in place of a page whose sensor has not reported since ON.
static void no_data_page(const char* source)
{
    lcd_text_centred_const(64, 5, "NO DATA", 1, PIXEL_SET, 0);
    lcd_text_centred_const(64, 25, source, 1, PIXEL_SET, 0);
    lcd_text_centred_const(64, 45, "SENSOR", 1, PIXEL_SET, 0);
}

namespace {

// What each page shows, and in its place while its sensor is silent.
struct MainPage {
    uint8_t page;
    void (*draw)();
    const uint8_t* data_valid;
    const char* no_data_source;
};
constexpr MainPage MAIN_PAGES[] = {
    {PAGE_ATTITUDE, attitude_page, &attitude_valid, "FROM ATTITUDE"},
    {PAGE_COMPASS, compass_page, &heading_valid, "FROM COMPASS"},
    {PAGE_TURN_BANK, turn_bank_page, &attitude_valid, "FROM ATTITUDE"},
};
static_assert(std::size(MAIN_PAGES) == MAIN_PAGE_COUNT, "one row for every page");
static_assert(rows_in_code_order(MAIN_PAGES, &MainPage::page), "rows in the order of the pages");
constexpr uint8_t LAST_PAGE = std::size(MAIN_PAGES) - 1;

}  // namespace

static void draw_page()
{
    if (main_page > LAST_PAGE)
        return;
    const MainPage& page = MAIN_PAGES[main_page];
    if (*page.data_valid == 1)
        page.draw();
    else
        no_data_page(page.no_data_source);
}

// The box sits at the top of the compass page, where it hides only the tape,
// and across the middle of the other pages.
static void calibration_box()
{
    const uint8_t top = main_page == PAGE_COMPASS ? 0 : 18;
    lcd_fill_rect(18, top, 110, static_cast<uint8_t>(top + 20), PIXEL_CLEAR);
    lcd_rect(18, top, 110, static_cast<uint8_t>(top + 20), PIXEL_SET);

    char line[24];
    std::snprintf(line, sizeof line, "COUNT: %d", static_cast<int>(calib_count));
    lcd_text(20, static_cast<uint8_t>(top + 2), line, 0, PIXEL_INVERT, 0);
    std::snprintf(line, sizeof line, "FIT: %.1f%%", calib_fit / 10.0);
    lcd_text(20, static_cast<uint8_t>(top + 12), line, 0, PIXEL_INVERT, 0);
}

static void enter_menus()
{
    menu_edit = 0;
    if (calibrating == 1) {
        // Straight to the row that stops the calibration.
        menu_cursor = compass_setup_calibrate_row();
        current_screen = compass_setup_screen;
    } else {
        menu_cursor = 0;
        current_screen = main_menu_screen;
    }
}

// Trimming needs a pitch to capture; slider pitch is never trimmed, so the
// toggle only shows with a sensor unit.
static void toggle_pitch_trim()
{
    if (attitude_valid != 1)
        return;
    pitch_trim = pitch_trim == 0 ? pitch : 0;
}

// The rose has no bug row and no reciprocal display.
static void toggle_heading_bug()
{
    if (compass_style(compass_display).rose)
        return;
    if (heading_bug_on == 0) {
        heading_bug = heading;
        heading_bug_on = 1;
    } else {
        heading_bug_on = 0;
    }
}

static void start_reciprocal_display()
{
    if (compass_style(compass_display).rose)
        return;
    reciprocal_shown = 1;
    reciprocal_timer = 5;
}

// Command 16 asks the attitude unit to drop its range report; once it has
// answered, the lamp and the warning strip go out at once instead of after
// their 1.5 s hold.
static void acknowledge_range_warning()
{
    if (send_until_answered(CMD_CLEAR_RANGE_WARNING, 0, 0, ack_received, 10, 10))
        led_timer = 0;
}

static void handle_key()
{
    const uint8_t page = main_page;
    switch (key_code) {
    case KEY_KNOB_PRESS:
        enter_menus();
        break;
    case KEY_CLOCKWISE:
        main_page = static_cast<uint8_t>(page >= LAST_PAGE ? 0 : page + 1);
        break;
    case KEY_ANTICLOCKWISE:
        main_page = static_cast<uint8_t>(page == 0 || page > LAST_PAGE ? LAST_PAGE : page - 1);
        break;
    case KEY_LEFT:
        if (page == PAGE_COMPASS)
            toggle_heading_bug();
        else
            toggle_pitch_trim();
        break;
    case KEY_RIGHT:
        if (page == PAGE_COMPASS)
            start_reciprocal_display();
        else
            acknowledge_range_warning();
        break;
    default:
        break;
    }
}

void main_screen()
{
    draw_page();
    if (calibrating == 1)
        calibration_box();
    if (key_code != KEY_NONE)
        handle_key();
    key_code = KEY_NONE;
}
