// Pixels, lines and rectangles. Everything goes through lcd_plot, so no
// primitive clips on its own: off-panel points are simply skipped there.
#include "firmware/lcd/lcd.h"

#include <cstdlib>

bool lcd_get_pixel(uint8_t x, uint8_t y)
{
    if (x >= LCD_WIDTH || y >= LCD_HEIGHT)
        return false;
    return (frame_buffer[x + (y >> 3) * LCD_WIDTH] & bit_mask[y & 7]) != 0;
}

void lcd_plot(uint8_t x, uint8_t y, uint8_t mode)
{
    if (x >= LCD_WIDTH || y >= LCD_HEIGHT)
        return;
    if (mode == PIXEL_INVERT)
        mode = lcd_get_pixel(x, y) ? PIXEL_CLEAR : PIXEL_SET;
    uint8_t& column = frame_buffer[x + (y >> 3) * LCD_WIDTH];
    if (mode == PIXEL_CLEAR)
        column &= static_cast<uint8_t>(~bit_mask[y & 7]);
    else if (mode == PIXEL_SET)
        column |= bit_mask[y & 7];
}

void lcd_line(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t mode)
{
    // The error term is kept in 64 bits so that far-off endpoints (which the
    // 8-bit wrap may still bring onto the panel) cannot overflow it.
    const int64_t dx = std::llabs(int64_t{x1} - x0);
    const int64_t dy = std::llabs(int64_t{y1} - y0);
    const int32_t sx = x0 > x1 ? -1 : 1;
    const int32_t sy = y0 > y1 ? -1 : 1;
    int32_t x = x0;
    int32_t y = y0;
    // The unsigned conversions below are the deliberate modulo-256 reduction.
    if (dx >= dy) {
        int64_t e = 2 * dy - dx;
        for (int64_t n = 0; n <= dx; ++n) {
            lcd_plot(static_cast<uint8_t>(x), static_cast<uint8_t>(y), mode);
            if (e > 0) {
                x += sx;
                y += sy;
                e += 2 * dy - 2 * dx;
            } else {
                x += sx;
                e += 2 * dy;
            }
        }
    } else {
        int64_t e = 2 * dx - dy;
        for (int64_t n = 0; n <= dy; ++n) {
            lcd_plot(static_cast<uint8_t>(x), static_cast<uint8_t>(y), mode);
            if (e > 0) {
                x += sx;
                y += sy;
                e += 2 * dx - 2 * dy;
            } else {
                y += sy;
                e += 2 * dx;
            }
        }
    }
}

void lcd_rect(uint8_t x0, uint8_t y0, uint8_t x1, uint8_t y1, uint8_t mode)
{
    // This order, corners included twice, is what makes an inverted outline
    // leave its four corners as they were.
    lcd_line(x0, y0, x0, y1, mode);
    lcd_line(x0, y0, x1, y0, mode);
    lcd_line(x1, y0, x1, y1, mode);
    lcd_line(x0, y1, x1, y1, mode);
}

void lcd_fill_rect(uint8_t x0, uint8_t y0, uint8_t x1, uint8_t y1, uint8_t mode)
{
    // A wide counter: with an 8-bit one, x1 = 255 would never end.
    for (int32_t x = x0; x <= x1; ++x)
        lcd_line(x, y0, x, y1, mode);
}

int32_t iabs(int32_t v)
{
    // Negated in unsigned arithmetic so the most negative value wraps to
    // itself instead of overflowing.
    return v < 0 ? static_cast<int32_t>(0u - static_cast<uint32_t>(v)) : v;
}
