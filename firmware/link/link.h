// The sensor link: the framed byte protocol to the sensor unit; the
// instrument's receive parser and its sending side.
#pragma once

#include <cstddef>
#include <cstdint>

// Byte values, addresses, commands and frame layouts, shared with the sensor
// unit emulator.
#include "firmware/link/link_protocol.h"

// ---- receive.cpp: the receive parser -------------------------------------

// Parser state; rx_state is also used by the sender (it waits for 0) and
// reset by ON. 0 idle, 1 address, 2 length, 3 command, 4 data, 5 checksum,
// 6 end, 128 claimed (skip one byte).
extern uint8_t rx_state;
extern uint8_t rx_address;
extern uint8_t rx_length;
extern uint8_t rx_remaining;
extern uint8_t rx_command;
extern uint8_t rx_payload[50];
extern uint8_t rx_index;
extern uint8_t rx_checksum;
// The parser's own clock: 100 ms timer ticks counted for it alone. Nothing
// else sets it (an acknowledged exchange sets ticks back to 0), and it does
// not wrap in the life of the program, so a gap between two bytes is always
// measured truly.
extern uint32_t rx_clock;
// rx_clock when the last byte arrived: a frame interrupted for two ticks or
// more is abandoned when a start byte ends the pause, so a cut-short frame
// cannot swallow the next one; a tail that comes late is still taken.
extern uint32_t rx_byte_tick;

// One received byte through the parser.
void rx_parse_byte(uint8_t b);
// One 100 ms tick of the parser's clock (from the window's timer).
void rx_clock_tick();
// Bytes read from the port, in order.
void link_receive(const uint8_t* data, size_t count);

// ---- transmit.cpp: byte writer, frame sender, command builder ------------

extern uint8_t tx_address;
extern uint8_t tx_length;
extern uint8_t tx_body[4];

// Logs the byte in the communication window ("0xE5"), then writes it while
// connected.
void send_byte(uint8_t b);
// A short fixed gap after the attention byte and after each frame.
void link_pause();
// Sends the attention byte and the frame in the transmit buffer. If a frame
// from the sensor unit is half received, it first pumps messages so the rest
// can arrive, for three ticks at most; then it sends, and the parser keeps the
// half frame (a late tail completes it). While the port is closed, and when
// OFF is pressed, it gives the half frame up at once.
void send_frame();
// The codes of send_command; transmit.cpp's table of frames follows them.
enum : uint8_t {
    CMD_CLEAR_DEV_CAL = 0,        // clear the compass deviation calibration
    CMD_START_DEV_CAL = 1,        // start it
    CMD_FINISH_DEV_CAL_DONE = 2,  // compass command 3: finish, from the DONE key
    CMD_FINISH_DEV_CAL_KNOB = 3,  // compass command 4: finish, from the knob
    CMD_COMPASS_5 = 4,            // compass command 5 (no screen sends it)
    CMD_COMPASS_A_B = 5,          // compass command a with b (no screen sends it)
    CMD_TILT_COMP = 6,            // tilt compensation a, sent without an answer
    CMD_ALIGN_NORTH = 7,
    CMD_ALIGN_SOUTH = 8,
    CMD_ALIGN_EAST = 9,
    CMD_ALIGN_WEST = 10,
    CMD_CLEAR_ALIGNMENT = 11,
    CMD_BUMP_FACTOR = 12,         // a low byte, b high byte
    CMD_SLEW_FACTOR = 13,         // a low byte, b high byte
    CMD_ATTITUDE_12 = 14,         // attitude command 12 (no screen sends it)
    CMD_ATTITUDE_17 = 15,         // attitude command 17 with a (no screen sends it)
    CMD_CLEAR_RANGE_WARNING = 16, // the bytes of 14; its answer puts the lamp out
    CMD_TB_SOURCE = 17,           // turn and bank source a (0 BANK, 4 GYRO), sent twice
    CMD_START_CALIBRATION = 18,   // in-flight compass calibration
    CMD_STOP_CALIBRATION = 19,
    SENT_COMMAND_COUNT
};

// Fills the transmit buffer for a CMD_ code and sends it; any other code
// sends nothing.
void send_command(uint8_t code, uint8_t a, uint8_t b);

// The acknowledged exchange: clears answer_flag and ticks, sends the command
// at once and again on each new tick while ticks < send_window, pumping
// messages in between, until answer_flag is set or ticks reaches timeout.
// OFF pressed meanwhile ends it as unanswered. Returns whether the answer came.
bool send_until_answered(uint8_t code, uint8_t a, uint8_t b, uint8_t& answer_flag,
                         uint8_t send_window, uint8_t timeout);

// Back to program start (tests).
void reset_link_state();
