// The compass rose and its rotation onto the compass page.
#include "firmware/lcd/lcd.h"

const uint8_t rose_bitmap[512] = {};

void lcd_draw_rotated_rose(int32_t a)
{
    const int32_t c = cos255(a);
    const int32_t s = sin255(a);
    for (int32_t i = -31; i <= 32; ++i) {
        // u and v walk the source picture backwards from each panel pixel;
        // stepping them saves two multiplications per pixel.
        int32_t u = i * s - 31 * c;
        int32_t v = i * c + 31 * s;
        for (int32_t j = -31; j <= 33; ++j) {
            // 250 against the table's 255 draws the rose about 2 % small, so
            // its ring stays clear of the block's edge at every angle.
            const int32_t sx = u / 250 + 31;
            const int32_t sy = v / 250 + 31;
            bool lit = false;
            if (sx >= 0 && sx < 64 && sy >= 0 && sy < 64)
                lit = (rose_bitmap[sx + (sy >> 3) * 64] & bit_mask[sy & 7]) != 0;
            lcd_plot(static_cast<uint8_t>(j + 59), static_cast<uint8_t>(i + 32),
                     lit ? PIXEL_SET : PIXEL_CLEAR);
            u += c;
            v -= s;
        }
    }
}
