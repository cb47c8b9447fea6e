// The packet splitter: received text in, packets and discards out; and the
// splitter on a real port through its link.
#include "tarnby/cport/extras/com_data_packet.h"
#include "extras_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

using namespace tarnby;

namespace {

struct Framing {
    std::string start, stop;
    int32_t size = 0;
    bool include = false;
    bool case_insensitive = false;
    int32_t max = 1024;
};

// "+packet" and "-discarded" in the order they came, joined by "|".
class Recorder {
public:
    explicit Recorder(TComDataPacket& packet)
    {
        packet.OnPacket = [this](TObject*, const std::string& s) { Add("+" + s); };
        packet.OnDiscard = [this](TObject*, const std::string& s) { Add("-" + s); };
    }
    std::string events;

private:
    void Add(const std::string& e) { events += (events.empty() ? "" : "|") + e; }
};

void Apply(TComDataPacket& packet, const Framing& f)
{
    packet.SetStartString(f.start);
    packet.SetStopString(f.stop);
    packet.SetSize(f.size);
    packet.SetIncludeStrings(f.include);
    packet.SetCaseInsensitive(f.case_insensitive);
    packet.SetMaxBufferSize(f.max);
}

std::string Split(const Framing& f, const std::vector<std::string>& chunks)
{
    TComDataPacket packet(nullptr);
    Apply(packet, f);
    Recorder r(packet);
    for (const std::string& chunk : chunks)
        packet.AddData(chunk);
    return r.events;
}

TEST(DataPacket, FramingRules)
{
    struct Case {
        const char* what;
        Framing framing;
        std::vector<std::string> chunks;
        std::string events;
    };
    const Case cases[] = {
        {"start and stop strings cut", {"$", "*"}, {"xx$ab*$cd"}, "-xx|+ab"},
        {"the started packet stays buffered", {"$", "*"}, {"xx$ab*$cd", "e*"}, "-xx|+ab|+cde"},
        {"start and stop strings kept", {"$", "*", 0, true}, {"xx$ab*$cd"}, "-xx|+$ab*"},
        {"CR LF lines", {"", "\r\n"}, {"one\r\ntwo\r", "\nthree\r\n"}, "+one|+two|+three"},
        {"fixed size", {"", "", 4}, {"abcdefghij"}, "+abcd|+efgh"},
        {"fixed size, rest waits", {"", "", 4}, {"abcdefghij", "kl"}, "+abcd|+efgh|+ijkl"},
        {"no valid stop: chunks as they came", {"$", ""}, {"xx$a", "b*"}, "+xx$a|+b*"},
        {"case-insensitive start", {"START", "END", 0, false, true}, {"..start data end"}, "-..|+ data "},
        {"case-sensitive start misses", {"START", "END"}, {"..start data end"}, ""},
        {"stop only after the start string", {"#", "#"}, {"#ab#cd#"}, "+ab|-cd"},
        {"size counts the start string", {"$", "", 4, true}, {"z$abcdef"}, "-z|+$abc"},
        {"stop cut only at the end", {"", "*", 3}, {"a*bc*"}, "+a*b|+c"},
        {"overflow discards the unfinished packet", {"$", "*", 0, false, false, 8}, {"$1234", "567"}, "-$1234567"},
        {"no limit", {"$", "*", 0, false, false, 0}, {"$" + std::string(5000, 'a'), "*"}, "+" + std::string(5000, 'a')},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Split(c.framing, c.chunks), c.events) << c.what;
}

TEST(DataPacket, FramingChangesDiscardWhatIsBuffered)
{
    using Setter = std::function<void(TComDataPacket&)>;
    const std::pair<const char*, Setter> changes[] = {
        {"StopString", [](TComDataPacket& p) { p.SetStopString("#"); }},
        {"StartString", [](TComDataPacket& p) { p.SetStartString("!"); }},
        {"Size", [](TComDataPacket& p) { p.SetSize(9); }},
        {"CaseInsensitive", [](TComDataPacket& p) { p.SetCaseInsensitive(true); }},
    };
    for (const auto& [what, change] : changes) {
        TComDataPacket packet(nullptr);
        Apply(packet, {"$", "*"});
        Recorder r(packet);
        packet.AddData("x$ab");
        change(packet);
        packet.AddData("cd*");
        EXPECT_EQ(r.events, "-x|-$ab") << what;
    }
    // The same value again changes nothing.
    TComDataPacket packet(nullptr);
    Apply(packet, {"$", "*"});
    Recorder r(packet);
    packet.AddData("$ab");
    packet.SetStopString("*");
    packet.SetIncludeStrings(true); // a plain field: nothing discarded
    packet.AddData("c*");
    EXPECT_EQ(r.events, "+$abc*");
}

TEST(DataPacket, CustomStartAndStop)
{
    TComDataPacket packet(nullptr);
    Recorder r(packet);
    // Packets start at a digit and are that digit's number of characters long.
    packet.OnCustomStart = [](TObject*, const std::string& s, int32_t& pos) {
        size_t at = s.find_first_of("123456789");
        pos = at == std::string::npos ? 0 : static_cast<int32_t>(at + 1);
    };
    packet.OnCustomStop = [](TObject*, const std::string& s, int32_t& pos) {
        int32_t want = s[0] - '0' + 1;
        pos = static_cast<int32_t>(s.size()) >= want ? want : 0;
    };
    packet.AddData("..3ab");
    packet.AddData("c2xy1z");
    EXPECT_EQ(r.events, "-..|+3abc|+2xy|+1z");

    // A stop handler that always answers 1 cannot spin on an empty buffer.
    TComDataPacket greedy(nullptr);
    Recorder g(greedy);
    greedy.OnCustomStop = [](TObject*, const std::string&, int32_t& pos) { pos = 1; };
    greedy.AddData("ab");
    EXPECT_EQ(g.events, "+a|+b");
}

TEST(DataPacket, ManySmallPacketsInOneChunkDoNotNestCalls)
{
    TComDataPacket packet(nullptr);
    packet.SetSize(1);
    packet.SetMaxBufferSize(0);
    size_t packets = 0;
    packet.OnPacket = [&packets](TObject*, const std::string&) { ++packets; };
    packet.AddData(std::string(1 << 20, 'p'));
    EXPECT_EQ(packets, size_t{1} << 20);
}

TEST(DataPacket, AHandlerExceptionStillBoundsTheBuffer)
{
    TComDataPacket packet(nullptr);
    Apply(packet, {"$", "*", 0, false, false, 6});
    Recorder r(packet);
    packet.OnPacket = [](TObject*, const std::string&) { throw std::runtime_error("handler"); };
    EXPECT_THROW(packet.AddData("$a*$bcdefg"), std::runtime_error);
    EXPECT_EQ(r.events, "-$bcdefg");
}

// Any cut of the stream gives the same packets and discards as the whole.
TEST(DataPacket, RandomChunkingGivesTheSameResult)
{
    std::mt19937 random(7);
    const Framing framings[] = {
        {"$", "*"}, {"$", "*", 0, true}, {"", "\r\n"}, {"", "", 5}, {"AB", "CD", 0, false, true},
        {"<<", ">>", 0, true, true}, {"$", "", 4}, {"", "*$"},
    };
    const char alphabet[] = "$*\r\nabcdABCD<>x";
    for (const Framing& base : framings) {
        Framing f = base;
        f.max = 0; // a limit makes the discards depend on where chunks end
        for (int round = 0; round < 200; ++round) {
            std::string stream;
            size_t length = random() % 200;
            for (size_t i = 0; i < length; ++i)
                stream += alphabet[random() % (sizeof alphabet - 1)];
            std::vector<std::string> chunks;
            for (size_t at = 0; at < stream.size();) {
                size_t n = 1 + random() % 12;
                chunks.push_back(stream.substr(at, n));
                at += n;
            }
            ASSERT_EQ(Split(f, chunks), Split(f, {stream})) << testing::PrintToString(stream);
        }
    }
}

TEST(DataPacket, FollowsAPortThroughItsLink)
{
    FarEnd far;
    auto port = std::make_unique<TComPort>(nullptr);
    port->SetPort(far.Path());
    TComDataPacket packet(nullptr);
    Apply(packet, {"", "\n"});
    std::vector<std::string> packets;
    packet.OnPacket = [&packets](TObject*, const std::string& s) { packets.push_back(s); };
    int rx_char_calls = 0;
    port->OnRxChar = [&rx_char_calls](TObject*, int32_t) { ++rx_char_calls; };
    packet.SetComPort(port.get());
    port->Open();
    far.Send("alpha\nbe");
    far.Send("ta\ngamma\n");
    ASSERT_TRUE(PumpUntil([&] { return packets.size() == 3; }));
    EXPECT_EQ(packets, (std::vector<std::string>{"alpha", "beta", "gamma"}));
    EXPECT_EQ(rx_char_calls, 0); // the port reads for the splitter

    // Destroying the port lets the splitter go; the splitter outlives it.
    port.reset();
    EXPECT_EQ(packet.ComPort(), nullptr);
    packet.AddData("after\n");
    EXPECT_EQ(packets.back(), "after");

    // A splitter destroyed first unregisters itself from the port.
    TComPort other(nullptr);
    {
        TComDataPacket short_lived(nullptr);
        short_lived.SetComPort(&other);
        EXPECT_TRUE(other.HasLink());
    }
    EXPECT_FALSE(other.HasLink());
}

} // namespace
