// Glyph tables, text in the four fonts, icons and the rotated rose.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "firmware/lcd/lcd.h"
#include "support/lcd_picture.h"

namespace {

class Text : public ::testing::Test {
protected:
    void SetUp() override { lcd_clear(); }
};

std::vector<uint8_t> bytes(const uint8_t* table, int offset, int n)
{
    return {table + offset, table + offset + n};
}

std::vector<uint8_t> menu_glyph(char c) { return bytes(menu_font, (c - 32) * 8, 8); }
std::vector<uint8_t> small_glyph(char c) { return bytes(small_font, (c - 32) * 5, 5); }

std::array<uint8_t, 1024> snapshot()
{
    std::array<uint8_t, 1024> a{};
    std::memcpy(a.data(), frame_buffer, 1024);
    return a;
}

int lit_total() { return lcd_count_lit(0, 0, 127, 63); }

bool rose_pixel(int sx, int sy) { return rose_bitmap[sx + (sy / 8) * 64] & bit_mask[sy % 8]; }

}  // namespace

TEST(Glyphs, MenuFontBytesAsListed)
{
    using V = std::vector<uint8_t>;
    EXPECT_EQ(menu_glyph('0'), (V{0x3E, 0x7F, 0x41, 0x41, 0x41, 0x7F, 0x3E, 0x00}));
    EXPECT_EQ(menu_glyph('A'), (V{0x7C, 0x7E, 0x13, 0x11, 0x13, 0x7E, 0x7C, 0x00}));
    EXPECT_EQ(menu_glyph('{'), (V{0x20, 0x30, 0x38, 0x3C, 0x38, 0x30, 0x20, 0x00}));
    EXPECT_EQ(menu_glyph('}'), (V{0x04, 0x0C, 0x1C, 0x3C, 0x1C, 0x0C, 0x04, 0x00}));
    EXPECT_EQ(menu_glyph('~'), (V{0x1C, 0x3E, 0x63, 0x63, 0x63, 0x2A, 0x0C, 0x0E}));
    EXPECT_EQ(menu_glyph('|'), (V{0x00, 0x00, 0x06, 0x09, 0x09, 0x06, 0x00, 0x00}));
}

TEST(Glyphs, SmallFontBytesAsListed)
{
    using V = std::vector<uint8_t>;
    EXPECT_EQ(small_glyph('0'), (V{0x3E, 0x45, 0x49, 0x51, 0x3E}));
    EXPECT_EQ(small_glyph('A'), (V{0x3F, 0x48, 0x48, 0x48, 0x3F}));
    EXPECT_EQ(small_glyph('|'), (V{0x00, 0x30, 0x48, 0x48, 0x30}));
}

TEST(Glyphs, EveryCharacterIsDrawnAndDistinct)
{
    // Catches a glyph left blank or pasted twice, and a table packed short.
    // Kept as strings: g++ 12 at -O3 misreads a set of byte vectors' compare.
    std::set<std::string> menu_seen;
    std::set<std::string> small_seen;
    for (int c = 33; c <= 127; ++c) {
        const auto menu = menu_glyph(static_cast<char>(c));
        const auto small = small_glyph(static_cast<char>(c));
        EXPECT_NE(menu, std::vector<uint8_t>(8, 0)) << "menu " << c;
        EXPECT_NE(small, std::vector<uint8_t>(5, 0)) << "small " << c;
        EXPECT_TRUE(menu_seen.insert(std::string(menu.begin(), menu.end())).second) << "menu " << c;
        // "}" and code 127 are both omega signs.
        if (c != 127) {
            EXPECT_TRUE(small_seen.insert(std::string(small.begin(), small.end())).second) << "small " << c;
        }
        for (uint8_t b : small)
            EXPECT_EQ(b & 0x80, 0) << "small " << c;
    }
    EXPECT_EQ(small_glyph('}'), small_glyph('\x7f'));
    EXPECT_EQ(menu_glyph(' '), std::vector<uint8_t>(8, 0));
    EXPECT_EQ(small_glyph(' '), std::vector<uint8_t>(5, 0));
}

TEST(Glyphs, DigitsStayInTheirRows)
{
    for (int g = 0; g < 10; ++g) {
        // Medium: rows 0..2 of band 0 are empty, every band has pixels.
        for (int c = 0; c < 12; ++c)
            EXPECT_EQ(medium_digits[g * 36 + c] & 0x07, 0) << "medium " << g;
        for (int band = 0; band < 3; ++band)
            EXPECT_NE(bytes(medium_digits, g * 36 + band * 12, 12), std::vector<uint8_t>(12, 0));
        // Large digits "0".."9" are glyphs 3..12; rows 30 and 31 are empty.
        for (int c = 0; c < 22; ++c)
            EXPECT_EQ(large_digits[(g + 3) * 88 + 66 + c] & 0xC0, 0) << "large " << g;
        EXPECT_NE(bytes(large_digits, (g + 3) * 88, 88), std::vector<uint8_t>(88, 0));
    }
    EXPECT_EQ(bytes(medium_digits, 360, 36), std::vector<uint8_t>(36, 0));
    EXPECT_NE(bytes(large_digits, 2 * 88, 88), std::vector<uint8_t>(88, 0));  // the bar
}

TEST_F(Text, EmptyStringDrawsNothing)
{
    lcd_text(10, 10, "", 0, PIXEL_SET, 1);
    lcd_text_small(10, 10, "", 0);
    lcd_big_number(10, 10, "");
    lcd_text(10, 10, nullptr, 0, PIXEL_SET, 1);
    lcd_text_small_centred(64, 10, nullptr, 0);
    lcd_text_const(10, 10, nullptr, 0, PIXEL_SET, 1);
    EXPECT_EQ(lit_total(), 0);
}

TEST_F(Text, InverseLetterIsALitCellWithUnlitStrokes)
{
    lcd_text(0, 0, "A", 0, PIXEL_SET, 1);
    const auto glyph = menu_glyph('A');
    for (int c = 0; c < 8; ++c)
        for (int j = 0; j < 8; ++j)
            EXPECT_EQ(lcd_get_pixel(c, j), (glyph[c] & (1 << j)) == 0) << c << "," << j;
    EXPECT_EQ(lcd_count_lit(8, 0, 127, 63) + lcd_count_lit(0, 8, 7, 63), 0);

    // Inverse video ignores the mode, even "clear".
    lcd_clear();
    lcd_text(0, 0, "A", 0, PIXEL_CLEAR, 1);
    EXPECT_TRUE(lcd_get_pixel(7, 7));
}

TEST_F(Text, DoubleHeightLetterIsFourteenRowsTallWithoutACell)
{
    lcd_text(0, 0, "A", 1, PIXEL_SET, 1);
    EXPECT_EQ(lcd_dump(0, 15, 0, 7),
              "..###...\n..###...\n.##.##..\n.##.##..\n##...##.\n##...##.\n##...##.\n##...##.\n"
              "#######.\n#######.\n##...##.\n##...##.\n##...##.\n##...##.\n........\n........\n");
}

TEST_F(Text, InvertModeTogglesAndSecondDrawRestores)
{
    lcd_fill_rect(0, 0, 40, 20, PIXEL_SET);
    const auto before = snapshot();
    lcd_text(4, 4, "A0~", 0, PIXEL_INVERT, 0);
    EXPECT_FALSE(lcd_get_pixel(4 + 0, 4 + 2));  // a stroke of the A, now unlit
    EXPECT_TRUE(lcd_get_pixel(4 + 3, 4 + 2));   // inside the A, still lit
    lcd_text(4, 4, "A0~", 0, PIXEL_INVERT, 0);
    EXPECT_EQ(snapshot(), before);

    lcd_text(4, 4, "A0~", 1, PIXEL_INVERT, 0);
    EXPECT_NE(snapshot(), before);
    lcd_text(4, 4, "A0~", 1, PIXEL_INVERT, 0);
    EXPECT_EQ(snapshot(), before);
}

TEST_F(Text, CentredSixteenCharactersFillTheWidth)
{
    lcd_text_centred(64, 8, "0123456789ABCDEF", 0, PIXEL_SET, 1);
    EXPECT_EQ(lcd_count_lit(0, 8, 0, 15), 8 - 5);  // the "0": 3 lit in column 0
    EXPECT_EQ(lcd_count_lit(127, 8, 127, 15), 8);  // the last gap column, lit
    lcd_clear();
    lcd_text_centred(64, 8, "AB", 0, PIXEL_SET, 0);
    EXPECT_EQ(lcd_count_lit(0, 0, 55, 63), 0);
    EXPECT_GT(lcd_count_lit(56, 8, 71, 15), 0);
    EXPECT_EQ(lcd_count_lit(72, 0, 127, 63), 0);
}

TEST_F(Text, PositionsWrapModulo256)
{
    // The second letter lands at 256, that is column 0.
    lcd_text(248, 0, "AA", 0, PIXEL_SET, 0);
    lcd_text(0, 20, "A", 0, PIXEL_SET, 0);
    EXPECT_EQ(lcd_dump(0, 7, 0, 7), lcd_dump(20, 27, 0, 7));
    EXPECT_EQ(lcd_count_lit(8, 0, 127, 63), 0);
}

TEST_F(Text, BytesOutsideTheCharacterSetDrawAsSpaces)
{
    lcd_text(0, 0, "\x01\x80\xff", 0, PIXEL_SET, 1);
    EXPECT_EQ(lcd_count_lit(0, 0, 23, 7), 24 * 8);
    lcd_clear();
    lcd_text_small(0, 10, "\x1f\x80", 100);
    lcd_medium_number(0, 20, "A");
    lcd_big_number(0, 0, "\x90");
    EXPECT_EQ(lit_total(), 0);
}

TEST_F(Text, SmallTextInvertsFromTheGivenCharacter)
{
    lcd_text_small(10, 20, "AB", 1);
    // Row y - 1 is lit only under the B, across its six columns.
    EXPECT_EQ(lcd_count_lit(10, 19, 15, 19), 0);
    EXPECT_EQ(lcd_count_lit(16, 19, 21, 19), 6);
    EXPECT_EQ(lcd_count_lit(0, 18, 127, 18), 0);
    EXPECT_EQ(lcd_count_lit(0, 27, 127, 27), 0);
    // The A normally: its glyph bytes, bit 6 on row y.
    const auto a = small_glyph('A');
    for (int c = 0; c < 5; ++c)
        for (int r = 0; r < 7; ++r)
            EXPECT_EQ(lcd_get_pixel(10 + c, 20 + r), (a[c] & (0x40 >> r)) != 0);
    EXPECT_EQ(lcd_count_lit(15, 19, 15, 26), 0);  // the spacing column stays dark
    // The B inverted: strokes unlit in a lit 6 x 8 cell.
    const auto b = small_glyph('B');
    for (int c = 0; c < 6; ++c)
        for (int r = 0; r < 7; ++r)
            EXPECT_EQ(lcd_get_pixel(16 + c, 20 + r), c == 5 || (b[c] & (0x40 >> r)) == 0);
}

TEST_F(Text, SmallTextOnlySetsPixels)
{
    lcd_fill_rect(0, 0, 127, 63, PIXEL_SET);
    lcd_text_small(3, 3, "HELLO", 2);
    EXPECT_EQ(lit_total(), 128 * 64);
}

TEST_F(Text, SmallTextCentred)
{
    lcd_text_small_centred(64, 30, "ABCD", 100);
    EXPECT_EQ(lcd_count_lit(0, 0, 51, 63), 0);
    EXPECT_GT(lcd_count_lit(52, 30, 56, 36), 0);
    EXPECT_EQ(lcd_count_lit(76, 0, 127, 63), 0);
}

TEST_F(Text, MediumNumberSpaceLeavesItsColumnsUntouched)
{
    lcd_plot(3, 10, PIXEL_SET);
    lcd_plot(11, 20, PIXEL_SET);
    lcd_medium_number(0, 0, " 7");
    EXPECT_EQ(lcd_count_lit(0, 0, 11, 63), 2);
    EXPECT_GT(lcd_count_lit(12, 0, 23, 23), 20);
    // The 7 is glyph 7, placed band by band.
    for (int band = 0; band < 3; ++band)
        for (int c = 0; c < 12; ++c)
            for (int j = 0; j < 8; ++j)
                EXPECT_EQ(lcd_get_pixel(12 + c, band * 8 + j),
                          (medium_digits[7 * 36 + band * 12 + c] & (1 << j)) != 0);
}

TEST_F(Text, BigNumberAdvances)
{
    // "-12.5" advances 14, 22, 22, 12 and 22 columns.
    lcd_big_number(0, 0, "-12.5");
    const auto whole = snapshot();
    lcd_clear();
    lcd_big_number(0, 0, "-");
    lcd_big_number(14, 0, "1");
    lcd_big_number(36, 0, "2");
    lcd_big_number(58, 0, ".");
    lcd_big_number(70, 0, "5");
    EXPECT_EQ(snapshot(), whole);

    lcd_clear();
    lcd_big_number(0, 0, " +/");
    const auto spaced = snapshot();
    lcd_clear();
    lcd_big_number(22, 0, "+");
    lcd_big_number(36, 0, "/");
    EXPECT_EQ(snapshot(), spaced);
}

TEST_F(Text, BigNumberLineDrawnSigns)
{
    lcd_big_number(0, 0, ".");
    EXPECT_EQ(lcd_dump(25, 30, 0, 7), "........\n...###..\n..#####.\n..#####.\n...###..\n........\n");
    lcd_clear();
    lcd_big_number(0, 0, "-");
    EXPECT_EQ(lit_total(), 12 * 4);
    EXPECT_EQ(lcd_count_lit(0, 13, 11, 16), 48);
    lcd_clear();
    lcd_big_number(0, 0, "+");
    EXPECT_EQ(lit_total(), 48 + 4 * 12 - 4 * 4);
    EXPECT_EQ(lcd_count_lit(4, 9, 7, 20), 48);
}

TEST_F(Text, ConstantStringsAreCutAt31Characters)
{
    const std::string long_text(40, 'A');
    const std::string head = long_text.substr(0, 31);
    std::string marked = head + std::string(9, 'W');

    // In the menu font the 33rd character would wrap onto column 0.
    lcd_text_const(0, 0, marked.c_str(), 0, PIXEL_SET, 1);
    const auto cut = snapshot();
    lcd_clear();
    lcd_text(0, 0, head.c_str(), 0, PIXEL_SET, 1);
    EXPECT_EQ(snapshot(), cut);
    lcd_clear();
    lcd_text(0, 0, marked.c_str(), 0, PIXEL_SET, 1);
    EXPECT_NE(snapshot(), cut);

    // In the small font the 44th would (at 258).
    const std::string small_marked = head + std::string(19, 'W');
    lcd_clear();
    lcd_text_small_const(0, 8, small_marked.c_str(), 100);
    const auto small_cut = snapshot();
    lcd_clear();
    lcd_text_small(0, 8, head.c_str(), 100);
    EXPECT_EQ(snapshot(), small_cut);

    // The centred variants centre the cut text.
    lcd_clear();
    lcd_text_centred_const(64, 30, marked.c_str(), 0, PIXEL_SET, 0);
    const auto centred_cut = snapshot();
    lcd_clear();
    lcd_text_centred(64, 30, head.c_str(), 0, PIXEL_SET, 0);
    EXPECT_EQ(snapshot(), centred_cut);
    lcd_clear();
    lcd_text_small_centred_const(64, 30, small_marked.c_str(), 0);
    const auto small_centred_cut = snapshot();
    lcd_clear();
    lcd_text_small_centred(64, 30, head.c_str(), 0);
    EXPECT_EQ(snapshot(), small_centred_cut);
}

TEST_F(Text, ShortConstantStringsDrawAsThePlainRoutine)
{
    lcd_text_const(3, 5, "EXIT MENU", 1, PIXEL_SET, 0);
    lcd_text_small_const(3, 40, "HEADING", 3);
    const auto via_const = snapshot();
    lcd_clear();
    lcd_text(3, 5, "EXIT MENU", 1, PIXEL_SET, 0);
    lcd_text_small(3, 40, "HEADING", 3);
    EXPECT_EQ(snapshot(), via_const);
}

TEST_F(Text, IconsOverwriteTheirBlockByteForByte)
{
    for (uint8_t n = 0; n < 8; ++n) {
        std::memset(frame_buffer, 0xff, sizeof frame_buffer);
        lcd_draw_icon(n);
        const int first_page = n == 4 ? 1 : 2;
        const int source = n < 4 ? 32 * n : 512 + 32 * (n - 4);
        int lit = 0;
        for (int page = 0; page < 8; ++page)
            for (int x = 0; x < 128; ++x) {
                const uint8_t got = frame_buffer[page * 128 + x];
                const bool inside = page >= first_page && page < first_page + 4 && x >= 10 && x < 42;
                if (inside) {
                    EXPECT_EQ(got, icon_sheets[source + (page - first_page) * 128 + x - 10]);
                    lit += std::popcount(got);
                } else {
                    ASSERT_EQ(got, 0xff) << "icon " << int(n) << " page " << page << " x " << x;
                }
            }
        // A real picture: neither empty nor a solid block.
        EXPECT_GT(lit, 100) << "icon " << int(n);
        EXPECT_LT(lit, 32 * 32 - 100) << "icon " << int(n);
        // Column 10 is the icon's blank margin, so what was lit there is gone.
        EXPECT_FALSE(lcd_get_pixel(10, first_page * 8 + 16));
    }
    // Icon 4 covers rows 8..39, the others 16..47.
    std::memset(frame_buffer, 0xff, sizeof frame_buffer);
    lcd_draw_icon(4);
    EXPECT_TRUE(lcd_get_pixel(10, 7));
    EXPECT_TRUE(lcd_get_pixel(10, 40));
    EXPECT_FALSE(lcd_get_pixel(10, 8));
    EXPECT_FALSE(lcd_get_pixel(10, 39));
    // An icon number outside 0..7 draws nothing.
    lcd_clear();
    lcd_draw_icon(8);
    lcd_draw_icon(255);
    EXPECT_EQ(lit_total(), 0);
}

TEST_F(Text, IconSheetsAreTwoPictures128By32)
{
    // Icon n's page k is 32 bytes at its start + 128 k: neighbouring icons
    // must not bleed into each other's columns, so each has a blank margin.
    for (int n = 0; n < 8; ++n) {
        const int start = n < 4 ? 32 * n : 32 * n + 384;
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(icon_sheets[start + 128 * k], 0) << n;
            EXPECT_EQ(icon_sheets[start + 128 * k + 31], 0) << n;
        }
    }
}

TEST_F(Text, RoseOverwritesItsBlockAndNothingElse)
{
    std::memset(frame_buffer, 0xff, sizeof frame_buffer);
    lcd_draw_rotated_rose(0);
    EXPECT_EQ(lcd_count_lit(0, 0, 127, 0), 128);   // row 0 untouched
    EXPECT_EQ(lcd_count_lit(0, 0, 27, 63), 28 * 64);
    EXPECT_EQ(lcd_count_lit(93, 0, 127, 63), 35 * 64);
    // Upright and scaled by 250/255: each panel pixel shows the bitmap pixel
    // its offset from the centre points back to.
    for (int i = -31; i <= 31; ++i)
        for (int j = -31; j <= 33; ++j) {
            const int sx = 255 * j / 250 + 31;
            const int sy = 255 * i / 250 + 31;
            const bool expected = sx < 64 && sy < 64 && rose_pixel(sx, sy);
            ASSERT_EQ(lcd_get_pixel(j + 59, i + 32), expected) << j << "," << i;
        }
    // It has a picture to show, ring included.
    EXPECT_GT(lcd_count_lit(28, 1, 92, 63), 300);
    EXPECT_TRUE(rose_pixel(31, 0) || rose_pixel(31, 1));
}

TEST_F(Text, RoseTurnsClockwise)
{
    // At 90 degrees the top of the picture (N) is on the right: panel offset
    // (j, i) shows what offset (i, -j) showed upright.
    lcd_draw_rotated_rose(0);
    const auto upright = snapshot();
    lcd_clear();
    lcd_draw_rotated_rose(90);
    auto upright_pixel = [&](int x, int y) { return (upright[x + (y / 8) * 128] >> (y % 8)) & 1; };
    for (int i = -31; i <= 31; ++i)
        for (int j = -31; j <= 31; ++j)
            ASSERT_EQ(lcd_get_pixel(59 + j, 32 + i), upright_pixel(59 + i, 32 - j) != 0) << j << "," << i;
}

TEST_F(Text, RoseAtEveryAngleStaysInItsBlock)
{
    for (int a = 0; a < 360; a += 7) {
        lcd_clear();
        lcd_draw_rotated_rose(a);
        EXPECT_EQ(lcd_count_lit(0, 0, 27, 63) + lcd_count_lit(93, 0, 127, 63), 0) << a;
        EXPECT_GT(lcd_count_lit(28, 1, 92, 63), 300) << a;
    }
}
