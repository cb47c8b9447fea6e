// The setup menus: framework, main menu, setting and compass screens.
#pragma once

#include <cstdint>

#include "firmware/instrument_state.h"

// ---- menu.cpp: shared drawing, message screens, main menu -----------------
void menu_title(const char* title);
void menu_scrollbar(uint8_t index, uint8_t count);
void menu_item(uint8_t x, uint8_t y, const char* text, uint8_t selected);
void menu_setting_row(uint8_t x, uint8_t row, const char* label, const char* value);
// First list row on show: 0 while menu_cursor < 7, else menu_cursor - 6.
uint8_t menu_list_scroll();
// The acknowledged exchange as the menus use it (send window 10, time-out
// 20): afterwards return_screen is `back` and current_screen is `success` or
// comms_error_screen.
bool menu_exchange(uint8_t code, uint8_t a, uint8_t b, uint8_t& answer_flag,
                   screen_routine success, screen_routine back);

void main_menu_screen();
void done_screen();
void comms_error_screen();

// ---- setting_screens.cpp ----------------------------------------------------
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
