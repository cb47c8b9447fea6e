// The attitude page: horizon line and ground fill, pitch ladder, aircraft
// symbols and the overlays.
#include <cmath>

#include "flight_fixture.h"

namespace {

using AttitudeTest = FlightTest;

std::string set_run(int n)
{
    return std::string(static_cast<size_t>(n), '#');
}
std::string clear_run(int n)
{
    return std::string(static_cast<size_t>(n), '.');
}

TEST_F(AttitudeTest, RotatedPointsAreTruncatedTowardZero)
{
    const float s = static_cast<float>(std::sin(45 * 3.14159265358979323846 / 180));
    const float c = static_cast<float>(std::cos(45 * 3.14159265358979323846 / 180));
    int32_t x = 0, y = 0;
    rotate_point(-90, 0, c, s, x, y);
    EXPECT_EQ(x, -63);  // -63.6: toward zero, not down to -64
    EXPECT_EQ(y, -63);
    rotate_point(-20, 7, 0.0f, 1.0f, x, y);  // a quarter turn
    EXPECT_EQ(x, -7);
    EXPECT_EQ(y, -20);
}

// The fill works a page byte at a time; it must leave exactly what filling
// pixel by pixel leaves, wherever it starts and whatever the column holds.
TEST_F(AttitudeTest, ColumnFillMatchesPixelByPixelFill)
{
    auto load = [](const std::string& pixels) {
        for (int y = 0; y < 64; ++y)
            lcd_plot(6, static_cast<uint8_t>(y), pixels[static_cast<size_t>(y)] == '#' ? PIXEL_SET : PIXEL_CLEAR);
    };
    uint32_t seed = 12345;
    for (int trial = 0; trial < 200; ++trial) {
        const int density = trial % 5;  // from an empty column to a crowded one
        std::string before(64, '.');
        for (char& p : before) {
            seed = seed * 1664525u + 1013904223u;
            p = density != 0 && (seed >> 24) % (1 + 12 / density) == 0 ? '#' : '.';
        }
        for (int start = 0; start < 64; ++start) {
            for (bool upward : {true, false}) {
                std::string expected = before;
                for (int y = start; y >= 0 && y <= 63 && expected[static_cast<size_t>(y)] == '.'; y += upward ? -1 : 1)
                    expected[static_cast<size_t>(y)] = '#';
                load(before);
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
    EXPECT_EQ(row_pixels(63, 0, 40), set_run(31) + clear_run(10));
    EXPECT_EQ(column_pixels(29, 0, 63), clear_run(10) + set_run(54));
    EXPECT_EQ(column_pixels(31, 0, 63), clear_run(10) + "#" + clear_run(53));
}

// ---- horizon and ground, clear of the ladder (columns about 43..85) ---------

TEST_F(AttitudeTest, PitchMovesLevelHorizonOnePixelPerDegree)
{
    struct Case {
        int32_t pitch;
        std::string column;
    };
    for (const Case& c : {Case{0, clear_run(32) + set_run(32)}, Case{10, clear_run(42) + set_run(22)},
                          Case{-10, clear_run(22) + set_run(42)},
                          Case{31, clear_run(63) + "#"},  // line on the bottom row, nothing filled
                          Case{-40, set_run(64)},         // horizon above the panel: all ground
                          Case{40, clear_run(64)}}) {     // below it: all sky
        plain_horizon(0, c.pitch);
        for (int x : {0, 20, 40, 90, 110, 127})
            EXPECT_EQ(column_pixels(x, 0, 63), c.column) << "pitch " << c.pitch << " column " << x;
    }
}

TEST_F(AttitudeTest, LadderRungsDarkOnSkyLightOnGround)
{
    plain_horizon(0, 40);  // rungs 30, 20, 10 up on rows 42, 52, 62
    for (int row : {42, 52, 62})
        EXPECT_EQ(row_pixels(row, 43, 85), '.' + set_run(41) + '.') << "row " << row;
    plain_horizon(0, -40);  // rungs 10, 20 down on rows 2, 12
    for (int row : {2, 12})
        EXPECT_EQ(row_pixels(row, 43, 85), '#' + clear_run(41) + '#') << "row " << row;
    // Rung 30 down on row 22 meets the symbol's fin, inverted dark over it.
    EXPECT_EQ(row_pixels(22, 43, 85), '#' + clear_run(20) + '#' + clear_run(20) + '#');
}

TEST_F(AttitudeTest, BankedGroundFillsFromTheLowCorner)
{
    plain_horizon(45, 0);  // left bank: left end up, line meets row 63 near column 95
    EXPECT_EQ(row_pixels(63, 58, 90), set_run(33));
    EXPECT_EQ(row_pixels(63, 100, 127), clear_run(28));
    EXPECT_EQ(column_pixels(10, 0, 63), set_run(64));
    EXPECT_EQ(column_pixels(40, 0, 63).substr(0, 7), clear_run(7)) << "above the line near row 8";
    EXPECT_EQ(column_pixels(40, 0, 63).substr(9, 22), set_run(22));

    plain_horizon(-45, 0);  // right bank: the mirror image
    EXPECT_EQ(row_pixels(63, 0, 27), clear_run(28));
    EXPECT_EQ(row_pixels(63, 37, 70), set_run(34));
    EXPECT_EQ(column_pixels(117, 0, 63), set_run(64));
    EXPECT_EQ(column_pixels(7, 0, 63), clear_run(64));
}

TEST_F(AttitudeTest, SteepAndInvertedBanksFillFromTopCorners)
{
    plain_horizon(90, 0);  // horizon upright, ground on the left
    EXPECT_EQ(column_pixels(20, 0, 63), set_run(64));
    EXPECT_EQ(column_pixels(110, 0, 63), clear_run(64));
    plain_horizon(-90, 0);
    EXPECT_EQ(column_pixels(20, 0, 63), clear_run(64));
    EXPECT_EQ(column_pixels(110, 0, 63), set_run(64));
    plain_horizon(180, 0);  // upside down: ground above the line
    EXPECT_EQ(column_pixels(20, 0, 63), set_run(33) + clear_run(31));
    plain_horizon(-180, 0);
    EXPECT_EQ(column_pixels(110, 0, 63), set_run(33) + clear_run(31));
    plain_horizon(135, 0);
    EXPECT_TRUE(lit(5, 5) && !lit(122, 58));
    plain_horizon(-135, 0);
    EXPECT_TRUE(lit(122, 5) && !lit(5, 58));
}

TEST_F(AttitudeTest, AircraftSymbolsAreInvertedOnGroundAndSky)
{
    icon_large = 1;
    plain_horizon(0, -60);  // all ground, rungs out of the way
    EXPECT_EQ(row_pixels(31, 44, 57), set_run(2) + clear_run(12));
    EXPECT_EQ(row_pixels(32, 71, 84), clear_run(12) + "##");
    EXPECT_EQ(column_pixels(64, 18, 24), '#' + clear_run(6));
    EXPECT_FALSE(lit(62, 26));
    plain_horizon(0, 40);
    EXPECT_EQ(row_pixels(31, 44, 57), clear_run(2) + set_run(12));

    icon_large = 0;
    plain_horizon(0, -60);
    EXPECT_EQ(row_pixels(31, 50, 59), set_run(4) + clear_run(6));
    EXPECT_EQ(column_pixels(64, 20, 26), set_run(4) + clear_run(3));
}

// ---- overlays -----------------------------------------------------------------

TEST_F(AttitudeTest, OverlaysFollowTheirSettings)
{
    pitch = -40;  // all ground, so every cleared field shows
    numeric_display = 1;
    lcd_clear();
    attitude_page();
    EXPECT_EQ(frame_buffer[7 * 128 + 63], 0x7E) << "slip ball";
    EXPECT_EQ(row_pixels(3, 96, 127), ".###.....#####.....#####.....###") << "rate box";
    EXPECT_EQ(row_pixels(0, 0, 38), clear_run(38) + "#") << "heading box";
    EXPECT_EQ(row_pixels(46, 88, 127), '#' + clear_run(39)) << "G readout";
    EXPECT_EQ(row_pixels(28, 0, 17), clear_run(17) + "#") << "bank number";

    slip_display = tb_display = gforce_display = compass_on = numeric_display = 0;
    lcd_clear();
    attitude_page();
    EXPECT_EQ(row_pixels(60, 0, 40), set_run(41)) << "no slip strip";
    EXPECT_EQ(row_pixels(3, 96, 127), set_run(32)) << "no rate box";
    EXPECT_EQ(row_pixels(0, 0, 38), set_run(39)) << "no heading box";
    EXPECT_EQ(row_pixels(46, 88, 127), set_run(40)) << "no G readout";
    EXPECT_EQ(row_pixels(28, 0, 17), set_run(18)) << "no bank number";
}

TEST_F(AttitudeTest, BankAndPitchNumbersOnFieldsSizedToThem)
{
    numeric_display = 1;
    compass_on = 0;
    tb_display = 0;
    struct Case {
        int32_t bank, pitch;  // chosen so that both fields lie on ground
        int bank_field_end;
        int pitch_field_start, pitch_field_end;
        const char* bank_text;
        const char* pitch_text;
    };
    for (const Case& c : {Case{-5, -40, 16, 51, 75, "R5", "D40"}, Case{-45, -80, 24, 51, 75, "R45", "D80"},
                          Case{100, -40, 32, 51, 75, "L100", "D40"}, Case{180, 3, 32, 55, 71, "L180", "U3"}}) {
        SCOPED_TRACE(c.bank_text);
        bank = c.bank;
        pitch = c.pitch;
        lcd_clear();
        attitude_page();
        // Rows 28 and 7 of the fields are free of text.
        EXPECT_EQ(row_pixels(28, 0, c.bank_field_end + 1), clear_run(c.bank_field_end + 1) + "#");
        EXPECT_EQ(row_pixels(7, c.pitch_field_start - 1, c.pitch_field_end + 1),
                  '#' + clear_run(c.pitch_field_end - c.pitch_field_start + 1) + '#');
        expect_region_drawn_as(0, 29, c.bank_field_end, 35, [&] { lcd_text(1, 29, c.bank_text, 0, PIXEL_SET, 0); });
        expect_region_drawn_as(c.pitch_field_start, 0, c.pitch_field_end, 6,
                               [&] { lcd_text_centred(64, 0, c.pitch_text, 0, PIXEL_SET, 0); });
    }
}

TEST_F(AttitudeTest, HeadingBoxShowsHeadingAndMagneticOrTrue)
{
    pitch = -40;
    heading = 7;
    lcd_clear();
    attitude_page();
    expect_region_drawn_as(0, 0, 37, 15, [] {
        lcd_text_const(0, 1, "007|", 1, PIXEL_SET, 0);
        lcd_text_const(30, 8, "M", 0, PIXEL_SET, 0);
    });
    heading_true = 1;
    heading = 359;
    lcd_clear();
    attitude_page();
    expect_region_drawn_as(0, 0, 37, 15, [] {
        lcd_text_const(0, 1, "359|", 1, PIXEL_SET, 0);
        lcd_text_const(30, 8, "T", 0, PIXEL_SET, 0);
    });
}

TEST_F(AttitudeTest, ExtremeLinkReadingsDrawWithoutFault)
{
    // The link carries +-32767 and the trim can double that.
    numeric_display = 1;
    for (int32_t b : {-32767, -181, 181, 359, 32767}) {
        for (int32_t p : {-65534, -32767, 0, 32767, 65534}) {
            bank = b;
            pitch = p;
            lcd_clear();
            attitude_page();
        }
    }
    plain_horizon(0, 65534);
    EXPECT_EQ(lcd_count_lit(0, 0, 40, 63), 0) << "far nose up: all sky";
}

}  // namespace
