// Line clipping, the outcodes, and the table-driven sine and cosine.
#include <gtest/gtest.h>

#include <cmath>

#include "firmware/lcd/lcd.h"

namespace {

void expect_clipped(int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    EXPECT_EQ(clipped_line.x0, x0);
    EXPECT_EQ(clipped_line.y0, y0);
    EXPECT_EQ(clipped_line.x1, x1);
    EXPECT_EQ(clipped_line.y1, y1);
}

}  // namespace

TEST(Clip, Outcodes)
{
    EXPECT_EQ(lcd_outcode(0, 0), 0);
    EXPECT_EQ(lcd_outcode(127, 63), 0);
    EXPECT_EQ(lcd_outcode(5, 64), 1);
    EXPECT_EQ(lcd_outcode(5, -1), 2);
    EXPECT_EQ(lcd_outcode(128, 5), 4);
    EXPECT_EQ(lcd_outcode(-1, 5), 8);
    EXPECT_EQ(lcd_outcode(200, 100), 5);
    EXPECT_EQ(lcd_outcode(-1, -1), 10);
}

TEST(Clip, InsideLineIsAcceptedUnchanged)
{
    ASSERT_TRUE(lcd_clip_line(3, 4, 100, 60));
    expect_clipped(3, 4, 100, 60);
}

TEST(Clip, HorizontalLineAcrossThePanel)
{
    ASSERT_TRUE(lcd_clip_line(-10, 10, 200, 10));
    expect_clipped(0, 10, 127, 10);
}

TEST(Clip, LowerAndRightCrossingsAreTakenOnePastTheEdge)
{
    // Below: x at row 64 is 128, put on row 63; then the right edge at
    // column 128 gives y = 63 * 128 / 128, put on column 127.
    ASSERT_TRUE(lcd_clip_line(0, 0, 200, 100));
    expect_clipped(0, 0, 127, 63);

    ASSERT_TRUE(lcd_clip_line(100, 10, 228, 42));
    expect_clipped(100, 10, 127, 17);
}

TEST(Clip, DivisionTruncatesTowardZero)
{
    // x = 10 + (-17)(-10) / (-30) = 10 - 5 (not 10 - 6).
    ASSERT_TRUE(lcd_clip_line(10, 10, -7, -20));
    expect_clipped(10, 10, 5, 0);
    // Clipped from the other end: x = -7 + 17 * 20 / 30 = -7 + 11, so the
    // direction of a line changes its clipped end by a pixel.
    ASSERT_TRUE(lcd_clip_line(-7, -20, 10, 10));
    expect_clipped(4, 0, 10, 10);
}

TEST(Clip, BothEndsOutsideOnOppositeSides)
{
    ASSERT_TRUE(lcd_clip_line(64, -100, 64, 300));
    expect_clipped(64, 0, 64, 63);
    ASSERT_TRUE(lcd_clip_line(-50, -50, 200, 200));
    EXPECT_EQ(lcd_outcode(clipped_line.x0, clipped_line.y0), 0);
    EXPECT_EQ(lcd_outcode(clipped_line.x1, clipped_line.y1), 0);
}

TEST(Clip, InvisibleLinesAreRejectedWithAZeroRecord)
{
    clipped_line = {1, 2, 3, 4};
    EXPECT_FALSE(lcd_clip_line(0, -5, 127, -1));  // entirely above
    expect_clipped(0, 0, 0, 0);

    clipped_line = {1, 2, 3, 4};
    EXPECT_FALSE(lcd_clip_line(-100, 0, 60, -100));  // misses the top-left corner
    expect_clipped(0, 0, 0, 0);
}

TEST(Clip, ExtremeCoordinatesDoNotOverflow)
{
    ASSERT_TRUE(lcd_clip_line(INT32_MIN, 32, INT32_MAX, 32));
    expect_clipped(0, 32, 127, 32);
    ASSERT_TRUE(lcd_clip_line(64, INT32_MIN, 64, INT32_MAX));
    expect_clipped(64, 0, 64, 63);
}

TEST(Trig, TableValuesAndItsOneCorrectedEntry)
{
    EXPECT_EQ(sin255(0), 0);
    EXPECT_EQ(sin255(48), 189);
    EXPECT_EQ(sin255(30), 127);
    EXPECT_EQ(sin255(87), 255);
    EXPECT_EQ(cos255(45), 177);
    EXPECT_EQ(cos255(135), -180);
}

TEST(Trig, MirroredQuadrantsAreOneDegreeShort)
{
    EXPECT_EQ(sin255(90), 255);
    EXPECT_EQ(sin255(89), 255);
    EXPECT_EQ(sin255(179), 0);
    EXPECT_EQ(sin255(180), 0);
    EXPECT_EQ(sin255(181), -4);
    EXPECT_EQ(sin255(270), -255);
    EXPECT_EQ(sin255(359), 0);
    EXPECT_EQ(cos255(0), 255);
    EXPECT_EQ(cos255(89), 0);
    EXPECT_EQ(cos255(90), 0);
    EXPECT_EQ(cos255(180), -255);
    EXPECT_EQ(cos255(269), 0);
    EXPECT_EQ(cos255(270), 0);
    EXPECT_EQ(cos255(359), 255);
}

TEST(Trig, EveryAngleIsCloseToTheTrueValueWithTheRightSign)
{
    // The one-degree shift costs at most about 4.5 units; a wrong quadrant
    // or sign would cost far more.
    for (int a = 0; a < 360; ++a) {
        const double r = a * M_PI / 180.0;
        EXPECT_NEAR(sin255(a), 255 * std::sin(r), 5.0) << a;
        EXPECT_NEAR(cos255(a), 255 * std::cos(r), 5.0) << a;
    }
}

TEST(Trig, AnglesOutsideTheRangeAreFolded)
{
    EXPECT_EQ(sin255(360), sin255(0));
    EXPECT_EQ(sin255(-90), sin255(270));
    EXPECT_EQ(cos255(-1), cos255(359));
    EXPECT_EQ(cos255(725), cos255(5));
    EXPECT_EQ(sin255(INT32_MIN), sin255(((INT32_MIN % 360) + 360) % 360));
}
