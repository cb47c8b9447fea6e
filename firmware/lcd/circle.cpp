// Midpoint circle in the 8-bit arithmetic of the panel's controller code.
#include "firmware/lcd/lcd.h"

void lcd_circle(uint8_t cx, uint8_t cy, uint8_t r, uint8_t mode)
{
    uint8_t x = 0;
    uint8_t y = r;
    // The decision variable is a signed byte: radii up to 63 stay within it,
    // larger ones wrap but the loop still ends because x only grows.
    int8_t p = static_cast<int8_t>((5 - 4 * int32_t{r}) / 4);
    lcd_circle_points(cx, cy, x, y, mode);
    while (x < y) {
        ++x;
        if (p < 0) {
            p = static_cast<int8_t>(p + 2 * x + 1);
        } else {
            --y;
            p = static_cast<int8_t>(p + 2 * (x - y) + 1);
        }
        lcd_circle_points(cx, cy, x, y, mode);
    }
}

void lcd_circle_points(uint8_t cx, uint8_t cy, uint8_t x, uint8_t y, uint8_t mode)
{
    // Sums wrap modulo 256 like every other panel coordinate. The three cases
    // keep each outline pixel from being plotted twice, which matters for
    // circles drawn in invert mode.
    auto at = [](int32_t v) { return static_cast<uint8_t>(v); };
    if (x == 0) {
        lcd_plot(cx, at(cy + y), mode);
        lcd_plot(cx, at(cy - y), mode);
        lcd_plot(at(cx + y), cy, mode);
        lcd_plot(at(cx - y), cy, mode);
    } else if (x == y) {
        lcd_plot(at(cx + x), at(cy + y), mode);
        lcd_plot(at(cx - x), at(cy + y), mode);
        lcd_plot(at(cx + x), at(cy - y), mode);
        lcd_plot(at(cx - x), at(cy - y), mode);
    } else if (x < y) {
        lcd_plot(at(cx + x), at(cy + y), mode);
        lcd_plot(at(cx - x), at(cy + y), mode);
        lcd_plot(at(cx + x), at(cy - y), mode);
        lcd_plot(at(cx - x), at(cy - y), mode);
        lcd_plot(at(cx + y), at(cy + x), mode);
        lcd_plot(at(cx - y), at(cy + x), mode);
        lcd_plot(at(cx + y), at(cy - x), mode);
        lcd_plot(at(cx - y), at(cy - x), mode);
    }
}
