// Line faults on request: noise, frames with a wrong checksum, frames cut
// short, and silence. Faulty frames are attitude frames that carry a bank of
// 123 degrees and a pitch of -77, values the scripted flight never reaches, so
// a receiver that takes one shows it at once.
#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "sensor_unit.h"

namespace emulator {

class FaultInjector {
public:
    explicit FaultInjector(uint32_t seed) : random_(seed) {}

    // Each returns the bytes to put on the line now.
    Bytes noise(int count);
    Bytes bad_checksums(int frames);
    Bytes truncated(int frames);

    void silence_until(double until) { silent_until_ = until; }
    bool silent(double now) const { return now < silent_until_; }

    // Random faults every `mean_interval` seconds on average (0: none).
    void set_random_faults(double mean_interval, double now);
    // A fault picked at random when one is due: its bytes (if any) and a
    // description; silence is applied here.
    bool random_fault_due(double now, Bytes& burst, std::string& description);
    double next_random_fault() const { return next_random_; }

    static Bytes poisoned_attitude_frame();

private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    void schedule_next(double now);

    std::mt19937 random_;
    double silent_until_ = 0;
    double mean_interval_ = 0;
    double next_random_ = 1e300;
};

} // namespace emulator
