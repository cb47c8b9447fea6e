// Strings in the menu font, the small font and the two digit fonts.
//
// Positions are bytes and every sum wraps modulo 256 before lcd_plot's bounds
// check, so text running off the right edge comes back at 256 exactly as the
// panel's other drawing does. Strings hold codes 32..127; any other byte is
// drawn as a space rather than read from outside the glyph tables.
#include <cstring>

#include "firmware/lcd/lcd.h"

namespace {

constexpr uint8_t FIRST_CODE = 32;
constexpr uint8_t LAST_CODE = 127;
constexpr uint8_t MEDIUM_BLANK = 10;

uint8_t text_glyph(char ch)
{
    const auto code = static_cast<uint8_t>(ch);
    return code >= FIRST_CODE && code <= LAST_CODE ? code - FIRST_CODE : 0;
}

uint8_t text_length(const char* text)
{
    // Lengths are bytes too: centring a longer string wraps like the rest.
    return static_cast<uint8_t>(text ? std::strlen(text) : 0);
}

uint8_t at(int32_t v) { return static_cast<uint8_t>(v); }

// The glyph's pixels go through lcd_line rather than being wrapped first, so
// that each point, not each end, wraps modulo 256.
void big_line(int32_t x0, int32_t y0, int32_t x1, int32_t y1) { lcd_line(x0, y0, x1, y1, PIXEL_SET); }

void big_minus(int32_t x, int32_t y)
{
    for (int32_t row = 13; row <= 16; ++row)
        big_line(x, y + row, x + 11, y + row);
}

// Constant strings go through one 32-byte working buffer; a longer constant
// is cut at 31 characters instead of running past it.
constexpr std::size_t CONST_TEXT_BUFFER = 32;

struct ConstText {
    char text[CONST_TEXT_BUFFER];
    explicit ConstText(const char* source)
    {
        std::size_t n = 0;
        if (source)
            while (n < CONST_TEXT_BUFFER - 1 && source[n] != '\0') {
                text[n] = source[n];
                ++n;
            }
        text[n] = '\0';
    }
};

}  // namespace

void lcd_text(uint8_t x, uint8_t y, const char* text, uint8_t double_height, uint8_t mode,
              uint8_t inverse)
{
    if (!text)
        return;
    for (; *text != '\0'; ++text, x = at(x + 8)) {
        const uint8_t* glyph = &menu_font[text_glyph(*text) * 8];
        for (uint8_t column = 0; column < 8; ++column) {
            const uint8_t bits = glyph[column];
            const uint8_t px = at(x + column);
            for (uint8_t j = 0; j < 8; ++j) {
                const bool set = (bits & bit_mask[j]) != 0;
                if (double_height == 1) {
                    if (set) {
                        lcd_plot(px, at(y + 2 * j), mode);
                        lcd_plot(px, at(y + 2 * j + 1), mode);
                    }
                } else if (inverse == 1) {
                    // Inverse video ignores the mode: a lit cell, unlit strokes.
                    lcd_plot(px, at(y + j), set ? PIXEL_CLEAR : PIXEL_SET);
                } else if (set) {
                    lcd_plot(px, at(y + j), mode);
                }
            }
        }
    }
}

void lcd_text_centred(uint8_t cx, uint8_t y, const char* text, uint8_t double_height,
                      uint8_t mode, uint8_t inverse)
{
    // Double height keeps the width, so the centring is the same for both.
    lcd_text(at(cx - 4 * text_length(text)), y, text, double_height, mode, inverse);
}

void lcd_text_small(uint8_t x, uint8_t y, const char* text, uint8_t invert_from)
{
    if (!text)
        return;
    bool inverse = false;
    for (uint8_t index = 0; *text != '\0'; ++text, ++index, x = at(x + 6)) {
        if (index == invert_from)
            inverse = true;
        const uint8_t* glyph = &small_font[text_glyph(*text) * 5];
        // Six columns: the sixth is the always-empty gap, which inverse video
        // lights so that inverted characters join into one bar.
        for (uint8_t column = 0; column < 6; ++column) {
            const uint8_t bits = column < 5 ? glyph[column] : 0;
            // Row 0 is bit 7, empty in every glyph: it puts the top edge of an
            // inverse bar one row above the text.
            for (uint8_t r = 0; r < 8; ++r) {
                const bool set = (bits & bit_mask[7 - r]) != 0;
                if (set != inverse)
                    lcd_plot(at(x + column), at(y + r - 1), PIXEL_SET);
            }
        }
    }
}

void lcd_text_small_centred(uint8_t cx, uint8_t y, const char* text, uint8_t invert_from)
{
    lcd_text_small(at(cx - 3 * text_length(text)), y, text, invert_from);
}

void lcd_medium_number(uint8_t x, uint8_t y, const char* text)
{
    if (!text)
        return;
    for (; *text != '\0'; ++text, x = at(x + 12)) {
        const char ch = *text;
        const uint8_t g = ch >= '0' && ch <= '9' ? ch - '0' : MEDIUM_BLANK;
        const uint8_t* glyph = &medium_digits[g * 36];
        for (uint8_t band = 0; band < 3; ++band)
            for (uint8_t column = 0; column < 12; ++column)
                for (uint8_t j = 0; j < 8; ++j)
                    if (glyph[band * 12 + column] & bit_mask[j])
                        lcd_plot(at(x + column), at(y + band * 8 + j), PIXEL_SET);
    }
}

void lcd_big_number(uint8_t x, uint8_t y, const char* text)
{
    if (!text)
        return;
    for (; *text != '\0'; ++text) {
        const char ch = *text;
        if (ch == '.') {
            // A rounded 5 x 4 dot on the digits' baseline.
            big_line(x + 2, y + 27, x + 2, y + 28);
            for (int32_t column = 3; column <= 5; ++column)
                big_line(x + column, y + 26, x + column, y + 29);
            big_line(x + 6, y + 27, x + 6, y + 28);
            x = at(x + 12);
        } else if (ch == '-') {
            big_minus(x, y);
            x = at(x + 14);
        } else if (ch == '+') {
            for (int32_t column = 4; column <= 7; ++column)
                big_line(x + column, y + 9, x + column, y + 20);
            big_minus(x, y);
            x = at(x + 14);
        } else {
            // Codes 47..57 have glyphs ("/" the bar); a space and anything
            // else the table does not hold leave a blank digit cell.
            if (ch >= '/' && ch <= '9') {
                const uint8_t* glyph = &large_digits[(ch - 45) * 88];
                for (uint8_t band = 0; band < 4; ++band)
                    for (uint8_t column = 0; column < 22; ++column)
                        for (uint8_t j = 0; j < 8; ++j)
                            if (glyph[band * 22 + column] & bit_mask[j])
                                lcd_plot(at(x + column), at(y + band * 8 + j), PIXEL_SET);
            }
            x = at(x + 22);
        }
    }
}

void lcd_text_const(uint8_t x, uint8_t y, const char* text, uint8_t double_height, uint8_t mode,
                    uint8_t inverse)
{
    const ConstText copy(text);
    lcd_text(x, y, copy.text, double_height, mode, inverse);
}

void lcd_text_centred_const(uint8_t cx, uint8_t y, const char* text, uint8_t double_height,
                            uint8_t mode, uint8_t inverse)
{
    const ConstText copy(text);
    lcd_text_centred(cx, y, copy.text, double_height, mode, inverse);
}

void lcd_text_small_const(uint8_t x, uint8_t y, const char* text, uint8_t invert_from)
{
    const ConstText copy(text);
    lcd_text_small(x, y, copy.text, invert_from);
}

void lcd_text_small_centred_const(uint8_t cx, uint8_t y, const char* text, uint8_t invert_from)
{
    const ConstText copy(text);
    lcd_text_small_centred(cx, y, copy.text, invert_from);
}
