// The setup menus: framework, main menu, setting and compass screens.
//
// Every screen here follows the loop's contract: draw the whole picture into
// the just-cleared frame buffer, act on key_code at most once, clear it. A
// screen that sends something to the sensor unit does so inside its own call
// (menu_exchange), and clears the key only afterwards, so keys pressed while
// it waits are dropped by the window.
#pragma once

#include <cstdint>

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

// Helpers shared by the list screens.
// "*** DONE ***" centred on the first list line, only while the list is not
// scrolled.
void menu_done_row();
// An action row (plain text) of a scrolling list, at list row `row`.
void menu_action_row(uint8_t row, const char* text);
// Browsing keys: 2 and 5 next row up to `last`, 3 and 4 previous row down to
// 0, never wrapping. Returns whether the key was one of them.
bool menu_browse(uint8_t last);
// Texts of the two-valued settings.
const char* menu_off_on(uint8_t flag);

void main_menu_screen();
void done_screen();
void comms_error_screen();

// ---- setting_screens.cpp ----------------------------------------------------

// Factor table of the bump and slew screens, indexed by bump_index or
// slew_index (0..4).
constexpr uint8_t FACTOR_COUNT = 5;
extern const char* const factor_names[FACTOR_COUNT];
extern const uint16_t bump_factor_values[FACTOR_COUNT];
extern const uint16_t slew_factor_values[FACTOR_COUNT];

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
