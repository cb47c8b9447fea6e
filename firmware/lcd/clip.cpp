// Cohen-Sutherland clipping of a line against the panel (x 0..127, y 0..63).
#include "firmware/lcd/lcd.h"

ClippedLine clipped_line{0, 0, 0, 0};

namespace {
constexpr uint8_t OUT_BELOW = 1;
constexpr uint8_t OUT_ABOVE = 2;
constexpr uint8_t OUT_RIGHT = 4;
constexpr uint8_t OUT_LEFT = 8;

// Point on the line through (a0, b0)-(a1, b1) where a = edge. Products are
// taken in 64 bits: the result always lies between the two endpoints, so it
// fits again in 32, but the product of two wide spans would not.
int32_t intersect(int32_t a0, int32_t b0, int32_t a1, int32_t b1, int32_t edge)
{
    return static_cast<int32_t>(b0 + (int64_t{b1} - b0) * (int64_t{edge} - a0) / (int64_t{a1} - a0));
}
}  // namespace

uint8_t lcd_outcode(int32_t x, int32_t y)
{
    uint8_t code = 0;
    if (y >= LCD_HEIGHT)
        code |= OUT_BELOW;
    else if (y < 0)
        code |= OUT_ABOVE;
    if (x >= LCD_WIDTH)
        code |= OUT_RIGHT;
    else if (x < 0)
        code |= OUT_LEFT;
    return code;
}

bool lcd_clip_line(int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    uint8_t c0 = lcd_outcode(x0, y0);
    uint8_t c1 = lcd_outcode(x1, y1);
    for (;;) {
        if ((c0 | c1) == 0) {
            clipped_line = {x0, y0, x1, y1};
            return true;
        }
        if ((c0 & c1) != 0) {
            clipped_line = {0, 0, 0, 0};
            return false;
        }
        // An endpoint outside on some side means the other is not on that
        // side (else the AND above rejected), so no divisor below is zero.
        const uint8_t c = c0 != 0 ? c0 : c1;
        int32_t x;
        int32_t y;
        // Lower and right crossings are taken one past the last row and
        // column and then put on it, as the panel's own code does.
        if (c & OUT_BELOW) {
            x = intersect(y0, x0, y1, x1, LCD_HEIGHT);
            y = LCD_HEIGHT - 1;
        } else if (c & OUT_ABOVE) {
            x = intersect(y0, x0, y1, x1, 0);
            y = 0;
        } else if (c & OUT_RIGHT) {
            y = intersect(x0, y0, x1, y1, LCD_WIDTH);
            x = LCD_WIDTH - 1;
        } else {
            y = intersect(x0, y0, x1, y1, 0);
            x = 0;
        }
        if (c == c0) {
            x0 = x;
            y0 = y;
            c0 = lcd_outcode(x0, y0);
        } else {
            x1 = x;
            y1 = y;
            c1 = lcd_outcode(x1, y1);
        }
    }
}
