// Deviation calibration, clearing, alignment and the sensor data list.
#include "firmware/firmware_loop.h"
#include "firmware/flight/flight.h"
#include "menu_fixture.h"

namespace {

const std::array<uint16_t, 6> some_compass_words = {300, 10, 280, 20, 150, 140};

// ---- confirmation screens ---------------------------------------------------------------

using DevCalConfirm = MenuTest;

TEST_F(DevCalConfirm, KnobDoesNothingAndCancelGoesBack)
{
    menu_cursor = 7;
    for (uint8_t key : {KEY_KNOB_PRESS, KEY_CLOCKWISE, KEY_ANTICLOCKWISE}) {
        show(dev_cal_confirm_screen, key);
        EXPECT_EQ(current_screen, dev_cal_confirm_screen);
        EXPECT_EQ(key_code, KEY_NONE);
    }
    pass(KEY_RIGHT);
    EXPECT_EQ(current_screen, compass_setup_screen);
    EXPECT_EQ(menu_cursor, 7);
    EXPECT_TRUE(host_.memo.empty());
}

TEST_F(DevCalConfirm, CompassDataFrameLeadsToTheTurnScreen)
{
    sensor_unit_answers(compass_data_frame(some_compass_words));
    show(dev_cal_confirm_screen, KEY_LEFT);
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0].address, 0xE4);
    EXPECT_EQ(received_[0].body, (std::vector<uint8_t>{0x34, 0x02}));
    EXPECT_EQ(current_screen, dev_cal_turn_screen);
    EXPECT_EQ(compass_ns, 140);
}

TEST_F(DevCalConfirm, AnAcknowledgementIsNotTheAnswer)
{
    sensor_unit_answers(ack_frame());
    show(dev_cal_confirm_screen, KEY_LEFT);
    EXPECT_EQ(received_.size(), 10u);
    EXPECT_EQ(current_screen, comms_error_screen);
    EXPECT_EQ(return_screen, compass_setup_screen);
}

using DevCalClear = MenuTest;

TEST_F(DevCalClear, KnobAndRightKeyCancel)
{
    for (uint8_t key : {KEY_KNOB_PRESS, KEY_RIGHT}) {
        menu_cursor = 8;
        show(dev_cal_clear_screen, key);
        EXPECT_EQ(current_screen, compass_setup_screen);
        EXPECT_EQ(menu_cursor, 8);
    }
    for (uint8_t key : {KEY_CLOCKWISE, KEY_ANTICLOCKWISE}) {
        show(dev_cal_clear_screen, key);
        EXPECT_EQ(current_screen, dev_cal_clear_screen);
    }
    EXPECT_TRUE(host_.memo.empty());
}

TEST_F(DevCalClear, OkSendsCodeZeroAndConfirms)
{
    sensor_unit_answers(ack_frame());
    show(dev_cal_clear_screen, KEY_LEFT);
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0].body, (std::vector<uint8_t>{0x34, 0x01}));
    EXPECT_EQ(current_screen, done_screen);
    pass(KEY_CLOCKWISE);
    EXPECT_EQ(current_screen, compass_setup_screen);
}

// ---- the turn screen ----------------------------------------------------------------------

using DevCalTurn = MenuTest;

TEST_F(DevCalTurn, DrawsInstructionsAndSoftKeys)
{
    show(dev_cal_turn_screen);
    EXPECT_TRUE(shows_text(0, 48, " SENSOR ", true));
    EXPECT_TRUE(shows_text(0, 56, "  DATA  ", true));
    EXPECT_TRUE(shows_text(80, 56, " DONE ", true));
    const std::string words = lcd_dump(0, 47);
    lcd_clear();
    lcd_text_centred(64, 0, "TURN COMPASS", 1, PIXEL_SET, 0);
    lcd_text_centred(64, 16, "THROUGH 360|", 1, PIXEL_SET, 0);
    lcd_text_centred(64, 32, "TWICE", 1, PIXEL_SET, 0);
    EXPECT_EQ(words, lcd_dump(0, 47));
}

TEST_F(DevCalTurn, LeftKeyShowsSensorDataAndComesBack)
{
    menu_cursor = 7;
    show(dev_cal_turn_screen, KEY_LEFT);
    EXPECT_EQ(current_screen, sensor_data_screen);
    EXPECT_EQ(menu_cursor, 0);
    pass(KEY_KNOB_PRESS);
    EXPECT_EQ(current_screen, dev_cal_turn_screen);
    EXPECT_EQ(menu_cursor, 6);
    for (uint8_t key : {KEY_CLOCKWISE, KEY_ANTICLOCKWISE}) {
        pass(key);
        EXPECT_EQ(current_screen, dev_cal_turn_screen);
    }
}

TEST_F(DevCalTurn, FinishCommandsAreAnsweredByACompassDataFrame)
{
    sensor_unit_answers(compass_data_frame(some_compass_words));
    show(dev_cal_turn_screen, KEY_RIGHT);
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0].body, (std::vector<uint8_t>{0x34, 0x03}));
    EXPECT_EQ(current_screen, done_screen);
    EXPECT_EQ(return_screen, compass_setup_screen);

    show(dev_cal_turn_screen, KEY_KNOB_PRESS);
    ASSERT_EQ(received_.size(), 2u);
    EXPECT_EQ(received_[1].body, (std::vector<uint8_t>{0x34, 0x04}));
    EXPECT_EQ(current_screen, done_screen);
}

// The confirmation left compass_data_received at 1; that stale answer must
// not pass for the finish, nor may a heading frame.
TEST_F(DevCalTurn, StaleOrOtherFramesDoNotCountAsTheAnswer)
{
    compass_data_received = 1;
    sensor_unit_answers(compass_heading_frame(90, 1));
    show(dev_cal_turn_screen, KEY_RIGHT);
    EXPECT_EQ(received_.size(), 10u);
    EXPECT_EQ(current_screen, comms_error_screen);
    EXPECT_EQ(return_screen, compass_setup_screen);
    pass(KEY_KNOB_PRESS);
    EXPECT_EQ(current_screen, compass_setup_screen);
}

// ---- sensor data -----------------------------------------------------------------------------

using SensorData = MenuTest;

TEST_F(SensorData, ShowsTheValuesOfTheLastFrame)
{
    compass_ns = -12;
    compass_ew = 345;
    compass_z = 7;
    compass_ns_min = -400;
    menu_cursor = 0;
    show(sensor_data_screen);
    EXPECT_TRUE(shows_text(12, 8, " *** DONE ***", true));
    EXPECT_TRUE(shows_text(0, 16, "NS: -12", false));
    EXPECT_TRUE(shows_text(0, 24, "EW: 345", false));
    EXPECT_TRUE(shows_text(0, 32, "Z: 7", false));
    EXPECT_TRUE(shows_text(0, 40, "NS MIN: -400", false));
    EXPECT_TRUE(shows_text(0, 56, "EW MIN: 0", false));
}

TEST_F(SensorData, CursorOnRowNineShowsRowsThreeToNine)
{
    compass_z = 5;
    compass_z_max = 900;
    menu_cursor = 9;
    show(sensor_data_screen);
    EXPECT_TRUE(shows_text(0, 8, "Z: 5", false));
    EXPECT_TRUE(shows_text(0, 56, "Z MAX: 900", true));
    // " *** DONE ***", "NS: " and "EW: " are off the panel; the title line
    // holds the title alone.
    EXPECT_TRUE(title_line_holds_only(" SENSOR DATA "));
}

TEST_F(SensorData, BrowsesTenRowsAndLeavesOnlyFromDone)
{
    menu_cursor = 0;
    show(sensor_data_screen, KEY_LEFT);
    EXPECT_EQ(menu_cursor, 0);
    for (int i = 0; i < 12; ++i)
        pass(KEY_CLOCKWISE);
    EXPECT_EQ(menu_cursor, 9);
    pass(KEY_KNOB_PRESS);
    EXPECT_EQ(current_screen, sensor_data_screen);
    pass(KEY_ANTICLOCKWISE);
    EXPECT_EQ(menu_cursor, 8);
    EXPECT_TRUE(host_.memo.empty());  // the screen requests nothing
}

// ---- alignment --------------------------------------------------------------------------------

using SetAlignment = MenuTest;

TEST_F(SetAlignment, EachRowSendsItsCodeAndComesBackSelected)
{
    sensor_unit_answers(ack_frame());
    for (uint8_t row = 1; row <= 5; ++row) {
        SCOPED_TRACE(row);
        received_.clear();
        menu_cursor = row;
        show(set_alignment_screen, KEY_KNOB_PRESS);
        ASSERT_EQ(received_.size(), 1u);
        if (row < 5)
            EXPECT_EQ(received_[0].body, (std::vector<uint8_t>{0x34, 0x15, static_cast<uint8_t>(row - 1)}));
        else
            EXPECT_EQ(received_[0].body, (std::vector<uint8_t>{0x34, 0x15, 0x04}));
        EXPECT_EQ(current_screen, done_screen);
        pass(KEY_RIGHT);
        EXPECT_EQ(current_screen, set_alignment_screen);
        EXPECT_EQ(menu_cursor, row);
    }
}

TEST_F(SetAlignment, SetEastWithoutAnswerReturnsToTheSameRow)
{
    host_.connected = false;
    menu_cursor = 3;
    show(set_alignment_screen, KEY_KNOB_PRESS);
    const auto frames = frames_in_memo(host_.memo);
    ASSERT_EQ(frames.size(), 10u);
    EXPECT_EQ(frames[0].body, (std::vector<uint8_t>{0x34, 0x15, 0x02}));
    EXPECT_EQ(current_screen, comms_error_screen);
    pass(KEY_LEFT);
    EXPECT_EQ(current_screen, set_alignment_screen);
    pass();
    EXPECT_TRUE(shows_text(0, 32, "SET EAST", true));
}

TEST_F(SetAlignment, DoneGoesBackToTheAlignmentRow)
{
    menu_cursor = 0;
    show(set_alignment_screen, KEY_ANTICLOCKWISE);
    EXPECT_EQ(menu_cursor, 0);
    for (int i = 0; i < 8; ++i)
        pass(KEY_RIGHT);
    EXPECT_EQ(menu_cursor, 5);
    for (int i = 0; i < 8; ++i)
        pass(KEY_LEFT);
    pass(KEY_KNOB_PRESS);
    EXPECT_EQ(current_screen, compass_setup_screen);
    EXPECT_EQ(menu_cursor, 9);
}

// ---- the whole procedure through the loop ---------------------------------------------------

// From the main screen through DEV CALIBRATE, the confirmation, a look at
// the sensor data and the finish, back to the compass list; with the real
// loop, its ticks and its clicks.
using ScreenMap = MenuTest;

TEST_F(ScreenMap, CalibrationProcedureFromTheFlightDisplay)
{
    sensor_unit_answers(compass_data_frame(some_compass_words));
    std::vector<screen_routine> seen;
    host_.on_present = [&seen] {
        if (current_screen != nullptr && (seen.empty() || seen.back() != current_screen))
            seen.push_back(current_screen);
    };
    // Knob into the menus, down to COMPASS SETUP, in, TYPE to GROUND, down to
    // DEV CALIBRATE, in, OK, SENSOR DATA, back, DONE, any key.
    const uint8_t keys[] = {KEY_KNOB_PRESS,
                            KEY_CLOCKWISE, KEY_CLOCKWISE, KEY_CLOCKWISE, KEY_KNOB_PRESS,
                            KEY_CLOCKWISE, KEY_CLOCKWISE, KEY_KNOB_PRESS, KEY_CLOCKWISE, KEY_KNOB_PRESS,
                            KEY_CLOCKWISE, KEY_CLOCKWISE, KEY_CLOCKWISE, KEY_CLOCKWISE, KEY_CLOCKWISE, KEY_KNOB_PRESS,
                            KEY_LEFT, KEY_LEFT, KEY_KNOB_PRESS,
                            KEY_RIGHT,
                            KEY_KNOB_PRESS};
    int64_t at = 9000;  // well after the splash
    for (uint8_t key : keys) {
        host_.at(at, [key] { store_key_code(key); });
        at += 3000;
    }
    host_.run_for(at + 1000);
    EXPECT_EQ(current_screen, compass_setup_screen);
    EXPECT_EQ(compass_cal_type, 0);
    EXPECT_EQ(menu_cursor, 6);
    const std::vector<screen_routine> expected = {
        main_screen,         main_menu_screen,   compass_setup_screen, dev_cal_confirm_screen, dev_cal_turn_screen,
        sensor_data_screen,  dev_cal_turn_screen, done_screen,         compass_setup_screen};
    EXPECT_EQ(seen, expected);
    ASSERT_EQ(received_.size(), 2u);
    EXPECT_EQ(received_[0].body, (std::vector<uint8_t>{0x34, 0x02}));
    EXPECT_EQ(received_[1].body, (std::vector<uint8_t>{0x34, 0x03}));
}

}  // namespace
