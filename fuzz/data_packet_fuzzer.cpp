// The packet splitter under arbitrary received text, cut at arbitrary places.
//
// Input, a header and then the stream:
//   byte 0   flags: bit 0 IncludeStrings, bit 1 CaseInsensitive, bit 2 a
//            custom start, bit 3 a custom stop, bit 4 MaxBufferSize from
//            byte 2 (else no limit), bit 5 wild handlers (below)
//   byte 1   Size, signed
//   byte 2   MaxBufferSize, signed, when bit 4 is set
//   byte 3   bits 0-2 the start string's length, bits 3-5 the stop string's
//   byte 4   the custom start's character, byte 5 the custom stop's
//   then     the start string, the stop string, a count of cuts (at most 64)
//            and that many chunk lengths; the rest is the stream, cut into
//            chunks of those lengths (0: an empty chunk) and a last chunk
//            holding what remains.
// The custom start answers the position of the first start character in the
// buffer, the custom stop that of the first stop character, 0 when there is
// none. Wild handlers instead answer -1, 0 or positions past the buffer, and
// now and then throw, from the stream's own bytes.
//
// Checks:
//  - Every byte is accounted for: with IncludeStrings, the packets and
//    discards in order, and then the buffer, are the stream fed so far (the
//    custom handlers see exactly that buffer); after a final EmptyBuffer
//    they are the whole stream. Without IncludeStrings each packet is the same
//    packet less its start string in front and its stop string behind.
//  - MaxBufferSize bounds what stays buffered after each chunk.
//  - Without a valid stop every chunk is a packet as it came.
//  - Any cut of the stream gives the same packets and discards as the whole
//    stream at once. Not compared where the framing itself depends on the
//    chunks: a Size together with a stop string (the size ends a packet once
//    that many characters are buffered, before a stop string inside them is
//    looked for), a buffer limit reached, and wild handlers.
#include "cport/extras/com_data_packet.h"
#include "fuzz_support.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace tarnby;

namespace {

struct Handled {}; // what a wild handler throws

struct Input {
    bool include = false;
    bool case_insensitive = false;
    bool custom_start = false;
    bool custom_stop = false;
    bool wild = false;
    int32_t size = 0;
    int32_t max = 0;
    char start_char = 0;
    char stop_char = 0;
    std::string start;
    std::string stop;
    std::vector<std::string> chunks;
    std::string stream;
};

bool parse(const uint8_t* data, size_t size, Input& in)
{
    size_t at = 6;
    if (size < at)
        return false;
    const uint8_t flags = data[0];
    in.include = flags & 1;
    in.case_insensitive = flags & 2;
    in.custom_start = flags & 4;
    in.custom_stop = flags & 8;
    in.wild = flags & 32;
    in.size = static_cast<int8_t>(data[1]);
    in.max = flags & 16 ? static_cast<int8_t>(data[2]) : 0;
    const size_t start_length = data[3] & 7;
    const size_t stop_length = (data[3] >> 3) & 7;
    in.start_char = static_cast<char>(data[4]);
    in.stop_char = static_cast<char>(data[5]);
    if (size < at + start_length + stop_length + 1)
        return false;
    in.start.assign(reinterpret_cast<const char*>(data + at), start_length);
    at += start_length;
    in.stop.assign(reinterpret_cast<const char*>(data + at), stop_length);
    at += stop_length;
    const size_t cuts = std::min<size_t>(data[at++], 64);
    if (size < at + cuts)
        return false;
    const std::vector<uint8_t> lengths(data + at, data + at + cuts);
    at += cuts;
    in.stream.assign(reinterpret_cast<const char*>(data + at), size - at);
    size_t from = 0;
    for (uint8_t length : lengths) {
        const size_t n = std::min<size_t>(length, in.stream.size() - from);
        in.chunks.push_back(in.stream.substr(from, n));
        from += n;
    }
    in.chunks.push_back(in.stream.substr(from));
    return true;
}

[[noreturn]] void fail(const char* what, const Input& in)
{
    std::fprintf(stderr,
                 "data_packet_fuzzer: %s\n  start \"%s\" stop \"%s\" size %d max %d include %d case-free %d "
                 "custom start %d stop %d wild %d\n  stream \"%s\", %zu chunks\n",
                 what, printable(in.start).c_str(), printable(in.stop).c_str(), in.size, in.max, in.include,
                 in.case_insensitive, in.custom_start, in.custom_stop, in.wild, printable(in.stream).c_str(),
                 in.chunks.size());
    std::abort();
}

struct Event {
    bool packet; // else discarded
    std::string text;
    bool operator==(const Event&) const = default;
};

// A splitter set up from the input, recording what it hands out.
class Splitter {
public:
    Splitter(const Input& in, bool include) : in_(in), packet_(nullptr)
    {
        packet_.SetStartString(in.start);
        packet_.SetStopString(in.stop);
        packet_.SetSize(in.size);
        packet_.SetIncludeStrings(include);
        packet_.SetCaseInsensitive(in.case_insensitive);
        packet_.SetMaxBufferSize(in.max);
        packet_.OnPacket = [this](TObject*, const std::string& s) { events.push_back({true, s}); };
        packet_.OnDiscard = [this](TObject*, const std::string& s) { events.push_back({false, s}); };
        if (in.custom_start)
            packet_.OnCustomStart = [this](TObject*, const std::string& s, int32_t& pos) {
                Seen(s);
                pos = Answer(s, in_.start_char);
            };
        if (in.custom_stop)
            packet_.OnCustomStop = [this](TObject*, const std::string& s, int32_t& pos) {
                Seen(s);
                pos = Answer(s, in_.stop_char);
            };
    }

    // Feeds one chunk; false when a handler threw.
    bool Add(const std::string& chunk)
    {
        fed_ += chunk;
        try {
            packet_.AddData(chunk);
        } catch (const Handled&) {
            return false;
        }
        return true;
    }
    void Flush() { packet_.EmptyBuffer(); }

    // Everything handed out, in order.
    std::string Accounted() const
    {
        std::string all;
        for (const Event& e : events)
            all += e.text;
        return all;
    }
    // What the splitter must hold now (valid while every event is whole text).
    std::string Held() const
    {
        const std::string accounted = Accounted();
        if (fed_.compare(0, accounted.size(), accounted) != 0)
            fail("packets and discards are not the stream as it came", in_);
        return fed_.substr(accounted.size());
    }
    std::vector<Event> events;
    // Whether the custom handlers check the buffer they are given against
    // the text not yet handed out (only where events are whole text), and
    // whether one was given another.
    bool check_buffer = false;
    bool handler_saw_wrong_buffer = false;

private:
    void Seen(const std::string& s)
    {
        if (check_buffer && s != Held())
            handler_saw_wrong_buffer = true;
    }
    int32_t Answer(const std::string& s, char c)
    {
        if (in_.wild) {
            // Answers taken from the stream, cycling.
            const uint8_t b = in_.stream.empty() ? 0 : static_cast<uint8_t>(in_.stream[calls_++ % in_.stream.size()]);
            switch (b & 3) {
            case 0: return -1;
            case 1: return 0;
            case 2:
                if (b == 0xFE)
                    throw Handled{};
                return static_cast<int32_t>(s.size()) + (b >> 2); // at or past the end
            default: return static_cast<int32_t>(b >> 2) - 8; // small, negative too
            }
        }
        const size_t at = s.find(c);
        return at == std::string::npos ? 0 : static_cast<int32_t>(at + 1);
    }

    const Input& in_;
    TComDataPacket packet_;
    std::string fed_;
    size_t calls_ = 0;
};

bool same_text(const std::string& a, const std::string& b, bool case_insensitive)
{
    if (a.size() != b.size())
        return false;
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    for (size_t i = 0; i < a.size(); ++i)
        if (case_insensitive ? upper(a[i]) != upper(b[i]) : a[i] != b[i])
            return false;
    return true;
}

// Whether cut is whole, less at most the start string in front and the stop
// string behind.
bool cut_from(const std::string& cut, const std::string& whole, const Input& in)
{
    for (size_t front : {size_t{0}, in.start.size()})
        for (size_t back : {size_t{0}, in.stop.size()}) {
            if (front + back + cut.size() != whole.size())
                continue;
            if (whole.compare(front, cut.size(), cut) != 0)
                continue;
            if (front > 0 && !same_text(whole.substr(0, front), in.start, in.case_insensitive))
                continue;
            if (back > 0 && !same_text(whole.substr(whole.size() - back), in.stop, in.case_insensitive))
                continue;
            return true;
        }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in;
    if (!parse(data, size, in))
        return -1;
    const bool valid_stop = in.size > 0 || !in.stop.empty() || in.custom_stop;

    // The reference: strings kept, so the events spell the stream.
    Splitter whole_text(in, true);
    whole_text.check_buffer = valid_stop;
    // The input's own framing.
    Splitter chunked(in, in.include);
    bool limit_reached = false;
    for (const std::string& chunk : in.chunks) {
        const size_t before = whole_text.events.size();
        const bool ok = whole_text.Add(chunk);
        if (chunked.Add(chunk) != ok)
            fail("a handler threw in one splitter only", in);
        if (!valid_stop) {
            if (whole_text.events.size() != before + 1 || whole_text.events.back() != Event{true, chunk})
                fail("without a valid stop a chunk is not one packet as it came", in);
            continue;
        }
        const std::string held = whole_text.Held();
        if (in.max > 0) {
            if (held.size() >= static_cast<size_t>(in.max))
                fail("more buffered than MaxBufferSize", in);
            // A limit reached empties the buffer through one last discard.
            const auto& e = whole_text.events;
            if (held.empty() && e.size() > before && !e.back().packet && e.back().text.size() >= static_cast<size_t>(in.max))
                limit_reached = true;
        }
    }
    if (whole_text.handler_saw_wrong_buffer)
        fail("a custom handler was not given the buffered text", in);
    whole_text.Flush();
    chunked.Flush();
    if (whole_text.Accounted() != in.stream)
        fail("packets and discards are not the whole stream", in);

    if (chunked.events.size() != whole_text.events.size())
        fail("IncludeStrings changes how the stream is cut", in);
    for (size_t i = 0; i < chunked.events.size(); ++i) {
        const Event& cut = chunked.events[i];
        const Event& kept = whole_text.events[i];
        if (cut.packet != kept.packet)
            fail("IncludeStrings changes how the stream is cut", in);
        if (!cut.packet || in.include || !valid_stop) {
            if (cut.text != kept.text)
                fail("IncludeStrings changes a discard, or a packet it should keep whole", in);
        } else if (!cut_from(cut.text, kept.text, in)) {
            fail("a packet is cut by more than its start and stop strings", in);
        }
    }

    const bool size_and_stop = !in.custom_stop && in.size > 0 && !in.stop.empty();
    const bool depends_on_chunks = !valid_stop || in.wild || limit_reached || size_and_stop;
    if (!depends_on_chunks) {
        Splitter at_once(in, in.include);
        at_once.Add(in.stream);
        at_once.Flush();
        if (at_once.events != chunked.events)
            fail("cutting the stream changes the packets", in);
    }
    return 0;
}
