// The sensor link's frames, as the sensor unit writes and reads them:
// 0x82, address, length (command + data), command, data, checksum (0xA5 XOR
// address, length, command and data), 0x83. Words go low byte first; signed
// values are one's complement (65535 is 0, 65534 is -1; 255 is 0, 254 is -1).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace emulator {

constexpr uint8_t ADDRESS_COMPASS = 0xE4;
constexpr uint8_t ADDRESS_INSTRUMENT = 0xE5;
constexpr uint8_t ADDRESS_ATTITUDE = 0xE6;
constexpr uint8_t ADDRESS_BROADCAST = 0xFF;

using Bytes = std::vector<uint8_t>;

// A whole frame; data holds at most 254 bytes.
Bytes encode_frame(uint8_t address, uint8_t command, const Bytes& data);

// Appends w low byte first.
void put_word(Bytes& data, uint16_t w);
// Signed values in the link's one's complement, clamped to what fits.
uint16_t signed_word(int32_t v);
uint8_t signed_byte(int32_t v);

struct Frame {
    uint8_t address = 0;
    uint8_t command = 0;
    Bytes data;
};

// Reads frames out of the byte stream the instrument sends. The attention
// byte and anything else between frames is skipped; a frame with a bad
// checksum or without its end byte is dropped.
class FrameReader {
public:
    std::optional<Frame> push(uint8_t b);

private:
    enum class State { idle, address, length, command, data, checksum, end };
    State state_ = State::idle;
    Frame frame_;
    uint8_t remaining_ = 0;
    uint8_t checksum_ = 0;
};

} // namespace emulator
