// The attitude unit and the compass unit as the instrument sees them: the
// frames they stream, and what they answer to the instrument's commands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "firmware/link/link_protocol.h"
#include "flight_script.h"

namespace emulator {

using Bytes = LinkBytes;

struct UnitOptions {
    uint8_t attitude_form = ATTITUDE_FORM_DEGREES;  // or ATTITUDE_FORM_DEGREES_4, ATTITUDE_FORM_TENTHS
    bool turn_rate = true;      // the 18-byte attitude frame with turn rate
    bool answer_commands = true;
};

// What the unit does about one command frame: frames to send back (none if
// the command is not one it accepts) and a line for the operator.
struct Answer {
    std::vector<Bytes> frames;
    std::string note;
};

class SensorUnit {
public:
    explicit SensorUnit(UnitOptions options, double start_heading = 0);

    // Moves the scripted flight on by dt seconds.
    void advance(double dt);
    // Flies what another source says instead (FlightGear, a recording); the
    // script stays where it is from then on.
    void fly(const FlightSample& sample);
    const FlightSample& flight() const { return flown_ ? *flown_ : flight_.now(); }

    Bytes attitude_frame() const;
    Bytes compass_heading_frame() const;
    // Raw magnetometer readings and the extremes seen since the last
    // calibration start; nine words.
    Bytes compass_data_frame();

    Answer answer(const LinkMessage& command);

    UnitOptions options;

private:
    Answer compass_command(const LinkMessage& command);
    Answer attitude_command(const LinkMessage& command);
    void reset_extremes();

    FlightScript flight_;
    std::optional<FlightSample> flown_;
    uint8_t tilt_comp_ = TILT_COMP_2D;
    bool alarm_acknowledged_ = false;
    struct Extremes {
        int32_t ew_min, ew_max, ns_min, ns_max, z_min, z_max;
    } extremes_{};
    bool extremes_valid_ = false;
};

// The acknowledgement frame, with one data byte.
Bytes acknowledgement_frame();

} // namespace emulator
