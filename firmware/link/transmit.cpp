// The sending side of the sensor link: the byte writer that also keeps the
// communication log, the frame sender, the command builder and the
// acknowledged exchange every screen uses.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <thread>

#include "firmware/host.h"
#include "firmware/instrument_state.h"
#include "firmware/link/link.h"

uint8_t tx_address;
uint8_t tx_length;
uint8_t tx_body[4];

namespace {

// Body bytes taken from the caller's arguments.
constexpr int16_t ARG_A = -1;
constexpr int16_t ARG_B = -2;

struct Command {
    uint8_t code;
    uint8_t address;
    uint8_t length;
    int16_t body[4];
};

// One row per code, in the order of the codes.
constexpr Command COMMANDS[] = {
    {CMD_CLEAR_DEV_CAL, LINK_COMPASS_UNIT, 2, {TO_COMPASS_UNIT, COMPASS_CLEAR_DEV_CAL}},
    {CMD_START_DEV_CAL, LINK_COMPASS_UNIT, 2, {TO_COMPASS_UNIT, COMPASS_START_DEV_CAL}},
    {CMD_FINISH_DEV_CAL_DONE, LINK_COMPASS_UNIT, 2, {TO_COMPASS_UNIT, COMPASS_FINISH_DEV_CAL_DONE}},
    {CMD_FINISH_DEV_CAL_KNOB, LINK_COMPASS_UNIT, 2, {TO_COMPASS_UNIT, COMPASS_FINISH_DEV_CAL_KNOB}},
    {CMD_COMPASS_5, LINK_COMPASS_UNIT, 2, {TO_COMPASS_UNIT, COMPASS_COMMAND_5}},
    {CMD_COMPASS_A_B, LINK_COMPASS_UNIT, 3, {TO_COMPASS_UNIT, ARG_A, ARG_B}},
    {CMD_TILT_COMP, LINK_COMPASS_UNIT, 3, {TO_COMPASS_UNIT, COMPASS_TILT_COMP, ARG_A}},
    {CMD_ALIGN_NORTH, LINK_COMPASS_UNIT, 3, {TO_COMPASS_UNIT, COMPASS_ALIGNMENT, ALIGN_NORTH}},
    {CMD_ALIGN_SOUTH, LINK_COMPASS_UNIT, 3, {TO_COMPASS_UNIT, COMPASS_ALIGNMENT, ALIGN_SOUTH}},
    {CMD_ALIGN_EAST, LINK_COMPASS_UNIT, 3, {TO_COMPASS_UNIT, COMPASS_ALIGNMENT, ALIGN_EAST}},
    {CMD_ALIGN_WEST, LINK_COMPASS_UNIT, 3, {TO_COMPASS_UNIT, COMPASS_ALIGNMENT, ALIGN_WEST}},
    {CMD_CLEAR_ALIGNMENT, LINK_COMPASS_UNIT, 3, {TO_COMPASS_UNIT, COMPASS_ALIGNMENT, ALIGN_CLEAR}},
    {CMD_BUMP_FACTOR, LINK_ATTITUDE_UNIT, 4, {TO_ATTITUDE_UNIT, ATTITUDE_BUMP_FACTOR, ARG_A, ARG_B}},
    {CMD_SLEW_FACTOR, LINK_ATTITUDE_UNIT, 4, {TO_ATTITUDE_UNIT, ATTITUDE_SLEW_FACTOR, ARG_A, ARG_B}},
    {CMD_ATTITUDE_12, LINK_ATTITUDE_UNIT, 2, {TO_ATTITUDE_UNIT, ATTITUDE_COMMAND_12}},
    {CMD_ATTITUDE_17, LINK_ATTITUDE_UNIT, 3, {TO_ATTITUDE_UNIT, ATTITUDE_COMMAND_17, ARG_A}},
    {CMD_CLEAR_RANGE_WARNING, LINK_ATTITUDE_UNIT, 2, {TO_ATTITUDE_UNIT, ATTITUDE_COMMAND_12}},
    {CMD_TB_SOURCE, LINK_ATTITUDE_UNIT, 4, {TO_ATTITUDE_UNIT, ATTITUDE_TB_SOURCE, ARG_A, ARG_A}},
    {CMD_START_CALIBRATION, LINK_COMPASS_UNIT, 2, {TO_COMPASS_UNIT, COMPASS_START_CALIBRATION}},
    {CMD_STOP_CALIBRATION, LINK_COMPASS_UNIT, 2, {TO_COMPASS_UNIT, COMPASS_STOP_CALIBRATION}},
};
static_assert(std::size(COMMANDS) == SENT_COMMAND_COUNT, "one row for every command code");
static_assert(
    [] {
        for (size_t i = 0; i < std::size(COMMANDS); ++i)
            if (COMMANDS[i].code != i)
                return false;
        return true;
    }(),
    "rows in the order of their codes");

// How many timer ticks the sender waits for a half-received frame to finish.
constexpr uint32_t IDLE_WAIT_TICKS = 3;

// OFF during a wait: the window's pump stops waiting for messages once
// stop_requested is set, so going on would only spin. A wait that began with
// it already set (a test driving a screen directly) is not cut short.
struct OffWatch {
    bool was_running = stop_requested == 0;
    bool off_pressed() const { return was_running && stop_requested != 0; }
};

// A sent frame must not land in the middle of one the sensor unit is still
// sending. Received bytes are handled only while messages are pumped, so pump
// until the parser is idle. If the rest of the frame does not come in time,
// send anyway; the half frame stays with the parser, which takes its tail
// should it still come and drops it at the next frame's start byte. False:
// the half frame is to be given up, as no more of it can come (the port was
// closed) or nobody waits for it (OFF).
bool wait_for_idle_parser()
{
    const OffWatch off;
    const uint32_t started = rx_clock;
    while (rx_state != 0) {
        if (!host().port_connected() || off.off_pressed())
            return false;
        if (rx_clock - started >= IDLE_WAIT_TICKS)
            return true;
        host().pump_messages();
    }
    return true;
}

} // namespace

void send_byte(uint8_t b)
{
    char line[8];
    std::snprintf(line, sizeof line, "0x%02X", static_cast<unsigned>(b));
    host().memo_add_line(line);
    if (host().port_connected())
        host().port_write(b);
}

// A short gap after the attention byte, so that the unit is listening before
// the frame starts: one character time at 19200 baud.
void link_pause()
{
    std::this_thread::sleep_for(std::chrono::microseconds(520));
}

void send_frame()
{
    if (tx_length == 0 || tx_length > sizeof tx_body)
        return;
    // Pumping while waiting may run other firmware; send what was asked for.
    const uint8_t address = tx_address;
    const uint8_t length = tx_length;
    uint8_t body[sizeof tx_body];
    std::memcpy(body, tx_body, sizeof body);

    const bool keep_half_frame = wait_for_idle_parser();
    send_byte(LINK_ATTENTION);
    link_pause();
    if (!keep_half_frame)
        rx_state = 0;

    for (uint8_t b : link_frame(address, body[0], LinkBytes(body + 1, body + length)))
        send_byte(b);
    link_pause();
}

void send_command(uint8_t code, uint8_t a, uint8_t b)
{
    if (code >= std::size(COMMANDS))
        return;
    const Command& command = COMMANDS[code];
    tx_address = command.address;
    tx_length = command.length;
    for (uint8_t i = 0; i < command.length; ++i) {
        const int16_t v = command.body[i];
        tx_body[i] = v == ARG_A ? a : v == ARG_B ? b : static_cast<uint8_t>(v);
    }
    send_frame();
}

bool send_until_answered(uint8_t code, uint8_t a, uint8_t b, uint8_t& answer_flag, uint8_t send_window,
                         uint8_t timeout)
{
    const OffWatch off;
    answer_flag = 0;
    ticks = 0;
    last_send_tick = 100;
    while (answer_flag == 0 && ticks < timeout && !off.off_pressed()) {
        if (ticks != last_send_tick && ticks < send_window) {
            send_command(code, a, b);
            last_send_tick = ticks;
        }
        // The timer and the receive handler run in here; the answer arrives
        // as a received frame setting answer_flag.
        host().pump_messages();
    }
    return answer_flag != 0;
}

void reset_link_state()
{
    rx_state = rx_address = rx_length = rx_remaining = rx_command = 0;
    std::memset(rx_payload, 0, sizeof rx_payload);
    rx_index = rx_checksum = 0;
    rx_clock = rx_byte_tick = 0;
    tx_address = tx_length = 0;
    std::memset(tx_body, 0, sizeof tx_body);
}
