#include <gtest/gtest.h>

#include "fake_host.h"
#include "firmware/firmware_loop.h"
#include "firmware/instrument_state.h"
#include "link_frames.h"

// ---- framing: what the parser accepts and what it drops ---------------------

TEST(LinkFraming, AcknowledgementExampleSetsTheFlag)
{
    FakeHost host;
    feed({0x82, 0xE5, 0x02, 0x0A, 0x00, 0x48, 0x83});
    EXPECT_EQ(ack_received, 1);
    EXPECT_EQ(rx_state, 0);
    // The helper builds the same bytes.
    EXPECT_EQ(make_frame(0xE5, 0x0A, {0x00}), (std::vector<uint8_t>{0x82, 0xE5, 0x02, 0x0A, 0x00, 0x48, 0x83}));
}

TEST(LinkFraming, BadChecksumDropsTheFrame)
{
    FakeHost host;
    for (uint8_t wrong : {0x00, 0x47, 0x49, 0xFF}) {
        feed({0x82, 0xE5, 0x02, 0x0A, 0x00, wrong, 0x83});
        EXPECT_EQ(ack_received, 0) << int(wrong);
        EXPECT_EQ(rx_state, 0);
    }
    feed(compass_heading_frame(90));
    EXPECT_EQ(heading, 90) << "the parser is back in step after bad checksums";
}

TEST(LinkFraming, BroadcastIsHandledOtherUnitsAreDroppedAtTheirEnd)
{
    FakeHost host;
    for (uint8_t address : {0xE4, 0xE6, 0xE0, 0xFE}) {
        auto f = make_frame(address, 0x0A, {0x00});
        feed(std::vector<uint8_t>(f.begin(), f.end() - 1));
        EXPECT_EQ(rx_state, 6) << "checksum of a frame to " << int(address) << " is still checked";
        feed({0x83});
        EXPECT_EQ(rx_state, 0);
        EXPECT_EQ(ack_received, 0) << int(address);
    }
    feed(make_frame(0xFF, 0x0A, {}));
    EXPECT_EQ(ack_received, 1);
}

TEST(LinkFraming, AttentionByteClaimsTheLineAndSwallowsTheNextByte)
{
    FakeHost host;
    feed({0xE5});
    EXPECT_EQ(rx_state, 128);
    feed(make_frame(0xE5, 0x0A, {0x00}));
    EXPECT_EQ(ack_received, 0) << "the start byte after the claim is discarded";
    EXPECT_EQ(rx_state, 0);
    feed(make_frame(0xE5, 0x0A, {0x00}));
    EXPECT_EQ(ack_received, 1);
}

TEST(LinkFraming, LowAddressOrZeroLengthReturnsToIdle)
{
    FakeHost host;
    feed({0x82, 0xDF});
    EXPECT_EQ(rx_state, 0);
    feed({0x82, 0xE5, 0x00});
    EXPECT_EQ(rx_state, 0);
    feed({0x82, 0xE5, 0x01, 0x0A});
    EXPECT_EQ(rx_state, 5) << "a length of 1 carries the command only";
    feed({static_cast<uint8_t>(0xA5 ^ 0xE5 ^ 0x01 ^ 0x0A), 0x83});
    EXPECT_EQ(ack_received, 1);
}

TEST(LinkFraming, MissingEndByteWaitsForTheNextOne)
{
    FakeHost host;
    auto f = make_frame(0xE5, 0x0A, {0x00});
    f.pop_back();
    feed(f);
    feed({0x00, 0x82, 0x12, 0xE5});
    EXPECT_EQ(rx_state, 6);
    EXPECT_EQ(ack_received, 0);
    feed({0x83});
    EXPECT_EQ(ack_received, 1);
    EXPECT_EQ(rx_state, 0);
}

TEST(LinkFraming, OversizedFrameIsCountedThroughAndDropped)
{
    FakeHost host;
    // 60 data bytes, every one a valid-looking ack start, and a length above
    // what the payload holds.
    std::vector<uint8_t> data(60, 0x82);
    auto f = make_frame(0xE5, 0x0A, data);
    feed(std::vector<uint8_t>(f.begin(), f.end() - 2));
    EXPECT_EQ(rx_state, 5) << "all 60 data bytes were counted";
    EXPECT_LE(rx_index, sizeof rx_payload);
    feed({f[f.size() - 2], f.back()});
    EXPECT_EQ(rx_state, 0);
    EXPECT_EQ(ack_received, 0) << "a frame that did not fit is not handled";
    EXPECT_EQ(rx_index, sizeof rx_payload);

    // The longest frame that fits is handled.
    feed(make_frame(0xE5, 0x0A, std::vector<uint8_t>(50, 0x11)));
    EXPECT_EQ(ack_received, 1);
    feed(compass_heading_frame(123));
    EXPECT_EQ(heading, 123);
}

TEST(LinkFraming, OtherCommandsChangeNothing)
{
    FakeHost host;
    feed(make_frame(0xE5, 0x0B, {1, 2, 3}));
    feed(make_frame(0xE5, 0x36, std::vector<uint8_t>(17, 0x40)));
    EXPECT_EQ(ack_received, 0);
    EXPECT_EQ(attitude_valid, 0);
    EXPECT_EQ(heading_valid, 0);
    EXPECT_EQ(rx_state, 0);
}

// ---- a frame cut short -------------------------------------------------------

TEST(LinkFraming, HalfFrameWithinATickStillTakesFollowingBytes)
{
    FakeHost host;
    auto cut = make_frame(0xE5, 0x0A, {0x00, 0x00, 0x00});
    feed(std::vector<uint8_t>(cut.begin(), cut.begin() + 4));
    timer_tick();
    feed(make_frame(0xE5, 0x0A, {0x00}));
    EXPECT_EQ(ack_received, 0) << "one tick later the bytes still belong to the cut frame";
}

TEST(LinkFraming, HalfFrameIsAbandonedAfterTwoQuietTicks)
{
    FakeHost host;
    for (int cut_at : {2, 3, 5, 6, 7}) {
        ack_received = 0;
        // Not itself an acknowledgement, so only the following frame can set
        // the flag.
        auto cut = make_frame(0xE5, 0x0B, {0x00, 0x00});
        feed(std::vector<uint8_t>(cut.begin(), cut.begin() + cut_at));
        ASSERT_NE(rx_state, 0);
        timer_tick();
        timer_tick();
        feed(make_frame(0xE5, 0x0A, {0x00}));
        EXPECT_EQ(ack_received, 1) << "cut after " << cut_at << " bytes";
    }
    // Also when the tick counter wrapped meanwhile.
    ack_received = 0;
    ticks = 255;
    feed({0x82, 0xE5});
    timer_tick();
    timer_tick();
    feed(make_frame(0xE5, 0x0A, {0x00}));
    EXPECT_EQ(ack_received, 1);
}

// A pause in mid-frame ends a frame only when a start byte ends the pause: a
// writer held up by a full line or a busy machine sends its tail late, and
// the tail still belongs to the frame.
TEST(LinkFraming, AfterAPauseOnlyAStartByteBeginsAFreshFrame)
{
    const std::vector<uint8_t> ack = make_frame(0xE5, 0x0A, {0x00});
    const std::vector<uint8_t> other = make_frame(0xE5, 0x0B, {0x00, 0x00});
    // An acknowledgement whose data byte is the start byte.
    const std::vector<uint8_t> ack_82 = make_frame(0xE5, 0x0A, {LINK_START});
    struct Case {
        const char* name;
        std::vector<uint8_t> head;
        int quiet_ticks;
        std::vector<uint8_t> then;
        uint8_t ack;
    };
    const auto part = [](const std::vector<uint8_t>& f, size_t from, size_t to) {
        return std::vector<uint8_t>(f.begin() + from, f.begin() + to);
    };
    const Case cases[] = {
        {"tail two ticks late", part(ack, 0, 4), 2, part(ack, 4, 7), 1},
        {"tail thirty ticks late", part(ack, 0, 2), 30, part(ack, 2, 7), 1},
        {"end byte late", part(ack, 0, 6), 2, part(ack, 6, 7), 1},
        {"after the claim, no frame to go on with", {LINK_ATTENTION}, 2, ack, 1},
        {"next frame after a lost tail", part(other, 0, 5), 2, ack, 1},
        {"lost tail of an acknowledgement, another frame next", part(ack, 0, 4), 2, other, 0},
        // The price of the rule: a tail that begins with the start byte,
        // late, is taken for a new frame.
        {"start byte as data, one tick late", part(ack_82, 0, 4), 1, part(ack_82, 4, 7), 1},
        {"start byte as data, two ticks late", part(ack_82, 0, 4), 2, part(ack_82, 4, 7), 0},
    };
    for (const Case& c : cases) {
        FakeHost host;
        feed(c.head);
        for (int i = 0; i < c.quiet_ticks; ++i)
            timer_tick();
        feed(c.then);
        EXPECT_EQ(ack_received, c.ack) << c.name;
        if (c.ack == 1) {
            EXPECT_EQ(rx_state, 0) << c.name;
        }
    }
}

// The time-out has a clock of its own: an exchange setting ticks back to 0
// while a frame is half received must not cut the frame, nor may a silence
// of a whole turn of the 8-bit tick counter pass for no gap at all.
TEST(LinkFraming, HalfFrameTimeOutIsMeasuredOnTheParsersOwnClock)
{
    // An 18-byte attitude frame: bank 33, turn rate 5.
    const std::vector<uint8_t> head{0x82, 0xE5, 0x12, 0x37, 0x00, 0x21};
    std::vector<uint8_t> tail(13, 0x00);
    tail.insert(tail.end(), {0x05, 0x00, 0x41, 0x83});
    {
        FakeHost host;
        ticks = 57;
        feed(head);
        ticks = 0;  // an acknowledged exchange starts
        feed(tail);
        EXPECT_EQ(bank, 33);
        EXPECT_EQ(turn_rate, 5);
        EXPECT_EQ(attitude_valid, 1);
        EXPECT_EQ(rx_state, 0);
    }
    {
        FakeHost host;
        feed(head);
        host.idle_for(256 * 100);
        feed(make_frame(0xE5, 0x0A, {0x00}));
        EXPECT_EQ(ack_received, 1) << "256 quiet ticks are a gap too";
    }
}

TEST(LinkFraming, QuietLineAfterTheClaimEndsIt)
{
    FakeHost host;
    feed({0xE5});
    host.idle_for(300);
    feed(make_frame(0xE5, 0x0A, {0x00}));
    EXPECT_EQ(ack_received, 1);
}

// ---- compass frames ------------------------------------------------------------

TEST(CompassHeadingFrame, SetsHeadingTiltAndMarks)
{
    FakeHost host;
    feed(compass_heading_frame(271, 3));
    EXPECT_EQ(heading, 271);
    EXPECT_EQ(tilt_comp, 3);
    EXPECT_EQ(heading_valid, 1);
    EXPECT_EQ(heading_hold, 5);
    EXPECT_EQ(compass_heading_seen, 1);
    EXPECT_EQ(compass_frame_received, 1);
    EXPECT_EQ(compass_data_received, 0);
}

TEST(CompassHeadingFrame, VariationIsAddedAndWrapped)
{
    FakeHost host;
    struct Case {
        uint8_t heading_true;
        int32_t variation;
        uint16_t received;
        int32_t expected;
    };
    const Case cases[] = {
        {1, -10, 5, 355}, {1, 10, 355, 5},  {1, 10, 350, 0},  {1, 0, 0, 0},     {0, 10, 355, 355},
        {1, 99, 300, 39}, {1, -99, 0, 261}, {0, 0, 360, 0},   {0, 0, 400, 40},  {1, -99, 65535, 276},
    };
    for (const Case& c : cases) {
        heading_true = c.heading_true;
        variation = c.variation;
        feed(compass_heading_frame(c.received));
        EXPECT_EQ(heading, c.expected) << "true " << int(c.heading_true) << " variation " << c.variation
                                       << " received " << c.received;
    }
}

TEST(CompassHeadingFrame, TiltIsTakenAsSentAlsoOutsideTheThreeChoices)
{
    FakeHost host;
    for (uint8_t tilt : {0, 4, 255, 2}) {
        feed(compass_heading_frame(10, tilt));
        EXPECT_EQ(tilt_comp, tilt);
    }
    EXPECT_EQ(heading, 10) << "the heading itself is still taken";
}

TEST(CompassHeadingFrame, TooShortToCarryAHeadingIsIgnored)
{
    FakeHost host;
    feed(compass_heading_frame(200, 2));  // leaves d0..d2 in the payload
    heading_valid = 0;
    compass_frame_received = 0;
    feed(make_frame(0xE5, 50, {0x10, 0x00}));
    EXPECT_EQ(heading, 200);
    EXPECT_EQ(heading_valid, 0);
    EXPECT_EQ(compass_frame_received, 0);
}

TEST(CompassDataFrame, LongFormSetsAllNineValues)
{
    FakeHost host;
    std::vector<uint8_t> d;
    for (uint16_t w : {1001, 1002, 2001, 2002, 1500, 2500, 3001, 3002, 3500})
        d.insert(d.end(), {lo(w), hi(w)});
    feed(make_frame(0xE5, 51, d));
    EXPECT_EQ(compass_ew_max, 1001);
    EXPECT_EQ(compass_ew_min, 1002);
    EXPECT_EQ(compass_ns_max, 2001);
    EXPECT_EQ(compass_ns_min, 2002);
    EXPECT_EQ(compass_ew, 1500);
    EXPECT_EQ(compass_ns, 2500);
    EXPECT_EQ(compass_z_max, 3001);
    EXPECT_EQ(compass_z_min, 3002);
    EXPECT_EQ(compass_z, 3500);
    EXPECT_EQ(compass_data_received, 1);
    EXPECT_EQ(heading_valid, 1);
    EXPECT_EQ(heading_hold, 5);
    EXPECT_EQ(compass_frame_received, 0);
}

TEST(CompassDataFrame, ShortFormLeavesZAlone)
{
    FakeHost host;
    compass_z_max = 7;
    compass_z_min = 8;
    compass_z = 9;
    // Words above 32767 stay unsigned.
    std::vector<uint8_t> d;
    for (uint16_t w : {65535, 40000, 3, 4, 5, 6}) {
        d.push_back(lo(w));
        d.push_back(hi(w));
    }
    feed(make_frame(0xE5, 51, d));
    EXPECT_EQ(compass_ew_max, 65535);
    EXPECT_EQ(compass_ew_min, 40000);
    EXPECT_EQ(compass_ns, 6);
    EXPECT_EQ(compass_z_max, 7);
    EXPECT_EQ(compass_z_min, 8);
    EXPECT_EQ(compass_z, 9);
    EXPECT_EQ(compass_data_received, 1);
}

TEST(CompassDataFrame, TooShortToCarrySixWordsIsIgnored)
{
    FakeHost host;
    compass_ns = 77;
    feed(make_frame(0xE5, 51, std::vector<uint8_t>(10, 0x01)));
    EXPECT_EQ(compass_ns, 77);
    EXPECT_EQ(compass_data_received, 0);
}

// ---- attitude frames ---------------------------------------------------------

TEST(AttitudeFrame, LongFormZeroWithTurnRate)
{
    FakeHost host;
    Attitude a;
    a.bank = 30;
    a.pitch = 65535 - 12;  // -12
    a.slip = 20;
    a.gforce = 300;
    a.status = 0x12;
    a.heading = 123;
    a.turn_rate = 65535 - 30;
    feed(attitude_frame(a));
    EXPECT_EQ(bank, 30);
    EXPECT_EQ(pitch, -12);
    EXPECT_EQ(slip, 20);
    EXPECT_EQ(gforce_raw, 300);
    EXPECT_EQ(sensor_status, 0x12);
    EXPECT_EQ(heading, 123);
    EXPECT_EQ(heading_valid, 1);
    EXPECT_EQ(heading_hold, 5);
    EXPECT_EQ(turn_source, 2);
    EXPECT_EQ(turn_rate, -30);
    EXPECT_EQ(attitude_valid, 1);
    EXPECT_EQ(compass_heading_seen, 0);
}

TEST(AttitudeFrame, SixteenBitSignRuleIsOnesComplement)
{
    FakeHost host;
    struct Case {
        uint16_t word;
        int32_t value;
    };
    for (Case c : {Case{65534, -1}, Case{65535, 0}, Case{32768, -32767}, Case{32767, 32767}, Case{0, 0}}) {
        Attitude a;
        a.turn_rate = c.word;
        a.bank = c.word;
        a.pitch = c.word;
        feed(attitude_frame(a));
        EXPECT_EQ(turn_rate, c.value) << c.word;
        EXPECT_EQ(bank, c.value) << c.word;
        EXPECT_EQ(pitch, c.value) << c.word;
    }
}

TEST(AttitudeFrame, SlipByteSignRule)
{
    FakeHost host;
    struct Case {
        uint8_t byte;
        int32_t value;
    };
    for (Case c : {Case{200, -55}, Case{255, 0}, Case{254, -1}, Case{128, -127}, Case{127, 127}, Case{5, 5}}) {
        Attitude a;
        a.slip = c.byte;
        feed(attitude_frame(a));
        EXPECT_EQ(slip, c.value) << int(c.byte);
    }
}

TEST(AttitudeFrame, FormFiveCarriesTenths)
{
    FakeHost host;
    Attitude a;
    a.form = 5;
    a.pitch = 65085;  // -450
    a.bank = 65535 - 455;
    a.heading = 3599;
    a.turn_rate = 123;
    feed(attitude_frame(a));
    EXPECT_EQ(pitch, -45);
    EXPECT_EQ(bank, -45) << "truncated toward zero";
    EXPECT_EQ(heading, 359);
    EXPECT_EQ(turn_rate, 123) << "the turn rate is never divided";

    pitch_trim = 5;
    a.pitch = 457;
    feed(attitude_frame(a));
    EXPECT_EQ(pitch, 40) << "45 less the trim";
}

TEST(AttitudeFrame, FormFourIsDecodedLikeFormZero)
{
    FakeHost host;
    Attitude a;
    a.form = 4;
    a.bank = 65535 - 20;
    a.pitch = 7;
    feed(attitude_frame(a));
    EXPECT_EQ(bank, -20);
    EXPECT_EQ(pitch, 7);
}

TEST(AttitudeFrame, LengthSixteenHasNoTurnRate)
{
    FakeHost host;
    turn_rate = 42;
    Attitude a;
    a.with_turn_rate = false;
    a.bank = 15;
    feed(attitude_frame(a));
    EXPECT_EQ(bank, 15);
    EXPECT_EQ(turn_source, 1);
    EXPECT_EQ(turn_rate, 42);
}

TEST(AttitudeFrame, PitchTrimIsSubtracted)
{
    FakeHost host;
    pitch_trim = 3;
    Attitude a;
    a.pitch = 10;
    feed(attitude_frame(a));
    EXPECT_EQ(pitch, 7);
    a.pitch = 65535 - 10;
    feed(attitude_frame(a));
    EXPECT_EQ(pitch, -13);
}

TEST(AttitudeFrame, HeadingVariationAppliesToAttitudeHeadings)
{
    FakeHost host;
    heading_true = 1;
    variation = -10;
    Attitude a;
    a.heading = 5;
    feed(attitude_frame(a));
    EXPECT_EQ(heading, 355);
}

TEST(AttitudeFrame, CompassHeadingFreezesAttitudeHeadings)
{
    FakeHost host;
    Attitude a;
    a.heading = 100;
    feed(attitude_frame(a));
    EXPECT_EQ(heading, 100);
    feed(compass_heading_frame(200));
    EXPECT_EQ(heading, 200);
    heading_valid = 0;
    heading_hold = 0;
    a.heading = 300;
    a.bank = 9;
    feed(attitude_frame(a));
    EXPECT_EQ(heading, 200);
    EXPECT_EQ(heading_valid, 0) << "an ignored heading does not mark heading data";
    EXPECT_EQ(heading_hold, 0);
    EXPECT_EQ(bank, 9) << "the rest of the frame is still taken";
}

TEST(AttitudeFrame, ShortFormCarriesSlipAndStatusInItsLastBytes)
{
    FakeHost host;
    turn_source = 2;
    turn_rate = 11;
    feed(make_frame(0xE5, 55, {lo(65535 - 25), hi(65535 - 25), 8, 0, 200, 0x02}));
    EXPECT_EQ(turn_source, 0);
    EXPECT_EQ(bank, -25);
    EXPECT_EQ(pitch, 8);
    EXPECT_EQ(slip, -55);
    EXPECT_EQ(sensor_status, 0x02);
    EXPECT_EQ(turn_rate, 11);
    EXPECT_EQ(attitude_valid, 1);
    EXPECT_EQ(heading_valid, 0);

    pitch_trim = 2;
    feed(make_frame(0xE5, 55, {0, 0, 8, 0, 0, 0}));
    EXPECT_EQ(pitch, 6);
}

TEST(AttitudeFrame, OtherFormsAndLengthsOnlyMarkAttitudeData)
{
    FakeHost host;
    bank = 1;
    pitch = 2;
    turn_source = 2;
    Attitude a;
    a.form = 1;
    a.bank = 50;
    feed(attitude_frame(a));
    EXPECT_EQ(attitude_valid, 1);
    EXPECT_EQ(bank, 1);
    EXPECT_EQ(turn_source, 2);

    attitude_valid = 0;
    feed(make_frame(0xE5, 55, {9, 9, 9}));
    EXPECT_EQ(attitude_valid, 1);
    EXPECT_EQ(bank, 1);
    EXPECT_EQ(pitch, 2);
}
