#include "traffic_format.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <utility>

namespace traffic {

namespace {

constexpr size_t kPerLine = 16;
constexpr size_t kFrameLine = 64;
constexpr uint8_t kFrameStart = 0x82, kAttention = 0xE5;

// What a stream expects next: a frame's start (or anything else) between
// frames, the start after an attention byte, then address, length, command
// and data (frame_left bytes), checksum and end byte.
enum FrameState { kBetween, kClaimed, kAddress, kLength, kBody, kChecksum, kEnd };

} // namespace

HexDump::Breaks HexDump::Step(Stream& s, uint8_t byte)
{
    Breaks breaks;
    switch (s.frame_state) {
    case kBetween:
        if (byte == kAttention || byte == kFrameStart) {
            s.frame_state = byte == kAttention ? kClaimed : kAddress;
            breaks.before = true;
        }
        break;
    case kClaimed: s.frame_state = byte == kFrameStart ? kAddress : kBetween; break;
    case kAddress: s.frame_state = kLength; break;
    case kLength:
        s.frame_left = byte;
        s.frame_state = byte == 0 ? kBetween : kBody; // a length of 0 is no frame
        break;
    case kBody:
        if (--s.frame_left == 0)
            s.frame_state = kChecksum;
        break;
    case kChecksum: s.frame_state = kEnd; break;
    case kEnd:
        s.frame_state = kBetween;
        breaks.after = true;
        break;
    }
    breaks.in_frame = s.frame_state != kBetween || breaks.after;
    return breaks;
}

void HexDump::Add(Direction direction, const uint8_t* data, size_t n, const std::string& stamp)
{
    Stream& s = streams_[direction == Direction::Sent ? 1 : 0];
    for (size_t i = 0; i < n; ++i) {
        const Breaks breaks = Step(s, data[i]);
        // A frame stays on one line up to a length no frame of the link has.
        const size_t width = breaks.in_frame ? kFrameLine : kPerLine;
        if (!line_.empty() && (breaks.before || direction != direction_ || line_.size() >= width))
            EndLine();
        if (line_.empty()) {
            direction_ = direction;
            line_offset_ = s.offset;
            line_stamp_ = stamp;
        }
        line_.push_back(data[i]);
        ++s.offset;
        if (breaks.after)
            EndLine();
    }
}

std::string HexDump::Partial() const
{
    if (line_.empty())
        return {};
    char head[32];
    std::snprintf(head, sizeof head, "%s %08llX ", direction_ == Direction::Sent ? "TX" : "RX",
                  static_cast<unsigned long long>(line_offset_));
    std::string text = line_stamp_ + head, chars;
    for (size_t i = 0; i < std::max(kPerLine, line_.size()); ++i) {
        if (i < line_.size()) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02X", line_[i]);
            text += hex;
            chars += std::isprint(line_[i]) ? static_cast<char>(line_[i]) : '.';
        } else {
            text += "   ";
        }
    }
    return text + "  |" + chars + "|";
}

void HexDump::EndLine()
{
    finished_.push_back(Partial());
    line_.clear();
}

std::vector<std::string> HexDump::TakeLines() { return std::exchange(finished_, {}); }

void HexDump::Reset() { *this = HexDump(); }

std::string Clock::Stamp() const
{
    char text[48];
    if (mode_ == TimeMode::Off)
        return {};
    if (mode_ == TimeMode::SinceConnect) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                              connected_)
                            .count();
        std::snprintf(text, sizeof text, "[+%lld.%03lld] ", static_cast<long long>(ms / 1000),
                      static_cast<long long>(ms % 1000));
        return text;
    }
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    ::localtime_r(&seconds, &local);
    std::snprintf(text, sizeof text, "[%02d:%02d:%02d.%03lld] ", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<long long>(ms));
    return text;
}

std::string LineStamper::Apply(const std::string& text, const std::string& stamp)
{
    if (stamp.empty())
        return text;
    std::string out;
    out.reserve(text.size() + stamp.size());
    for (char c : text) {
        if (line_start_)
            out += stamp;
        out += c;
        line_start_ = c == '\n';
    }
    return out;
}

std::optional<std::string> ParseHexBytes(const std::string& text, std::string& error)
{
    std::string bytes;
    size_t i = 0;
    while (i < text.size()) {
        if (std::isspace(static_cast<unsigned char>(text[i])) || text[i] == ',') {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])) && text[end] != ',')
            ++end;
        std::string piece = text.substr(i, end - i);
        i = end;
        std::string digits = piece;
        if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
            digits = digits.substr(2);
        bool hex = !digits.empty();
        for (char c : digits)
            hex = hex && std::isxdigit(static_cast<unsigned char>(c));
        // One digit is a byte; longer runs are read two digits a byte.
        if (!hex || (digits.size() > 1 && digits.size() % 2 != 0)) {
            error = "\"" + piece + "\" is not a byte in hex (two digits each, e.g. 02 41 0D)";
            return std::nullopt;
        }
        for (size_t k = 0; k < digits.size(); k += 2)
            bytes += static_cast<char>(std::stoi(digits.substr(k, digits.size() == 1 ? 1 : 2), nullptr, 16));
    }
    return bytes;
}

} // namespace traffic
