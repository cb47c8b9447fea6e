// The main screen: page cycle, no-data pages, calibration box and the panel
// keys outside the menus, including the command 16 exchange.
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
    // Copies of command 16 logged: each frame carries the attitude unit's 0x35 once.
    int command_frames_logged() const
    {
        return static_cast<int>(std::count(host_.memo.begin(), host_.memo.end(), std::string("0x35")));
    }
};

struct PageTurn {
    uint8_t from, key, to;
};
class PageCycleTest : public MainScreenTest, public ::testing::WithParamInterface<PageTurn> {};

TEST_P(PageCycleTest, KnobTurnSelectsNeighbourPageWhateverTheData)
{
    for (uint8_t valid : {uint8_t{1}, uint8_t{0}}) {
        attitude_valid = heading_valid = valid;
        main_page = GetParam().from;
        press(GetParam().key);
        EXPECT_EQ(main_page, GetParam().to);
        EXPECT_EQ(current_screen, &main_screen);
    }
}

INSTANTIATE_TEST_SUITE_P(AllPages, PageCycleTest,
                         ::testing::Values(PageTurn{PAGE_ATTITUDE, KEY_CLOCKWISE, PAGE_COMPASS},
                                           PageTurn{PAGE_COMPASS, KEY_CLOCKWISE, PAGE_TURN_BANK},
                                           PageTurn{PAGE_TURN_BANK, KEY_CLOCKWISE, PAGE_ATTITUDE},
                                           PageTurn{PAGE_ATTITUDE, KEY_ANTICLOCKWISE, PAGE_TURN_BANK},
                                           PageTurn{PAGE_COMPASS, KEY_ANTICLOCKWISE, PAGE_ATTITUDE},
                                           PageTurn{PAGE_TURN_BANK, KEY_ANTICLOCKWISE, PAGE_COMPASS}));

TEST_F(MainScreenTest, KnobPressOpensMainMenuOrStopCalibrateRow)
{
    for (uint8_t page = 0; page < MAIN_PAGE_COUNT; ++page) {
        current_screen = main_screen;
        main_page = page;
        menu_cursor = 4;
        menu_edit = 1;
        press(KEY_KNOB_PRESS);
        EXPECT_EQ(current_screen, &main_menu_screen);
        EXPECT_EQ(menu_cursor, 0);
        EXPECT_EQ(menu_edit, 0);
        EXPECT_EQ(main_page, page) << "kept for the return from the menus";
    }
    current_screen = main_screen;
    calibrating = 1;
    menu_edit = 1;
    press(KEY_KNOB_PRESS);
    EXPECT_EQ(current_screen, &compass_setup_screen);
    EXPECT_EQ(menu_cursor, compass_setup_calibrate_row());
    EXPECT_EQ(menu_edit, 0);
}

TEST_F(MainScreenTest, LeftKeyTogglesPitchTrimOnlyWithAttitudeData)
{
    for (uint8_t page : {PAGE_ATTITUDE, PAGE_TURN_BANK}) {
        main_page = page;
        pitch = 7;
        press(KEY_LEFT);
        EXPECT_EQ(pitch_trim, 7);
        press(KEY_LEFT);
        EXPECT_EQ(pitch_trim, 0);
    }
    attitude_valid = 0;
    press(KEY_LEFT);
    EXPECT_EQ(pitch_trim, 0);
    pitch_trim = 3;
    press(KEY_LEFT);
    EXPECT_EQ(pitch_trim, 3);
    EXPECT_EQ(heading_bug_on, 0);
}

TEST_F(MainScreenTest, CompassKeysSetBugAndReciprocalEvenWithoutHeadingData)
{
    main_page = PAGE_COMPASS;
    heading_valid = 0;
    heading = 123;
    press(KEY_LEFT);
    EXPECT_EQ(heading_bug_on, 1);
    EXPECT_EQ(heading_bug, 123);
    heading = 200;
    press(KEY_LEFT);
    EXPECT_EQ(heading_bug_on, 0);
    EXPECT_EQ(heading_bug, 123) << "the value is kept";
    press(KEY_RIGHT);
    EXPECT_EQ(reciprocal_shown, 1);
    EXPECT_EQ(reciprocal_timer, 5);
    reciprocal_timer = 1;
    press(KEY_RIGHT);
    EXPECT_EQ(reciprocal_timer, 5) << "a second press restarts the count";
    EXPECT_EQ(pitch_trim, 0);
    EXPECT_TRUE(host_.memo.empty()) << "nothing is sent from the compass page";
}

TEST_F(MainScreenTest, RoseStyleIgnoresBugAndReciprocalKeys)
{
    main_page = PAGE_COMPASS;
    compass_display = COMPASS_ROSE;
    press(KEY_LEFT);
    press(KEY_RIGHT);
    EXPECT_EQ(heading_bug_on, 0);
    EXPECT_EQ(reciprocal_shown, 0);
}

TEST_F(MainScreenTest, UnansweredCommand16IsSentTenTimesOverAboutOneSecond)
{
    attitude_valid = 0;  // sent with or without attitude data
    for (uint8_t page : {PAGE_ATTITUDE, PAGE_TURN_BANK}) {
        host_.memo.clear();
        main_page = page;
        led_timer = 200;
        const int64_t start = host_.now_ms();
        press(KEY_RIGHT);
        EXPECT_EQ(command_frames_logged(), 10);
        EXPECT_GE(host_.now_ms() - start, 900) << "ten ticks, whatever the phase of the first";
        EXPECT_LT(host_.now_ms() - start, 1200);
        EXPECT_GT(led_timer, 180) << "a failed exchange leaves the lamp to its own countdown";
    }
}

TEST_F(MainScreenTest, AcknowledgedCommand16PutsWarningOutAtOnce)
{
    host_.connected = true;
    led_timer = 15;
    host_.after(150, [] {
        const uint8_t ack[] = {0x82, 0xE5, 0x02, 0x0A, 0x00, 0x48, 0x83};
        link_receive(ack, sizeof ack);
    });
    press(KEY_RIGHT);
    EXPECT_EQ(led_timer, 0);
    EXPECT_EQ(command_frames_logged(), 2) << "one copy at once, one at the first tick";
}

TEST_F(MainScreenTest, EveryKeyIsClearedAtEndOfPass)
{
    for (uint8_t page = 0; page < MAIN_PAGE_COUNT; ++page) {
        const uint8_t codes[] = {KEY_KNOB_PRESS, KEY_LEFT, KEY_CODE_COUNT, 200};  // the last two are no key
        for (uint8_t code : codes) {
            current_screen = main_screen;
            main_page = page;
            press(code);
            EXPECT_EQ(key_code, KEY_NONE) << "page " << int(page) << " key " << int(code);
        }
    }
}

TEST_F(MainScreenTest, NoDataPagesReplaceEachPageWithoutItsSensor)
{
    struct Case {
        uint8_t page;
        const char* source;
    };
    attitude_valid = heading_valid = 0;
    pitch = -40;  // the attitude page would be all ground
    for (const Case c : {Case{PAGE_ATTITUDE, "FROM ATTITUDE"}, Case{PAGE_COMPASS, "FROM COMPASS"},
                         Case{PAGE_TURN_BANK, "FROM ATTITUDE"}}) {
        SCOPED_TRACE(c.page);
        main_page = c.page;
        draw_main();
        expect_region_drawn_as(0, 0, 127, 63, [&] {
            lcd_text_centred_const(64, 5, "NO DATA", 1, PIXEL_SET, 0);
            lcd_text_centred_const(64, 25, c.source, 1, PIXEL_SET, 0);
            lcd_text_centred_const(64, 45, "SENSOR", 1, PIXEL_SET, 0);
        });
    }
}

TEST_F(MainScreenTest, CalibrationBoxOverMiddleOrOverCompassTape)
{
    calibrating = 1;
    pitch = -40;  // all ground, so the cleared box shows
    for (uint8_t page : {PAGE_ATTITUDE, PAGE_COMPASS}) {
        main_page = page;
        const int top = page == PAGE_COMPASS ? 0 : 18;
        draw_main();
        EXPECT_EQ(row_pixels(top, 18, 110), std::string(93, '#'));
        EXPECT_EQ(row_pixels(top + 20, 18, 110), std::string(93, '#'));
        EXPECT_EQ(column_pixels(110, top, top + 20), std::string(21, '#'));
        EXPECT_EQ(column_pixels(19, top + 1, top + 19), std::string(19, '.')) << "inside is cleared";
    }
    EXPECT_EQ(row_pixels(17, 0, 17), std::string(18, '#')) << "tape rule left of the box";
}

TEST_F(MainScreenTest, CalibrationBoxReadsCountAndFit)
{
    calibrating = 1;
    main_page = PAGE_TURN_BANK;
    calib_count = 1234;
    calib_fit = 987;
    draw_main();
    expect_region_drawn_as(19, 19, 109, 37, [] {
        lcd_text_const(20, 20, "COUNT: 1234", 0, PIXEL_INVERT, 0);
        lcd_text_const(20, 30, "FIT: 98.7%", 0, PIXEL_INVERT, 0);
    });
}

TEST_F(MainScreenTest, KeyClickedInLoopTurnsPageForTheNextPass)
{
    int passes_after_click = 0;
    bool tape_seen = false;
    host_.on_present = [&] {
        if (main_page != PAGE_COMPASS)
            return;
        // The pass that handled the key still drew the attitude page.
        if (++passes_after_click > 1)
            tape_seen = tape_seen || row_pixels(18, 0, 127) == std::string(128, '#');
    };
    host_.after(2000, [] { store_key_code(KEY_CLOCKWISE); });
    host_.run_for(3000);
    EXPECT_EQ(main_page, PAGE_COMPASS);
    EXPECT_TRUE(tape_seen);
}

}  // namespace
