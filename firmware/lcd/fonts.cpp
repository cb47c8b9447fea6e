// The four fonts.
#include "firmware/lcd/lcd.h"

const uint8_t small_font[96 * 5] = {};
const uint8_t menu_font[96 * 8] = {};
const uint8_t medium_digits[11 * 36] = {};
const uint8_t large_digits[13 * 88] = {};
