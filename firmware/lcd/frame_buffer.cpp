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

// The surface's single-pixel setter. The last column and row lie outside
// every square and are never written.
static inline void surface_set_pixel(int sx, int sy, uint32_t colour)
{
    lcd_surface[sy][sx] = colour;
}

// Row by row, left to right within a row: (2x, 2y), (2x+1, 2y), (2x, 2y+1),
// (2x+1, 2y+1) at the scale of 2.
void lcd_present_pixel(uint8_t x, uint8_t y, uint32_t colour)
{
    const int sx = LCD_PIXEL_SCALE * x;
    const int sy = LCD_PIXEL_SCALE * y;
    for (int dy = 0; dy < LCD_PIXEL_SCALE; ++dy)
        for (int dx = 0; dx < LCD_PIXEL_SCALE; ++dx)
            surface_set_pixel(sx + dx, sy + dy, colour);
}

// Row at a time: each LCD row is converted once into its first screen row,
// which is then copied into the rows below it, so a frame costs little more
// than copying the picture. The result is the same as calling
// lcd_present_pixel for every pixel.
void lcd_present()
{
    // Asked once per frame: the unlit colour follows the desktop's palette.
    const uint32_t unlit = host().lcd_unlit_colour();
    for (int y = 0; y < LCD_HEIGHT; ++y) {
        const uint8_t* page = &frame_buffer[(y / 8) * LCD_WIDTH];
        const uint8_t mask = bit_mask[y % 8];
        uint32_t* row = lcd_surface[LCD_PIXEL_SCALE * y];
        for (int x = 0; x < LCD_WIDTH; ++x) {
            const uint32_t colour = (page[x] & mask) ? LCD_LIT_COLOUR : unlit;
            for (int dx = 0; dx < LCD_PIXEL_SCALE; ++dx)
                row[LCD_PIXEL_SCALE * x + dx] = colour;
        }
        for (int dy = 1; dy < LCD_PIXEL_SCALE; ++dy)
            std::memcpy(lcd_surface[LCD_PIXEL_SCALE * y + dy], row, LCD_PAINTED_WIDTH * sizeof row[0]);
    }
    host().lcd_surface_painted();
}
