#include "lcd_picture.h"

#include "firmware/lcd/lcd.h"

static bool lit(int x, int y)
{
    return frame_buffer[x + (y / 8) * 128] & bit_mask[y % 8];
}

std::string lcd_dump(int y0, int y1, int x0, int x1)
{
    std::string out;
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x)
            out += lit(x, y) ? '#' : '.';
        out += '\n';
    }
    return out;
}

int lcd_count_lit(int x0, int y0, int x1, int y1)
{
    int n = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            n += lit(x, y);
    return n;
}
