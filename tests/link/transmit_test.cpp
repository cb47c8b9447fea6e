#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fake_host.h"
#include "firmware/firmware_loop.h"
#include "firmware/instrument_state.h"
#include "link_frames.h"

namespace {

// Listens on the fake port as a sensor unit would and hands every complete
// frame it hears to `heard`, which may schedule a reply.
class ListeningUnit {
public:
    explicit ListeningUnit(FakeHost& host) : host_(host)
    {
        host_.on_write = [this](uint8_t b) { take(b); };
    }
    ~ListeningUnit() { host_.on_write = nullptr; }

    std::vector<std::vector<uint8_t>> frames;
    std::function<void(size_t count)> heard;

    // Schedules a frame to arrive `delay_ms` from now, inside a pump.
    void reply_after(int64_t delay_ms, std::vector<uint8_t> frame)
    {
        host_.after(delay_ms, [frame] { feed(frame); });
    }

private:
    void take(uint8_t b)
    {
        if (auto frame = line_.push(b)) {
            frames.push_back(frame->bytes);
            if (heard)
                heard(frames.size());
        }
    }

    FakeHost& host_;
    SentFrameReader line_;
};

const std::vector<uint8_t> ACK = ack_frame();

} // namespace

// ---- the byte writer -------------------------------------------------------------

TEST(SendByte, LogsEveryByteWritesOnlyWhileConnected)
{
    FakeHost host;
    send_byte(0xE5);
    send_byte(0x0A);
    send_byte(0x00);
    EXPECT_EQ(host.memo, (std::vector<std::string>{"0xE5", "0x0A", "0x00"}));
    EXPECT_TRUE(host.written.empty());
    host.connected = true;
    send_byte(0xFF);
    EXPECT_EQ(host.memo.back(), "0xFF");
    EXPECT_EQ(host.written, (std::vector<uint8_t>{0xFF}));
}

// ---- the command builder ------------------------------------------------------

TEST(SendCommand, EveryCodePutsItsFrameOnTheLine)
{
    struct Case {
        uint8_t code, a, b;
        uint8_t address;
        std::vector<uint8_t> body;
    };
    const Case cases[] = {
        {0, 9, 9, 0xE4, {0x34, 0x01}},
        {1, 9, 9, 0xE4, {0x34, 0x02}},
        {2, 9, 9, 0xE4, {0x34, 0x03}},
        {3, 9, 9, 0xE4, {0x34, 0x04}},
        {4, 9, 9, 0xE4, {0x34, 0x05}},
        {5, 0x21, 0x43, 0xE4, {0x34, 0x21, 0x43}},
        {6, 2, 9, 0xE4, {0x34, 0x0A, 0x02}},
        {7, 9, 9, 0xE4, {0x34, 0x15, 0x00}},
        {8, 9, 9, 0xE4, {0x34, 0x15, 0x01}},
        {9, 9, 9, 0xE4, {0x34, 0x15, 0x02}},
        {10, 9, 9, 0xE4, {0x34, 0x15, 0x03}},
        {11, 9, 9, 0xE4, {0x34, 0x15, 0x04}},
        {12, 0xF4, 0x01, 0xE6, {0x35, 0x09, 0xF4, 0x01}},  // 500
        {13, 0x2C, 0x01, 0xE6, {0x35, 0x10, 0x2C, 0x01}},  // 300
        {14, 9, 9, 0xE6, {0x35, 0x0C}},
        {15, 0x07, 9, 0xE6, {0x35, 0x11, 0x07}},
        {16, 9, 9, 0xE6, {0x35, 0x0C}},
        {17, 4, 9, 0xE6, {0x35, 0x06, 0x04, 0x04}},
        {18, 9, 9, 0xE4, {0x34, 0x32}},
        {19, 9, 9, 0xE4, {0x34, 0x33}},
    };
    for (const Case& c : cases) {
        FakeHost host;
        host.connected = true;
        send_command(c.code, c.a, c.b);
        const auto expected = sent_frame(c.address, c.body);
        EXPECT_EQ(host.written, expected) << "code " << int(c.code);
        EXPECT_EQ(host.memo, memo_lines(expected)) << "code " << int(c.code);
        EXPECT_EQ(host.written.size(), size_t{tx_length} + 6u);
    }
}

TEST(SendCommand, WorkedFramesByteForByte)
{
    FakeHost host;
    host.connected = true;
    send_command(18, 0, 0);
    EXPECT_EQ(host.written, (std::vector<uint8_t>{0xE5, 0x82, 0xE4, 0x02, 0x34, 0x32, 0x45, 0x83}));
    EXPECT_EQ(host.memo,
              (std::vector<std::string>{"0xE5", "0x82", "0xE4", "0x02", "0x34", "0x32", "0x45", "0x83"}));

    host.written.clear();
    send_command(12, 70, 0);  // bump factor LOWEST
    EXPECT_EQ(host.written, (std::vector<uint8_t>{0xE5, 0x82, 0xE6, 0x04, 0x35, 0x09, 0x46, 0x00, 0x3D, 0x83}));
}

TEST(SendCommand, UnknownCodeSendsNothing)
{
    FakeHost host;
    host.connected = true;
    send_command(20, 1, 2);
    send_command(255, 1, 2);
    EXPECT_TRUE(host.memo.empty());
    EXPECT_TRUE(host.written.empty());
}

TEST(SendCommand, LogsTheSameFrameWithThePortClosed)
{
    FakeHost host;
    send_command(17, 0, 0);
    EXPECT_TRUE(host.written.empty());
    EXPECT_EQ(host.memo, memo_lines(sent_frame(0xE6, {0x35, 0x06, 0x00, 0x00})));
}

// ---- the frame sender's wait for an idle parser ---------------------------------

TEST(SendFrame, WaitsForAHalfReceivedFrameToFinish)
{
    FakeHost host;
    host.connected = true;
    feed({0x82, 0xE5, 0x02, 0x0A});
    ASSERT_NE(rx_state, 0);
    const auto start = host.now_ms();
    host.after(40, [] { feed({0x00, 0x48, 0x83}); });
    send_command(14, 0, 0);
    EXPECT_EQ(ack_received, 1) << "the frame was finished and handled first";
    EXPECT_GE(host.now_ms() - start, 40);
    EXPECT_LT(host.now_ms() - start, 100);
    EXPECT_EQ(host.written, sent_frame(0xE6, {0x35, 0x0C}));
}

// After three ticks the frame goes out; the half frame stays with the parser,
// which takes its tail if it comes, or drops it at the next start byte.
TEST(SendFrame, SendsAfterThreeTicksAndLeavesTheHalfFrameToTheParser)
{
    const std::vector<uint8_t> ack = make_frame(0xE5, 0x0A, {0x00});
    for (size_t cut : {4u, 6u}) {
        for (bool tail_comes : {true, false}) {
            FakeHost host;
            host.connected = true;
            feed(std::vector<uint8_t>(ack.begin(), ack.begin() + cut));
            const auto start = host.now_ms();
            send_command(14, 0, 0);
            EXPECT_EQ(host.written, sent_frame(0xE6, {0x35, 0x0C}));
            EXPECT_GE(host.now_ms() - start, 200);
            EXPECT_LE(host.now_ms() - start, 400);
            EXPECT_NE(rx_state, 0) << "cut at " << cut;
            if (tail_comes)
                feed(std::vector<uint8_t>(ack.begin() + cut, ack.end()));
            else
                feed(make_frame(0xE5, 0x0B, {0x00, 0x00}));
            EXPECT_EQ(ack_received, tail_comes ? 1 : 0) << "cut at " << cut;
            EXPECT_EQ(rx_state, 0) << "cut at " << cut;
            feed(ack);
            EXPECT_EQ(ack_received, 1) << "cut at " << cut << ": in step again";
        }
    }
}

TEST(SendFrame, DoesNotWaitWithThePortClosed)
{
    FakeHost host;
    feed({0x82, 0xE5, 0x05, 0x0A});
    send_command(14, 0, 0);
    EXPECT_EQ(host.pumps, 0);
    EXPECT_EQ(rx_state, 0);
    EXPECT_EQ(host.memo.size(), 8u);
}

TEST(SendFrame, SendsTheFrameAskedForEvenIfTheWaitRanOtherSends)
{
    FakeHost host;
    host.connected = true;
    feed({0x82, 0xE5, 0x02, 0x0A});
    host.after(20, [] {
        feed({0x00, 0x48, 0x83});
        send_command(18, 0, 0);
    });
    send_command(7, 0, 0);
    auto expected = sent_frame(0xE4, {0x34, 0x32});
    const auto own = sent_frame(0xE4, {0x34, 0x15, 0x00});
    expected.insert(expected.end(), own.begin(), own.end());
    EXPECT_EQ(host.written, expected);
}

// ---- the acknowledged exchange ------------------------------------------------------

TEST(Exchange, NoAnswerSendsTenCopiesThenFails)
{
    FakeHost host;
    ack_received = 1;  // left over from an earlier exchange
    const auto start = host.now_ms();
    EXPECT_FALSE(send_until_answered(12, 70, 0, ack_received, 10, 20));
    EXPECT_EQ(ack_received, 0);
    EXPECT_EQ(ticks, 20);
    EXPECT_GE(host.now_ms() - start, 1900);
    EXPECT_LE(host.now_ms() - start, 2100);
    std::vector<std::string> ten;
    const auto frame = memo_lines(sent_frame(0xE6, {0x35, 0x09, 0x46, 0x00}));
    for (int i = 0; i < 10; ++i)
        ten.insert(ten.end(), frame.begin(), frame.end());
    EXPECT_EQ(host.memo, ten);
}

TEST(Exchange, CopiesGoOutOncePerTickDuringTheWindow)
{
    FakeHost host;
    host.connected = true;
    ListeningUnit unit(host);
    std::vector<int64_t> heard_at;
    unit.heard = [&](size_t) { heard_at.push_back(host.now_ms()); };
    EXPECT_FALSE(send_until_answered(3, 0, 0, compass_data_received, 10, 20));
    ASSERT_EQ(heard_at.size(), 10u);
    for (size_t i = 1; i < heard_at.size(); ++i) {
        EXPECT_GE(heard_at[i] - heard_at[i - 1], 84) << i;
        EXPECT_LE(heard_at[i] - heard_at[i - 1], 116) << i;
    }
}

TEST(Exchange, AcknowledgedAtOnceSendsOneCopy)
{
    FakeHost host;
    host.connected = true;
    ListeningUnit unit(host);
    unit.heard = [&](size_t) { unit.reply_after(5, ACK); };
    EXPECT_TRUE(send_until_answered(12, 70, 0, ack_received, 10, 20));
    EXPECT_EQ(unit.frames.size(), 1u);
    EXPECT_EQ(host.memo.size(), 10u);
    EXPECT_LT(ticks, 1);
}

TEST(Exchange, AnswerToTheThirdCopyStopsTheCopies)
{
    FakeHost host;
    host.connected = true;
    ListeningUnit unit(host);
    unit.heard = [&](size_t count) {
        if (count == 3)
            unit.reply_after(20, ACK);
    };
    EXPECT_TRUE(send_until_answered(7, 0, 0, ack_received, 10, 20));
    EXPECT_EQ(unit.frames.size(), 3u);
    host.idle_for(1000);
    EXPECT_EQ(unit.frames.size(), 3u);
}

TEST(Exchange, LateAnswerWithinTheTimeOutCounts)
{
    FakeHost host;
    host.connected = true;
    ListeningUnit unit(host);
    unit.heard = [&](size_t count) {
        if (count == 10)
            unit.reply_after(700, ACK);
    };
    EXPECT_TRUE(send_until_answered(13, 50, 0, ack_received, 10, 20));
    EXPECT_EQ(unit.frames.size(), 10u);
    EXPECT_GE(ticks, 16);
    EXPECT_LT(ticks, 20);
}

TEST(Exchange, AnswerIsTheFlagItWasGiven)
{
    FakeHost host;
    host.connected = true;
    ListeningUnit unit(host);
    unit.heard = [&](size_t) {
        unit.reply_after(10, ACK);  // not what this exchange waits for
        std::vector<uint8_t> data(12, 0x01);
        unit.reply_after(150, make_frame(0xE5, 51, data));
    };
    EXPECT_TRUE(send_until_answered(1, 0, 0, compass_data_received, 10, 20));
    EXPECT_EQ(unit.frames.size(), 2u) << "the acknowledgement did not end the wait";
}

TEST(Exchange, LampCommandGivesUpAfterTenTicks)
{
    FakeHost host;
    EXPECT_FALSE(send_until_answered(16, 0, 0, ack_received, 10, 10));
    EXPECT_EQ(host.memo.size(), 10u * 8u);
    EXPECT_EQ(ticks, 10);
}

TEST(Exchange, OffEndsTheWait)
{
    FakeHost host;
    host.after(250, [] { firmware_stop(); });
    EXPECT_FALSE(send_until_answered(12, 70, 0, ack_received, 10, 20));
    EXPECT_LE(host.now_ms(), 300);
    EXPECT_EQ(host.memo.size(), 3u * 10u);
}
