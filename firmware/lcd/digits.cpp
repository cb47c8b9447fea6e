// The two digit fonts.
#include "firmware/lcd/bitmap_art.h"
#include "firmware/lcd/lcd.h"

const uint8_t medium_digits[11 * 36] = {};
const uint8_t large_digits[13 * 88] = {};
