// The attitude page: artificial horizon with ground fill, pitch ladder and
// aircraft symbol, and the overlays chosen in the horizon and compass setup.
//
// The horizon geometry is the only floating point of the firmware. Its
// rounding is part of the picture: sine and cosine are rounded to single
// precision before use and rotated points are truncated toward zero, so a
// line lands on the same pixels on every build.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "firmware/flight/flight.h"
#include "firmware/instrument_state.h"
#include "firmware/lcd/lcd.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr long double kOneOver180 = 1.0L / 180.0L;

// Horizon geometry is centred on the panel; the aircraft symbol one row higher.
constexpr int32_t kCentreX = 64;
constexpr int32_t kCentreY = 32;

struct Attitude {
    float c;
    float s;
};

Attitude attitude_angle()
{
    const long double theta = (static_cast<double>(bank) * kPi) * kOneOver180;
    return {static_cast<float>(std::cos(theta)), static_cast<float>(std::sin(theta))};
}

// Rotates the segment (x0, y) - (x1, y) of the unrotated picture, moves it to
// the panel centre and clips it; true when part of it is on the panel, which
// is then in clipped_line.
bool rotated_segment_visible(const Attitude& att, int32_t x0, int32_t x1, int32_t y)
{
    int32_t ax, ay, bx, by;
    rotate_point(x0, y, att.c, att.s, ax, ay);
    rotate_point(x1, y, att.c, att.s, bx, by);
    return lcd_clip_line(ax + kCentreX, ay + kCentreY, bx + kCentreX, by + kCentreY);
}

void draw_clipped_line(uint8_t mode)
{
    lcd_line(clipped_line.x0, clipped_line.y0, clipped_line.x1, clipped_line.y1, mode);
}

// The ground lies on the side of the line that the start corner is on: below
// it while |bank| < 90, above it when the aircraft is upside down, and to the
// left for a left bank, to the right for a right bank.
void fill_ground()
{
    if (bank >= 90)
        horizon_fill(0, 0, false, false);
    else if (bank >= 0)
        horizon_fill(0, 63, false, true);
    else if (bank > -90)
        horizon_fill(127, 63, true, true);
    else
        horizon_fill(127, 0, true, false);
}

void horizon(const Attitude& att)
{
    // 90 pixels either side of the foot point is more than half the panel
    // diagonal: wherever the line crosses the panel it reaches both edges.
    if (rotated_segment_visible(att, -90, 90, pitch)) {
        draw_clipped_line(PIXEL_SET);
        fill_ground();
    } else if (pitch < 0) {
        // Horizon above the panel: all ground.
        std::memset(frame_buffer, 0xFF, sizeof frame_buffer);
    }
}

// Rungs every 10 degrees: dark on the sky above the horizon, light on the
// ground below it.
void pitch_ladder(const Attitude& att)
{
    static const int32_t rungs[] = {-30, -20, -10, 10, 20, 30};
    for (int32_t k : rungs) {
        if (rotated_segment_visible(att, -20, 20, pitch - k))
            draw_clipped_line(k < 0 ? PIXEL_CLEAR : PIXEL_SET);
    }
}

// Inverted so that it shows on sky and ground alike.
void aircraft_symbol()
{
    if (icon_large == 0) {
        lcd_circle(64, 31, 3, PIXEL_INVERT);
        lcd_circle(64, 31, 4, PIXEL_INVERT);
        lcd_line(64, 24, 64, 26, PIXEL_INVERT);
        lcd_line(54, 31, 59, 31, PIXEL_INVERT);
        lcd_line(54, 32, 59, 32, PIXEL_INVERT);
        lcd_line(69, 31, 74, 31, PIXEL_INVERT);
        lcd_line(69, 32, 74, 32, PIXEL_INVERT);
        return;
    }
    lcd_circle(64, 31, 5, PIXEL_INVERT);
    lcd_circle(64, 31, 6, PIXEL_INVERT);
    static const uint8_t dots[][2] = {{62, 26}, {59, 29}, {59, 33}, {62, 36},
                                      {66, 26}, {69, 29}, {69, 33}, {66, 36}};
    for (const auto& dot : dots)
        lcd_plot(dot[0], dot[1], PIXEL_INVERT);
    lcd_line(64, 19, 64, 24, PIXEL_INVERT);
    lcd_line(46, 31, 57, 31, PIXEL_INVERT);
    lcd_line(46, 32, 57, 32, PIXEL_INVERT);
    lcd_line(71, 31, 82, 31, PIXEL_INVERT);
    lcd_line(71, 32, 82, 32, PIXEL_INVERT);
}

// Bank at the left edge ("L" banked left, "R" banked right), pitch at the top
// ("U" nose up, "D" nose down), each on a cleared field sized to the number.
// Magnitudes are taken in 64 bits: a reading of INT32_MIN has no 32-bit negation.
void bank_and_pitch_numbers()
{
    char text[16];
    const long long bank_size = bank < 0 ? -static_cast<long long>(bank) : bank;
    const uint8_t width = bank_size >= 100 ? 32 : bank_size >= 10 ? 24 : 16;
    lcd_fill_rect(0, 28, width, 36, PIXEL_CLEAR);
    std::snprintf(text, sizeof text, "%c%lld", bank >= 0 ? 'L' : 'R', bank_size);
    lcd_text(1, 29, text, 0, PIXEL_SET, 0);

    const long long pitch_size = pitch < 0 ? -static_cast<long long>(pitch) : pitch;
    if (pitch_size >= 10)
        lcd_fill_rect(51, 0, 75, 7, PIXEL_CLEAR);
    else
        lcd_fill_rect(55, 0, 71, 7, PIXEL_CLEAR);
    std::snprintf(text, sizeof text, "%c%lld", pitch >= 0 ? 'U' : 'D', pitch_size);
    lcd_text_centred(64, 0, text, 0, PIXEL_SET, 0);
}

// Heading at the top left with the menu font's '|' as the degree sign, then
// "M" (magnetic) or "T" (true) tucked under the sign.
void heading_box()
{
    lcd_fill_rect(0, 0, 37, 15, PIXEL_CLEAR);
    char text[16];
    std::snprintf(text, sizeof text, "%03d|", static_cast<int>(heading));
    lcd_text(0, 1, text, 1, PIXEL_SET, 0);
    const auto column = static_cast<uint8_t>(8 * std::strlen(text) - 2);
    lcd_text_const(column, 8, heading_true == 1 ? "T" : "M", 0, PIXEL_SET, 0);
}

}  // namespace

void rotate_point(int32_t x, int32_t y, float c, float s, int32_t& out_x, int32_t& out_y)
{
    // Extended precision, then truncation toward zero.
    const long double lx = x;
    const long double ly = y;
    out_x = static_cast<int32_t>(lx * c - ly * s);
    out_y = static_cast<int32_t>(lx * s + ly * c);
}

// Pixel by pixel this would be up to 64 reads and writes per column, half the
// panel on a level horizon; a page byte at a time it is at most eight. The
// result is the same: every clear pixel from y on is set, up to the first
// pixel that was already set.
void column_fill(uint8_t x, uint8_t y, bool upward)
{
    if (x >= LCD_WIDTH || y >= LCD_HEIGHT)
        return;
    int32_t page = y / 8;
    // Rows of the first page from y onwards, in the fill's direction.
    uint8_t span = upward ? static_cast<uint8_t>((2u << (y % 8)) - 1) : static_cast<uint8_t>(0xFFu << (y % 8));
    for (; page >= 0 && page < 8; page += upward ? -1 : 1, span = 0xFF) {
        uint8_t& column = frame_buffer[x + page * LCD_WIDTH];
        const uint8_t stops = column & span;
        if (stops == 0) {
            column |= span;
            continue;
        }
        // Fill up to the nearest set pixel in the fill's direction and stop.
        if (upward) {
            const int32_t top = 31 - __builtin_clz(static_cast<unsigned>(stops));  // highest set bit
            column |= static_cast<uint8_t>(span & ~((2u << top) - 1));
        } else {
            const int32_t bottom = __builtin_ctz(stops);  // lowest set bit
            column |= static_cast<uint8_t>(span & ((1u << bottom) - 1));
        }
        return;
    }
}

void horizon_fill(uint8_t x, uint8_t y, bool leftward, bool upward)
{
    for (int32_t column = x; column >= 0 && column <= 127; column += leftward ? -1 : 1) {
        const auto c = static_cast<uint8_t>(column);
        if (lcd_get_pixel(c, y))
            return;
        column_fill(c, y, upward);
    }
}

void attitude_page()
{
    const Attitude att = attitude_angle();
    horizon(att);
    pitch_ladder(att);
    aircraft_symbol();
    if (slip_display == 1)
        slip_ball_strip();
    range_warning();
    if (tb_display == 1)
        rate_box();
    if (numeric_display == 1)
        bank_and_pitch_numbers();
    if (gforce_display == 1)
        gforce_readout();
    if (compass_on == 1)
        heading_box();
}
