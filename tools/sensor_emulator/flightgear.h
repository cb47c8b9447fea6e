// FlightGear as the flight: the values its generic protocol file
// (flightgear/qr7.xml) sends, turned into what the sensor unit measures; the
// UDP port they arrive on; and the same values recorded to and replayed from
// a CSV file.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "flight_script.h"

namespace emulator {

// One sample as FlightGear sends it, in FlightGear's own units and signs.
struct FlightGearState {
    double roll_deg = 0;              // positive: right wing down
    double pitch_deg = 0;             // positive: nose up
    double heading_magnetic_deg = 0;  // 0..360
    double turn_rate = 0;             // standard-rate turns (3 degrees a second), positive right
    double slip_skid = 0;             // ball deflection, positive left
    double pilot_g = 1;
};

// The values in the order qr7.xml sends them; also the CSV's column names.
extern const char* const FLIGHTGEAR_COLUMNS[6];

// One line from FlightGear: six comma-separated finite numbers. Empty when it
// is not that; `why` then says what is wrong.
std::optional<FlightGearState> parse_flightgear_line(std::string_view line, std::string* why = nullptr);

// What the sensor unit would measure: signs turned to the instrument's (bank
// positive left), the heading brought into 0..360, the turn rate in degrees a
// second, the slip in the link's units, and every value limited to what the
// frames carry. The attitude unit reports its range exceeded beyond
// ATTITUDE_RANGE_BANK degrees of bank or ATTITUDE_RANGE_PITCH of pitch.
FlightSample flight_from_flightgear(const FlightGearState& s);

constexpr double STANDARD_RATE = 3.0;     // degrees a second in a standard-rate turn
constexpr double SLIP_PER_BALL_UNIT = 10;  // link units per unit of FlightGear's ball
constexpr double ATTITUDE_RANGE_BANK = 60;
constexpr double ATTITUDE_RANGE_PITCH = 30;

// The UDP port FlightGear sends to, on 127.0.0.1 only.
class FlightGearReceiver {
public:
    // Throws std::runtime_error when the port cannot be had.
    explicit FlightGearReceiver(int port);
    ~FlightGearReceiver();
    FlightGearReceiver(const FlightGearReceiver&) = delete;
    FlightGearReceiver& operator=(const FlightGearReceiver&) = delete;

    int fd() const { return fd_; }
    int port() const { return port_; }
    // The lines of every datagram waiting now, without blocking.
    std::vector<std::string> read_lines();

private:
    int fd_ = -1;
    int port_ = 0;
};

// ---- recorded flights ------------------------------------------------------------
//
// CSV: a header naming the columns ("time" and FLIGHTGEAR_COLUMNS, in any
// order; others are ignored), then one line per sample, its time in seconds
// from the first. Lines beginning with '#' are notes.

struct RecordedSample {
    double time = 0;
    FlightGearState state;
};

class RecordedFlight {
public:
    // Throws std::runtime_error naming the file and line of what is wrong.
    static RecordedFlight load(const std::string& path);

    const std::vector<RecordedSample>& samples() const { return samples_; }
    double end_time() const { return samples_.empty() ? 0 : samples_.back().time; }
    // The sample in force at `time`: the last one at or before it (the first
    // before the flight starts).
    const RecordedSample& at(double time) const;

private:
    std::vector<RecordedSample> samples_;
};

// Writes samples as they arrive; each line is flushed, so a recording cut
// short by a crash or a kill keeps what came.
class FlightRecorder {
public:
    // Throws std::runtime_error when the file cannot be made; an existing
    // file is never replaced.
    explicit FlightRecorder(const std::string& path);
    ~FlightRecorder();
    FlightRecorder(const FlightRecorder&) = delete;
    FlightRecorder& operator=(const FlightRecorder&) = delete;

    // False once a write has failed (the reason in error()); nothing more is
    // written then.
    bool write(double time, const FlightGearState& s);
    const std::string& error() const { return error_; }
    unsigned long samples() const { return samples_; }

private:
    std::FILE* file_ = nullptr;
    std::string path_;
    std::string error_;
    unsigned long samples_ = 0;
};

} // namespace emulator
