#include "firmware/setup/setup.h"

void menu_title(const char*) {}
void menu_scrollbar(uint8_t, uint8_t) {}
void menu_item(uint8_t, uint8_t, const char*, uint8_t) {}
void menu_setting_row(uint8_t, uint8_t, const char*, const char*) {}
uint8_t menu_list_scroll() { return 0; }
bool menu_exchange(uint8_t, uint8_t, uint8_t, uint8_t&, screen_routine, screen_routine) { return false; }
void main_menu_screen() {}
void done_screen() {}
void comms_error_screen() {}
