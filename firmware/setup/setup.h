// The setup menus: framework, main menu, setting and compass screens.
//
// Every screen here follows the loop's contract: draw the whole picture into
// the just-cleared frame buffer, act on key_code at most once, clear it. A
// screen that sends something to the sensor unit does so inside its own call
// (menu_exchange), and clears the key only afterwards, so keys pressed while
// it waits are dropped by the window.
#pragma once

#include <cstdint>
#include <iterator>

#include "firmware/instrument_state.h"

// ---- menu.cpp: shared drawing, message screens, main menu -----------------

// Lists show 7 rows below the title, 8 pixels each, from y = 8 to y = 56.
constexpr uint8_t MENU_VISIBLE_ROWS = 7;

// title begins and ends with a space and is at most 16 characters.
void menu_title(const char* title);
void menu_scrollbar(uint8_t index, uint8_t count);
// Draws nothing when y < 8, so rows scrolled above the list never reach the
// title line.
void menu_item(uint8_t x, uint8_t y, const char* text, uint8_t selected);
// row is the list row already reduced by the list scroll; rows off the list
// (above it or below the panel) are skipped.
void menu_setting_row(uint8_t x, uint8_t row, const char* label, const char* value);
// First list row on show: 0 while menu_cursor < 7, else menu_cursor - 6.
uint8_t menu_list_scroll();
// The acknowledged exchange as the menus use it (send window 10, time-out
// 20): afterwards return_screen is `back` and current_screen is `success` or
// comms_error_screen.
bool menu_exchange(uint8_t code, uint8_t a, uint8_t b, uint8_t& answer_flag,
                   screen_routine success, screen_routine back);

// Browsing keys: clockwise and right next row up to `last`, anticlockwise and
// left previous row down to 0, never wrapping. Returns whether the key was
// one of them.
bool menu_browse(uint8_t last);
// The keys that raise a value being edited (clockwise, left) and those that
// lower it (anticlockwise, right).
bool key_raises();
bool key_lowers();

// ---- setup lists as tables ---------------------------------------------------
//
// A setup list is a table of rows. Row 0 leaves the list; the others are
// actions (key 1 runs them) or settings (key 1 toggles editing, and while
// editing the raising and lowering keys change the value). Row numbers, the
// row a child screen comes back to and the row count all come from the table.

struct MenuRow;
using menu_row_action = void (*)(const MenuRow& row);

enum class MenuRowKind : uint8_t {
    DONE,     // "*** DONE ***" centred on the first list line
    ACTION,   // its text alone
    SETTING,  // label, then the value
};

struct MenuRow {
    MenuRowKind kind = MenuRowKind::ACTION;
    const char* text = nullptr;            // an action's text, or a setting's label ("SLIP: ")
    const char* (*text_now)() = nullptr;   // an action's text where it changes (STOP CALIBRATE, a reading)
    uint8_t* flag = nullptr;               // a two-valued setting: any editing key toggles it
    const char* flag_texts[2] = {};        // its texts for 0 and 1
    const char* (*value)() = nullptr;      // a setting of more values: its text
    void (*edit)(bool up) = nullptr;       // and one step of it
    menu_row_action select = nullptr;      // key 1 on a DONE or ACTION row
    screen_routine opens = nullptr;        // the screen the row leads to
    uint8_t x = 0;                         // column of an action's text
};

// The DONE row, leaving the list by `leave`.
constexpr MenuRow done_row(menu_row_action leave)
{
    MenuRow row;
    row.kind = MenuRowKind::DONE;
    row.select = leave;
    return row;
}

// An action row; `opens` names the screen it leads to, so the screen can
// find its way back to this row.
constexpr MenuRow action_row(const char* text, menu_row_action select, screen_routine opens = nullptr)
{
    MenuRow row;
    row.text = text;
    row.select = select;
    row.opens = opens;
    return row;
}

// An action row whose text is worked out on every pass.
constexpr MenuRow changing_action_row(const char* (*text_now)(), menu_row_action select, uint8_t x = 0)
{
    MenuRow row;
    row.text_now = text_now;
    row.select = select;
    row.x = x;
    return row;
}

// A two-valued setting.
constexpr MenuRow flag_row(const char* label, uint8_t& flag, const char* off_text = "OFF", const char* on_text = "ON")
{
    MenuRow row;
    row.kind = MenuRowKind::SETTING;
    row.text = label;
    row.flag = &flag;
    row.flag_texts[0] = off_text;
    row.flag_texts[1] = on_text;
    return row;
}

// A setting of more than two values.
constexpr MenuRow value_row(const char* label, const char* (*value)(), void (*edit)(bool up))
{
    MenuRow row;
    row.kind = MenuRowKind::SETTING;
    row.text = label;
    row.value = value;
    row.edit = edit;
    return row;
}

struct MenuList {
    screen_routine screen;  // the list screen that shows it
    const char* title;
    const MenuRow* rows;
    uint8_t count;
};

// The lists the list screens show (the compass setup has one for each
// calibration type).
extern const MenuList DISPLAY_SETUP;
extern const MenuList HORIZON_SETUP;
extern const MenuList COMPASS_SETUP_IN_FLIGHT;
extern const MenuList COMPASS_SETUP_GROUND;
extern const MenuList SENSOR_DATA;
extern const MenuList SET_ALIGNMENT;

// One pass of a list screen: title and rows, then key code handled and cleared.
void menu_list_screen(const MenuList& list);
// The row of `list` that leads to `screen`.
uint8_t menu_row_opening(const MenuList& list, screen_routine screen);
// The row of `list` whose key 1 runs `select`.
uint8_t menu_row_selecting(const MenuList& list, menu_row_action select);
// The row of `list` whose text, or label, reads `text` now; 0 (DONE) if none.
// For whoever names a row instead of counting to it.
uint8_t menu_row_reading(const MenuList& list, const char* text);

// Row actions most lists share. Open the row's screen: on its first row;
// keeping the cursor; and back from a setup list to the main menu, on the
// list's own entry.
void menu_open(const MenuRow& row);
void menu_open_keeping_cursor(const MenuRow& row);
void menu_back_to_main_menu(const MenuRow& row);

void main_menu_screen();
// The main menu's entry that opens `screen`; 0 (EXIT MENU) if none does.
uint8_t main_menu_entry_opening(screen_routine screen);
void done_screen();
void comms_error_screen();

// ---- setting_screens.cpp ----------------------------------------------------

// Factor table of the bump and slew screens, indexed by bump_index or
// slew_index.
struct Factor {
    const char* name;
    uint16_t bump;  // sent as the bump factor
    uint16_t slew;  // sent as the slew factor
};
inline constexpr Factor FACTORS[] = {
    {"LOWEST", 70, 50}, {"LOW", 100, 100}, {"MEDIUM", 200, 200}, {"HIGH", 300, 300}, {"HIGHEST", 500, 500},
};
constexpr uint8_t FACTOR_COUNT = std::size(FACTORS);

// Texts of the compass settings; values out of range read as " ".
const char* compass_display_name(uint8_t display);
const char* tilt_comp_name(uint8_t mode);
// "%d|E" or "%d|W" ("|" is the degree sign) into text, which holds at least
// 16 bytes.
void format_variation(char* text, int32_t value);
// One step of variation by key_step, wrapping to the other end past +-99.
int32_t variation_stepped(int32_t value, uint8_t step, bool up);

void display_setup_screen();
void horizon_setup_screen();
void compass_setup_screen();
// Rows of the compass setup list: the one leading to `screen` (GROUND), and
// the one that starts and stops the in-flight calibration.
uint8_t compass_setup_row_opening(screen_routine screen);
uint8_t compass_setup_calibrate_row();
void contrast_screen();
void bump_factor_screen();
void slew_factor_screen();
void tb_source_screen();

// ---- compass_screens.cpp ----------------------------------------------------
void dev_cal_confirm_screen();
void dev_cal_clear_screen();
void dev_cal_turn_screen();
void sensor_data_screen();
void set_alignment_screen();
