// The main screen: page cycle, no-data pages, calibration box and the panel
// keys outside the menus, including the command 16 exchange with the sensor
// unit.
#include <algorithm>

#include "firmware/firmware_loop.h"
#include "firmware/link/link.h"
#include "firmware/setup/setup.h"
#include "flight_fixture.h"

namespace {

class MainScreenTest : public FlightTest {
protected:
    static void press(uint8_t code)
    {
        key_code = code;
        draw_main();
    }

    // Frames of command 16 logged so far: each carries the attitude unit's
    // command byte 0x35 once.
    int command_frames_logged() const
    {
        return static_cast<int>(std::count(host_.memo.begin(), host_.memo.end(), std::string("0x35")));
    }
};

// ---- page cycle --------------------------------------------------------------

struct PageTurn {
    uint8_t from;
    uint8_t key;
    uint8_t to;
};

class PageCycleTest : public MainScreenTest, public ::testing::WithParamInterface<PageTurn> {};

TEST_P(PageCycleTest, KnobTurnSelectsNeighbourPage)
{
    main_page = GetParam().from;
    press(GetParam().key);
    EXPECT_EQ(main_page, GetParam().to);
    EXPECT_EQ(key_code, 0);
    EXPECT_EQ(current_screen, &main_screen);
}

INSTANTIATE_TEST_SUITE_P(AllPages, PageCycleTest,
                         ::testing::Values(PageTurn{0, 2, 1}, PageTurn{1, 2, 2}, PageTurn{2, 2, 0},
                                           PageTurn{0, 3, 2}, PageTurn{1, 3, 0}, PageTurn{2, 3, 1}));

TEST_F(MainScreenTest, KnobTurnsChangePageWithoutSensorData)
{
    attitude_valid = heading_valid = 0;
    press(3);
    EXPECT_EQ(main_page, 2);
    press(2);
    EXPECT_EQ(main_page, 0);
}

// ---- entering the menus ------------------------------------------------------

TEST_F(MainScreenTest, KnobPressOpensMainMenuAtFirstRowFromEveryPage)
{
    for (uint8_t page = 0; page < 3; ++page) {
        SCOPED_TRACE(page);
        current_screen = main_screen;
        main_page = page;
        menu_cursor = 4;
        menu_edit = 1;
        press(1);
        EXPECT_EQ(current_screen, &main_menu_screen);
        EXPECT_EQ(menu_cursor, 0);
        EXPECT_EQ(menu_edit, 0);
        EXPECT_EQ(main_page, page) << "the page is kept for the return from the menus";
    }
}

TEST_F(MainScreenTest, KnobPressDuringCalibrationOpensCompassSetupAtStopRow)
{
    calibrating = 1;
    main_page = 1;
    menu_edit = 1;
    press(1);
    EXPECT_EQ(current_screen, &compass_setup_screen);
    EXPECT_EQ(menu_cursor, 6);
    EXPECT_EQ(menu_edit, 0);
}

// ---- left key ---------------------------------------------------------------

TEST_F(MainScreenTest, LeftKeyCapturesAndClearsPitchTrimOnAttitudeAndTurnPages)
{
    for (uint8_t page : {uint8_t{0}, uint8_t{2}}) {
        SCOPED_TRACE(page);
        main_page = page;
        pitch = 7;
        pitch_trim = 0;
        press(4);
        EXPECT_EQ(pitch_trim, 7);
        press(4);
        EXPECT_EQ(pitch_trim, 0);
        EXPECT_EQ(heading_bug_on, 0);
    }
}

TEST_F(MainScreenTest, LeftKeyLeavesPitchTrimAloneWithoutAttitudeData)
{
    attitude_valid = 0;
    pitch = 7;
    press(4);
    EXPECT_EQ(pitch_trim, 0);
    pitch_trim = 3;
    press(4);
    EXPECT_EQ(pitch_trim, 3);
}

TEST_F(MainScreenTest, LeftKeyOnCompassPageTogglesHeadingBugAndKeepsItsValue)
{
    main_page = 1;
    heading = 123;
    press(4);
    EXPECT_EQ(heading_bug_on, 1);
    EXPECT_EQ(heading_bug, 123);
    heading = 200;
    press(4);
    EXPECT_EQ(heading_bug_on, 0);
    EXPECT_EQ(heading_bug, 123);
    EXPECT_EQ(pitch_trim, 0);
}

TEST_F(MainScreenTest, CompassKeysWorkWhileNoHeadingDataIsShown)
{
    main_page = 1;
    heading_valid = 0;
    heading = 45;
    press(4);
    EXPECT_EQ(heading_bug_on, 1);
    EXPECT_EQ(heading_bug, 45);
    press(5);
    EXPECT_EQ(reciprocal_shown, 1);
    EXPECT_EQ(reciprocal_timer, 5);
}

TEST_F(MainScreenTest, RoseStyleIgnoresBugAndReciprocalKeys)
{
    main_page = 1;
    compass_display = 4;
    press(4);
    press(5);
    EXPECT_EQ(heading_bug_on, 0);
    EXPECT_EQ(reciprocal_shown, 0);
    EXPECT_EQ(reciprocal_timer, 0);
    EXPECT_EQ(key_code, 0);
}

// ---- right key --------------------------------------------------------------

TEST_F(MainScreenTest, RightKeyOnCompassPageStartsAndRestartsReciprocalDisplay)
{
    main_page = 1;
    press(5);
    EXPECT_EQ(reciprocal_shown, 1);
    EXPECT_EQ(reciprocal_timer, 5);
    reciprocal_timer = 1;
    press(5);
    EXPECT_EQ(reciprocal_timer, 5);
    EXPECT_TRUE(host_.memo.empty()) << "nothing is sent from the compass page";
}

TEST_F(MainScreenTest, ReciprocalDisplayEndsAfterTenToTwelveSeconds)
{
    main_page = 1;
    press(5);
    host_.idle_for(10000 - 100);
    EXPECT_EQ(reciprocal_shown, 1);
    host_.idle_for(2100);
    EXPECT_EQ(reciprocal_shown, 0);
}

TEST_F(MainScreenTest, UnansweredCommand16IsSentTenTimesOverOneSecond)
{
    for (uint8_t page : {uint8_t{0}, uint8_t{2}}) {
        SCOPED_TRACE(page);
        host_.memo.clear();
        main_page = page;
        led_timer = 200;
        const int64_t start = host_.now_ms();
        press(5);
        EXPECT_EQ(command_frames_logged(), 10);
        EXPECT_GE(host_.now_ms() - start, 900) << "ten ticks, whatever the phase of the first";
        EXPECT_LT(host_.now_ms() - start, 1200);
        EXPECT_GT(led_timer, 180) << "a failed exchange leaves the lamp to its own countdown";
        EXPECT_EQ(key_code, 0);
    }
}

TEST_F(MainScreenTest, Command16FrameGoesToAttitudeUnit)
{
    press(5);
    ASSERT_GE(host_.memo.size(), 8u);
    const std::vector<std::string> first(host_.memo.begin(), host_.memo.begin() + 8);
    // Attention, start, address, length 2, 0x35 0x0C, checksum, end.
    EXPECT_EQ(first, (std::vector<std::string>{"0xE5", "0x82", "0xE6", "0x02", "0x35", "0x0C", "0x78", "0x83"}));
}

TEST_F(MainScreenTest, AcknowledgedCommand16PutsWarningOutAtOnce)
{
    host_.connected = true;
    sensor_status = 0;
    led_timer = 15;
    host_.after(150, [] {
        const uint8_t ack[] = {0x82, 0xE5, 0x02, 0x0A, 0x00, 0x48, 0x83};
        link_receive(ack, sizeof ack);
    });
    const int64_t start = host_.now_ms();
    press(5);
    EXPECT_EQ(led_timer, 0);
    EXPECT_EQ(command_frames_logged(), 2) << "one copy at once, one at the first tick";
    EXPECT_LT(host_.now_ms() - start, 300);
}

TEST_F(MainScreenTest, Command16RunsWithoutAttitudeData)
{
    attitude_valid = 0;
    main_page = 2;
    press(5);
    EXPECT_EQ(command_frames_logged(), 10);
}

TEST_F(MainScreenTest, EveryKeyIsClearedAtEndOfPass)
{
    for (uint8_t page = 0; page < 3; ++page) {
        for (uint8_t code : {uint8_t{1}, uint8_t{4}, uint8_t{6}, uint8_t{200}}) {
            current_screen = main_screen;
            main_page = page;
            press(code);
            EXPECT_EQ(key_code, 0) << "page " << int(page) << " key " << int(code);
        }
    }
}

// ---- no-data pages ------------------------------------------------------------

void no_data_picture(const char* source)
{
    lcd_text_centred_const(64, 5, "NO DATA", 1, PIXEL_SET, 0);
    lcd_text_centred_const(64, 25, source, 1, PIXEL_SET, 0);
    lcd_text_centred_const(64, 45, "SENSOR", 1, PIXEL_SET, 0);
}

TEST_F(MainScreenTest, NoDataPagesReplaceEachPageWithoutItsSensor)
{
    struct Case {
        uint8_t page;
        const char* source;
    };
    attitude_valid = heading_valid = 0;
    pitch = -40;  // the attitude page would be all ground
    for (const Case c : {Case{0, "FROM ATTITUDE"}, Case{1, "FROM COMPASS"}, Case{2, "FROM ATTITUDE"}}) {
        SCOPED_TRACE(c.page);
        main_page = c.page;
        draw_main();
        expect_region_drawn_as(0, 0, 127, 63, [&] { no_data_picture(c.source); });
    }
}

TEST_F(MainScreenTest, EachPageNeedsOnlyItsOwnSensor)
{
    pitch = -40;  // all ground: unmistakable
    attitude_valid = 0;
    heading_valid = 1;
    main_page = 1;
    draw_main();
    EXPECT_EQ(row_pixels(17, 0, 127), std::string(128, '#')) << "compass tape rule";

    attitude_valid = 1;
    heading_valid = 0;
    main_page = 0;
    draw_main();
    EXPECT_EQ(column_pixels(5, 20, 50), std::string(31, '#')) << "attitude page ground";
}

// ---- calibration box ------------------------------------------------------------

TEST_F(MainScreenTest, CalibrationBoxCoversRows18To38OnAttitudePage)
{
    calibrating = 1;
    pitch = -40;  // all ground, so the cleared box shows
    main_page = 0;
    draw_main();
    EXPECT_EQ(row_pixels(18, 18, 110), std::string(93, '#'));
    EXPECT_EQ(row_pixels(38, 18, 110), std::string(93, '#'));
    EXPECT_EQ(column_pixels(18, 18, 38), std::string(21, '#'));
    EXPECT_EQ(column_pixels(110, 18, 38), std::string(21, '#'));
    EXPECT_EQ(column_pixels(19, 19, 37), std::string(19, '.')) << "inside is cleared";
    EXPECT_TRUE(lit(17, 25) && lit(111, 25) && lit(50, 17) && lit(50, 39)) << "ground around it stays";
}

TEST_F(MainScreenTest, CalibrationBoxCoversRows0To20OnCompassPage)
{
    calibrating = 1;
    main_page = 1;
    draw_main();
    EXPECT_EQ(row_pixels(0, 18, 110), std::string(93, '#'));
    EXPECT_EQ(row_pixels(20, 18, 110), std::string(93, '#'));
    EXPECT_EQ(column_pixels(19, 1, 19), std::string(19, '.')) << "tape rules are cleared under it";
    EXPECT_EQ(row_pixels(17, 0, 17), std::string(18, '#')) << "tape rule left of the box";
}

TEST_F(MainScreenTest, CalibrationBoxReadsCountAndFit)
{
    calibrating = 1;
    main_page = 2;
    calib_count = 0;
    calib_fit = 0;
    draw_main();
    expect_region_drawn_as(19, 19, 109, 37, [] {
        lcd_text_const(20, 20, "COUNT: 0", 0, PIXEL_INVERT, 0);
        lcd_text_const(20, 30, "FIT: 0.0%", 0, PIXEL_INVERT, 0);
    });
    calib_count = 1234;
    calib_fit = 987;
    draw_main();
    expect_region_drawn_as(19, 19, 109, 37, [] {
        lcd_text_const(20, 20, "COUNT: 1234", 0, PIXEL_INVERT, 0);
        lcd_text_const(20, 30, "FIT: 98.7%", 0, PIXEL_INVERT, 0);
    });
}

// ---- through the firmware loop -----------------------------------------------------

TEST_F(MainScreenTest, KeyClickedInLoopTurnsPageAndNextPassShowsIt)
{
    uint8_t page_seen_after_click = 255;
    bool tape_seen = false;
    host_.on_present = [&] {
        if (main_page == 1 && page_seen_after_click == 255) {
            page_seen_after_click = main_page;
            return;  // this pass still drew the old page
        }
        if (page_seen_after_click == 1)
            tape_seen = tape_seen || row_pixels(18, 0, 127) == std::string(128, '#');
    };
    host_.after(2000, [] { store_key_code(2); });
    host_.run_for(3000);
    EXPECT_EQ(main_page, 1);
    EXPECT_TRUE(tape_seen);
}

}  // namespace
