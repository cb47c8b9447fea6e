#include <gtest/gtest.h>

#include <vector>

#include "fake_host.h"
#include "firmware/firmware_loop.h"
#include "firmware/instrument_state.h"
#include "firmware/lcd/lcd.h"
#include "firmware/link/link.h"
#include "link/link_frames.h"

namespace {

bool lit(int x, int y)
{
    return frame_buffer[x + (y / 8) * 128] & bit_mask[y % 8];
}

// Leftmost lit column within rows y0..y1 and columns 0..x_max, or -1.
int leftmost_lit(int y0, int y1, int x_max = 127)
{
    for (int x = 0; x <= x_max; ++x)
        for (int y = y0; y <= y1; ++y)
            if (lit(x, y))
                return x;
    return -1;
}

}  // namespace

TEST(FirmwareLoop, SliderReadingsAreCopiedEveryPass)
{
    FakeHost host;
    slider_heading = 123;
    slider_pitch = -90;
    slider_bank = 180;
    slider_slip = -50;
    slider_turn = 40;
    slider_gforce = 65535;
    host.run_passes(1);
    EXPECT_EQ(heading, 123);
    EXPECT_EQ(pitch, -90);
    EXPECT_EQ(bank, 180);
    EXPECT_EQ(slip, -50);
    EXPECT_EQ(turn_rate, 40);
    EXPECT_EQ(gforce_raw, 65535);
    EXPECT_EQ(heading_valid, 1);
    EXPECT_EQ(attitude_valid, 1);
    EXPECT_TRUE(host.memo.empty());
}

TEST(FirmwareLoop, SliderHeadingFollowsTheVariationRule)
{
    struct Case {
        int32_t slider, variation, expected;
    };
    for (const Case c : {Case{5, 10, 355}, Case{355, -10, 5}, Case{0, 0, 0}, Case{350, -10, 0}, Case{10, 10, 0}}) {
        FakeHost host;
        slider_heading = c.slider;
        host.at(10, [&] {
            heading_true = 1;
            variation = c.variation;
        });
        host.run_passes(1);
        EXPECT_EQ(heading, c.expected) << c.slider << " with variation " << c.variation;
    }
}

TEST(FirmwareLoop, MagneticHeadingIgnoresTheVariation)
{
    FakeHost host;
    slider_heading = 5;
    host.at(10, [] { variation = 10; });
    host.run_passes(1);
    EXPECT_EQ(heading, 5);
}

TEST(FirmwareLoop, ConnectedPortLeavesReadingsToTheLinkAndLogsThem)
{
    FakeHost host;
    host.connected = true;
    pitch = -5;
    bank = 12;
    slip = 0;
    turn_rate = -300;
    slider_pitch = 40;
    host.run_passes(2);
    EXPECT_EQ(pitch, -5);
    EXPECT_EQ(attitude_valid, 0);
    EXPECT_EQ(heading_valid, 0);
    const std::vector<std::string> pass = {"Pitch:-5", "Bank:12", "Slip:0", "Turn:-300"};
    ASSERT_EQ(host.memo.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(host.memo.begin(), host.memo.begin() + 4), pass);
    EXPECT_EQ(std::vector<std::string>(host.memo.begin() + 4, host.memo.end()), pass);
}

TEST(FirmwareLoop, OnResetsTheLoopState)
{
    FakeHost host;
    heading_bug_on = 1;
    reciprocal_shown = 1;
    rx_state = 4;
    compass_heading_seen = 1;
    tilt_comp = TILT_COMP_3D_G;
    sensor_status = 0x12;
    calibrating = 1;
    main_page = PAGE_TURN_BANK;
    menu_cursor = 5;
    host.connected = true;  // so that the pass does not set the presence marks again
    host.run_passes(1);
    EXPECT_EQ(heading_bug_on, 0);
    EXPECT_EQ(reciprocal_shown, 0);
    EXPECT_EQ(rx_state, 0);
    EXPECT_EQ(compass_heading_seen, 0);
    EXPECT_EQ(tilt_comp, TILT_COMP_2D);
    EXPECT_EQ(sensor_status, 0);
    EXPECT_EQ(calibrating, 0);
    EXPECT_EQ(main_page, PAGE_ATTITUDE);
    EXPECT_EQ(menu_cursor, 0);
    EXPECT_EQ(contrast, 32);
}

// A sensor unit that stops sending must not leave a frozen horizon looking
// live: attitude data lapse 10 to 12 s after the last attitude frame, by the
// timer, with the loop running or stopped.
TEST(FirmwareLoop, AttitudeDataLapseTenToTwelveSecondsAfterTheLastFrame)
{
    FakeHost host;
    host.connected = true;
    const std::vector<uint8_t> frame = make_frame(0xE5, 55, {0, 0, 0, 0, 0, 0});
    constexpr int64_t last_frame_at = 4000;
    for (int64_t at : {int64_t{2000}, int64_t{3000}, last_frame_at})
        host.at(at, [&] { feed(frame); });
    int64_t lapsed_at = -1;
    host.on_pump = [&] {
        if (lapsed_at < 0 && host.now_ms() > last_frame_at && attitude_valid == 0)
            lapsed_at = host.now_ms();
    };
    host.run_for(20000);
    ASSERT_GT(lapsed_at, 0) << "attitude data never lapsed";
    EXPECT_GE(lapsed_at - last_frame_at, 10000);
    EXPECT_LE(lapsed_at - last_frame_at, 12000 + host.frame_ms);

    feed(frame);
    EXPECT_EQ(attitude_valid, 1);
    host.idle_for(9900);
    EXPECT_EQ(attitude_valid, 1);
    host.idle_for(2200);
    EXPECT_EQ(attitude_valid, 0) << "the timer clears it with the loop stopped too";
}

TEST(FirmwareLoop, LampShowsTheRangeBitForOneAndAHalfSeconds)
{
    FakeHost host;
    EXPECT_EQ(host.lamp, 0xff0000u) << "design colour before the first ON";
    host.connected = true;
    int64_t lamp_off_at = -1;
    int64_t bit_cleared_at = 0;
    // The splash lasts 80 frames; the passes start at about 1.3 s.
    std::vector<uint32_t> colours;
    host.at(1800, [&] { colours.push_back(host.lamp); });
    host.at(2000, [&] {
        attitude_valid = 1;
        sensor_status = 0x02;
    });
    host.at(3000, [&] { colours.push_back(host.lamp); });
    host.at(4000, [&] {
        sensor_status = 0;
        bit_cleared_at = host.now_ms();
    });
    host.on_pump = [&] {
        if (bit_cleared_at && lamp_off_at < 0 && host.lamp == 0x800000)
            lamp_off_at = host.now_ms();
    };
    host.run_for(8000);
    ASSERT_EQ(colours.size(), 2u);
    EXPECT_EQ(colours[0], 0x800000u);
    EXPECT_EQ(colours[1], 0xff0000u);
    ASSERT_GT(lamp_off_at, 0);
    EXPECT_GE(lamp_off_at - bit_cleared_at, 1400);
    EXPECT_LE(lamp_off_at - bit_cleared_at, 1600);
}

TEST(FirmwareLoop, KeyFastTakesEffectInTheNextPass)
{
    FakeHost host;
    host.run_passes(1);
    EXPECT_EQ(key_step, 1);
    host.key_fast_checked = true;
    host.run_passes(1);
    EXPECT_EQ(key_step, 10);
}

TEST(FirmwareLoop, DisplayIsHiddenWhilePaintedInPassesButNotInTheSplash)
{
    FakeHost host;
    std::vector<bool> visible_at_present;
    host.on_present = [&] { visible_at_present.push_back(host.lcd_visible); };
    host.run_passes(3);
    ASSERT_EQ(visible_at_present.size(), 83u);
    for (int i = 0; i < 80; ++i)
        EXPECT_TRUE(visible_at_present[i]) << "splash frame " << i + 1;
    for (int i = 80; i < 83; ++i)
        EXPECT_FALSE(visible_at_present[i]) << "pass " << i - 79;
    EXPECT_TRUE(host.lcd_visible);
}

TEST(FirmwareLoop, OffDuringTheSplashHasNoLastingEffect)
{
    FakeHost host;
    host.at(100, [] { firmware_stop(); });  // well inside the 80 splash frames
    int passes = 0;
    host.on_present = [&] {
        if (host.presents > 80 && ++passes == 5)
            firmware_stop();
    };
    firmware_run();
    EXPECT_EQ(passes, 5);
}

TEST(FirmwareLoop, OneOffEndsNestedLoops)
{
    FakeHost host;
    int inner_returned = 0;
    host.at(2000, [&] {
        firmware_run();  // ON pressed again while running
        ++inner_returned;
    });
    host.at(5000, [] { firmware_stop(); });
    bool watchdog_fired = false;
    host.at(60000, [&] {
        watchdog_fired = true;
        firmware_stop();
    });
    firmware_run();
    EXPECT_EQ(inner_returned, 1);
    EXPECT_FALSE(watchdog_fired);
    EXPECT_LT(host.now_ms(), 6000);
}

TEST(FirmwareLoop, KeyClickedBeforeOnIsLostButDuringTheSplashIsKept)
{
    {
        FakeHost host;
        store_key_code(KEY_CLOCKWISE);
        host.run_passes(1);
        EXPECT_EQ(main_page, PAGE_ATTITUDE) << "ON clears a key clicked before it";
    }
    {
        FakeHost host;
        host.at(200, [] { store_key_code(KEY_CLOCKWISE); });  // during the splash
        host.run_passes(1);
        EXPECT_EQ(main_page, PAGE_COMPASS) << "the first pass of the main screen takes the key";
        EXPECT_EQ(key_code, KEY_NONE);
    }
}

TEST(FirmwareLoop, SplashSlidesTheMakerInFromTheRightAndTheModelFromTheLeft)
{
    FakeHost host;
    std::vector<int> maker_left, model_left;
    host.on_present = [&] {
        if (host.presents > 80)
            return;
        maker_left.push_back(leftmost_lit(5, 20));
        model_left.push_back(leftmost_lit(28, 43, 90));
    };
    host.run_passes(0);
    ASSERT_EQ(maker_left.size(), 80u);
    for (int frame = 1; frame <= 80; ++frame) {
        const int maker = frame <= 55 ? 127 - 2 * (frame - 1) : 19;
        EXPECT_EQ(maker_left[frame - 1], maker) << "frame " << frame;
    }
    for (int frame = 1; frame <= 13; ++frame)
        EXPECT_EQ(model_left[frame - 1], -1) << "model line still waiting in frame " << frame;
    for (int frame = 55; frame <= 80; ++frame)
        EXPECT_EQ(model_left[frame - 1], 64 - 16) << "model line centred in frame " << frame;
}
