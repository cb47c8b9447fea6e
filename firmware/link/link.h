// The sensor link: the framed byte protocol to the sensor unit.
//
// Frame: 0x82, address, length L (command + data bytes), command, L-1 data
// bytes, checksum (0xA5 XOR address, length, command and data), 0x83.
// Senders put the attention byte 0xE5 ahead of each frame.
#pragma once

#include <cstddef>
#include <cstdint>

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
// more is abandoned, so a cut-short frame cannot swallow the next one.
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
// can arrive, but gives the half frame up after three ticks, at once while
// the port is closed, and when OFF is pressed.
void send_frame();
// Fills the transmit buffer for command code 0..19 and sends it; any other
// code sends nothing.
void send_command(uint8_t code, uint8_t a, uint8_t b);

// The acknowledged exchange: clears answer_flag and ticks, sends the command
// at once and again on each new tick while ticks < send_window, pumping
// messages in between, until answer_flag is set or ticks reaches timeout.
// OFF pressed meanwhile ends it as unanswered. Returns whether the answer came.
bool send_until_answered(uint8_t code, uint8_t a, uint8_t b, uint8_t& answer_flag,
                         uint8_t send_window, uint8_t timeout);

// Back to program start (tests).
void reset_link_state();
