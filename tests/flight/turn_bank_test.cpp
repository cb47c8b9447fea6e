// The turn and bank page and the pieces it shares with the attitude page:
// needle angle, needle, rate marks, slip ball, range warning, rate box and G
// readout.
#include <climits>

#include "flight_fixture.h"

namespace {

class TurnBankTest : public FlightTest {
protected:
    TurnBankTest() { main_page = PAGE_TURN_BANK; }

    static void turn_page()
    {
        lcd_clear();
        turn_bank_page();
    }
};

// ---- needle angle --------------------------------------------------------------

struct NeedleCase {
    uint8_t source;  // turn_source
    uint8_t two_min;
    int32_t reading;  // bank below source 2, else turn rate
    int32_t angle;
};

class NeedleAngleTest : public TurnBankTest, public ::testing::WithParamInterface<NeedleCase> {};

TEST_P(NeedleAngleTest, FromBankOrTurnRate)
{
    const NeedleCase c = GetParam();
    turn_source = c.source;
    tb_two_min = c.two_min;
    if (c.source < 2)
        bank = c.reading;
    else
        turn_rate = c.reading;
    EXPECT_EQ(turn_needle_angle(), c.angle);
}

INSTANTIATE_TEST_SUITE_P(
    FromBank, NeedleAngleTest,
    ::testing::Values(NeedleCase{0, 0, 0, 0}, NeedleCase{0, 0, 45, 45}, NeedleCase{0, 0, 60, 60},
                      NeedleCase{0, 0, 61, 60}, NeedleCase{0, 0, 170, 60}, NeedleCase{0, 0, -45, 315},
                      NeedleCase{0, 0, -60, 300}, NeedleCase{0, 0, -61, 300}, NeedleCase{1, 0, 180, 60},
                      NeedleCase{1, 0, -180, 300}, NeedleCase{0, 1, 20, 40}, NeedleCase{0, 1, 30, 60},
                      NeedleCase{0, 1, 31, 60}, NeedleCase{0, 1, -20, 320}, NeedleCase{0, 1, -30, 300},
                      NeedleCase{0, 1, -31, 300}, NeedleCase{0, 1, 180, 60}, NeedleCase{0, 1, -180, 300},
                      NeedleCase{0, 0, INT32_MIN, 300}, NeedleCase{0, 1, INT32_MAX, 60}));

INSTANTIATE_TEST_SUITE_P(
    FromTurnRate, NeedleAngleTest,
    ::testing::Values(NeedleCase{2, 1, 30, 329}, NeedleCase{2, 1, -30, 30}, NeedleCase{2, 1, 0, 359},
                      NeedleCase{2, 1, 59, 300}, NeedleCase{2, 1, 60, 300}, NeedleCase{2, 1, 61, 300},
                      NeedleCase{2, 1, -60, 60}, NeedleCase{2, 1, -61, 60}, NeedleCase{2, 0, 60, 329},
                      NeedleCase{2, 0, -60, 30}, NeedleCase{2, 0, 1, 359}, NeedleCase{2, 0, -1, 0},
                      NeedleCase{2, 0, 119, 300}, NeedleCase{2, 0, 120, 300}, NeedleCase{2, 0, -121, 60}));

// A right turn beyond the last mark always pins the needle full right and a
// left turn full left: at the ends of the turn slider and at the largest
// rates the link carries, in both minutes-per-turn settings.
INSTANTIATE_TEST_SUITE_P(
    BeyondLastMark, NeedleAngleTest,
    ::testing::Values(NeedleCase{2, 1, 178, 300}, NeedleCase{2, 1, 179, 300}, NeedleCase{2, 1, 180, 300},
                      NeedleCase{2, 1, -180, 60}, NeedleCase{2, 0, 180, 300}, NeedleCase{2, 0, -180, 60},
                      NeedleCase{2, 0, 358, 300}, NeedleCase{2, 0, 359, 300}, NeedleCase{2, 1, 32767, 300},
                      NeedleCase{2, 1, -32767, 60}, NeedleCase{2, 0, 32767, 300}, NeedleCase{2, 0, -32767, 60},
                      NeedleCase{2, 1, INT32_MIN, 60}, NeedleCase{2, 1, INT32_MAX, 300}));

// ---- needle and dial on pixels ------------------------------------------------------

// Lit columns of one row, as first and last.
std::pair<int, int> lit_span(int y)
{
    int first = -1, last = -1;
    for (int x = 0; x < 128; ++x) {
        if (lit(x, y)) {
            if (first < 0)
                first = x;
            last = x;
        }
    }
    return {first, last};
}

TEST_F(TurnBankTest, NeedleUprightFromLevelWings)
{
    turn_source = 0;
    bank = 0;
    turn_page();
    // Index on rows 2..7, needle tip on row 11, foot erased from row 46.
    EXPECT_EQ(column_pixels(64, 0, 45), std::string(2, '.') + std::string(6, '#') + "..." + std::string(35, '#'));
    EXPECT_EQ(row_pixels(30, 0, 127), std::string(62, '.') + "#####" + std::string(61, '.'));
}

TEST_F(TurnBankTest, NeedleLeansToTheTurn)
{
    turn_source = 0;
    tb_two_min = 0;
    bank = 45;  // banked left
    turn_page();
    auto [first, last] = lit_span(30);
    EXPECT_GE(first, 30);
    EXPECT_LT(last, 50) << "leans left";

    bank = -45;
    turn_page();
    std::tie(first, last) = lit_span(30);
    EXPECT_GT(first, 78) << "leans right";
    EXPECT_LE(last, 98);

    // Fastest right turn from the slider: full right, never full left.
    turn_source = 2;
    tb_two_min = 1;
    turn_rate = 180;
    turn_page();
    std::tie(first, last) = lit_span(33);
    EXPECT_GT(first, 66);
    turn_rate = -180;
    turn_page();
    std::tie(first, last) = lit_span(33);
    EXPECT_LT(last, 62);
}

TEST_F(TurnBankTest, LettersAndTurnCaption)
{
    for (uint8_t two_min : {uint8_t{0}, uint8_t{1}}) {
        tb_two_min = two_min;
        turn_page();
        expect_region_drawn_as(0, 0, 35, 30, [] { lcd_text_const(20, 5, "L", 1, PIXEL_SET, 0); });
        expect_region_drawn_as(93, 0, 127, 30, [] { lcd_text_const(106, 5, "R", 1, PIXEL_SET, 0); });
        expect_region_drawn_as(0, 46, 127, 53, [two_min] {
            lcd_text_centred_const(64, 47, two_min == 1 ? "2 MIN TURN" : "1 MIN TURN", 0, PIXEL_SET, 0);
        });
    }
}

// ---- slip ball -----------------------------------------------------------------------

class SlipBallTest : public TurnBankTest {
protected:
    static void strip(int32_t slip_value)
    {
        slip = slip_value;
        lcd_clear();
        slip_ball_strip();
    }
    static int ball_column()
    {
        for (int x = 0; x + 7 < 128; ++x)
            if (frame_buffer[7 * 128 + x] == 0x18 && frame_buffer[7 * 128 + x + 1] == 0x3C)
                return x;
        return -1;
    }
};

TEST_F(SlipBallTest, BallCentredBetweenReferenceLines)
{
    strip(0);
    const uint8_t* page = frame_buffer + 7 * 128;
    const uint8_t expected[12] = {0xFF, 0, 0x18, 0x3C, 0x7E, 0x7E, 0x7E, 0x7E, 0x3C, 0x18, 0, 0xFF};
    for (int k = 0; k < 12; ++k)
        EXPECT_EQ(page[58 + k], expected[k]) << "column " << 58 + k;
    EXPECT_EQ(row_pixels(55, 0, 127), std::string(128, '#'));
    EXPECT_EQ(lcd_count_lit(0, 56, 127, 63), 2 * 8 + (2 + 4 + 4 * 6 + 4 + 2)) << "lines and ball only";
}

TEST_F(SlipBallTest, BallMovesOnePixelPerUnitAndStopsAtFifty)
{
    struct Case {
        int32_t slip;
        int column;
    };
    for (const Case c : {Case{1, 61}, Case{-1, 59}, Case{25, 85}, Case{50, 110}, Case{80, 110}, Case{-50, 10},
                         Case{-127, 10}, Case{INT32_MAX, 110}, Case{INT32_MIN, 10}}) {
        strip(c.slip);
        EXPECT_EQ(ball_column(), c.column) << "slip " << c.slip;
    }
}

TEST_F(SlipBallTest, ZeroAndSenseShiftAndScaleTheBall)
{
    slip_zero = 10;
    strip(10);
    EXPECT_EQ(ball_column(), 60);
    strip(0);
    EXPECT_EQ(ball_column(), 50);
    slip_zero = 0;
    slip_sense_high = 1;
    strip(20);
    EXPECT_EQ(ball_column(), 100);
    strip(-30);
    EXPECT_EQ(ball_column(), 10);
    slip_zero = INT32_MAX;
    strip(INT32_MIN);
    EXPECT_EQ(ball_column(), 10);
}

TEST_F(SlipBallTest, ReferenceLinesShowLightOverTheBallOnEitherPage)
{
    slip_zero = 0;
    strip(-2);  // ball over the left line
    EXPECT_EQ(frame_buffer[7 * 128 + 58], static_cast<uint8_t>(~0x18));
    EXPECT_EQ(frame_buffer[7 * 128 + 69], 0xFF);
    slip_display = 0;  // the turn and bank page shows the strip regardless
    slip = 4;          // ball over the right line
    turn_page();
    EXPECT_EQ(frame_buffer[7 * 128 + 69], static_cast<uint8_t>(~0x7E));
}

// ---- range warning ---------------------------------------------------------------------

void warning_strip()
{
    lcd_line(0, 55, 127, 55, PIXEL_SET);
    lcd_text_centred_const(64, 57, "RANGE EXCEEDED", 0, PIXEL_INVERT, 0);
}

TEST_F(TurnBankTest, RangeWarningReplacesSlipBallOnBothPages)
{
    for (uint8_t page : {uint8_t{0}, uint8_t{2}}) {
        SCOPED_TRACE(page);
        main_page = page;
        pitch = 40;  // sky under the attitude page's strip
        led_timer = 0;
        sensor_status = 0x02;
        draw_main();
        EXPECT_EQ(led_timer, 15);
        expect_region_drawn_as(0, 55, 127, 63, warning_strip);
    }
}

TEST_F(TurnBankTest, RangeWarningHoldsWhileLedTimerRuns)
{
    sensor_status = 0;
    led_timer = 1;
    turn_page();
    expect_region_drawn_as(0, 55, 127, 63, warning_strip);
    EXPECT_EQ(led_timer, 1) << "drawing does not count down";
    led_timer = 0;
    turn_page();
    EXPECT_EQ(frame_buffer[7 * 128 + 63], 0x7E) << "ball back";
}

// ---- rate box --------------------------------------------------------------------------

struct RateCase {
    uint8_t two_min;
    uint8_t source;
    int32_t reading;  // bank below source 2, else turn rate
    int square_left;
};

class RateBoxTest : public TurnBankTest, public ::testing::WithParamInterface<RateCase> {};

std::string expected_rate_row(int square_left)
{
    std::string row = '.' + std::string(31, '#');  // column 96 cleared, 97..127 set
    for (int x = square_left; x <= square_left + 4; ++x)
        row[static_cast<size_t>(x - 96)] = '.';
    return row;
}

TEST_P(RateBoxTest, IndicatorSquarePosition)
{
    const RateCase c = GetParam();
    tb_two_min = c.two_min;
    turn_source = c.source;
    if (c.source < 2)
        bank = c.reading;
    else
        turn_rate = c.reading;
    lcd_clear();
    rate_box();
    for (int y = 8; y <= 13; ++y)
        EXPECT_EQ(row_pixels(y, 96, 127), expected_rate_row(c.square_left)) << "row " << y;
    EXPECT_EQ(row_pixels(7, 96, 127), '.' + std::string(31, '#'));
    EXPECT_EQ(row_pixels(14, 96, 127), '.' + std::string(31, '#'));
    EXPECT_EQ(row_pixels(15, 96, 127), std::string(32, '.'));
    EXPECT_EQ(row_pixels(3, 96, 127), ".###.....#####.....#####.....###") << "centre and rate squares";
}

INSTANTIATE_TEST_SUITE_P(
    OneMinuteFromBank, RateBoxTest,
    ::testing::Values(RateCase{0, 0, 0, 110}, RateCase{0, 0, 3, 109}, RateCase{0, 0, -3, 111},
                      RateCase{0, 0, -30, 120}, RateCase{0, 0, 30, 100}, RateCase{0, 0, -38, 122},
                      RateCase{0, 0, -39, 122}, RateCase{0, 0, -170, 122}, RateCase{0, 0, 39, 98},
                      RateCase{0, 1, 38, 98}, RateCase{0, 0, INT32_MIN, 122}, RateCase{0, 0, INT32_MAX, 98}));

INSTANTIATE_TEST_SUITE_P(
    OneMinuteFromTurnRate, RateBoxTest,
    ::testing::Values(RateCase{0, 2, 5, 110}, RateCase{0, 2, 60, 120}, RateCase{0, 2, 69, 121},
                      RateCase{0, 2, 70, 122}, RateCase{0, 2, -60, 100}, RateCase{0, 2, -69, 99},
                      RateCase{0, 2, -70, 98}, RateCase{0, 2, 32767, 122}, RateCase{0, 2, -32767, 98}));

INSTANTIATE_TEST_SUITE_P(
    TwoMinutes, RateBoxTest,
    ::testing::Values(RateCase{1, 0, 1, 110}, RateCase{1, 0, -15, 120}, RateCase{1, 0, -19, 122},
                      RateCase{1, 0, -20, 122}, RateCase{1, 0, 15, 100}, RateCase{1, 0, 20, 98},
                      RateCase{1, 2, 30, 120}, RateCase{1, 2, 35, 121}, RateCase{1, 2, 36, 122},
                      RateCase{1, 2, -35, 99}, RateCase{1, 2, -36, 98}, RateCase{1, 2, INT32_MIN, 98}));

// ---- G readout ---------------------------------------------------------------------------

TEST_F(TurnBankTest, GLoadRoundsToNearestTenthAndStopsAt9Point9)
{
    struct Case {
        int32_t raw;
        uint8_t status;
        int32_t tenths;
    };
    for (const Case c : {Case{256, 0, 10}, Case{243, 0, 10}, Case{242, 0, 9}, Case{0, 0, 0}, Case{0, 0x10, 0},
                         Case{512, 0x10, -20}, Case{2521, 0, 98}, Case{2522, 0, 99}, Case{65535, 0, 99},
                         Case{65535, 0x12, -99}, Case{-1, 0, 0}, Case{INT32_MAX, 0, 99}}) {
        gforce_raw = c.raw;
        sensor_status = c.status;
        EXPECT_EQ(gforce_tenths(), c.tenths) << "raw " << c.raw << " status " << int(c.status);
    }
}

TEST_F(TurnBankTest, GReadoutTextOnClearedField)
{
    struct Case {
        int32_t raw;
        uint8_t status;
        const char* text;
    };
    pitch = -40;  // all ground, so the cleared field shows
    for (const Case c : {Case{256, 0, "+1.0G"}, Case{0, 0x10, "+0.0G"}, Case{512, 0x10, "-2.0G"},
                         Case{2522, 0, "+9.9G"}, Case{89, 0, "+0.3G"}}) {
        SCOPED_TRACE(c.text);
        gforce_raw = c.raw;
        sensor_status = c.status;
        led_timer = 0;
        lcd_clear();
        attitude_page();
        EXPECT_EQ(row_pixels(46, 88, 127), '#' + std::string(39, '.'));
        expect_region_drawn_as(89, 46, 127, 54, [&] { lcd_text(89, 47, c.text, 0, PIXEL_SET, 0); });
    }
}

}  // namespace
