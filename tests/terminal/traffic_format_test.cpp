// The hex view's lines, the times in front of lines, and typed hex.
#include "traffic_format.h"

#include <gtest/gtest.h>

using namespace traffic;

namespace {

std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s += static_cast<char>(v);
    return s;
}

TEST(TrafficFormat, HexLinesFollowFramesDirectionsAndWidth)
{
    struct Chunk {
        Direction direction;
        std::string bytes;
    };
    struct Case {
        const char* name;
        std::vector<Chunk> chunks;
        std::vector<std::string> lines; // finished ones, then the one filling
    };
    const std::string frame = Bytes({0x82, 0xE5, 0x03, 0x37, 0x01, 0x02, 0x00, 0x83});
    const std::string sent = Bytes({0xE5, 0x82, 0xE6, 0x01, 0x20, 0x62, 0x83});
    const Case cases[] = {
        {"frames, each a line, split across reads",
         {{Direction::Received, frame.substr(0, 3)}, {Direction::Received, frame.substr(3) + frame}},
         {"RX 00000000  82 E5 03 37 01 02 00 83                          |...7....|",
          "RX 00000008  82 E5 03 37 01 02 00 83                          |...7....|", ""}},
        {"noise before a frame, then a sent frame with its attention byte",
         {{Direction::Received, "ok" + frame.substr(0, 4)}, {Direction::Sent, sent}},
         {"RX 00000000  6F 6B                                            |ok|",
          "RX 00000002  82 E5 03 37                                      |...7|",
          "TX 00000000  E5 82 E6 01 20 62 83                             |.... b.|", ""}},
        {"plain text, 16 a line",
         {{Direction::Received, "0123456789abcdefXY"}},
         {"RX 00000000  30 31 32 33 34 35 36 37 38 39 61 62 63 64 65 66  |0123456789abcdef|",
          "RX 00000010  58 59                                            |XY|"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HexDump dump;
        for (const Chunk& chunk : c.chunks)
            dump.Add(chunk.direction, reinterpret_cast<const uint8_t*>(chunk.bytes.data()), chunk.bytes.size());
        std::vector<std::string> lines = dump.TakeLines();
        lines.push_back(dump.Partial());
        EXPECT_EQ(lines, c.lines);
    }
}

TEST(TrafficFormat, AFrameLongerThanALineStaysOneLine)
{
    HexDump dump;
    std::string frame = Bytes({0x82, 0xE5, 20, 0x37});
    frame += std::string(19, 'a') + Bytes({0x00, 0x83});
    dump.Add(Direction::Received, reinterpret_cast<const uint8_t*>(frame.data()), frame.size(), "[t] ");
    const auto lines = dump.TakeLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].starts_with("[t] RX 00000000  82 E5 14 37 61")) << lines[0];
    EXPECT_TRUE(lines[0].ends_with(" 00 83  |...7aaaaaaaaaaaaaaaaaaa..|")) << lines[0];
}

TEST(TrafficFormat, StampsGoBeforeEveryLine)
{
    LineStamper stamper;
    EXPECT_EQ(stamper.Apply("one\r\ntw", "[a] "), "[a] one\r\n[a] tw");
    EXPECT_EQ(stamper.Apply("o\n\n", "[b] "), "o\n[b] \n"); // a line goes on; an empty one gets one too
    EXPECT_EQ(stamper.Apply("x", ""), "x");
    Clock clock;
    EXPECT_EQ(clock.Stamp(), "");
    clock.SetMode(TimeMode::WallClock);
    EXPECT_EQ(clock.Stamp().size(), std::string("[12:34:56.789] ").size());
    clock.SetMode(TimeMode::SinceConnect);
    clock.Connected();
    EXPECT_TRUE(clock.Stamp().starts_with("[+0.0")) << clock.Stamp();
}

TEST(TrafficFormat, TypedHex)
{
    struct Case {
        const char* text;
        std::optional<std::string> bytes;
    };
    const Case cases[] = {
        {"02 41 0D", Bytes({0x02, 0x41, 0x0D})},
        {"02410d", Bytes({0x02, 0x41, 0x0D})},
        {"0x02,0xff  7", Bytes({0x02, 0xFF, 0x07})},
        {"", std::string()},
        {"0G", std::nullopt},
        {"123", std::nullopt},
        {"hello", std::nullopt},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(ParseHexBytes(c.text, error), c.bytes) << c.text;
        EXPECT_EQ(error.empty(), c.bytes.has_value()) << c.text;
    }
}

} // namespace
