// The eight menu icons.
#include "firmware/lcd/lcd.h"

const uint8_t icon_sheets[2 * 512] = {};

void lcd_draw_icon(uint8_t) {}
