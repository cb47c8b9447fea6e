// The compass page: heading tape and its label styles, large heading, rose,
// reciprocal display, heading bug and tilt compensation label.
#include <vector>

#include "flight_fixture.h"

namespace {

class CompassTest : public FlightTest {
protected:
    CompassTest() { main_page = PAGE_COMPASS; }

    static void compass(int32_t heading_deg, uint8_t style)
    {
        heading = heading_deg;
        compass_display = style;
        lcd_clear();
        compass_page();
    }
};

// Row 15 of the tape: ticks every 10 degrees plus the two double uprights.
std::string expected_tick_row(int32_t heading_deg)
{
    std::string row(128, '.');
    for (int x = 0; x < 128; ++x) {
        const int d = heading_deg + x - 64;
        if (d % 10 == 0 || x == 48 || x == 49 || x == 79 || x == 80)
            row[static_cast<size_t>(x)] = '#';
    }
    return row;
}

// ---- tape --------------------------------------------------------------------

TEST_F(CompassTest, TicksEveryTenDegreesInsideTheTapeFrame)
{
    for (int32_t h : {0, 5, 123, 359}) {
        SCOPED_TRACE(h);
        compass(h, COMPASS_NUMERIC);
        EXPECT_EQ(row_pixels(15, 0, 127), expected_tick_row(h));
        EXPECT_EQ(row_pixels(16, 0, 127), expected_tick_row(h));
        EXPECT_EQ(row_pixels(17, 0, 127) + row_pixels(18, 0, 127), std::string(256, '#'));
        for (int x : {48, 49, 79, 80})
            EXPECT_EQ(column_pixels(x, 0, 18), std::string(19, '#')) << "upright " << x;
    }
}

// The label band (rows 0..14) of every style: each label centred one column
// right of its point, cut off where it straddles an edge; the uprights over them.
TEST_F(CompassTest, TapeLabelsOfEachStyle)
{
    struct Label {
        int centre;
        const char* text;
    };
    struct Case {
        int32_t heading;
        uint8_t style;
        std::vector<Label> labels;
    };
    const Case cases[] = {
        {0, COMPASS_NUMERIC, {{5, "300"}, {35, "330"}, {65, "0"}, {95, "30"}, {125, "60"}}},
        {90, COMPASS_MIXED, {{5, "30"}, {35, "60"}, {65, "E"}, {95, "120"}, {125, "150"}}},
        {10, COMPASS_CARD1, {{-5, "WNW"}, {25, "NNW"}, {55, "N"}, {85, "NNE"}, {115, "ENE"}}},
        {45, COMPASS_CARD2, {{20, "N"}, {65, "NE"}, {110, "E"}}},  // nothing at 30 and 60
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.heading);
        compass(c.heading, c.style);
        expect_region_drawn_as(0, 0, 127, 14, [&] {
            for (const Label& l : c.labels)
                lcd_text_centred(static_cast<uint8_t>(l.centre), 0, l.text, 1, PIXEL_SET, 0);
            for (int x : {48, 49, 79, 80})
                lcd_line(x, 0, x, 14, PIXEL_SET);
        });
    }
    EXPECT_FALSE(lit(64, 15)) << "no tick under NE";
}

// ---- large heading -----------------------------------------------------------

TEST_F(CompassTest, LargeHeadingWithDegreeMarkAndReference)
{
    compass(7, COMPASS_CARD1);
    expect_region_drawn_as(0, 19, 127, 56, [] {
        lcd_big_number(23, 25, "007");
        lcd_text_const(93, 22, "o", 1, PIXEL_SET, 0);
        lcd_text_const(102, 41, "M", 1, PIXEL_SET, 0);
    });
    heading_true = 1;
    compass(270, COMPASS_NUMERIC);
    expect_region_drawn_as(0, 19, 127, 56, [] {
        lcd_big_number(23, 25, "270");
        lcd_text_const(93, 22, "o", 1, PIXEL_SET, 0);
        lcd_text_const(102, 41, "T", 1, PIXEL_SET, 0);
    });
}

// ---- reciprocal display ----------------------------------------------------------

TEST_F(CompassTest, ReciprocalShowsOppositeHeadingInEveryStyle)
{
    struct Case {
        int32_t heading;
        const char* shown;
    };
    reciprocal_shown = 1;
    for (uint8_t style = 0; style < COMPASS_STYLE_COUNT; ++style) {
        SCOPED_TRACE(compass_style(style).name);
        for (const Case c : {Case{200, "020"}, Case{179, "359"}}) {
            SCOPED_TRACE(c.shown);
            compass(c.heading, style);
            expect_region_drawn_as(0, 0, 127, 56, [&] {
                lcd_text_centred_const(64, 0, "*** FROM ***", 1, PIXEL_SET, 0);
                lcd_big_number(23, 25, c.shown);
                lcd_text_const(93, 22, "o", 1, PIXEL_SET, 0);
                lcd_text_const(102, 41, "M", 1, PIXEL_SET, 0);
            });
        }
    }
}

// ---- rose ----------------------------------------------------------------------

TEST_F(CompassTest, RoseTurnsAgainstHeadingWithMediumDigits)
{
    for (int32_t h : {0, 90, 359}) {
        SCOPED_TRACE(h);
        compass(h, COMPASS_ROSE);
        expect_region_drawn_as(0, 0, 127, 63, [h] {
            lcd_text_const(101, 2, "o", 1, PIXEL_SET, 0);
            lcd_text_const(110, 12, "M", 1, PIXEL_SET, 0);
            lcd_draw_rotated_rose(359 - h);
            char text[8];
            std::snprintf(text, sizeof text, "%03d", static_cast<int>(h));
            lcd_medium_number(42, 19, text);
            lcd_text_const(0, 57, "2D", 0, PIXEL_INVERT, 0);
        });
    }
}

TEST_F(CompassTest, RoseStaysOnCircleForHeadingsBeyond359)
{
    // A compass frame can carry any 16-bit heading.
    compass(1000, COMPASS_ROSE);
    expect_region_drawn_as(28, 1, 92, 63, [] {
        lcd_draw_rotated_rose(79);  // 359 - 1000, once round the circle
        lcd_medium_number(42, 19, "1000");
    });
    compass(65535 + 99, COMPASS_CARD1);
    compass(65535 + 99, COMPASS_CARD2);
}

// ---- heading bug -------------------------------------------------------------------

struct BugCase {
    int32_t heading;
    int32_t bug;
    uint8_t left;
    uint8_t right;
    uint32_t offset;
};

class BugComparisonTest : public CompassTest, public ::testing::WithParamInterface<BugCase> {};

TEST_P(BugComparisonTest, TurnDirectionAndOffset)
{
    const BugCase c = GetParam();
    heading = c.heading;
    heading_bug = c.bug;
    bug_turn_left = bug_turn_right = 1;
    bug_offset = 999;
    compare_heading_bug();
    EXPECT_EQ(bug_turn_left, c.left);
    EXPECT_EQ(bug_turn_right, c.right);
    EXPECT_EQ(bug_offset, c.offset);
}

INSTANTIATE_TEST_SUITE_P(Cases, BugComparisonTest,
                         ::testing::Values(BugCase{10, 350, 1, 0, 20}, BugCase{10, 13, 0, 1, 3},
                                           BugCase{10, 11, 0, 1, 1}, BugCase{10, 190, 1, 0, 180},
                                           BugCase{190, 10, 0, 1, 180}, BugCase{10, 10, 0, 0, 0},
                                           BugCase{350, 10, 0, 1, 20}, BugCase{0, 179, 0, 1, 179},
                                           BugCase{0, 181, 1, 0, 179}));

void bug_row_picture(const char* bug_text, const char* arrow, std::initializer_list<uint8_t> columns)
{
    lcd_text_centred_const(64, 57, bug_text, 0, PIXEL_SET, 0);
    for (uint8_t x : columns)
        lcd_text_const(x, 57, arrow, 0, PIXEL_SET, 0);
}

TEST_F(CompassTest, BugRowArrowsPointBackToBug)
{
    heading_bug_on = 1;
    heading_bug = 350;
    compass(10, COMPASS_CARD1);
    expect_region_drawn_as(0, 57, 127, 63, [] { bug_row_picture("350|", "<", {37, 29, 21, 13, 5}); });
    heading_bug = 13;
    compass(10, COMPASS_CARD1);
    expect_region_drawn_as(0, 57, 127, 63, [] { bug_row_picture("013|", ">", {82}); });
    heading_bug = 11;
    compass(10, COMPASS_CARD1);
    expect_region_drawn_as(0, 57, 127, 63, [] { bug_row_picture("011|", ">", {}); });
}

TEST_F(CompassTest, BugRowShownWithReciprocalButNotWithRose)
{
    heading_bug_on = 1;
    heading_bug = 190;
    reciprocal_shown = 1;
    compass(10, COMPASS_NUMERIC);
    expect_region_drawn_as(0, 57, 127, 63, [] { bug_row_picture("190|", "<", {37, 29, 21, 13, 5}); });
    reciprocal_shown = 0;
    compass(10, COMPASS_ROSE);
    EXPECT_EQ(lcd_count_lit(0, 57, 27, 63), 0);
    EXPECT_EQ(lcd_count_lit(93, 57, 127, 63), 0);
}

// ---- tilt compensation label -----------------------------------------------------------

TEST_F(CompassTest, TiltCompensationLabelWhenNoBugHeld)
{
    struct Case {
        uint8_t tilt;
        const char* label;
    };
    for (const Case c : {Case{TILT_COMP_NONE_REPORTED, "2D"}, Case{TILT_COMP_2D, "2D"}, Case{TILT_COMP_3D_A, "3A"},
                         Case{TILT_COMP_3D_G, "3G"}}) {
        SCOPED_TRACE(c.label);
        tilt_comp = c.tilt;
        compass(100, COMPASS_CARD1);
        expect_region_drawn_as(0, 57, 47, 63, [&] { lcd_text_const(0, 57, c.label, 0, PIXEL_INVERT, 0); });
    }
    tilt_comp = TILT_COMP_MODE_COUNT;  // no mode
    compass(100, COMPASS_CARD1);
    EXPECT_EQ(lcd_count_lit(0, 57, 127, 63), 0);
    tilt_comp = TILT_COMP_3D_A;
    heading_bug_on = 1;
    heading_bug = 100;
    compass(100, COMPASS_CARD1);
    EXPECT_EQ(lcd_count_lit(0, 57, 47, 63), 0) << "the bug row takes the place of the label";
}

}  // namespace
