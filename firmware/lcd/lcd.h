// The LCD drawing engine: frame buffer, presentation, primitives,
// trigonometry, fonts, text and icons of the 128 x 64 panel.
//
// Frame buffer layout: 8 pages of 128 column bytes. A byte is 8 vertical
// pixels, bit 0 on top; page p holds rows 8p..8p+7, so pixel (x, y) is bit
// (y mod 8) of byte x + (y div 8) * 128. A set bit is a lit (dark) pixel.
// Glyph, icon and rose tables use the same column-byte layout.
//
// Coordinates passed as uint8_t are reduced modulo 256 on the way in, on
// purpose: a negative position lands off the panel (128..255), while 256..383
// lands on it again. Off-panel pixels are skipped silently by lcd_plot.
#pragma once

#include <cstdint>

// ---- frame_buffer.cpp: display memory and its presentation -----------------

constexpr int LCD_WIDTH = 128;
constexpr int LCD_HEIGHT = 64;

extern uint8_t frame_buffer[1024];
extern const uint8_t bit_mask[8];  // 1, 2, 4, ... 128, indexed by y mod 8

// The window's picture of the display, 0xffRRGGBB: each display pixel is a
// square of LCD_PIXEL_SCALE x LCD_PIXEL_SCALE screen pixels. lcd_present
// paints the top-left LCD_PAINTED_WIDTH x LCD_PAINTED_HEIGHT; one more
// column and row are never painted (257 x 129 at the scale of 2).
constexpr int LCD_PIXEL_SCALE = 2;
constexpr int LCD_PAINTED_WIDTH = LCD_PIXEL_SCALE * LCD_WIDTH;
constexpr int LCD_PAINTED_HEIGHT = LCD_PIXEL_SCALE * LCD_HEIGHT;
constexpr int LCD_SURFACE_WIDTH = LCD_PAINTED_WIDTH + 1;
constexpr int LCD_SURFACE_HEIGHT = LCD_PAINTED_HEIGHT + 1;
extern uint32_t lcd_surface[LCD_SURFACE_HEIGHT][LCD_SURFACE_WIDTH];
constexpr uint32_t LCD_LIT_COLOUR = 0xff000000;

void lcd_clear();
// Paints the whole frame buffer into lcd_surface, a square of screen pixels
// per display pixel, then tells the host.
void lcd_present();
// Paints one display pixel's square. lcd_present gives the same surface as
// calling this for every pixel, lit ones in LCD_LIT_COLOUR, only faster.
void lcd_present_pixel(uint8_t x, uint8_t y, uint32_t colour);

// ---- primitives.cpp: pixels, lines, rectangles -----------------------------

enum : uint8_t { PIXEL_CLEAR = 0, PIXEL_SET = 1, PIXEL_INVERT = 2 };

bool lcd_get_pixel(uint8_t x, uint8_t y);
void lcd_plot(uint8_t x, uint8_t y, uint8_t mode);
// Bresenham from (x0, y0) to (x1, y1), both ends included, every point once.
void lcd_line(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t mode);
void lcd_rect(uint8_t x0, uint8_t y0, uint8_t x1, uint8_t y1, uint8_t mode);
void lcd_fill_rect(uint8_t x0, uint8_t y0, uint8_t x1, uint8_t y1, uint8_t mode);
int32_t iabs(int32_t v);

// ---- circle.cpp -------------------------------------------------------------

void lcd_circle(uint8_t cx, uint8_t cy, uint8_t r, uint8_t mode);
void lcd_circle_points(uint8_t cx, uint8_t cy, uint8_t x, uint8_t y, uint8_t mode);

// ---- clip.cpp: Cohen-Sutherland against the panel --------------------------

struct ClippedLine {
    int32_t x0, y0, x1, y1;
};
// Written by lcd_clip_line, read by its caller right after the call.
extern ClippedLine clipped_line;

uint8_t lcd_outcode(int32_t x, int32_t y);
bool lcd_clip_line(int32_t x0, int32_t y0, int32_t x1, int32_t y1);

// ---- trig.cpp: whole-degree sine and cosine scaled by 255 ------------------

// a must already be in 0..359.
int32_t sin255(int32_t a);
int32_t cos255(int32_t a);

// ---- rose.cpp ---------------------------------------------------------------

// The 64 x 64 compass rose, 512 bytes in 64-byte pages.
extern const uint8_t rose_bitmap[512];
// Draws the rose turned clockwise by a degrees (0..359), overwriting columns
// 28..92 of rows 1..63.
void lcd_draw_rotated_rose(int32_t a);

// ---- fonts.cpp / icons.cpp: the bitmaps ------------------------------------

extern const uint8_t small_font[96 * 5];     // codes 32..127, bit 6 on top
extern const uint8_t menu_font[96 * 8];      // codes 32..127, bit 0 on top
extern const uint8_t medium_digits[11 * 36]; // 0..9 and blank, 3 bands of 12
extern const uint8_t large_digits[13 * 88];  // codes 45..57, 4 bands of 22
extern const uint8_t icon_sheets[2 * 512];   // icons 0..3, then 4..7

// ---- text.cpp ---------------------------------------------------------------

// Menu font, 8 x 8. double_height 1 doubles every row; inverse 1 draws a lit
// cell with unlit strokes (single height only).
void lcd_text(uint8_t x, uint8_t y, const char* text, uint8_t double_height, uint8_t mode,
              uint8_t inverse);
void lcd_text_centred(uint8_t cx, uint8_t y, const char* text, uint8_t double_height,
                      uint8_t mode, uint8_t inverse);
// Small font, 5 x 7 in a 6-pixel pitch, rows y..y+6; characters from
// invert_from on (100 for none) are drawn inverse in rows y-1..y+6.
void lcd_text_small(uint8_t x, uint8_t y, const char* text, uint8_t invert_from);
void lcd_text_small_centred(uint8_t cx, uint8_t y, const char* text, uint8_t invert_from);
// Digits and spaces only.
void lcd_medium_number(uint8_t x, uint8_t y, const char* text);
// Digits, space, "+", "-" and ".".
void lcd_big_number(uint8_t x, uint8_t y, const char* text);
// Icon n (0..7) over columns 10..41 of rows 16..47 (icon 4: rows 8..39).
void lcd_draw_icon(uint8_t n);

// Variants for string constants: the text goes through a 32-byte working
// buffer first, so at most 31 characters are drawn.
void lcd_text_const(uint8_t x, uint8_t y, const char* text, uint8_t double_height, uint8_t mode,
                    uint8_t inverse);
void lcd_text_centred_const(uint8_t cx, uint8_t y, const char* text, uint8_t double_height,
                            uint8_t mode, uint8_t inverse);
void lcd_text_small_const(uint8_t x, uint8_t y, const char* text, uint8_t invert_from);
void lcd_text_small_centred_const(uint8_t cx, uint8_t y, const char* text, uint8_t invert_from);
