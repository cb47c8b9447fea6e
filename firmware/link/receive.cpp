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
    if (rx_length < COMPASS_HEADING_LENGTH)
        return;
    const CompassHeadingData c = read_compass_heading_data(rx_payload);
    heading_arrived(c.heading);
    // Taken as sent: the screens cope with a mode they do not know.
    tilt_comp = c.tilt_comp;
    compass_heading_seen = 1;
    compass_frame_received = 1;
}

void handle_compass_data()
{
    // Six words, or nine with the Z axis; less does not carry the horizontal
    // values.
    if (rx_length < COMPASS_DATA_LENGTH)
        return;
    const CompassData c = read_compass_data(rx_payload, rx_length == COMPASS_DATA_Z_LENGTH);
    compass_ew_max = c.ew_max;
    compass_ew_min = c.ew_min;
    compass_ns_max = c.ns_max;
    compass_ns_min = c.ns_min;
    compass_ew = c.ew;
    compass_ns = c.ns;
    if (c.with_z) {
        compass_z_max = c.z_max;
        compass_z_min = c.z_min;
        compass_z = c.z;
    }
    heading_hold = 5;
    heading_valid = 1;
    compass_data_received = 1;
}

// Short form: bank, pitch, slip, status; no heading, G or turn rate.
void handle_short_attitude()
{
    const ShortAttitudeData a = read_short_attitude_data(rx_payload);
    turn_source = 0;
    bank = from_signed_word(a.bank);
    pitch = from_signed_word(a.pitch);
    slip = from_signed_byte(a.slip);
    sensor_status = a.status;
    pitch -= pitch_trim;
}

// Long forms: d0 is the form; the tenths form carries its angles and heading
// in tenths of a degree.
void handle_long_attitude()
{
    const AttitudeData a = read_attitude_data(rx_payload, rx_length == ATTITUDE_TURN_RATE_LENGTH);
    if (a.form != ATTITUDE_FORM_DEGREES && a.form != ATTITUDE_FORM_DEGREES_4 && a.form != ATTITUDE_FORM_TENTHS)
        return;
    const bool tenths = a.form == ATTITUDE_FORM_TENTHS;
    slip = from_signed_byte(a.slip);
    gforce_raw = a.gforce;
    sensor_status = a.status;

    // Once the compass unit has reported a heading it is the only source.
    if (compass_heading_seen == 0) {
        int32_t h = a.heading;
        if (tenths)
            h /= 10;
        heading_arrived(h);
    }

    if (a.with_turn_rate) {
        turn_source = 2;
        turn_rate = from_signed_word(a.turn_rate);
    } else {
        turn_source = 1;
    }

    bank = from_signed_word(a.bank);
    pitch = from_signed_word(a.pitch);
    if (tenths) {
        bank /= 10;
        pitch /= 10;
    }
    pitch -= pitch_trim;
}

void handle_attitude()
{
    if (rx_length == ATTITUDE_SHORT_LENGTH)
        handle_short_attitude();
    else if (rx_length == ATTITUDE_LONG_LENGTH || rx_length == ATTITUDE_TURN_RATE_LENGTH)
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
    // The sensor unit writes a frame in one go and begins each with the start
    // byte. A start byte after two timer ticks without a byte in the middle
    // of a frame means the rest was lost: start afresh rather than take the
    // next frame as the tail of this one. Any other byte after such a pause
    // is the tail come late: a writer held up by a full line or by a busy
    // machine pauses in mid-frame too, and nothing on this side tells that
    // pause from a lost tail but the byte that ends it.
    if (rx_state != RX_IDLE && rx_clock - rx_byte_tick >= 2 && b == LINK_START)
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
