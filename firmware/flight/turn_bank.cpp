// The turn and bank page, and the pieces it shares with the attitude page:
// slip ball strip, range warning, rate box and G readout.
#include <cstdint>
#include <cstdio>

#include "firmware/flight/flight.h"
#include "firmware/instrument_state.h"
#include "firmware/lcd/lcd.h"

namespace {

// Readings from the link reach +-32767, but nothing bounds them in between:
// the arithmetic below is done in 64 bits so that no reading can overflow it.
int64_t clamp64(int64_t v, int64_t lo, int64_t hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

int32_t angle_from_bank()
{
    const int64_t limit = tb_two_min == 1 ? 30 : 60;
    if (bank > limit)
        return 60;
    if (bank < -limit)
        return 300;
    int32_t a = bank < 0 ? bank + 360 : bank;
    if (tb_two_min == 1) {
        a *= 2;
        if (a > 359)
            a -= 360;
    }
    return a;
}

// A turn beyond the last mark pins the needle at full deflection on the side
// of the turn. Taking the right turn as 359 - min(t, 179) and mapping 180 to
// full left would show every right turn of 179 or more as a full left turn.
int32_t angle_from_turn_rate()
{
    const int64_t t = tb_two_min == 1 ? turn_rate : turn_rate / 2;
    if (turn_rate >= 0)
        return t >= 60 ? 300 : static_cast<int32_t>(359 - t);
    return -t >= 60 ? 60 : static_cast<int32_t>(-t);
}

void needle(int32_t a)
{
    const int32_t dx = sin255(a) / 6;
    const int32_t dy = cos255(a) / 6;
    for (int32_t i = 0; i < 5; ++i)
        lcd_line(62 + i, 53, 62 + i - dx, 53 - dy, PIXEL_SET);
}

// The marks stand where a 30-degree deflection points: a standard-rate turn.
// Each row is {first column, last column, row}.
void rate_marks()
{
    static const uint8_t left_mark[7][3] = {{40, 42, 6},  {38, 42, 7},  {38, 42, 8}, {38, 42, 9},
                                            {39, 43, 10}, {39, 43, 11}, {39, 41, 12}};
    static const uint8_t right_mark[7][3] = {{86, 88, 6},  {86, 90, 7},  {86, 90, 8}, {86, 90, 9},
                                             {85, 89, 10}, {85, 89, 11}, {87, 89, 12}};
    for (const auto& row : left_mark)
        lcd_line(row[0], row[2], row[1], row[2], PIXEL_SET);
    for (const auto& row : right_mark)
        lcd_line(row[0], row[2], row[1], row[2], PIXEL_SET);
}

// The bottom strip: rule on row 55, rows 56..63 cleared (the right edge of the
// clear lies beyond the panel and is skipped).
void bottom_strip()
{
    lcd_line(0, 55, 127, 55, PIXEL_SET);
    lcd_fill_rect(0, 56, 128, 63, PIXEL_CLEAR);
}

}  // namespace

int32_t turn_needle_angle()
{
    const int32_t a = turn_source >= 2 ? angle_from_turn_rate() : angle_from_bank();
    if (a >= 61 && a <= 180)
        return 60;
    if (a >= 181 && a <= 299)
        return 300;
    return a;
}

void slip_ball_strip()
{
    int64_t s = static_cast<int64_t>(slip) - slip_zero;
    if (slip_sense_high == 1)
        s *= 2;
    s = clamp64(s, -50, 50);

    bottom_strip();
    if (led_timer != 0)
        return;  // the strip belongs to the range warning

    // A round ball 8 pixels wide in rows 57..62, written as whole column bytes
    // of the last page.
    static const uint8_t ball[8] = {0x18, 0x3C, 0x7E, 0x7E, 0x7E, 0x7E, 0x3C, 0x18};
    uint8_t* page = frame_buffer + 7 * LCD_WIDTH;
    for (int32_t k = 0; k < 8; ++k)
        page[s + 60 + k] = ball[k];
    // Inverted so that they show light where the ball covers them.
    lcd_line(58, 56, 58, 63, PIXEL_INVERT);
    lcd_line(69, 56, 69, 63, PIXEL_INVERT);
}

void range_warning()
{
    if (sensor_status & 0x02)
        led_timer = 15;
    if (led_timer == 0)
        return;
    bottom_strip();
    lcd_text_centred_const(64, 57, "RANGE EXCEEDED", 0, PIXEL_INVERT, 0);
}

void rate_box()
{
    lcd_fill_rect(97, 0, 127, 14, PIXEL_SET);
    lcd_line(96, 0, 96, 15, PIXEL_CLEAR);
    lcd_line(96, 15, 127, 15, PIXEL_CLEAR);
    // Centre and the two standard-rate positions.
    lcd_fill_rect(100, 1, 104, 5, PIXEL_CLEAR);
    lcd_fill_rect(110, 1, 114, 5, PIXEL_CLEAR);
    lcd_fill_rect(120, 1, 124, 5, PIXEL_CLEAR);

    int64_t v, c, limit;
    if (turn_source >= 2) {
        v = turn_rate;
        c = tb_two_min == 1 ? v / 3 : v / 6;
        limit = tb_two_min == 1 ? 36 : 70;
    } else {
        v = -static_cast<int64_t>(bank);
        c = tb_two_min == 1 ? (v * 10) / 15 : v / 3;
        limit = tb_two_min == 1 ? 20 : 39;
    }

    // One pixel per unit of c; pinned 12 pixels out at the limit.
    int64_t left;
    if (c > 0)
        left = v >= limit ? 122 : 110 + c;
    else
        left = v <= -limit ? 98 : 110 + c;
    lcd_fill_rect(static_cast<uint8_t>(left), 8, static_cast<uint8_t>(left + 4), 13, PIXEL_CLEAR);
}

int32_t gforce_tenths()
{
    // Rounded to the nearest tenth: 13/256 G is about half of a tenth (25.6).
    const uint32_t v = static_cast<uint32_t>(gforce_raw) + 13;
    int32_t g = static_cast<int32_t>((v >> 8) * 10 + (((v & 0xFF) * 10) >> 8));
    if (g > 99)
        g = 99;
    return (sensor_status & 0x10) ? -g : g;
}

void gforce_readout()
{
    char text[16];
    std::snprintf(text, sizeof text, "%+.1fG", gforce_tenths() * 0.1);
    lcd_fill_rect(89, 46, 127, 54, PIXEL_CLEAR);
    lcd_text(89, 47, text, 0, PIXEL_SET, 0);
}

void turn_bank_page()
{
    const int32_t a = turn_needle_angle();
    lcd_fill_rect(62, 2, 66, 7, PIXEL_SET);  // top index
    needle(a);
    rate_marks();
    lcd_text_const(20, 5, "L", 1, PIXEL_SET, 0);
    lcd_text_const(106, 5, "R", 1, PIXEL_SET, 0);
    // Also erases the foot of the needle.
    lcd_fill_rect(0, 46, 127, 53, PIXEL_CLEAR);
    lcd_text_centred_const(64, 47, tb_two_min == 1 ? "2 MIN TURN" : "1 MIN TURN", 0, PIXEL_SET, 0);
    slip_ball_strip();
    range_warning();
}
