// A scripted flight that loops for ever: straight and level, turns both ways,
// climbs and descents, a steep turn that exceeds the attitude unit's range and
// a short push-over into negative G.
#pragma once

#include <cstdint>
#include <string>

namespace emulator {

// What the sensors would measure at one moment. Signs follow the instrument:
// bank positive banked left, pitch positive nose up, turn rate positive
// turning right, slip positive moves the ball right.
struct FlightSample {
    double heading = 0;    // degrees, 0..360
    double pitch = 0;      // degrees
    double bank = 0;       // degrees
    double turn_rate = 0;  // degrees per second
    double slip = 0;       // raw units, about -127..127
    double g_load = 1;     // G, negative in a push-over
    bool range_exceeded = false;
    std::string manoeuvre;
};

class FlightScript {
public:
    explicit FlightScript(double start_heading = 0);
    // Moves the flight on by dt seconds and returns where it is now.
    const FlightSample& advance(double dt);
    const FlightSample& now() const { return sample_; }

private:
    double time_in_segment_ = 0;
    size_t segment_ = 0;
    FlightSample sample_;
    double wobble_phase_ = 0;
};

} // namespace emulator
