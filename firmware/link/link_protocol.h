// The sensor link as both ends speak it: the instrument's firmware and the
// sensor unit emulator take every byte value, address, command, length and
// data position from here, so a frame is described once. Plain C++, without
// Qt and without the firmware's state, so a program outside the firmware can
// use it.
//
// Frame: 0x82, address, length L (command + data bytes), command, L-1 data
// bytes, checksum (0xA5 XOR address, length, command and data), 0x83.
// Senders put the attention byte 0xE5 ahead of each frame. Words go low byte
// first; signed values are one's complement (65535 is 0, 65534 is -1; 255 is
// 0, 254 is -1).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// ---- the frame on the line ---------------------------------------------------

enum : uint8_t {
    LINK_START = 0x82,
    LINK_END = 0x83,
    LINK_ATTENTION = 0xE5,      // ahead of every frame a sender puts on the line
    LINK_CHECKSUM_SEED = 0xA5,  // the checksum starts from it
};

// Addresses: the units of the sensor unit, the instrument itself, everyone.
enum : uint8_t {
    LINK_COMPASS_UNIT = 0xE4,
    LINK_INSTRUMENT = 0xE5,
    LINK_ATTITUDE_UNIT = 0xE6,
    LINK_BROADCAST = 0xFF,
    LINK_LOWEST_ADDRESS = 0xE0,
};

// A frame's data never exceed what its length byte can count.
constexpr size_t LINK_MAX_DATA = 254;

// ---- frames the sensor unit sends the instrument ----------------------------

enum : uint8_t {
    FRAME_ACK = 0x0A,              // 10, acknowledgement
    FRAME_COMPASS_HEADING = 0x32,  // 50, heading and tilt compensation
    FRAME_COMPASS_DATA = 0x33,     // 51, raw values and calibration limits
    FRAME_ATTITUDE = 0x37,         // 55, bank, pitch, slip, G, status, turn rate
};

// Length bytes of the frames above, by form.
enum : uint8_t {
    ACK_LENGTH = 2,
    COMPASS_HEADING_LENGTH = 4,
    COMPASS_DATA_LENGTH = 13,        // six words
    COMPASS_DATA_Z_LENGTH = 19,      // nine, with the Z axis
    ATTITUDE_SHORT_LENGTH = 7,       // bank, pitch, slip, status
    ATTITUDE_LONG_LENGTH = 16,       // long form without turn rate
    ATTITUDE_TURN_RATE_LENGTH = 18,  // long form with turn rate
};

// The long attitude frame's first data byte; the instrument decodes these.
enum : uint8_t {
    ATTITUDE_FORM_DEGREES = 0,
    ATTITUDE_FORM_DEGREES_4 = 4,
    ATTITUDE_FORM_TENTHS = 5,  // angles and heading in tenths of a degree
};

// Bits of the attitude frame's status byte that the instrument reads.
enum : uint8_t {
    STATUS_RANGE_EXCEEDED = 0x02,
    STATUS_G_NEGATIVE = 0x10,
};

// ---- frames the instrument sends the sensor unit ----------------------------

// Command bytes; the first data byte then says what to do.
enum : uint8_t {
    TO_COMPASS_UNIT = 0x34,
    TO_ATTITUDE_UNIT = 0x35,
};

// What the compass unit is told (first data byte after TO_COMPASS_UNIT).
enum : uint8_t {
    COMPASS_CLEAR_DEV_CAL = 0x01,
    COMPASS_START_DEV_CAL = 0x02,
    COMPASS_FINISH_DEV_CAL_DONE = 0x03,
    COMPASS_FINISH_DEV_CAL_KNOB = 0x04,
    COMPASS_COMMAND_5 = 0x05,
    COMPASS_TILT_COMP = 0x0A,  // then the mode, 1..3
    COMPASS_ALIGNMENT = 0x15,  // then an ALIGN_ value
    COMPASS_START_CALIBRATION = 0x32,
    COMPASS_STOP_CALIBRATION = 0x33,
};

// The compass unit's tilt compensation modes (tilt_comp), as it reports them
// and takes them. NONE_REPORTED is what the instrument holds before the unit
// has spoken; the unit itself only ever uses 2D..3D_G.
enum : uint8_t { TILT_COMP_NONE_REPORTED, TILT_COMP_2D, TILT_COMP_3D_A, TILT_COMP_3D_G, TILT_COMP_MODE_COUNT };

enum : uint8_t {
    ALIGN_NORTH = 0,
    ALIGN_SOUTH = 1,
    ALIGN_EAST = 2,
    ALIGN_WEST = 3,
    ALIGN_CLEAR = 4,
};

// What the attitude unit is told (first data byte after TO_ATTITUDE_UNIT).
enum : uint8_t {
    ATTITUDE_TB_SOURCE = 0x06,     // then the source twice
    ATTITUDE_BUMP_FACTOR = 0x09,   // then a word
    ATTITUDE_COMMAND_12 = 0x0C,    // also acknowledges the range alarm
    ATTITUDE_SLEW_FACTOR = 0x10,   // then a word
    ATTITUDE_COMMAND_17 = 0x11,    // then one byte
};

enum : uint8_t {
    TB_SOURCE_BANK = 0,
    TB_SOURCE_GYRO = 4,
};

// ---- words and signs -----------------------------------------------------------

using LinkBytes = std::vector<uint8_t>;

inline uint16_t link_word(const uint8_t* data, size_t i)
{
    return static_cast<uint16_t>(data[i] | (data[i + 1] << 8));
}

inline void put_link_word(LinkBytes& data, uint16_t w)
{
    data.push_back(static_cast<uint8_t>(w & 0xFF));
    data.push_back(static_cast<uint8_t>(w >> 8));
}

// A word or byte read as signed by the link's rule: above 32767 (127) it
// stands for w - 65535 (b - 255).
inline int32_t from_signed_word(uint16_t w)
{
    return w > 0x7FFF ? static_cast<int32_t>(w) - 65535 : w;
}

inline int32_t from_signed_byte(uint8_t b)
{
    return b > 0x7F ? static_cast<int32_t>(b) - 255 : b;
}

// The other way, clamped to what fits: -32767..32767 and -127..127.
inline uint16_t to_signed_word(int32_t v)
{
    v = std::clamp(v, -32767, 32767);
    return static_cast<uint16_t>(v < 0 ? 65535 + v : v);
}

inline uint8_t to_signed_byte(int32_t v)
{
    v = std::clamp(v, -127, 127);
    return static_cast<uint8_t>(v < 0 ? 255 + v : v);
}

// ---- data layouts of the frames the instrument takes --------------------------
//
// Each layout is read and written here and nowhere else: the firmware's
// receive handlers read it, the emulator writes it. Values are as on the line
// (raw words); what they mean is the reader's business.

struct CompassHeadingData {
    uint16_t heading = 0;  // whole degrees
    uint8_t tilt_comp = TILT_COMP_2D;
};

inline LinkBytes compass_heading_data(const CompassHeadingData& c)
{
    LinkBytes d;
    put_link_word(d, c.heading);
    d.push_back(c.tilt_comp);
    return d;
}

inline CompassHeadingData read_compass_heading_data(const uint8_t* d)
{
    return {link_word(d, 0), d[2]};
}

struct CompassData {
    uint16_t ew_max = 0, ew_min = 0, ns_max = 0, ns_min = 0, ew = 0, ns = 0;
    bool with_z = true;  // the long form
    uint16_t z_max = 0, z_min = 0, z = 0;
};

inline LinkBytes compass_data(const CompassData& c)
{
    LinkBytes d;
    for (uint16_t w : {c.ew_max, c.ew_min, c.ns_max, c.ns_min, c.ew, c.ns})
        put_link_word(d, w);
    if (c.with_z) {
        for (uint16_t w : {c.z_max, c.z_min, c.z})
            put_link_word(d, w);
    }
    return d;
}

inline CompassData read_compass_data(const uint8_t* d, bool with_z)
{
    CompassData c;
    c.ew_max = link_word(d, 0);
    c.ew_min = link_word(d, 2);
    c.ns_max = link_word(d, 4);
    c.ns_min = link_word(d, 6);
    c.ew = link_word(d, 8);
    c.ns = link_word(d, 10);
    c.with_z = with_z;
    if (with_z) {
        c.z_max = link_word(d, 12);
        c.z_min = link_word(d, 14);
        c.z = link_word(d, 16);
    }
    return c;
}

// The short attitude form carries bank, pitch, slip and status only.
struct ShortAttitudeData {
    uint16_t bank = 0, pitch = 0;
    uint8_t slip = 0;
    uint8_t status = 0;
};

inline ShortAttitudeData read_short_attitude_data(const uint8_t* d)
{
    return {link_word(d, 0), link_word(d, 2), d[4], d[5]};
}

// The long forms. Data positions 5, 6, 13 and 14 carry nothing the
// instrument reads; a writer sends them as 0.
struct AttitudeData {
    uint8_t form = ATTITUDE_FORM_DEGREES;
    uint16_t bank = 0, pitch = 0;  // signed words
    uint8_t slip = 0;              // signed byte
    uint16_t gforce = 256;         // magnitude, 1/256 G
    uint8_t status = 0;            // STATUS_ bits
    uint16_t heading = 0;
    bool with_turn_rate = true;    // the 18-byte form
    uint16_t turn_rate = 0;        // signed word, tenths of a degree per second
};

inline LinkBytes attitude_data(const AttitudeData& a)
{
    LinkBytes d{a.form};
    put_link_word(d, a.bank);
    put_link_word(d, a.pitch);
    put_link_word(d, 0);
    d.push_back(a.slip);
    put_link_word(d, a.gforce);
    d.push_back(a.status);
    put_link_word(d, a.heading);
    put_link_word(d, 0);
    if (a.with_turn_rate)
        put_link_word(d, a.turn_rate);
    return d;
}

inline AttitudeData read_attitude_data(const uint8_t* d, bool with_turn_rate)
{
    AttitudeData a;
    a.form = d[0];
    a.bank = link_word(d, 1);
    a.pitch = link_word(d, 3);
    a.slip = d[7];
    a.gforce = link_word(d, 8);
    a.status = d[10];
    a.heading = link_word(d, 11);
    a.with_turn_rate = with_turn_rate;
    if (with_turn_rate)
        a.turn_rate = link_word(d, 15);
    return a;
}

// ---- writing and reading whole frames -----------------------------------------

// A whole frame, start byte to end byte (no attention byte); data beyond
// LINK_MAX_DATA are not sent.
inline LinkBytes link_frame(uint8_t address, uint8_t command, const LinkBytes& data = {})
{
    const size_t carried = std::min(data.size(), LINK_MAX_DATA);
    const auto length = static_cast<uint8_t>(carried + 1);
    LinkBytes f{LINK_START, address, length, command};
    uint8_t checksum = LINK_CHECKSUM_SEED ^ address ^ length ^ command;
    for (size_t i = 0; i < carried; ++i) {
        f.push_back(data[i]);
        checksum ^= data[i];
    }
    f.push_back(checksum);
    f.push_back(LINK_END);
    return f;
}

struct LinkMessage {
    uint8_t address = 0;
    uint8_t command = 0;
    LinkBytes data;
};

// Reads frames out of a byte stream as the sensor unit does: anything
// between frames (the attention byte among it) is skipped; a frame with a bad
// checksum, or whose end byte is not where its length puts it, is dropped and
// reading starts afresh with the next byte. (The instrument's own parser,
// whose states the firmware keeps in its globals, waits for a late end byte
// instead.)
class LinkFrameReader {
public:
    std::optional<LinkMessage> push(uint8_t b)
    {
        switch (state_) {
        case State::idle:
            if (b == LINK_START) {
                frame_ = LinkMessage{};
                checksum_ = LINK_CHECKSUM_SEED;
                state_ = State::address;
            }
            break;
        case State::address:
            frame_.address = b;
            checksum_ ^= b;
            state_ = b >= LINK_LOWEST_ADDRESS ? State::length : State::idle;
            break;
        case State::length:
            remaining_ = b;
            checksum_ ^= b;
            state_ = b == 0 ? State::idle : State::command;
            break;
        case State::command:
            frame_.command = b;
            checksum_ ^= b;
            state_ = --remaining_ == 0 ? State::checksum : State::data;
            break;
        case State::data:
            frame_.data.push_back(b);
            checksum_ ^= b;
            state_ = --remaining_ == 0 ? State::checksum : State::data;
            break;
        case State::checksum:
            state_ = b == checksum_ ? State::end : State::idle;
            break;
        case State::end:
            state_ = State::idle;
            if (b == LINK_END)
                return frame_;
            break;
        }
        return std::nullopt;
    }

private:
    enum class State { idle, address, length, command, data, checksum, end };
    State state_ = State::idle;
    LinkMessage frame_;
    uint8_t remaining_ = 0;
    uint8_t checksum_ = 0;
};
