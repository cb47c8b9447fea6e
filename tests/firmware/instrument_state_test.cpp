#include <gtest/gtest.h>

#include "fake_host.h"
#include "firmware/firmware_loop.h"
#include "firmware/instrument_state.h"

TEST(InstrumentState, StartsAllZero)
{
    FakeHost host;
    EXPECT_EQ(heading, 0);
    EXPECT_EQ(contrast, 0);
    EXPECT_EQ(compass_display, 0);
    EXPECT_EQ(tb_two_min, 0);
    EXPECT_EQ(current_screen, nullptr);
    EXPECT_EQ(return_screen, nullptr);
}

TEST(InstrumentState, LoadDefaultsSetsEverySetting)
{
    FakeHost host;
    load_defaults();
    EXPECT_EQ(contrast, 32);
    EXPECT_EQ(backlight, 1);
    EXPECT_EQ(slip_display, 1);
    EXPECT_EQ(bump_index, 0);
    EXPECT_EQ(slew_index, 0);
    EXPECT_EQ(slip_zero, 0);
    EXPECT_EQ(slip_sense_high, 0);
    EXPECT_EQ(pitch_trim, 0);
    EXPECT_EQ(tb_two_min, 1);
    EXPECT_EQ(tb_display, 1);
    EXPECT_EQ(compass_on, 1);
    EXPECT_EQ(compass_cal_type, 1);
    EXPECT_EQ(compass_display, COMPASS_CARD1);
    EXPECT_EQ(heading_true, 0);
    EXPECT_EQ(variation, 0);
    EXPECT_EQ(numeric_display, 0);
    EXPECT_EQ(icon_large, 1);
    EXPECT_EQ(gforce_display, 1);
}

TEST(InstrumentState, LoadDefaultsOverwritesChangedSettingsButNotReadings)
{
    FakeHost host;
    variation = -40;
    compass_display = COMPASS_ROSE;
    pitch_trim = 7;
    turn_source = 2;
    compass_ns = 1234;
    load_defaults();
    EXPECT_EQ(variation, 0);
    EXPECT_EQ(compass_display, COMPASS_CARD1);
    EXPECT_EQ(pitch_trim, 0);
    EXPECT_EQ(turn_source, 2);
    EXPECT_EQ(compass_ns, 1234);
}

TEST(InstrumentState, ResetBringsBackProgramStart)
{
    FakeHost host;
    load_defaults();
    heading = 90;
    key_code = KEY_ANTICLOCKWISE;
    reset_instrument_state();
    EXPECT_EQ(heading, 0);
    EXPECT_EQ(key_code, KEY_NONE);
    EXPECT_EQ(contrast, 0);
}

TEST(PanelKeys, SecondKeyIsDroppedWhileOneIsPending)
{
    FakeHost host;
    store_key_code(KEY_LEFT);
    store_key_code(KEY_RIGHT);
    EXPECT_EQ(key_code, KEY_LEFT);
    key_code = KEY_NONE;
    store_key_code(KEY_CLOCKWISE);
    EXPECT_EQ(key_code, KEY_CLOCKWISE);
}

TEST(PanelKeys, TurnSliderMakesTheTurnRateAvailable)
{
    FakeHost host;
    turn_source = 0;
    turn_slider_moved(-180);
    EXPECT_EQ(slider_turn, -180);
    EXPECT_EQ(turn_source, 2);
}
