// The compass page: a heading tape over a large heading, or a rose turning
// against the heading; the reciprocal display; the heading bug row and, when
// no bug is held, the tilt compensation mode in its place.
#include <cstdio>

#include "firmware/flight/flight.h"
#include "firmware/instrument_state.h"
#include "firmware/lcd/lcd.h"

namespace {

// Whole degrees into 0..359. Headings from the link are not bounded to a
// circle, and the rose and the card tables must never see anything else.
int32_t wrap_degrees(int32_t d)
{
    const int32_t r = d % 360;
    return r < 0 ? r + 360 : r;
}

const char* const card_points[12] = {"N",   "NNE", "ENE", "E",   "ESE", "SSE",
                                     "S",   "SSW", "WSW", "W",   "WNW", "NNW"};
const char* const cardinal_points[4] = {"N", "E", "S", "W"};
const char* const intercardinal_points[4] = {"NE", "SE", "SW", "NW"};

// The label of a tape point at a multiple of 30 degrees, or nullptr.
// `number` receives the "%d" form where the style shows numbers.
const char* thirty_degree_label(int32_t n, char (&number)[12])
{
    const int32_t d = wrap_degrees(n);
    switch (compass_style(compass_display).labels) {
    case TapeLabels::NUMBERS:
        break;
    case TapeLabels::CARDINALS_AND_NUMBERS:
        if (d % 90 == 0)
            return cardinal_points[d / 90];
        break;
    case TapeLabels::TWELVE_POINTS:
        return card_points[d / 30];
    case TapeLabels::EIGHT_POINTS:
        return d % 90 == 0 ? cardinal_points[d / 90] : nullptr;
    case TapeLabels::NONE:
        return nullptr;
    }
    std::snprintf(number, sizeof number, "%d", static_cast<int>(n));
    return number;
}

// What an unknown compass_display value shows.
constexpr CompassStyle NO_STYLE = {COMPASS_STYLE_COUNT, " ", false, TapeLabels::NONE};

void tape_label(int32_t x, const char* label)
{
    // Centred one column right of the tick: an 8-column glyph has its ink in
    // columns 0..6.
    lcd_text_centred(static_cast<uint8_t>(x + 1), 0, label, 1, PIXEL_SET, 0);
}

const char* magnetic_or_true()
{
    return heading_true == 1 ? "T" : "M";
}

void large_heading_marks()
{
    lcd_text_const(93, 22, "o", 1, PIXEL_SET, 0);
    lcd_text_const(102, 41, magnetic_or_true(), 1, PIXEL_SET, 0);
}

void large_heading(int32_t value)
{
    char text[12];
    std::snprintf(text, sizeof text, "%03d", static_cast<int>(value));
    lcd_big_number(23, 25, text);
}

void bug_if_held()
{
    if (heading_bug_on == 1) {
        compare_heading_bug();
        heading_bug_row();
    }
}

void rose_display()
{
    lcd_text_const(101, 2, "o", 1, PIXEL_SET, 0);
    lcd_text_const(110, 12, magnetic_or_true(), 1, PIXEL_SET, 0);
    // Turned against the heading so that the heading is at the top.
    lcd_draw_rotated_rose(wrap_degrees(359 - heading));
    char text[12];
    std::snprintf(text, sizeof text, "%03d", static_cast<int>(heading));
    lcd_medium_number(42, 19, text);
}

}  // namespace

const CompassStyle& compass_style(uint8_t display)
{
    return display < std::size(COMPASS_STYLES) ? COMPASS_STYLES[display] : NO_STYLE;
}

void heading_tape()
{
    // One pixel per degree with the heading under column 64. The columns
    // beyond either edge let a label that straddles the edge show in part.
    for (int32_t x = -12; x <= 139; ++x) {
        const int32_t d = heading + x - 64;
        const int32_t n = d > 350 ? d - 360 : d < 0 ? d + 360 : d;
        if (iabs(d) % 10 == 0) {
            lcd_line(x, 15, x, 16, PIXEL_INVERT);
            if (d % 30 == 0) {
                char number[12];
                if (const char* label = thirty_degree_label(n, number))
                    tape_label(x, label);
            }
        } else if (iabs(d) % 45 == 0 && compass_style(compass_display).labels == TapeLabels::EIGHT_POINTS) {
            // 45, 135, 225, 315: no multiple of 10, so no tick under these.
            tape_label(x, intercardinal_points[wrap_degrees(n) / 90]);
        }
    }
    lcd_line(0, 17, 127, 17, PIXEL_SET);
    lcd_line(0, 18, 127, 18, PIXEL_SET);
    // The window of columns 50..78 round the current heading.
    lcd_line(48, 0, 48, 17, PIXEL_SET);
    lcd_line(49, 0, 49, 17, PIXEL_SET);
    lcd_line(79, 0, 79, 17, PIXEL_SET);
    lcd_line(80, 0, 80, 17, PIXEL_SET);
}

void compare_heading_bug()
{
    bug_turn_left = 0;
    bug_turn_right = 0;
    bug_offset = 0;
    if (heading == heading_bug)
        return;
    const int32_t clockwise = wrap_degrees(heading_bug - heading);
    if (clockwise < 180)
        bug_turn_right = 1;
    else if (clockwise > 180)
        bug_turn_left = 1;
    else if (heading < heading_bug)
        bug_turn_left = 1;
    else
        bug_turn_right = 1;
    bug_offset = static_cast<uint32_t>(clockwise < 360 - clockwise ? clockwise : 360 - clockwise);
}

void heading_bug_row()
{
    char text[12];
    std::snprintf(text, sizeof text, "%03d|", static_cast<int>(heading_bug));
    lcd_text_centred(64, 57, text, 0, PIXEL_SET, 0);
    if (bug_turn_left == 0 && bug_turn_right == 0)
        return;
    // One arrow per 2 degrees off the bug, five at 10 degrees and beyond.
    const uint32_t arrows = (bug_offset < 10 ? bug_offset : 10) / 2;
    static const uint8_t left_columns[5] = {37, 29, 21, 13, 5};
    static const uint8_t right_columns[5] = {82, 90, 98, 106, 114};
    for (uint32_t i = 0; i < arrows; ++i) {
        if (bug_turn_left == 1)
            lcd_text_const(left_columns[i], 57, "<", 0, PIXEL_SET, 0);
        else
            lcd_text_const(right_columns[i], 57, ">", 0, PIXEL_SET, 0);
    }
}

void compass_type_label()
{
    const char* label = nullptr;
    switch (tilt_comp) {
    case TILT_COMP_NONE_REPORTED:
    case TILT_COMP_2D:
        label = "2D";
        break;
    case TILT_COMP_3D_A:
        label = "3A";
        break;
    case TILT_COMP_3D_G:
        label = "3G";
        break;
    default:
        return;
    }
    lcd_text_const(0, 57, label, 0, PIXEL_INVERT, 0);
}

void compass_page()
{
    if (reciprocal_shown == 1) {
        lcd_text_centred_const(64, 0, "*** FROM ***", 1, PIXEL_SET, 0);
        const int32_t reciprocal = heading + 180 > 359 ? heading + 180 - 360 : heading + 180;
        large_heading(reciprocal);
        large_heading_marks();
        bug_if_held();
    } else if (compass_style(compass_display).rose) {
        rose_display();
    } else {
        heading_tape();
        large_heading_marks();
        large_heading(heading);
        bug_if_held();
    }
    if (heading_bug_on == 0)
        compass_type_label();
}
