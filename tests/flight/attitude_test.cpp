// The attitude page: horizon line and ground fill, pitch ladder, aircraft
// symbols and the overlays.
#include <cmath>

#include "flight_fixture.h"

namespace {

using AttitudeTest = FlightTest;

const std::string all_set(int n)
{
    return std::string(static_cast<size_t>(n), '#');
}
const std::string all_clear(int n)
{
    return std::string(static_cast<size_t>(n), '.');
}

// ---- geometry ----------------------------------------------------------------

TEST_F(AttitudeTest, RotatedPointsAreTruncatedTowardZero)
{
    const float s = static_cast<float>(std::sin(45 * 3.14159265358979323846 / 180));
    const float c = static_cast<float>(std::cos(45 * 3.14159265358979323846 / 180));
    int32_t x = 0, y = 0;
    rotate_point(-90, 0, c, s, x, y);
    EXPECT_EQ(x, -63);  // -63.6: toward zero, not down to -64
    EXPECT_EQ(y, -63);
    rotate_point(90, 0, c, s, x, y);
    EXPECT_EQ(x, 63);
    EXPECT_EQ(y, 63);
    rotate_point(0, 10, 1.0f, 0.0f, x, y);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 10);
    rotate_point(-20, 7, 0.0f, 1.0f, x, y);  // quarter turn
    EXPECT_EQ(x, -7);
    EXPECT_EQ(y, -20);
}

TEST_F(AttitudeTest, ColumnFillStopsAtFirstSetPixelAndAtPanelEdge)
{
    lcd_plot(10, 20, PIXEL_SET);
    column_fill(10, 40, true);
    EXPECT_EQ(column_pixels(10, 0, 63), all_clear(20) + all_set(21) + all_clear(23));
    column_fill(11, 40, false);
    EXPECT_EQ(column_pixels(11, 0, 63), all_clear(40) + all_set(24));
    column_fill(12, 0, true);
    EXPECT_EQ(column_pixels(12, 0, 63), "#" + all_clear(63));
}

// The fill works a page byte at a time; it must leave exactly what filling
// pixel by pixel leaves, wherever it starts and whatever the column holds.
TEST_F(AttitudeTest, ColumnFillMatchesPixelByPixelFill)
{
    auto reference = [](uint8_t x, int y, bool upward) {
        for (; y >= 0 && y <= 63; y += upward ? -1 : 1) {
            if (lit(x, y))
                return;
            lcd_plot(x, static_cast<uint8_t>(y), PIXEL_SET);
        }
    };
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    for (int trial = 0; trial < 200; ++trial) {
        // Columns from empty to crowded, with the set pixels anywhere.
        const int density = trial % 5;
        for (int y = 0; y < 64; ++y) {
            const bool set = density != 0 && (next() >> 24) % (1 + 12 / density) == 0;
            lcd_plot(5, static_cast<uint8_t>(y), set ? PIXEL_SET : PIXEL_CLEAR);
        }
        const std::string before = column_pixels(5, 0, 63);
        for (int start = 0; start < 64; ++start) {
            for (bool upward : {true, false}) {
                for (int y = 0; y < 64; ++y)
                    lcd_plot(6, static_cast<uint8_t>(y), before[static_cast<size_t>(y)] == '#' ? PIXEL_SET : PIXEL_CLEAR);
                reference(6, start, upward);
                const std::string expected = column_pixels(6, 0, 63);
                for (int y = 0; y < 64; ++y)
                    lcd_plot(6, static_cast<uint8_t>(y), before[static_cast<size_t>(y)] == '#' ? PIXEL_SET : PIXEL_CLEAR);
                column_fill(6, static_cast<uint8_t>(start), upward);
                ASSERT_EQ(column_pixels(6, 0, 63), expected)
                    << "from row " << start << (upward ? " up" : " down") << " over " << before;
            }
        }
    }
    const Frame untouched = snapshot();
    column_fill(128, 0, true);
    column_fill(0, 64, false);
    EXPECT_EQ(snapshot(), untouched) << "starts off the panel fill nothing";
}

TEST_F(AttitudeTest, HorizonFillSweepsUntilStartRowIsSet)
{
    lcd_line(0, 10, 127, 10, PIXEL_SET);
    lcd_plot(30, 63, PIXEL_SET);
    horizon_fill(0, 63, false, true);
    EXPECT_EQ(row_pixels(63, 0, 40), all_set(31) + all_clear(10));
    EXPECT_EQ(column_pixels(29, 0, 63), all_clear(10) + all_set(54));
    EXPECT_EQ(column_pixels(31, 0, 63), all_clear(10) + "#" + all_clear(53));

    lcd_clear();
    horizon_fill(127, 0, true, false);
    EXPECT_EQ(lcd_count_lit(0, 0, 127, 63), 128 * 64) << "nothing in the way: the whole panel";
}

// ---- horizon and ground --------------------------------------------------------

// Columns well away from the ladder (about 43..85) and the symbol (46..82).
const int outer_columns[] = {0, 20, 40, 90, 110, 127};

TEST_F(AttitudeTest, LevelHorizonOnRow32WithGroundBelow)
{
    plain_horizon(0, 0);
    for (int x : outer_columns)
        EXPECT_EQ(column_pixels(x, 0, 63), all_clear(32) + all_set(32)) << "column " << x;
}

TEST_F(AttitudeTest, PitchMovesHorizonOnePixelPerDegreeDownForNoseUp)
{
    plain_horizon(0, 10);
    EXPECT_EQ(column_pixels(20, 0, 63), all_clear(42) + all_set(22));
    plain_horizon(0, -10);
    EXPECT_EQ(column_pixels(20, 0, 63), all_clear(22) + all_set(42));
}

TEST_F(AttitudeTest, HorizonOnBottomRowFillsNothingElse)
{
    plain_horizon(0, 31);
    EXPECT_EQ(row_pixels(63, 0, 127), all_set(128));
    EXPECT_EQ(lcd_count_lit(0, 0, 40, 62), 0);
    EXPECT_EQ(lcd_count_lit(88, 0, 127, 62), 0);
}

TEST_F(AttitudeTest, HorizonAbovePanelMakesItAllGround)
{
    plain_horizon(0, -40);
    for (int x : outer_columns)
        EXPECT_EQ(column_pixels(x, 0, 63), all_set(64)) << "column " << x;
}

TEST_F(AttitudeTest, HorizonBelowPanelLeavesSkyWithUpperRungs)
{
    plain_horizon(0, 40);
    for (int x : outer_columns)
        EXPECT_EQ(column_pixels(x, 0, 63), all_clear(64)) << "column " << x;
    // Rungs of 30, 20 and 10 degrees up, 41 pixels long, dark on the sky.
    for (int row : {42, 52, 62}) {
        EXPECT_EQ(row_pixels(row, 43, 85), "." + all_set(41) + ".") << "row " << row;
    }
    EXPECT_EQ(lcd_count_lit(0, 33, 127, 41), lcd_count_lit(40, 33, 90, 41)) << "nothing else but the rungs";
}

TEST_F(AttitudeTest, LowerRungsAreLightOnTheGround)
{
    plain_horizon(0, -40);
    // Rungs 10, 20 and 30 degrees down lie on rows 2, 12 and 22.
    for (int row : {2, 12})
        EXPECT_EQ(row_pixels(row, 43, 85), "#" + all_clear(41) + "#") << "row " << row;
    // The symbol's fin crosses the lowest rung and shows dark on it.
    EXPECT_EQ(row_pixels(22, 43, 85), "#" + all_clear(20) + "#" + all_clear(20) + "#");
}

TEST_F(AttitudeTest, LeftBankFillsFromLowerLeftCorner)
{
    plain_horizon(45, 0);
    // Left end up, right end down: the line meets the bottom row near column 95.
    // The lowest rung, light on the ground, cuts the bottom row near column 54.
    EXPECT_EQ(row_pixels(63, 0, 50), all_set(51));
    EXPECT_EQ(row_pixels(63, 58, 90), all_set(33));
    EXPECT_EQ(row_pixels(63, 100, 127), all_clear(28));
    EXPECT_EQ(column_pixels(10, 0, 63), all_set(64)) << "left of where the line leaves the top";
    EXPECT_EQ(column_pixels(120, 0, 63), all_clear(64));
    // Column 40: the line on about row 8, a rung crosses near row 36.
    EXPECT_EQ(column_pixels(40, 0, 63).substr(0, 7), all_clear(7));
    EXPECT_EQ(column_pixels(40, 0, 63).substr(9, 22), all_set(22));
}

TEST_F(AttitudeTest, RightBankFillsFromLowerRightCorner)
{
    plain_horizon(-45, 0);
    EXPECT_EQ(row_pixels(63, 0, 27), all_clear(28));
    EXPECT_EQ(row_pixels(63, 37, 70), all_set(34));
    EXPECT_EQ(row_pixels(63, 78, 127), all_set(50));
    EXPECT_EQ(column_pixels(117, 0, 63), all_set(64));
    EXPECT_EQ(column_pixels(7, 0, 63), all_clear(64));
}

TEST_F(AttitudeTest, SteepAndInvertedBanksFillFromTopCorners)
{
    // Ninety degrees left: the horizon stands upright, ground on the left.
    plain_horizon(90, 0);
    EXPECT_EQ(column_pixels(20, 0, 63), all_set(64));
    EXPECT_EQ(column_pixels(110, 0, 63), all_clear(64));
    // Ninety degrees right: ground on the right.
    plain_horizon(-90, 0);
    EXPECT_EQ(column_pixels(20, 0, 63), all_clear(64));
    EXPECT_EQ(column_pixels(110, 0, 63), all_set(64));
    // Upside down: ground above the line.
    plain_horizon(180, 0);
    EXPECT_EQ(column_pixels(20, 0, 63), all_set(33) + all_clear(31));
    plain_horizon(-180, 0);
    EXPECT_EQ(column_pixels(110, 0, 63), all_set(33) + all_clear(31));
    // 135 left: ground upper left, sky lower right.
    plain_horizon(135, 0);
    EXPECT_TRUE(lit(5, 5));
    EXPECT_FALSE(lit(122, 58));
    plain_horizon(-135, 0);
    EXPECT_TRUE(lit(122, 5));
    EXPECT_FALSE(lit(5, 58));
}

// ---- aircraft symbol -------------------------------------------------------------

TEST_F(AttitudeTest, LargeSymbolIsInvertedOnGroundAndSky)
{
    icon_large = 1;
    plain_horizon(0, -60);  // all ground, rungs out of the way
    EXPECT_EQ(row_pixels(31, 44, 57), "##" + all_clear(12));
    EXPECT_EQ(row_pixels(32, 71, 84), all_clear(12) + "##");
    EXPECT_EQ(column_pixels(64, 18, 24), "#" + all_clear(6));
    EXPECT_FALSE(lit(62, 26));
    EXPECT_FALSE(lit(69, 33));

    plain_horizon(0, 40);
    EXPECT_EQ(row_pixels(31, 44, 57), ".." + all_set(12));
    EXPECT_TRUE(lit(62, 26));
    EXPECT_TRUE(lit(64, 19));
}

TEST_F(AttitudeTest, SmallSymbolIsShorter)
{
    icon_large = 0;
    plain_horizon(0, -60);
    EXPECT_EQ(row_pixels(31, 50, 59), "####" + all_clear(6));
    EXPECT_EQ(row_pixels(32, 69, 76), all_clear(6) + "##");
    EXPECT_EQ(column_pixels(64, 23, 26), "#" + all_clear(3));
    EXPECT_TRUE(lit(46, 31)) << "no long wing";
    EXPECT_TRUE(lit(64, 20)) << "no tall fin";
}

// ---- overlays ------------------------------------------------------------------

TEST_F(AttitudeTest, DefaultOverlaysAreSlipStripRateBoxGAndHeading)
{
    pitch = 40;  // all sky
    bank = 0;
    lcd_clear();
    attitude_page();
    EXPECT_EQ(row_pixels(55, 0, 127), all_set(128)) << "slip strip rule";
    EXPECT_EQ(frame_buffer[7 * 128 + 63], 0x7E) << "slip ball";
    EXPECT_EQ(row_pixels(14, 97, 99), all_set(3)) << "rate box";
    numeric_display = 1;
    pitch = -40;  // all ground
    lcd_clear();
    attitude_page();
    EXPECT_EQ(row_pixels(0, 0, 37), all_clear(38)) << "heading box";
    EXPECT_EQ(row_pixels(46, 89, 127), all_clear(39)) << "G readout field";
    EXPECT_EQ(row_pixels(28, 0, 16), all_clear(17)) << "bank number field";
}

TEST_F(AttitudeTest, OverlaysFollowTheirSettings)
{
    pitch = -40;
    slip_display = tb_display = gforce_display = compass_on = numeric_display = 0;
    lcd_clear();
    attitude_page();
    EXPECT_EQ(row_pixels(60, 0, 40), all_set(41)) << "no slip strip";
    EXPECT_EQ(row_pixels(3, 97, 127), all_set(31)) << "no rate box squares";
    EXPECT_EQ(row_pixels(0, 0, 37), all_set(38)) << "no heading box";
    EXPECT_EQ(row_pixels(46, 89, 127), all_set(39)) << "no G readout";
}

TEST_F(AttitudeTest, BankNumberFieldGrowsWithDigits)
{
    numeric_display = 1;
    compass_on = 0;
    struct Case {
        int32_t bank;
        int32_t pitch;  // chosen so that the field lies on ground
        int last_cleared;
    };
    for (const Case c : {Case{-5, -40, 16}, Case{0, -40, 16}, Case{-45, -80, 24}, Case{99, -40, 24},
                         Case{100, -40, 32}, Case{-180, -10, 32}}) {
        SCOPED_TRACE(c.bank);
        bank = c.bank;
        pitch = c.pitch;
        lcd_clear();
        attitude_page();
        // Row 28 of the field is above the text.
        EXPECT_EQ(row_pixels(28, 0, c.last_cleared + 1), all_clear(c.last_cleared + 1) + "#");
    }
}

TEST_F(AttitudeTest, BankAndPitchNumbersReadLeftRightUpDown)
{
    numeric_display = 1;
    compass_on = 0;
    pitch = -40;
    bank = -5;
    lcd_clear();
    attitude_page();
    expect_region_drawn_as(0, 29, 16, 35, [] { lcd_text_const(1, 29, "R5", 0, PIXEL_SET, 0); });
    bank = 3;
    pitch = -7;
    lcd_clear();
    attitude_page();
    expect_region_drawn_as(55, 0, 71, 6, [] { lcd_text_centred_const(64, 0, "D7", 0, PIXEL_SET, 0); });
    expect_region_drawn_as(0, 29, 16, 35, [] { lcd_text_const(1, 29, "L3", 0, PIXEL_SET, 0); });
}

TEST_F(AttitudeTest, PitchNumberFieldWidthDependsOnDigits)
{
    numeric_display = 1;
    compass_on = 0;
    tb_display = 0;
    bank = 0;
    pitch = -40;  // field on ground
    lcd_clear();
    attitude_page();
    EXPECT_EQ(row_pixels(7, 50, 76), "#" + all_clear(25) + "#");
    // Inverted at pitch 3: ground over the top rows, no rung on row 7.
    bank = 180;
    pitch = 3;
    lcd_clear();
    attitude_page();
    EXPECT_EQ(row_pixels(7, 54, 72), "#" + all_clear(17) + "#");
}

TEST_F(AttitudeTest, HeadingBoxShowsHeadingAndMagneticOrTrue)
{
    pitch = -40;
    heading = 7;
    lcd_clear();
    attitude_page();
    EXPECT_EQ(row_pixels(0, 0, 38), all_clear(38) + "#");
    expect_region_drawn_as(0, 1, 37, 15, [] {
        lcd_text_const(0, 1, "007|", 1, PIXEL_SET, 0);
        lcd_text_const(30, 8, "M", 0, PIXEL_SET, 0);
    });
    heading_true = 1;
    heading = 359;
    lcd_clear();
    attitude_page();
    expect_region_drawn_as(0, 1, 37, 15, [] {
        lcd_text_const(0, 1, "359|", 1, PIXEL_SET, 0);
        lcd_text_const(30, 8, "T", 0, PIXEL_SET, 0);
    });
}

TEST_F(AttitudeTest, ExtremeLinkReadingsDrawWithoutFault)
{
    // The link carries +-32767 and the trim can double that.
    for (int32_t b : {-32767, -181, 181, 359, 32767}) {
        for (int32_t p : {-65534, -32767, 0, 32767, 65534}) {
            bank = b;
            pitch = p;
            numeric_display = 1;
            lcd_clear();
            attitude_page();
        }
    }
    pitch = 65534;
    bank = 0;
    plain_horizon(0, 65534);
    EXPECT_EQ(lcd_count_lit(0, 0, 40, 63), 0) << "far nose up: all sky";
}

}  // namespace
