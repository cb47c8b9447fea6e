// Frames as the sensor unit puts them on the line, for feeding the parser.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "firmware/link/link.h"

// 0x82, address, length, command, data, checksum seeded with 0xA5, 0x83.
inline std::vector<uint8_t> make_frame(uint8_t address, uint8_t command, std::vector<uint8_t> data)
{
    const auto length = static_cast<uint8_t>(data.size() + 1);
    std::vector<uint8_t> f{0x82, address, length, command};
    uint8_t checksum = 0xA5 ^ address ^ length ^ command;
    for (uint8_t d : data) {
        f.push_back(d);
        checksum ^= d;
    }
    f.push_back(checksum);
    f.push_back(0x83);
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

inline uint8_t lo(uint16_t w) { return static_cast<uint8_t>(w & 0xFF); }
inline uint8_t hi(uint16_t w) { return static_cast<uint8_t>(w >> 8); }

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

inline std::vector<uint8_t> attitude_frame(const Attitude& a, uint8_t address = 0xE5)
{
    std::vector<uint8_t> d{a.form, lo(a.bank), hi(a.bank), lo(a.pitch), hi(a.pitch), 0, 0, a.slip,
                           lo(a.gforce), hi(a.gforce), a.status, lo(a.heading), hi(a.heading), 0, 0};
    if (a.with_turn_rate) {
        d.push_back(lo(a.turn_rate));
        d.push_back(hi(a.turn_rate));
    }
    return make_frame(address, 55, d);
}

inline std::vector<uint8_t> compass_heading_frame(uint16_t h, uint8_t tilt = 1)
{
    return make_frame(0xE5, 50, {lo(h), hi(h), tilt});
}
