#include <gtest/gtest.h>

#include "fake_host.h"
#include "firmware/firmware_loop.h"
#include "firmware/instrument_state.h"

TEST(Timer, TicksWrapAndLampCountsDown)
{
    FakeHost host;
    ticks = 255;
    led_timer = 2;
    timer_tick();
    EXPECT_EQ(ticks, 0);
    EXPECT_EQ(led_timer, 1);
    timer_tick();
    timer_tick();
    EXPECT_EQ(led_timer, 0);
}

TEST(Timer, TwoSecondWorkRunsOnEveryTwentiethTick)
{
    FakeHost host;
    heading_valid = 1;
    heading_hold = 1;
    for (int i = 0; i < 19; ++i)
        timer_tick();
    EXPECT_EQ(heading_hold, 1);
    EXPECT_EQ(two_second_count, 19);
    timer_tick();
    EXPECT_EQ(two_second_count, 0);
    EXPECT_EQ(heading_hold, 0);
    EXPECT_EQ(heading_valid, 1);
    for (int i = 0; i < 20; ++i)
        timer_tick();
    EXPECT_EQ(heading_valid, 0);
}

// A countdown of 5 lets its flag live between 10 and 12 seconds, depending on
// where in the two-second cycle it was set.
TEST(Timer, CountdownOfFiveKeepsItsFlagTenToTwelveSeconds)
{
    for (int phase = 0; phase < 20; ++phase) {
        FakeHost host;
        for (int i = 0; i < phase; ++i)
            timer_tick();
        heading_valid = 1;
        heading_hold = 5;
        reciprocal_shown = 1;
        reciprocal_timer = 5;
        int ticks_alive = 0;
        while (heading_valid) {
            timer_tick();
            ++ticks_alive;
            ASSERT_LT(ticks_alive, 1000);
        }
        EXPECT_EQ(reciprocal_shown, 0) << "phase " << phase;
        EXPECT_GE(ticks_alive, 100) << "phase " << phase;
        EXPECT_LE(ticks_alive, 120) << "phase " << phase;
    }
}

TEST(Timer, KeepsRunningWhileTheLoopIsStopped)
{
    FakeHost host;
    heading_valid = 1;
    heading_hold = 5;
    host.idle_for(9900);
    EXPECT_EQ(heading_valid, 1);
    host.idle_for(2200);
    EXPECT_EQ(heading_valid, 0);
}
