// The eight menu icons and their drawing.
#include "firmware/lcd/bitmap_art.h"
#include "firmware/lcd/lcd.h"

const uint8_t icon_sheets[2 * 512] = {};

void lcd_draw_icon(uint8_t n)
{
    // n is 0..7; anything else is left undrawn rather than read past the sheets.
    if (n > 7)
        return;
    const int32_t source = n < 4 ? 32 * n : 32 * n + 384;
    // The question mark sits a page higher than the rest.
    const int32_t first_page = n == 4 ? 1 : 2;
    for (int32_t k = 0; k < 4; ++k)
        for (int32_t c = 0; c < 32; ++c)
            frame_buffer[(first_page + k) * LCD_WIDTH + 10 + c] = icon_sheets[source + 128 * k + c];
}
