// Shared set-up of the flight display tests: a fresh instrument with default
// settings and valid readings of a level, still aircraft, and ways to look at
// the picture that do not depend on the shapes of our fonts.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "fake_host.h"
#include "firmware/firmware_loop.h"
#include "firmware/flight/flight.h"
#include "firmware/instrument_state.h"
#include "firmware/lcd/lcd.h"
#include "lcd_picture.h"

using Frame = std::array<uint8_t, 1024>;

inline Frame snapshot()
{
    Frame f;
    std::memcpy(f.data(), frame_buffer, f.size());
    return f;
}

inline bool lit(int x, int y)
{
    return lcd_get_pixel(static_cast<uint8_t>(x), static_cast<uint8_t>(y));
}

// Rows y0..y1 of one column, or columns x0..x1 of one row, as '#' and '.'.
inline std::string column_pixels(int x, int y0, int y1)
{
    std::string s;
    for (int y = y0; y <= y1; ++y)
        s += lit(x, y) ? '#' : '.';
    return s;
}
inline std::string row_pixels(int y, int x0, int x1)
{
    std::string s;
    for (int x = x0; x <= x1; ++x)
        s += lit(x, y) ? '#' : '.';
    return s;
}

class FlightTest : public ::testing::Test {
protected:
    FlightTest() { level_aircraft_state(); }

    // One pass of the main screen on a cleared panel, as the loop does it.
    static void draw_main()
    {
        lcd_clear();
        main_screen();
    }

    // The attitude page with every overlay off: horizon, ladder and symbol.
    static void plain_horizon(int32_t bank_deg, int32_t pitch_deg)
    {
        slip_display = tb_display = numeric_display = gforce_display = compass_on = 0;
        bank = bank_deg;
        pitch = pitch_deg;
        lcd_clear();
        attitude_page();
    }

    // Compares a rectangle of the current picture with the same rectangle
    // drawn on a cleared panel by `expected`. Positions and choices of texts
    // are checked this way without knowing what the glyphs look like.
    static void expect_region_drawn_as(int x0, int y0, int x1, int y1, const std::function<void()>& expected)
    {
        const Frame actual = snapshot();
        const std::string actual_dump = lcd_dump(y0, y1, x0, x1);
        lcd_clear();
        expected();
        const std::string expected_dump = lcd_dump(y0, y1, x0, x1);
        std::memcpy(frame_buffer, actual.data(), actual.size());
        EXPECT_EQ(actual_dump, expected_dump) << "actual:\n" << actual_dump << "expected:\n" << expected_dump;
    }

    FakeHost host_;
};
