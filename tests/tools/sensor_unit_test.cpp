// The sensor unit emulator's answers and frames, checked against the link's
// frame layouts: every command the instrument sends, the frames it streams,
// and the faults it injects.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "fault_injector.h"
#include "sensor_unit.h"
#include "tool_support.h"

using namespace tools_test;

namespace {

constexpr uint8_t COMPASS = 0xE4;
constexpr uint8_t INSTRUMENT = 0xE5;
constexpr uint8_t ATTITUDE = 0xE6;
constexpr uint8_t BROADCAST = 0xFF;

enum class Reply { none, acknowledgement, compass_data };

struct CommandCase {
    const char* what;
    uint8_t address;
    Bytes body;  // command byte and data, as the instrument sends them
    Reply reply;
};

// The instrument's twenty command codes, then frames a unit must not answer.
const CommandCase COMMANDS[] = {
    {"0 clear deviation calibration", COMPASS, {0x34, 0x01}, Reply::acknowledgement},
    {"1 start deviation calibration", COMPASS, {0x34, 0x02}, Reply::compass_data},
    {"2 compass command 3 (DONE)", COMPASS, {0x34, 0x03}, Reply::compass_data},
    {"3 compass command 4 (knob)", COMPASS, {0x34, 0x04}, Reply::compass_data},
    {"4 compass command 5", COMPASS, {0x34, 0x05}, Reply::acknowledgement},
    {"5 compass command given by a", COMPASS, {0x34, 0x05, 0x00}, Reply::acknowledgement},
    {"6 tilt compensation 3D G", COMPASS, {0x34, 0x0A, 0x03}, Reply::none},
    {"7 alignment north", COMPASS, {0x34, 0x15, 0x00}, Reply::acknowledgement},
    {"8 alignment south", COMPASS, {0x34, 0x15, 0x01}, Reply::acknowledgement},
    {"9 alignment east", COMPASS, {0x34, 0x15, 0x02}, Reply::acknowledgement},
    {"10 alignment west", COMPASS, {0x34, 0x15, 0x03}, Reply::acknowledgement},
    {"11 clear alignment", COMPASS, {0x34, 0x15, 0x04}, Reply::acknowledgement},
    {"12 bump factor 70", ATTITUDE, {0x35, 0x09, 0x46, 0x00}, Reply::acknowledgement},
    {"13 slew factor 500", ATTITUDE, {0x35, 0x10, 0xF4, 0x01}, Reply::acknowledgement},
    {"14 and 16 attitude command 12", ATTITUDE, {0x35, 0x0C}, Reply::acknowledgement},
    {"15 attitude command 17", ATTITUDE, {0x35, 0x11, 0x02}, Reply::acknowledgement},
    {"17 turn and bank from the bank angle", ATTITUDE, {0x35, 0x06, 0x00, 0x00}, Reply::acknowledgement},
    {"17 turn and bank from the gyro", ATTITUDE, {0x35, 0x06, 0x04, 0x04}, Reply::acknowledgement},
    {"18 start in-flight calibration", COMPASS, {0x34, 0x32}, Reply::acknowledgement},
    {"19 stop in-flight calibration", COMPASS, {0x34, 0x33}, Reply::acknowledgement},
    {"broadcast to the compass unit", BROADCAST, {0x34, 0x01}, Reply::acknowledgement},
    {"compass command to the attitude unit", ATTITUDE, {0x34, 0x01}, Reply::none},
    {"attitude command to the compass unit", COMPASS, {0x35, 0x0C}, Reply::none},
    {"frame to the instrument's own address", INSTRUMENT, {0x34, 0x01}, Reply::none},
    {"unknown compass command", COMPASS, {0x34, 0x77}, Reply::none},
    {"unknown attitude command", ATTITUDE, {0x35, 0x7F}, Reply::none},
    {"compass command without its sub-command", COMPASS, {0x34}, Reply::none},
    {"tilt compensation 4", COMPASS, {0x34, 0x0A, 0x04}, Reply::none},
    {"alignment 5", COMPASS, {0x34, 0x15, 0x05}, Reply::none},
    {"bump factor without its value", ATTITUDE, {0x35, 0x09}, Reply::none},
    {"turn and bank source a then b", ATTITUDE, {0x35, 0x06, 0x04, 0x00}, Reply::none},
};

// Feeds the bytes the instrument would put on the line (attention byte
// first) through the unit's reader, and collects its answers as bytes.
Bytes answers_to(emulator::SensorUnit& unit, const Bytes& line_bytes, int* heard = nullptr)
{
    LinkFrameReader reader;
    Bytes out;
    for (uint8_t b : line_bytes) {
        if (auto frame = reader.push(b)) {
            if (heard)
                ++*heard;
            for (const Bytes& f : unit.answer(*frame).frames)
                out.insert(out.end(), f.begin(), f.end());
        }
    }
    return out;
}

Bytes with_attention(const Bytes& frame)
{
    Bytes b{0xE5};
    b.insert(b.end(), frame.begin(), frame.end());
    return b;
}

void expect_compass_data_layout(const LinkFrame& f)
{
    EXPECT_EQ(f.address, INSTRUMENT);
    EXPECT_EQ(f.command, 0x33);
    ASSERT_EQ(f.length, 19) << "nine words";
    // Extremes enclose the current raw values: EW max, min, NS max, min, EW, NS, Z max, min, Z.
    EXPECT_LE(f.word(2), f.word(8));
    EXPECT_LE(f.word(8), f.word(0));
    EXPECT_LE(f.word(6), f.word(10));
    EXPECT_LE(f.word(10), f.word(4));
    EXPECT_LE(f.word(14), f.word(16));
    EXPECT_LE(f.word(16), f.word(12));
}

} // namespace

TEST(SensorUnit, AnswersEachCommandAsASensorUnitWould)
{
    for (const CommandCase& c : COMMANDS) {
        SCOPED_TRACE(c.what);
        emulator::SensorUnit unit({});
        unit.advance(1);
        int heard = 0;
        const std::vector<LinkFrame> replies = frames_in(answers_to(unit, with_attention(frame_bytes(c.address, c.body)), &heard));
        EXPECT_EQ(heard, 1) << "the frame is read whole";
        switch (c.reply) {
        case Reply::none:
            EXPECT_TRUE(replies.empty());
            break;
        case Reply::acknowledgement:
            ASSERT_EQ(replies.size(), 1u);
            EXPECT_EQ(replies[0].address, INSTRUMENT);
            EXPECT_EQ(replies[0].command, 0x0A);
            EXPECT_EQ(replies[0].length, 2);
            break;
        case Reply::compass_data:
            ASSERT_EQ(replies.size(), 1u);
            expect_compass_data_layout(replies[0]);
            break;
        }
    }
}

TEST(SensorUnit, WithAnswersOffAcceptsButNeverAnswers)
{
    emulator::SensorUnit unit({});
    unit.options.answer_commands = false;
    for (const CommandCase& c : COMMANDS) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(answers_to(unit, frame_bytes(c.address, c.body)).empty());
    }
}

TEST(SensorUnit, ReadsOnlyWholeFramesWithTheirChecksum)
{
    emulator::SensorUnit unit({});
    const Bytes good = frame_bytes(COMPASS, {0x34, 0x01});
    Bytes bad_sum = good;
    bad_sum[bad_sum.size() - 2] ^= 0x10;
    Bytes no_end = good;
    no_end.back() = 0x00;
    const Bytes low_address = frame_bytes(0x10, {0x34, 0x01});
    for (const Bytes& broken : {bad_sum, no_end, low_address, Bytes{0x82, COMPASS, 0x00}}) {
        int heard = 0;
        EXPECT_TRUE(answers_to(unit, broken, &heard).empty());
        EXPECT_EQ(heard, 0);
    }
    // And after each of them the next good frame is read.
    Bytes stream;
    for (const Bytes& part : {bad_sum, good, no_end, good, low_address, good})
        stream.insert(stream.end(), part.begin(), part.end());
    int heard = 0;
    answers_to(unit, stream, &heard);
    EXPECT_EQ(heard, 3);
}

TEST(SensorUnit, AttitudeFramesFollowTheFlightInEveryForm)
{
    struct Form {
        uint8_t form;
        bool turn_rate;
    };
    for (const Form form : {Form{0, true}, Form{0, false}, Form{4, true}, Form{5, true}, Form{5, false}}) {
        SCOPED_TRACE(testing::Message() << "form " << int(form.form) << (form.turn_rate ? " with" : " without")
                                        << " turn rate");
        emulator::SensorUnit unit({form.form, form.turn_rate, true});
        // Into the rate-one turn right: banked right, nose a little up.
        unit.advance(20);
        const emulator::FlightSample& f = unit.flight();
        ASSERT_LT(f.bank, -20);
        const std::vector<LinkFrame> frames = frames_in(unit.attitude_frame());
        ASSERT_EQ(frames.size(), 1u);
        const LinkFrame& a = frames[0];
        EXPECT_EQ(a.address, INSTRUMENT);
        EXPECT_EQ(a.command, 0x37);
        ASSERT_EQ(a.length, form.turn_rate ? 18 : 16);
        EXPECT_EQ(a.data[0], form.form);
        const double scale = form.form == 5 ? 10 : 1;
        EXPECT_EQ(signed16(a.word(1)), std::lround(f.bank * scale));
        EXPECT_EQ(signed16(a.word(3)), std::lround(f.pitch * scale));
        EXPECT_EQ(signed8(a.data[7]), std::lround(f.slip));
        EXPECT_EQ(a.word(8), std::lround(f.g_load * 256));
        EXPECT_EQ(a.data[10] & 0x12, 0) << "in range, positive G";
        EXPECT_EQ(a.word(11), std::lround(f.heading * scale) % std::lround(360 * scale));
        if (form.turn_rate) {
            EXPECT_GT(signed16(a.word(15)), 0) << "banked right turns right";
            EXPECT_EQ(signed16(a.word(15)), std::lround(f.turn_rate * 10)) << "tenths, in every form";
        }
    }
}

TEST(SensorUnit, RangeAlarmAndNegativeGInTheStatusByte)
{
    emulator::SensorUnit unit({});
    auto status = [&unit] { return frames_in(unit.attitude_frame()).at(0).data.at(10); };
    unit.advance(116);  // in the steep turn beyond the unit's range
    ASSERT_TRUE(unit.flight().range_exceeded);
    EXPECT_EQ(status() & 0x02, 0x02);
    // Command 12 (codes 14 and 16) acknowledges the alarm: the bit goes out
    // until the next excursion.
    EXPECT_EQ(frames_in(answers_to(unit, frame_bytes(ATTITUDE, {0x35, 0x0C}))).size(), 1u);
    EXPECT_EQ(status() & 0x02, 0);
    unit.advance(12);  // straight and level
    ASSERT_FALSE(unit.flight().range_exceeded);
    unit.advance(10);  // the push-over
    ASSERT_LT(unit.flight().g_load, 0);
    EXPECT_EQ(status() & 0x10, 0x10) << "the sign of G";
    unit.advance(169 - 22);  // the next lap's steep turn
    ASSERT_TRUE(unit.flight().range_exceeded);
    EXPECT_EQ(status() & 0x02, 0x02);
}

TEST(SensorUnit, CompassFramesCarryHeadingTiltAndCalibrationExtremes)
{
    emulator::SensorUnit unit({}, 75);
    std::vector<LinkFrame> heading = frames_in(unit.compass_heading_frame());
    ASSERT_EQ(heading.size(), 1u);
    EXPECT_EQ(heading[0].command, 0x32);
    ASSERT_EQ(heading[0].length, 4);
    EXPECT_EQ(heading[0].word(0), 75);
    EXPECT_EQ(heading[0].data[2], 1) << "tilt compensation 2D at start";

    // The tilt compensation setting shows in the heading frames.
    answers_to(unit, frame_bytes(COMPASS, {0x34, 0x0A, 0x02}));
    EXPECT_EQ(frames_in(unit.compass_heading_frame()).at(0).data[2], 2);

    // Turning widens the extremes; starting the deviation calibration
    // starts them again from the current reading.
    unit.compass_data_frame();
    for (int step = 0; step < 300; ++step) {  // through the rate-one turn
        unit.advance(0.15);
        unit.compass_data_frame();
    }
    const LinkFrame turned = frames_in(unit.compass_data_frame()).at(0);
    expect_compass_data_layout(turned);
    EXPECT_GT(turned.word(0), turned.word(2)) << "EW range after turning";
    const LinkFrame started = frames_in(answers_to(unit, frame_bytes(COMPASS, {0x34, 0x02}))).at(0);
    expect_compass_data_layout(started);
    EXPECT_EQ(started.word(0), started.word(8));
    EXPECT_EQ(started.word(2), started.word(8));
    EXPECT_EQ(started.word(4), started.word(10));
    EXPECT_EQ(started.word(6), started.word(10));
}

// ---- fault injection -------------------------------------------------------------------

namespace {

// The fault frames' attitude: bank 123, pitch -77.
void expect_poisoned(const LinkFrame& f)
{
    EXPECT_EQ(f.command, 0x37);
    EXPECT_EQ(signed16(f.word(1)), 123);
    EXPECT_EQ(signed16(f.word(3)), -77);
}

} // namespace

TEST(FaultInjector, BadChecksumFramesAreWholeFramesThatFailOnlyTheirChecksum)
{
    emulator::FaultInjector faults(7);
    const Bytes burst = faults.bad_checksums(3);
    EXPECT_TRUE(frames_in(burst).empty());
    // Three frames of the full attitude length; mend each checksum and they
    // read as the fault frame.
    const size_t frame_size = emulator::FaultInjector::poisoned_attitude_frame().size();
    ASSERT_EQ(burst.size(), 3 * frame_size);
    for (size_t i = 0; i < 3; ++i) {
        Bytes one(burst.begin() + static_cast<std::ptrdiff_t>(i * frame_size),
                  burst.begin() + static_cast<std::ptrdiff_t>((i + 1) * frame_size));
        uint8_t sum = 0xA5;
        for (size_t k = 1; k < one.size() - 2; ++k)
            sum ^= one[k];
        EXPECT_NE(one[one.size() - 2], sum);
        one[one.size() - 2] = sum;
        const std::vector<LinkFrame> mended = frames_in(one);
        ASSERT_EQ(mended.size(), 1u);
        expect_poisoned(mended[0]);
    }
}

TEST(FaultInjector, TruncatedFramesNeverReachTheirEnd)
{
    emulator::FaultInjector faults(3);
    for (int n = 1; n <= 5; ++n) {
        const Bytes burst = faults.truncated(n);
        EXPECT_TRUE(frames_in(burst).empty());
        EXPECT_EQ(std::count(burst.begin(), burst.end(), uint8_t{0x82}), n) << "each begins with its start byte";
        EXPECT_LT(burst.size(), n * emulator::FaultInjector::poisoned_attitude_frame().size());
        EXPECT_NE(burst.back(), 0x83);
    }
}

TEST(FaultInjector, NoiseIsTheCountAskedAndRepeatsWithItsSeed)
{
    emulator::FaultInjector a(11), b(11), c(12);
    const Bytes noise = a.noise(500);
    EXPECT_EQ(noise.size(), 500u);
    EXPECT_EQ(b.noise(500), noise);
    EXPECT_NE(c.noise(500), noise);
    EXPECT_GT(std::set<uint8_t>(noise.begin(), noise.end()).size(), 100u) << "random bytes, not a pattern";
}

TEST(FaultInjector, RandomFaultsComeWhenDueAndIncludeEveryKind)
{
    emulator::FaultInjector faults(5);
    Bytes burst;
    std::string what;
    EXPECT_FALSE(faults.random_fault_due(1e6, burst, what)) << "none unless asked for";

    faults.set_random_faults(2.0, 0);
    std::set<std::string> kinds;
    double now = 0;
    for (int i = 0; i < 200; ++i) {
        const double due = faults.next_random_fault();
        ASSERT_GT(due, now);
        EXPECT_FALSE(faults.random_fault_due(now, burst, what));
        now = due;
        ASSERT_TRUE(faults.random_fault_due(now, burst, what));
        if (what.find("silence") != std::string::npos) {
            EXPECT_TRUE(burst.empty());
            EXPECT_TRUE(faults.silent(now));
            kinds.insert("silence");
        } else {
            EXPECT_FALSE(burst.empty());
            EXPECT_TRUE(frames_in(burst).empty()) << what << ": nothing a receiver may take";
            kinds.insert(what.substr(what.find(' ') + 1));
        }
    }
    EXPECT_EQ(kinds.size(), 4u) << "noise, bad checksums, cut frames and silence";
}

TEST(FaultInjector, SilenceLastsUntilItsEnd)
{
    emulator::FaultInjector faults(1);
    EXPECT_FALSE(faults.silent(0));
    faults.silence_until(5);
    EXPECT_TRUE(faults.silent(4.9));
    EXPECT_FALSE(faults.silent(5));
}
