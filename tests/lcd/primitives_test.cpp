// Pixels, lines, rectangles and circles: the exact plotting rules every
// screen's picture depends on.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <set>
#include <utility>

#include "firmware/lcd/lcd.h"
#include "support/lcd_picture.h"

namespace {

class Primitives : public ::testing::Test {
protected:
    void SetUp() override { lcd_clear(); }
};

int lit_total() { return lcd_count_lit(0, 0, 127, 63); }

// Expected picture rows for x0..x1 / y0..y1, each row a string of '#'/'.'.
std::string rows(std::initializer_list<const char*> lines)
{
    std::string s;
    for (const char* l : lines) {
        s += l;
        s += '\n';
    }
    return s;
}

}  // namespace

TEST_F(Primitives, PixelAddressesFollowThePageLayout)
{
    lcd_plot(5, 9, PIXEL_SET);
    EXPECT_EQ(frame_buffer[133], 0x02);
    lcd_plot(127, 63, PIXEL_SET);
    EXPECT_EQ(frame_buffer[1023], 0x80);
    lcd_plot(0, 0, PIXEL_SET);
    EXPECT_EQ(frame_buffer[0], 0x01);
    EXPECT_TRUE(lcd_get_pixel(5, 9));
    EXPECT_FALSE(lcd_get_pixel(5, 10));
    EXPECT_EQ(lit_total(), 3);
}

TEST_F(Primitives, OffPanelPixelsAreSkippedAndReadUnlit)
{
    std::memset(frame_buffer, 0xff, sizeof frame_buffer);
    EXPECT_FALSE(lcd_get_pixel(128, 0));
    EXPECT_FALSE(lcd_get_pixel(0, 64));
    EXPECT_FALSE(lcd_get_pixel(255, 255));
    lcd_clear();
    lcd_plot(128, 0, PIXEL_SET);
    lcd_plot(0, 64, PIXEL_SET);
    lcd_plot(255, 255, PIXEL_INVERT);
    EXPECT_EQ(lit_total(), 0);
}

TEST_F(Primitives, ModesSetClearInvertAndIgnoreOthers)
{
    lcd_plot(10, 10, PIXEL_SET);
    EXPECT_TRUE(lcd_get_pixel(10, 10));
    lcd_plot(10, 10, 3);
    lcd_plot(10, 10, 255);
    EXPECT_TRUE(lcd_get_pixel(10, 10));
    lcd_plot(10, 10, PIXEL_CLEAR);
    EXPECT_FALSE(lcd_get_pixel(10, 10));
    lcd_plot(10, 10, 7);
    EXPECT_FALSE(lcd_get_pixel(10, 10));

    lcd_plot(20, 20, PIXEL_INVERT);
    EXPECT_TRUE(lcd_get_pixel(20, 20));
    lcd_plot(20, 20, PIXEL_INVERT);
    EXPECT_FALSE(lcd_get_pixel(20, 20));
    // Neighbours in the same column byte are left alone.
    lcd_plot(20, 21, PIXEL_SET);
    lcd_plot(20, 20, PIXEL_INVERT);
    lcd_plot(20, 20, PIXEL_CLEAR);
    EXPECT_TRUE(lcd_get_pixel(20, 21));
    EXPECT_EQ(lit_total(), 1);
}

TEST_F(Primitives, WideCoordinatesWrapModulo256)
{
    // 256 lands on column 0 again; -1 becomes 255 and stays off the panel.
    lcd_line(256, 5, 256, 5, PIXEL_SET);
    EXPECT_TRUE(lcd_get_pixel(0, 5));
    lcd_line(-1, 6, -1, 6, PIXEL_SET);
    lcd_line(5, 64 + 256, 5, 64 + 256, PIXEL_SET);
    EXPECT_EQ(lit_total(), 1);

    // A line running off the right edge comes back at 256 and on.
    lcd_clear();
    lcd_line(120, 30, 260, 30, PIXEL_SET);
    EXPECT_EQ(lcd_count_lit(120, 30, 127, 30), 8);
    EXPECT_EQ(lcd_count_lit(0, 30, 4, 30), 5);
    EXPECT_EQ(lit_total(), 13);

    // A circle hanging off the left edge does not reappear on the right.
    lcd_clear();
    lcd_circle(2, 30, 5, PIXEL_SET);
    EXPECT_EQ(lcd_count_lit(64, 0, 127, 63), 0);
    EXPECT_GT(lcd_count_lit(0, 0, 7, 63), 0);
}

TEST_F(Primitives, LineFromAPointToItselfPlotsThatPoint)
{
    lcd_line(7, 9, 7, 9, PIXEL_INVERT);
    EXPECT_TRUE(lcd_get_pixel(7, 9));
    EXPECT_EQ(lit_total(), 1);
}

TEST_F(Primitives, ShallowLineFollowsTheErrorTermAndStepRule)
{
    lcd_line(0, 0, 10, 3, PIXEL_SET);
    // An error term of exactly 0 (at x = 4) takes the straight step.
    EXPECT_EQ(lcd_dump(0, 3, 0, 10), rows({"##.........",
                                           "..####.....",
                                           "......###..",
                                           ".........##"}));
    EXPECT_EQ(lit_total(), 11);
}

TEST_F(Primitives, SteepLinePlotsOnePointPerRow)
{
    lcd_line(3, 0, 0, 10, PIXEL_INVERT);
    EXPECT_EQ(lit_total(), 11);
    for (int y = 0; y <= 10; ++y)
        EXPECT_EQ(lcd_count_lit(0, y, 3, y), 1) << "row " << y;
    EXPECT_TRUE(lcd_get_pixel(3, 0));
    EXPECT_TRUE(lcd_get_pixel(0, 10));
}

TEST_F(Primitives, LinesInInvertModeToggleEachPointOnce)
{
    // Every direction and slope: the point count equals the longer span + 1,
    // which fails if any point is plotted twice (it would toggle back).
    const std::pair<int, int> ends[] = {{40, 20}, {-40, 20}, {40, -20}, {-40, -20}, {20, 30},
                                        {-20, 30}, {20, -30}, {-20, -30}, {30, 30}, {0, -25},
                                        {-25, 0}, {1, 25}, {25, 1}};
    for (auto [dx, dy] : ends) {
        lcd_clear();
        lcd_line(60, 31, 60 + dx, 31 + dy, PIXEL_INVERT);
        const int expected = std::max(std::abs(dx), std::abs(dy)) + 1;
        EXPECT_EQ(lit_total(), expected) << dx << "," << dy;
        EXPECT_TRUE(lcd_get_pixel(60, 31));
        EXPECT_TRUE(lcd_get_pixel(static_cast<uint8_t>(60 + dx), static_cast<uint8_t>(31 + dy)));
    }
}

TEST_F(Primitives, FarOffLineEndpointsDoNotOverflow)
{
    // Spans wider than 32 bits can hold: must neither trap nor loop for ever
    // on the error term. Only the short visible part is checked.
    lcd_line(INT32_MIN, 10, INT32_MIN, 12, PIXEL_SET);
    EXPECT_EQ(lit_total(), 3);  // INT32_MIN is 0 modulo 256
    EXPECT_EQ(iabs(INT32_MIN), INT32_MIN);
    EXPECT_EQ(iabs(-7), 7);
    EXPECT_EQ(iabs(7), 7);
}

TEST_F(Primitives, RectangleInInvertModeLeavesItsCornersAsTheyWere)
{
    lcd_rect(2, 3, 9, 7, PIXEL_INVERT);
    EXPECT_FALSE(lcd_get_pixel(2, 3));
    EXPECT_FALSE(lcd_get_pixel(9, 3));
    EXPECT_FALSE(lcd_get_pixel(2, 7));
    EXPECT_FALSE(lcd_get_pixel(9, 7));
    EXPECT_EQ(lcd_dump(3, 7, 2, 9), rows({".######.",
                                         "#......#",
                                         "#......#",
                                         "#......#",
                                         ".######."}));

    lcd_clear();
    lcd_plot(20, 20, PIXEL_SET);
    lcd_plot(30, 25, PIXEL_SET);
    lcd_rect(20, 20, 30, 25, PIXEL_INVERT);
    EXPECT_TRUE(lcd_get_pixel(20, 20));
    EXPECT_TRUE(lcd_get_pixel(30, 25));
    EXPECT_FALSE(lcd_get_pixel(30, 20));
}

TEST_F(Primitives, RectangleWithCornersInAnyOrder)
{
    lcd_rect(9, 7, 2, 3, PIXEL_SET);
    EXPECT_EQ(lcd_count_lit(0, 0, 127, 63), 2 * 8 + 2 * 3);
    EXPECT_TRUE(lcd_get_pixel(2, 3));
    EXPECT_TRUE(lcd_get_pixel(9, 7));
}

TEST_F(Primitives, FilledRectangle)
{
    lcd_fill_rect(4, 2, 6, 5, PIXEL_SET);
    EXPECT_EQ(lit_total(), 12);
    EXPECT_EQ(lcd_count_lit(4, 2, 6, 5), 12);

    lcd_fill_rect(5, 0, 5, 63, PIXEL_INVERT);
    EXPECT_FALSE(lcd_get_pixel(5, 3));
    EXPECT_TRUE(lcd_get_pixel(5, 0));
}

TEST_F(Primitives, FilledRectangleEdgeCases)
{
    lcd_fill_rect(120, 10, 128, 11, PIXEL_SET);  // fills up to column 127
    EXPECT_EQ(lit_total(), 16);
    lcd_clear();
    lcd_fill_rect(10, 10, 9, 20, PIXEL_SET);  // x0 > x1: nothing
    EXPECT_EQ(lit_total(), 0);
    lcd_fill_rect(250, 0, 255, 63, PIXEL_SET);  // must end, all off panel
    EXPECT_EQ(lit_total(), 0);
}

TEST_F(Primitives, CircleOfRadiusZero)
{
    lcd_circle(40, 20, 0, PIXEL_INVERT);
    EXPECT_EQ(lit_total(), 0);  // four toggles of the centre
    lcd_circle(40, 20, 0, PIXEL_SET);
    EXPECT_TRUE(lcd_get_pixel(40, 20));
    EXPECT_EQ(lit_total(), 1);
}

TEST_F(Primitives, CircleOfRadiusThree)
{
    lcd_circle(10, 10, 3, PIXEL_SET);
    EXPECT_EQ(lcd_dump(7, 13, 7, 13), rows({"..###..",
                                           ".#...#.",
                                           "#.....#",
                                           "#.....#",
                                           "#.....#",
                                           ".#...#.",
                                           "..###.."}));
}

TEST_F(Primitives, CirclesInInvertModeToggleEachOutlinePixelOnce)
{
    for (uint8_t r = 1; r <= 30; ++r) {
        lcd_clear();
        lcd_circle(64, 32, r, PIXEL_SET);
        const int outline = lit_total();
        lcd_clear();
        lcd_circle(64, 32, r, PIXEL_INVERT);
        EXPECT_EQ(lit_total(), outline) << "radius " << int(r);
        // Symmetric about both axes through the centre.
        for (int dy = -r; dy <= r; ++dy)
            for (int dx = -r; dx <= r; ++dx)
                ASSERT_EQ(lcd_get_pixel(64 + dx, 32 + dy), lcd_get_pixel(64 - dx, 32 + dy))
                    << "radius " << int(r);
        EXPECT_TRUE(lcd_get_pixel(64, 32 - r));
        EXPECT_TRUE(lcd_get_pixel(64 + r, 32));
        lcd_circle(64, 32, r, PIXEL_INVERT);
        EXPECT_EQ(lit_total(), 0);
    }
}

TEST_F(Primitives, LargeRadiusCircleEnds)
{
    // Beyond radius 63 the 8-bit decision variable wraps; the routine must
    // still finish.
    lcd_circle(64, 32, 200, PIXEL_SET);
    lcd_circle(64, 32, 255, PIXEL_INVERT);
    SUCCEED();
}
