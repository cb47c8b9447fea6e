#include "flight_script.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace emulator {

namespace {

struct Segment {
    double seconds;
    double bank;   // target, positive left
    double pitch;  // target
    double g_push;  // G held during a push-over; 0 for none
    bool range_exceeded;
    const char* name;
};

// A lap of a little under three minutes.
constexpr Segment SCRIPT[] = {
    {15, 0, 2, 0, false, "straight and level"},
    {30, -25, 2, 0, false, "rate-one turn right"},
    {10, 0, 2, 0, false, "straight and level"},
    {20, 0, 10, 0, false, "climb"},
    {30, 25, -6, 0, false, "descending turn left"},
    {10, 0, 0, 0, false, "straight and level"},
    {12, -65, 4, 0, true, "steep turn right, beyond range"},
    {8, 0, 2, 0, false, "straight and level"},
    {4, 0, -15, -0.4, false, "push-over"},
    {20, 30, 8, 0, false, "climbing turn left"},
    {10, 0, 2, 0, false, "straight and level"},
};

constexpr double PI = 3.14159265358979323846;
constexpr double AIRSPEED = 60.0;   // m/s
constexpr double GRAVITY = 9.81;    // m/s^2
constexpr double ROLL_RATE = 10.0;  // degrees per second
constexpr double PITCH_RATE = 4.0;  // degrees per second

double approach(double value, double target, double max_step)
{
    return value + std::clamp(target - value, -max_step, max_step);
}

} // namespace

FlightScript::FlightScript(double start_heading)
{
    sample_.heading = std::fmod(std::fmod(start_heading, 360.0) + 360.0, 360.0);
    sample_.manoeuvre = SCRIPT[0].name;
}

const FlightSample& FlightScript::advance(double dt)
{
    time_in_segment_ += dt;
    while (time_in_segment_ >= SCRIPT[segment_].seconds) {
        time_in_segment_ -= SCRIPT[segment_].seconds;
        segment_ = (segment_ + 1) % std::size(SCRIPT);
    }
    const Segment& s = SCRIPT[segment_];
    const double previous_bank = sample_.bank;
    sample_.bank = approach(sample_.bank, s.bank, ROLL_RATE * dt);
    sample_.pitch = approach(sample_.pitch, s.pitch, PITCH_RATE * dt);

    // A co-ordinated turn: banked right (negative) turns right (positive).
    const double bank_rad = sample_.bank * PI / 180.0;
    sample_.turn_rate = -GRAVITY * std::tan(bank_rad) / AIRSPEED * 180.0 / PI;
    sample_.heading = std::fmod(sample_.heading + sample_.turn_rate * dt + 360.0, 360.0);
    sample_.g_load = s.g_push != 0 ? s.g_push : 1.0 / std::cos(bank_rad);

    // A little turbulence, and the ball swinging out while rolling.
    wobble_phase_ += dt;
    const double roll_rate = dt > 0 ? (sample_.bank - previous_bank) / dt : 0;
    sample_.slip = 4.0 * std::sin(wobble_phase_ * 1.3) + 1.5 * roll_rate;
    sample_.range_exceeded = s.range_exceeded;
    sample_.manoeuvre = s.name;
    return sample_;
}

} // namespace emulator
