// The sensor link's frames for every test suite: built as the sensor unit
// puts them on the line (and fed to the parser), and read back as the
// instrument sends them (from the port, or from the communication log).
// Plain C++ without the test framework, so tools can build frames with it too.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "firmware/link/link.h"

inline uint8_t lo(uint16_t w) { return static_cast<uint8_t>(w & 0xFF); }
inline uint8_t hi(uint16_t w) { return static_cast<uint8_t>(w >> 8); }

// ---- frames to the instrument -------------------------------------------------

// Start byte, address, length, command, data, checksum seeded with 0xA5, end
// byte.
inline std::vector<uint8_t> make_frame(uint8_t address, uint8_t command, std::vector<uint8_t> data)
{
    const auto length = static_cast<uint8_t>(data.size() + 1);
    std::vector<uint8_t> f{LINK_START, address, length, command};
    uint8_t checksum = LINK_CHECKSUM_SEED ^ address ^ length ^ command;
    for (uint8_t d : data) {
        f.push_back(d);
        checksum ^= d;
    }
    f.push_back(checksum);
    f.push_back(LINK_END);
    return f;
}

inline void feed(const std::vector<uint8_t>& bytes)
{
    link_receive(bytes.data(), bytes.size());
}

inline void feed(std::initializer_list<uint8_t> bytes)
{
    feed(std::vector<uint8_t>(bytes));
}

inline std::vector<uint8_t> ack_frame()
{
    return make_frame(LINK_INSTRUMENT, FRAME_ACK, {0x00});
}

inline std::vector<uint8_t> compass_heading_frame(uint16_t h, uint8_t tilt = 1)
{
    return make_frame(LINK_INSTRUMENT, FRAME_COMPASS_HEADING, {lo(h), hi(h), tilt});
}

// Six words (the horizontal values) or nine (with the Z axis), each low byte
// first.
template <typename Words>
std::vector<uint8_t> compass_data_frame(const Words& words)
{
    std::vector<uint8_t> data;
    for (uint16_t w : words) {
        data.push_back(lo(w));
        data.push_back(hi(w));
    }
    return make_frame(LINK_INSTRUMENT, FRAME_COMPASS_DATA, data);
}

// A long attitude frame: form, bank, pitch, slip, G, status, heading and,
// with a turn rate, the 18-byte form.
struct Attitude {
    uint8_t form = 0;
    uint16_t bank = 0;
    uint16_t pitch = 0;
    uint8_t slip = 0;
    uint16_t gforce = 256;
    uint8_t status = 0;
    uint16_t heading = 0;
    bool with_turn_rate = true;
    uint16_t turn_rate = 0;
};

inline std::vector<uint8_t> attitude_frame(const Attitude& a, uint8_t address = LINK_INSTRUMENT)
{
    std::vector<uint8_t> d{a.form, lo(a.bank), hi(a.bank), lo(a.pitch), hi(a.pitch), 0, 0, a.slip,
                           lo(a.gforce), hi(a.gforce), a.status, lo(a.heading), hi(a.heading), 0, 0};
    if (a.with_turn_rate) {
        d.push_back(lo(a.turn_rate));
        d.push_back(hi(a.turn_rate));
    }
    return make_frame(address, FRAME_ATTITUDE, d);
}

// ---- frames from the instrument ---------------------------------------------------

// A frame as the instrument puts it on the line: the attention byte, then the
// frame of `body` (command byte and data).
inline std::vector<uint8_t> sent_frame(uint8_t address, std::vector<uint8_t> body)
{
    const uint8_t command = body.front();
    auto f = make_frame(address, command, std::vector<uint8_t>(body.begin() + 1, body.end()));
    f.insert(f.begin(), LINK_ATTENTION);
    return f;
}

struct SentFrame {
    uint8_t address = 0;
    std::vector<uint8_t> body;   // command byte and data
    std::vector<uint8_t> bytes;  // all of it, attention byte first
    // Start and end byte where they belong, and the checksum right.
    bool well_formed() const
    {
        if (bytes.size() < 7 || bytes[1] != LINK_START || bytes.back() != LINK_END)
            return false;
        uint8_t checksum = LINK_CHECKSUM_SEED;
        for (size_t i = 2; i + 2 < bytes.size(); ++i)
            checksum ^= bytes[i];
        return checksum == bytes[bytes.size() - 2];
    }
};

// Reads the instrument's frames one byte at a time, as a sensor unit does:
// from an attention byte, as many bytes as the length byte says. Bytes
// outside a frame are counted and skipped.
class SentFrameReader {
public:
    std::optional<SentFrame> push(uint8_t byte)
    {
        if (pending_.empty() && byte != LINK_ATTENTION) {
            ++skipped_;
            return std::nullopt;
        }
        pending_.push_back(byte);
        if (pending_.size() < 4 || pending_.size() < size_t{pending_[3]} + 6)
            return std::nullopt;
        SentFrame frame;
        frame.address = pending_[2];
        frame.body.assign(pending_.begin() + 4, pending_.begin() + 4 + pending_[3]);
        frame.bytes.swap(pending_);
        pending_.clear();
        return frame;
    }
    // A frame is begun but not complete.
    bool mid_frame() const { return !pending_.empty(); }
    size_t skipped() const { return skipped_; }

private:
    std::vector<uint8_t> pending_;
    size_t skipped_ = 0;
};

// The communication log's lines for bytes sent: "0x" and two upper-case
// hexadecimal digits each.
inline std::vector<std::string> memo_lines(const std::vector<uint8_t>& bytes)
{
    std::vector<std::string> lines;
    for (uint8_t b : bytes) {
        char line[8];
        std::snprintf(line, sizeof line, "0x%02X", b);
        lines.emplace_back(line);
    }
    return lines;
}
