// The sensor link's receive parser under arbitrary line bytes and timing.
//
// Input: a 4-byte header, then steps of two bytes.
//   header: [0] bit 0 = heading_true; [1] variation (signed, clamped to
//           -99..99); [2], [3] pitch_trim, a 16-bit signed word, low first
//   step:   [0] time before the byte: bits 0-6 = timer ticks that pass,
//               bit 7 = an acknowledged exchange sets ticks to 0 first
//           [1] the byte on the line
// Bytes that follow each other without time passing reach the parser in one
// call, as one read of the port delivers them.
//
// Besides the sanitizers, every call checks what the parser may leave
// behind; the same input run again without the resets of ticks must leave
// the same state (the parser keeps time on a clock of its own); and at the
// end the link must recover: after a quiet gap a good frame is taken.
#include "firmware/firmware_loop.h"
#include "firmware/instrument_state.h"
#include "firmware/link/link.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

[[noreturn]] void fail(const char* what, long value)
{
    std::fprintf(stderr, "link_receive_fuzzer: %s (%ld)\n", what, value);
    std::abort();
}

void expect_flag(const char* name, uint8_t value)
{
    if (value > 1)
        fail(name, value);
}

void expect_range(const char* name, long value, long low, long high)
{
    if (value < low || value > high)
        fail(name, value);
}

void check_state()
{
    switch (rx_state) {
    case 0: case 1: case 2: case 3: case 4: case 5: case 6: case 128:
        break;
    default:
        fail("rx_state outside its states", rx_state);
    }
    expect_range("rx_index beyond rx_payload", rx_index, 0, sizeof rx_payload);
    expect_range("heading outside 0..359", heading, 0, 359);
    // Words by the one's complement sign rule, or taken unsigned.
    expect_range("bank", bank, -32767, 65535);
    expect_range("pitch", pitch, -32767 - pitch_trim, 65535 - pitch_trim);
    expect_range("slip", slip, -127, 255);
    expect_range("turn_rate", turn_rate, -32767, 32767);
    expect_range("gforce_raw", gforce_raw, 0, 65535);
    expect_range("turn_source", turn_source, 0, 2);
    for (int32_t v : {compass_ns, compass_ew, compass_z, compass_ns_min, compass_ns_max, compass_ew_min,
                      compass_ew_max, compass_z_min, compass_z_max})
        expect_range("compass value", v, 0, 65535);
    expect_flag("heading_valid", heading_valid);
    expect_flag("attitude_valid", attitude_valid);
    expect_flag("compass_heading_seen", compass_heading_seen);
    expect_flag("ack_received", ack_received);
    expect_flag("compass_frame_received", compass_frame_received);
    expect_flag("compass_data_received", compass_data_received);
}

// What the link leaves behind: parser state, readings and marks.
struct LinkState {
    uint8_t rx[7];
    uint8_t payload[sizeof rx_payload];
    int32_t readings[6];
    uint8_t marks[11];
    int32_t compass[9];

    static LinkState now()
    {
        LinkState s{
            {rx_state, rx_address, rx_length, rx_remaining, rx_command, rx_index, rx_checksum},
            {},
            {heading, pitch, bank, slip, turn_rate, gforce_raw},
            {heading_valid, heading_hold, attitude_valid, attitude_hold, compass_heading_seen, sensor_status,
             turn_source, tilt_comp, ack_received, compass_frame_received, compass_data_received},
            {compass_ns, compass_ew, compass_z, compass_ns_min, compass_ns_max, compass_ew_min, compass_ew_max,
             compass_z_min, compass_z_max},
        };
        std::memcpy(s.payload, rx_payload, sizeof rx_payload);
        return s;
    }
    bool operator==(const LinkState&) const = default;
};

void pass_time(uint8_t step, bool with_ticks_resets)
{
    if ((step & 0x80) && with_ticks_resets)
        ticks = 0;
    for (int i = step & 0x7F; i > 0; --i)
        timer_tick();
}

void feed(std::vector<uint8_t>& pending)
{
    if (pending.empty())
        return;
    link_receive(pending.data(), pending.size());
    pending.clear();
    check_state();
}

// The input from program start.
LinkState run(const uint8_t* data, size_t size, bool with_ticks_resets)
{
    reset_instrument_state();
    reset_link_state();

    heading_true = data[0] & 1;
    const int variation_byte = static_cast<int8_t>(data[1]);
    variation = variation_byte < -99 ? -99 : variation_byte > 99 ? 99 : variation_byte;
    pitch_trim = static_cast<int16_t>(data[2] | data[3] << 8);
    if (pitch_trim == -32768)
        pitch_trim = -32767;  // a pitch the link can deliver

    std::vector<uint8_t> pending;
    for (size_t i = 4; i + 1 < size; i += 2) {
        if (data[i] != 0) {
            feed(pending);
            pass_time(data[i], with_ticks_resets);
        }
        pending.push_back(data[i + 1]);
    }
    feed(pending);
    return LinkState::now();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return -1;  // not worth keeping in the corpus

    const LinkState steady = run(data, size, false);
    if (run(data, size, true) != steady)
        fail("an exchange setting ticks to 0 changed what the parser did, rx_state", rx_state);

    // Whatever came before, a quiet line for a few ticks and then a good
    // frame: the acknowledgement reaches the instrument.
    for (int i = 0; i < 3; ++i)
        timer_tick();
    ack_received = 0;
    const uint8_t ack[] = {0x82, 0xE5, 0x02, 0x0A, 0x00, 0x48, 0x83};
    link_receive(ack, sizeof ack);
    if (ack_received != 1 || rx_state != 0)
        fail("a good frame after a quiet gap was not taken, rx_state", rx_state);
    return 0;
}
