// The three setup lists and the four adjustment screens.
#include "firmware/flight/flight.h"
#include "menu_fixture.h"

namespace {

// ---- display setup and contrast ------------------------------------------------------

using DisplaySetup = MenuTest;

TEST_F(DisplaySetup, BacklightTogglesOnAnyTurnWhileEditing)
{
    menu_cursor = 2;
    show(display_setup_screen, KEY_KNOB_PRESS);
    EXPECT_EQ(menu_edit, 1);
    for (uint8_t key = KEY_CLOCKWISE; key < KEY_CODE_COUNT; ++key) {
        const uint8_t before = backlight;
        pass(key);
        EXPECT_NE(backlight, before);
        EXPECT_EQ(menu_cursor, 2);
    }
    pass();
    EXPECT_TRUE(shows_text(0, 24, "BACKLIGHT: ", false));
    EXPECT_TRUE(shows_text(88, 24, "ON", true));
    pass(KEY_KNOB_PRESS);
    EXPECT_EQ(menu_edit, 0);
    pass();
    EXPECT_TRUE(shows_text(0, 24, "BACKLIGHT: ", true));
}

TEST_F(DisplaySetup, ContrastRowOpensTheBarAndComesBack)
{
    menu_cursor = 1;
    show(display_setup_screen);
    EXPECT_TRUE(shows_text(0, 16, "ADJUST CONTRAST", true));
    EXPECT_TRUE(shows_text(16, 8, "*** DONE ***", false));
    pass(KEY_KNOB_PRESS);
    EXPECT_EQ(current_screen, contrast_screen);
    EXPECT_EQ(menu_cursor, 0);
    pass(KEY_KNOB_PRESS);
    EXPECT_EQ(current_screen, display_setup_screen);
    EXPECT_EQ(menu_cursor, 1);
}

TEST_F(DisplaySetup, ContrastStopsAtBothEnds)
{
    ASSERT_EQ(contrast, 32);
    show(contrast_screen);  // two columns per step inside the frame
    EXPECT_EQ(lcd_count_lit(1, 16, 65, 24), 65 * 9);
    EXPECT_EQ(lcd_count_lit(66, 16, 125, 24), 0);
    for (int i = 0; i < 16; ++i)
        pass(KEY_ANTICLOCKWISE);
    EXPECT_EQ(contrast, 0);
    pass(KEY_RIGHT);
    EXPECT_EQ(contrast, 0);
    pass();
    EXPECT_EQ(lcd_count_lit(1, 16, 1, 24), 9);  // the bar is the frame's own column
    EXPECT_EQ(lcd_count_lit(2, 16, 125, 24), 0);
    for (int i = 0; i < 31; ++i)
        pass(i % 2 == 0 ? KEY_CLOCKWISE : KEY_LEFT);
    EXPECT_EQ(contrast, 62);
    pass(KEY_CLOCKWISE);
    EXPECT_EQ(contrast, 62);
    pass();
    EXPECT_EQ(lcd_count_lit(1, 15, 126, 25), 126 * 11);
}

// ---- horizon setup ---------------------------------------------------------------------

using HorizonSetup = MenuTest;

TEST_F(HorizonSetup, RowElevenShowsRowsFiveToEleven)
{
    menu_cursor = 11;
    show(horizon_setup_screen);
    EXPECT_TRUE(shows_text(0, 8, "SLEW FACTOR", false));
    EXPECT_TRUE(shows_text(0, 16, "TURN&BANK SOURCE", false));
    EXPECT_TRUE(shows_text(0, 48, "ICON: ", false));
    EXPECT_TRUE(shows_text(0, 56, "G-FORCE: ", true));
    EXPECT_TRUE(shows_text(72, 56, "ON", true));
    // Nothing of rows 0..4 reaches the title line.
    EXPECT_TRUE(title_line_holds_only(" HORIZON SETUP "));
}

TEST_F(HorizonSetup, BrowsesTwelveRowsWithoutWrapping)
{
    menu_cursor = 0;
    show(horizon_setup_screen, KEY_ANTICLOCKWISE);
    EXPECT_EQ(menu_cursor, 0);
    for (int i = 0; i < 15; ++i)
        pass(i % 2 ? KEY_CLOCKWISE : KEY_RIGHT);
    EXPECT_EQ(menu_cursor, 11);
    pass(KEY_LEFT);
    EXPECT_EQ(menu_cursor, 10);
}

TEST_F(HorizonSetup, EditingTogglesTheSelectedSetting)
{
    struct Row {
        uint8_t row;
        uint8_t* setting;
    };
    const Row rows[] = {{1, &slip_display}, {3, &slip_sense_high}, {7, &tb_two_min},  {8, &tb_display},
                        {9, &numeric_display}, {10, &icon_large},  {11, &gforce_display}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.row);
        menu_cursor = r.row;
        menu_edit = 0;
        show(horizon_setup_screen, KEY_KNOB_PRESS);
        ASSERT_EQ(menu_edit, 1);
        const uint8_t before = *r.setting;
        pass(KEY_CLOCKWISE);
        EXPECT_EQ(*r.setting, before ^ 1);
        pass(KEY_ANTICLOCKWISE);
        EXPECT_EQ(*r.setting, before);
        EXPECT_EQ(menu_cursor, r.row);  // editing does not move the cursor
        pass(KEY_KNOB_PRESS);
        EXPECT_EQ(menu_edit, 0);
    }
}

TEST_F(HorizonSetup, SlipZeroNeedsAttitudeData)
{
    menu_cursor = 2;
    attitude_valid = 0;
    slip = 17;
    show(horizon_setup_screen, KEY_KNOB_PRESS);
    EXPECT_EQ(current_screen, horizon_setup_screen);
    EXPECT_EQ(slip_zero, 0);

    attitude_valid = 1;
    pass(KEY_KNOB_PRESS);
    EXPECT_EQ(slip_zero, 17);
    EXPECT_EQ(current_screen, done_screen);
    EXPECT_EQ(return_screen, horizon_setup_screen);
    pass(KEY_LEFT);
    EXPECT_EQ(current_screen, horizon_setup_screen);
    EXPECT_EQ(menu_cursor, 2);
}

TEST_F(HorizonSetup, ActionRowsHandOverWithTheirCursor)
{
    menu_cursor = 4;
    show(horizon_setup_screen, KEY_KNOB_PRESS);
    EXPECT_EQ(current_screen, bump_factor_screen);
    EXPECT_EQ(menu_cursor, 0);

    menu_cursor = 5;
    show(horizon_setup_screen, KEY_KNOB_PRESS);
    EXPECT_EQ(current_screen, slew_factor_screen);
    EXPECT_EQ(menu_cursor, 0);

    const std::pair<uint8_t, uint8_t> sources[] = {{0, 0}, {1, 0}, {2, 1}};
    for (const auto& [source, cursor] : sources) {
        turn_source = source;
        menu_cursor = 6;
        show(horizon_setup_screen, KEY_KNOB_PRESS);
        EXPECT_EQ(current_screen, tb_source_screen);
        EXPECT_EQ(menu_cursor, cursor) << "turn_source " << int(source);
        EXPECT_EQ(menu_edit, 0);
    }
}

// ---- compass setup -------------------------------------------------------------------------

using CompassSetup = MenuTest;

TEST_F(CompassSetup, LengthFollowsTheCalibrationType)
{
    compass_cal_type = 1;
    menu_cursor = 0;
    show(compass_setup_screen);
    for (int i = 0; i < 12; ++i)
        pass(KEY_CLOCKWISE);
    EXPECT_EQ(menu_cursor, 6);
    EXPECT_TRUE(shows_text(0, 56, "START CALIBRATE", true));

    compass_cal_type = 0;
    for (int i = 0; i < 12; ++i)
        pass(KEY_RIGHT);
    EXPECT_EQ(menu_cursor, 9);
    pass();
    EXPECT_TRUE(shows_text(0, 56, "SET ALIGNMENT", true));
    EXPECT_TRUE(shows_text(0, 8, "DISPLAY: ", false));
}

TEST_F(CompassSetup, SwitchingToInFlightShortensTheList)
{
    compass_cal_type = 0;
    menu_cursor = 2;
    show(compass_setup_screen, KEY_KNOB_PRESS);
    pass(KEY_CLOCKWISE);
    EXPECT_EQ(compass_cal_type, 1);
    pass(KEY_KNOB_PRESS);
    for (int i = 0; i < 10; ++i)
        pass(KEY_CLOCKWISE);
    EXPECT_EQ(menu_cursor, 6);
    EXPECT_TRUE(shows_text(0, 56, "START CALIBRATE", true));
}

TEST_F(CompassSetup, VariationTextShowsMagnitudeAndSide)
{
    menu_cursor = 0;
    variation = 0;
    show(compass_setup_screen);
    EXPECT_TRUE(shows_text(0, 48, "VARIATION: ", false));
    EXPECT_TRUE(shows_text(88, 48, "0|E", false));
    variation = -5;
    pass();
    EXPECT_TRUE(shows_text(88, 48, "5|W", false));
    variation = -99;
    pass();
    EXPECT_TRUE(shows_text(88, 48, "99|W", false));
}

TEST_F(CompassSetup, VariationStepsByKeyStepAndWrapsToTheOtherEnd)
{
    struct Step {
        int32_t from;
        uint8_t step;
        uint8_t key;
        int32_t to;
    };
    const Step steps[] = {
        {95, 10, KEY_CLOCKWISE, -99}, {-95, 10, KEY_ANTICLOCKWISE, 99}, {99, 1, KEY_CLOCKWISE, -99},
        {-99, 1, KEY_ANTICLOCKWISE, 99}, {89, 10, KEY_LEFT, 99},        {-89, 10, KEY_RIGHT, -99},
        {0, 1, KEY_LEFT, 1},             {0, 1, KEY_RIGHT, -1},         {-5, 10, KEY_CLOCKWISE, 5},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << s.from << " key " << int(s.key) << " step " << int(s.step));
        variation = s.from;
        key_step = s.step;
        menu_cursor = 5;
        menu_edit = 1;
        show(compass_setup_screen, s.key);
        EXPECT_EQ(variation, s.to);
    }
}

TEST_F(CompassSetup, DisplayStepsAndWrapsBothWays)
{
    constexpr uint8_t last = COMPASS_STYLE_COUNT - 1;
    menu_cursor = 3;
    menu_edit = 1;
    compass_display = last;
    show(compass_setup_screen, KEY_CLOCKWISE);
    EXPECT_EQ(compass_display, 0);
    pass();
    EXPECT_TRUE(shows_text(72, 32, "NUMERIC", true));
    pass(KEY_RIGHT);
    EXPECT_EQ(compass_display, last);
    pass(KEY_ANTICLOCKWISE);
    EXPECT_EQ(compass_display, last - 1);
    pass(KEY_LEFT);
    pass(KEY_LEFT);
    EXPECT_EQ(compass_display, 0);
}

TEST_F(CompassSetup, TiltCompWrapsAndIsSentOnceOnEveryChange)
{
    compass_cal_type = 0;
    tilt_comp = TILT_COMP_2D;
    menu_cursor = 6;
    menu_edit = 1;
    current_screen = compass_setup_screen;
    const uint8_t keys[] = {KEY_CLOCKWISE, KEY_CLOCKWISE, KEY_CLOCKWISE, KEY_ANTICLOCKWISE, KEY_RIGHT, KEY_LEFT};
    const uint8_t expected[] = {TILT_COMP_3D_A, TILT_COMP_3D_G, TILT_COMP_2D,
                                TILT_COMP_3D_G, TILT_COMP_3D_A, TILT_COMP_3D_G};
    for (size_t i = 0; i < 6; ++i)
        pass(keys[i]);
    const auto frames = frames_in_memo(host_.memo);
    ASSERT_EQ(frames.size(), 6u);
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(frames[i].address, 0xE4);
        EXPECT_EQ(frames[i].body, (std::vector<uint8_t>{0x34, 0x0A, expected[i]})) << "change " << i;
    }
    EXPECT_EQ(tilt_comp, TILT_COMP_3D_G);
    pass();
    EXPECT_TRUE(shows_text(88, 56, "3D G", true));

    tilt_comp = TILT_COMP_NONE_REPORTED;
    pass();
    EXPECT_TRUE(shows_text(88, 56, " ", true));
    pass(KEY_CLOCKWISE);
    EXPECT_EQ(tilt_comp, TILT_COMP_2D);
    tilt_comp = TILT_COMP_NONE_REPORTED;
    pass(KEY_ANTICLOCKWISE);
    EXPECT_EQ(tilt_comp, TILT_COMP_3D_G);
    EXPECT_EQ(frames_in_memo(host_.memo).size(), 8u);
}

TEST_F(CompassSetup, GroundActionRowsHandOver)
{
    compass_cal_type = 0;
    menu_cursor = 7;
    show(compass_setup_screen, KEY_KNOB_PRESS);
    EXPECT_EQ(current_screen, dev_cal_confirm_screen);
    EXPECT_EQ(menu_cursor, 7);

    menu_cursor = 8;
    show(compass_setup_screen, KEY_KNOB_PRESS);
    EXPECT_EQ(current_screen, dev_cal_clear_screen);

    menu_cursor = 9;
    show(compass_setup_screen, KEY_KNOB_PRESS);
    EXPECT_EQ(current_screen, set_alignment_screen);
    EXPECT_EQ(menu_cursor, 0);
    EXPECT_EQ(menu_edit, 0);
    EXPECT_TRUE(host_.memo.empty());
}

TEST_F(CompassSetup, StartCalibrateGoesToTheFlightDisplay)
{
    sensor_unit_answers(ack_frame());
    compass_cal_type = 1;
    calibrating = 0;
    menu_cursor = 6;
    show(compass_setup_screen, KEY_KNOB_PRESS);
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0].body, (std::vector<uint8_t>{0x34, 0x32}));
    EXPECT_EQ(calibrating, 1);
    EXPECT_EQ(current_screen, main_screen);

    // The knob on the main screen comes back here on STOP CALIBRATE.
    menu_cursor = 6;
    show(compass_setup_screen);
    EXPECT_TRUE(shows_text(0, 56, "STOP CALIBRATE", true));
    pass(KEY_KNOB_PRESS);
    ASSERT_EQ(received_.size(), 2u);
    EXPECT_EQ(received_[1].body, (std::vector<uint8_t>{0x34, 0x33}));
    EXPECT_EQ(calibrating, 0);
    EXPECT_EQ(current_screen, done_screen);
    EXPECT_EQ(return_screen, compass_setup_screen);
}

TEST_F(CompassSetup, CalibrateWithoutAnswerKeepsItsState)
{
    sensor_unit_silent();
    compass_cal_type = 1;
    calibrating = 1;
    menu_cursor = 6;
    show(compass_setup_screen, KEY_KNOB_PRESS);
    EXPECT_EQ(received_.size(), 10u);
    EXPECT_EQ(calibrating, 1);
    EXPECT_EQ(current_screen, comms_error_screen);
    EXPECT_EQ(return_screen, compass_setup_screen);
    EXPECT_EQ(menu_edit, 0);
}

// ---- adjustment screens -------------------------------------------------------------------

using AdjustmentScreens = MenuTest;

TEST_F(AdjustmentScreens, FactorIndexStopsAtBothEnds)
{
    const std::pair<screen_routine, uint8_t*> screens[] = {{bump_factor_screen, &bump_index},
                                                           {slew_factor_screen, &slew_index}};
    for (const auto& [screen, index] : screens) {
        *index = 0;
        show(screen, KEY_ANTICLOCKWISE);
        EXPECT_EQ(*index, 0);
        pass(KEY_RIGHT);
        EXPECT_EQ(*index, 0);
        for (int i = 0; i <= FACTOR_COUNT; ++i)
            pass(i % 2 ? KEY_CLOCKWISE : KEY_LEFT);
        EXPECT_EQ(*index, FACTOR_COUNT - 1);
        pass();
        EXPECT_EQ(current_screen, screen);
        const std::string value = lcd_dump(17, 32);
        lcd_clear();
        lcd_text_centred(64, 17, "HIGHEST", 1, PIXEL_SET, 0);
        EXPECT_EQ(value, lcd_dump(17, 32));
    }
}

TEST_F(AdjustmentScreens, SlewSendsItsValueLowByteFirst)
{
    sensor_unit_answers(ack_frame());
    const uint16_t values[] = {50, 100, 200, 300, 500};
    for (uint8_t index = 0; index < 5; ++index) {
        received_.clear();
        slew_index = index;
        show(slew_factor_screen, KEY_KNOB_PRESS);
        ASSERT_EQ(received_.size(), 1u);
        EXPECT_EQ(received_[0].address, 0xE6);
        EXPECT_EQ(received_[0].body, (std::vector<uint8_t>{0x35, 0x10, static_cast<uint8_t>(values[index] & 0xFF),
                                                           static_cast<uint8_t>(values[index] >> 8)}));
        EXPECT_EQ(menu_cursor, 5);
        EXPECT_EQ(current_screen, done_screen);
        EXPECT_EQ(return_screen, horizon_setup_screen);
    }
}

TEST_F(AdjustmentScreens, TurnAndBankChoiceLivesInTheCursor)
{
    menu_cursor = 0;
    show(tb_source_screen, KEY_CLOCKWISE);
    EXPECT_EQ(menu_cursor, 1);
    pass(KEY_RIGHT);
    EXPECT_EQ(menu_cursor, 1);
    pass();
    const std::string gyro = lcd_dump(17, 32);
    lcd_clear();
    lcd_text_centred(64, 17, "GYRO", 1, PIXEL_SET, 0);
    EXPECT_EQ(gyro, lcd_dump(17, 32));
    pass(KEY_ANTICLOCKWISE);
    EXPECT_EQ(menu_cursor, 0);
    pass(KEY_CLOCKWISE);
    pass(KEY_LEFT);
    EXPECT_EQ(menu_cursor, 0);
}

TEST_F(AdjustmentScreens, TurnAndBankSendsTheSourceTwice)
{
    sensor_unit_answers(ack_frame());
    menu_cursor = 1;
    show(tb_source_screen, KEY_KNOB_PRESS);
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0].body, (std::vector<uint8_t>{0x35, 0x06, 0x04, 0x04}));
    EXPECT_EQ(menu_cursor, 6);
    EXPECT_EQ(current_screen, done_screen);
    pass(KEY_ANTICLOCKWISE);
    EXPECT_EQ(current_screen, horizon_setup_screen);

    menu_cursor = 0;
    show(tb_source_screen, KEY_KNOB_PRESS);
    ASSERT_EQ(received_.size(), 2u);
    EXPECT_EQ(received_[1].body, (std::vector<uint8_t>{0x35, 0x06, 0x00, 0x00}));
}

}  // namespace
