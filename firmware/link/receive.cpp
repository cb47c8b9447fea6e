// The receive side of the sensor link: one byte at a time through a small
// state machine, and the frames addressed to the instrument turned into
// instrument state.
//
// rx_payload is deliberately not cleared between frames; every handler below
// reads only positions its own frame carries, so nothing stale is ever used.
#include "firmware/instrument_state.h"
#include "firmware/link/link.h"

uint8_t rx_state;
uint8_t rx_address;
uint8_t rx_length;
uint8_t rx_remaining;
uint8_t rx_command;
uint8_t rx_payload[50];
uint8_t rx_index;
uint8_t rx_checksum;
uint32_t rx_clock;
uint32_t rx_byte_tick;

namespace {

constexpr uint8_t RX_IDLE = 0;
constexpr uint8_t RX_ADDRESS = 1;
constexpr uint8_t RX_LENGTH = 2;
constexpr uint8_t RX_COMMAND = 3;
constexpr uint8_t RX_DATA = 4;
constexpr uint8_t RX_CHECKSUM = 5;
constexpr uint8_t RX_END = 6;
constexpr uint8_t RX_CLAIMED = 128;

// The longest frame whose data still fit rx_payload.
constexpr uint8_t RX_LONGEST_STORED = sizeof rx_payload + 1;

uint16_t word_at(int i)
{
    return static_cast<uint16_t>(rx_payload[i] | (rx_payload[i + 1] << 8));
}

// The link sends signed values in one's complement: 65535 is 0, 65534 is -1.
int32_t signed_word(uint16_t w)
{
    return w > 0x7FFF ? static_cast<int32_t>(w) - 65535 : w;
}

int32_t signed_byte(uint8_t b)
{
    return b > 0x7F ? static_cast<int32_t>(b) - 255 : b;
}

// Headings from the link are magnetic; "TRUE" adds the variation. The result
// is always brought into 0..359, whatever the unit sent.
int32_t link_heading(int32_t h)
{
    if (heading_true == 1)
        h += variation;
    h %= 360;
    if (h < 0)
        h += 360;
    return h;
}

void heading_arrived(int32_t h)
{
    heading = link_heading(h);
    heading_hold = 5;
    heading_valid = 1;
}

void handle_compass_heading()
{
    // Heading word and tilt compensation: a shorter frame does not carry them.
    if (rx_length < 4)
        return;
    heading_arrived(word_at(0));
    // Taken as sent: the screens cope with a mode they do not know.
    tilt_comp = rx_payload[2];
    compass_heading_seen = 1;
    compass_frame_received = 1;
}

void handle_compass_data()
{
    // Six words (13) or nine with the Z axis (19); less does not carry the
    // horizontal values.
    if (rx_length < 13)
        return;
    compass_ew_max = word_at(0);
    compass_ew_min = word_at(2);
    compass_ns_max = word_at(4);
    compass_ns_min = word_at(6);
    compass_ew = word_at(8);
    compass_ns = word_at(10);
    if (rx_length == 19) {
        compass_z_max = word_at(12);
        compass_z_min = word_at(14);
        compass_z = word_at(16);
    }
    heading_hold = 5;
    heading_valid = 1;
    compass_data_received = 1;
}

// Short form: bank, pitch, slip, status; no heading, G or turn rate.
void handle_short_attitude()
{
    turn_source = 0;
    bank = signed_word(word_at(0));
    pitch = signed_word(word_at(2));
    slip = signed_byte(rx_payload[4]);
    sensor_status = rx_payload[5];
    pitch -= pitch_trim;
}

// Long forms: d0 is the form; form 5 carries its angles and heading in
// tenths of a degree.
void handle_long_attitude()
{
    const uint8_t form = rx_payload[0];
    if (form != 0 && form != 4 && form != 5)
        return;
    const bool tenths = form == 5;
    const uint16_t raw_bank = word_at(1);
    const uint16_t raw_pitch = word_at(3);
    slip = signed_byte(rx_payload[7]);
    gforce_raw = word_at(8);
    sensor_status = rx_payload[10];

    // Once the compass unit has reported a heading it is the only source.
    if (compass_heading_seen == 0) {
        int32_t h = word_at(11);
        if (tenths)
            h /= 10;
        heading_arrived(h);
    }

    if (rx_length == 16) {
        turn_source = 1;
    } else {
        turn_source = 2;
        turn_rate = signed_word(word_at(15));
    }

    bank = signed_word(raw_bank);
    pitch = signed_word(raw_pitch);
    if (tenths) {
        bank /= 10;
        pitch /= 10;
    }
    pitch -= pitch_trim;
}

void handle_attitude()
{
    if (rx_length == 7)
        handle_short_attitude();
    else if (rx_length == 16 || rx_length == 18)
        handle_long_attitude();
    attitude_hold = 5;
    attitude_valid = 1;
}

void handle_ack()
{
    ack_received = 1;
}

// The frames the instrument takes; any other command changes nothing.
struct FrameHandler {
    uint8_t command;
    void (*handle)();
};
constexpr FrameHandler FRAME_HANDLERS[] = {
    {FRAME_ACK, handle_ack},
    {FRAME_COMPASS_HEADING, handle_compass_heading},
    {FRAME_COMPASS_DATA, handle_compass_data},
    {FRAME_ATTITUDE, handle_attitude},
};

void handle_frame()
{
    if (rx_address != LINK_INSTRUMENT && rx_address != LINK_BROADCAST)
        return;
    // Data beyond rx_payload were counted but not kept: no part of such a
    // frame is trusted.
    if (rx_length > RX_LONGEST_STORED)
        return;
    for (const FrameHandler& frame : FRAME_HANDLERS) {
        if (frame.command == rx_command) {
            frame.handle();
            return;
        }
    }
}

} // namespace

void rx_parse_byte(uint8_t b)
{
    // The sensor unit writes a frame in one go. Two timer ticks without a
    // byte in the middle of one means the rest was lost: start afresh rather
    // than take the next frame's bytes as the tail of this one.
    if (rx_state != RX_IDLE && rx_clock - rx_byte_tick >= 2)
        rx_state = RX_IDLE;
    rx_byte_tick = rx_clock;

    switch (rx_state) {
    case RX_IDLE:
        if (b == LINK_ATTENTION) {
            rx_state = RX_CLAIMED;
            return;
        }
        rx_checksum = LINK_CHECKSUM_SEED;
        rx_index = 0;
        rx_state = b == LINK_START ? RX_ADDRESS : RX_IDLE;
        return;
    case RX_ADDRESS:
        rx_address = b;
        rx_checksum ^= b;
        rx_state = b < LINK_LOWEST_ADDRESS ? RX_IDLE : RX_LENGTH;
        return;
    case RX_LENGTH:
        rx_length = b;
        rx_remaining = b;
        rx_checksum ^= b;
        rx_state = b == 0 ? RX_IDLE : RX_COMMAND;
        return;
    case RX_COMMAND:
        rx_command = b;
        rx_checksum ^= b;
        --rx_remaining;
        rx_state = rx_remaining == 0 ? RX_CHECKSUM : RX_DATA;
        return;
    case RX_DATA:
        // An oversized frame is still counted through to its end, so the
        // parser stays in step with the line; it is dropped there.
        if (rx_index < sizeof rx_payload)
            rx_payload[rx_index++] = b;
        rx_checksum ^= b;
        --rx_remaining;
        rx_state = rx_remaining == 0 ? RX_CHECKSUM : RX_DATA;
        return;
    case RX_CHECKSUM:
        rx_state = b == rx_checksum ? RX_END : RX_IDLE;
        return;
    case RX_END:
        if (b != LINK_END)
            return;
        rx_state = RX_IDLE;
        handle_frame();
        return;
    default:  // RX_CLAIMED, or anything unknown: skip this byte
        rx_state = RX_IDLE;
        return;
    }
}

void rx_clock_tick()
{
    ++rx_clock;
}

void link_receive(const uint8_t* data, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        rx_parse_byte(data[i]);
}
