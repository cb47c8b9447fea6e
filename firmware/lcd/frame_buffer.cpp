#include <cstring>

#include "firmware/host.h"
#include "firmware/lcd/lcd.h"

uint8_t frame_buffer[1024];
const uint8_t bit_mask[8] = {1, 2, 4, 8, 16, 32, 64, 128};
uint32_t lcd_surface[LCD_SURFACE_HEIGHT][LCD_SURFACE_WIDTH];

void lcd_clear()
{
    std::memset(frame_buffer, 0, sizeof frame_buffer);
}

// The surface's single-pixel setter. The 257th column and 129th row lie
// outside every 2 x 2 block and are never written.
static inline void surface_set_pixel(int sx, int sy, uint32_t colour)
{
    lcd_surface[sy][sx] = colour;
}

void lcd_present_pixel(uint8_t x, uint8_t y, uint32_t colour)
{
    const int sx = 2 * x;
    const int sy = 2 * y;
    surface_set_pixel(sx, sy, colour);
    surface_set_pixel(sx + 1, sy, colour);
    surface_set_pixel(sx, sy + 1, colour);
    surface_set_pixel(sx + 1, sy + 1, colour);
}

void lcd_present()
{
    // Asked once per frame: the unlit colour follows the desktop's palette.
    const uint32_t unlit = host().lcd_unlit_colour();
    for (uint8_t x = 0; x < LCD_WIDTH; ++x) {
        for (uint8_t y = 0; y < LCD_HEIGHT; ++y) {
            const bool lit = frame_buffer[x + (y / 8) * 128] & bit_mask[y % 8];
            lcd_present_pixel(x, y, lit ? LCD_LIT_COLOUR : unlit);
        }
    }
    host().lcd_surface_painted();
}
