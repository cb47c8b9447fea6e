#include "frame_encoder.h"

#include <algorithm>

namespace emulator {

Bytes encode_frame(uint8_t address, uint8_t command, const Bytes& data)
{
    const auto carried = std::min<size_t>(data.size(), 254);
    const auto length = static_cast<uint8_t>(carried + 1);
    Bytes f{0x82, address, length, command};
    uint8_t checksum = 0xA5 ^ address ^ length ^ command;
    for (size_t i = 0; i < carried; ++i) {
        f.push_back(data[i]);
        checksum ^= data[i];
    }
    f.push_back(checksum);
    f.push_back(0x83);
    return f;
}

void put_word(Bytes& data, uint16_t w)
{
    data.push_back(static_cast<uint8_t>(w & 0xFF));
    data.push_back(static_cast<uint8_t>(w >> 8));
}

uint16_t signed_word(int32_t v)
{
    v = std::clamp(v, -32767, 32767);
    return static_cast<uint16_t>(v < 0 ? 65535 + v : v);
}

uint8_t signed_byte(int32_t v)
{
    v = std::clamp(v, -127, 127);
    return static_cast<uint8_t>(v < 0 ? 255 + v : v);
}

std::optional<Frame> FrameReader::push(uint8_t b)
{
    switch (state_) {
    case State::idle:
        if (b == 0x82) {
            frame_ = Frame{};
            checksum_ = 0xA5;
            state_ = State::address;
        }
        break;
    case State::address:
        frame_.address = b;
        checksum_ ^= b;
        state_ = b >= 0xE0 ? State::length : State::idle;
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
        if (b == 0x83)
            return frame_;
        break;
    }
    return std::nullopt;
}

} // namespace emulator
