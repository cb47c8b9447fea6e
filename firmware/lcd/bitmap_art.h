// Turning the readable drawings of fonts, icons and the rose into the
// panel's column-byte layout at compile time, so the drawings are the only
// source and there is no generated table to keep in step with them.
//
// A drawing is a list of rows, top row first: '#' is a lit pixel, '.' an
// unlit one. A mistake in a drawing (a row of the wrong width, a stray
// character, a glyph with too few rows) stops the build.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace lcd_art {

// Bit order within a column byte.
enum class Rows {
    banded,      // bands of 8 rows, bit 0 at the top of each band
    seven_high,  // one byte of 7 rows, bit 6 at the top (the small font)
};

constexpr std::size_t row_width(const char* row)
{
    std::size_t n = 0;
    while (row[n] != '\0')
        ++n;
    return n;
}

constexpr bool lit(const char* row, std::size_t column)
{
    if (row[column] == '#')
        return true;
    if (row[column] != '.')
        throw "a drawing may contain only '#' and '.'";
    return false;
}

// Packs `count` glyphs of width w and height h, drawn one after the other in
// `rows`. Glyph g's bytes start at g * (w * bytes per column); within a glyph
// the layout is band after band, each band w column bytes.
template <std::size_t N, std::size_t R>
constexpr std::array<uint8_t, N> pack(const char* const (&rows)[R], std::size_t count, std::size_t w,
                                      std::size_t h, Rows order)
{
    if (R != count * h)
        throw "wrong number of drawing rows";
    const std::size_t bands = order == Rows::seven_high ? 1 : h / 8;
    if ((order == Rows::seven_high && h != 7) || (order == Rows::banded && h % 8 != 0))
        throw "glyph height does not fit the byte layout";
    if (N != count * bands * w)
        throw "table size does not match the drawings";
    std::array<uint8_t, N> out{};
    for (std::size_t g = 0; g < count; ++g) {
        for (std::size_t r = 0; r < h; ++r) {
            const char* row = rows[g * h + r];
            if (row_width(row) != w)
                throw "drawing row of the wrong width";
            for (std::size_t c = 0; c < w; ++c) {
                if (!lit(row, c))
                    continue;
                if (order == Rows::seven_high)
                    out[g * w + c] |= static_cast<uint8_t>(1u << (6 - r));
                else
                    out[g * bands * w + (r / 8) * w + c] |= static_cast<uint8_t>(1u << (r % 8));
            }
        }
    }
    return out;
}

}  // namespace lcd_art

// The exported tables are plain arrays (other code takes their size and
// address), and a plain array can only be brace-initialised element by
// element; these list t[i], t[i + 1], ... for that initialiser.
#define LCD_ART_1(t, i) t[i],
#define LCD_ART_2(t, i) LCD_ART_1(t, i) LCD_ART_1(t, i + 1)
#define LCD_ART_4(t, i) LCD_ART_2(t, i) LCD_ART_2(t, i + 2)
#define LCD_ART_8(t, i) LCD_ART_4(t, i) LCD_ART_4(t, i + 4)
#define LCD_ART_16(t, i) LCD_ART_8(t, i) LCD_ART_8(t, i + 8)
#define LCD_ART_32(t, i) LCD_ART_16(t, i) LCD_ART_16(t, i + 16)
#define LCD_ART_64(t, i) LCD_ART_32(t, i) LCD_ART_32(t, i + 32)
#define LCD_ART_128(t, i) LCD_ART_64(t, i) LCD_ART_64(t, i + 64)
#define LCD_ART_256(t, i) LCD_ART_128(t, i) LCD_ART_128(t, i + 128)
#define LCD_ART_512(t, i) LCD_ART_256(t, i) LCD_ART_256(t, i + 256)
#define LCD_ART_1024(t, i) LCD_ART_512(t, i) LCD_ART_512(t, i + 512)
