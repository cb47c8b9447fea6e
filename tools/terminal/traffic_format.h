// How the terminal shows and logs traffic, without Qt: a hex dump that
// reads the sensor link's frames as frames, times in front of lines, and
// the bytes a typed hex line stands for.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace traffic {

enum class Direction { Received, Sent };

// Lines of "RX 00000010  82 E5 06 37 ...  |..7|": the direction, the
// offset in that direction's stream, up to 16 bytes (a frame: up to 64) and
// their printable characters. A line ends there, where the direction changes, after
// the end of a frame, and before a frame's start byte (0x82) or attention
// byte (0xE5) seen between frames, so that each frame of the sensor link
// is a line of its own.
class HexDump {
public:
    // stamp: put in front of a line that these bytes begin.
    void Add(Direction direction, const uint8_t* data, size_t n, const std::string& stamp = {});
    // The lines finished since the last call.
    std::vector<std::string> TakeLines();
    // The line being filled (empty when none).
    std::string Partial() const;
    void Reset();

private:
    struct Stream {
        uint64_t offset = 0;
        int frame_state = 0; // 0 between frames; see the .cpp
        int frame_left = 0;
    };
    struct Breaks {
        bool before = false;   // a line ends before this byte
        bool after = false;    // and after it
        bool in_frame = false; // it belongs to a frame
    };
    void EndLine();
    static Breaks Step(Stream& s, uint8_t byte);

    Stream streams_[2];
    std::vector<std::string> finished_;
    std::vector<uint8_t> line_;
    Direction direction_ = Direction::Received;
    uint64_t line_offset_ = 0;
    std::string line_stamp_;
};

enum class TimeMode { Off, WallClock, SinceConnect };

// "[14:03:07.250] " (local time) or "[+12.345] " (seconds since connect).
class Clock {
public:
    void SetMode(TimeMode mode) { mode_ = mode; }
    TimeMode Mode() const { return mode_; }
    void Connected() { connected_ = std::chrono::steady_clock::now(); }
    std::string Stamp() const;

private:
    TimeMode mode_ = TimeMode::Off;
    std::chrono::steady_clock::time_point connected_ = std::chrono::steady_clock::now();
};

// Puts a stamp in front of every line of a stream of text.
class LineStamper {
public:
    std::string Apply(const std::string& text, const std::string& stamp);

private:
    bool line_start_ = true;
};

// "02 41 0D", "02410d", "0x02,0x41": the bytes; nothing, with `error`
// naming the first piece that is no byte, otherwise.
std::optional<std::string> ParseHexBytes(const std::string& text, std::string& error);

} // namespace traffic
