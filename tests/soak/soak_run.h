// The soak: the instrument ON and connected while the sensor unit emulator
// streams a given number of frames at a given multiple of its normal rate,
// with the communication window filled to its bound and held there. Memory,
// descriptors and threads are sampled as it goes; at the end every byte the
// emulator wrote has been through the parser and every frame acted on.
#pragma once

#include <chrono>

#include "soak_support.h"

namespace soak {

// The sensor unit's frames in an hour at its normal rate: 20 attitude, 5
// compass heading and 1 compass data frame a second.
constexpr unsigned long FRAMES_PER_HOUR = 3600ul * (20 + 5 + 1);

struct SoakPlan {
    double speed = 1;
    unsigned long frames = FRAMES_PER_HOUR;
    // Commands sent a pass (9 lines each in the communication window) until
    // the window holds all it keeps; 0: the readings alone fill it.
    int commands_per_pass = 0;
    // How long the window stays at its bound before the run may end.
    std::chrono::seconds held_for = 5s;
    std::chrono::minutes deadline = std::chrono::minutes(10);
};

class SoakRun : public WindowOnLine {
protected:
    void run(const SoakPlan& plan);
};

} // namespace soak
