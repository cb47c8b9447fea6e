#include "fault_injector.h"

#include <cstdio>

namespace emulator {

Bytes FaultInjector::poisoned_attitude_frame()
{
    AttitudeData a;
    a.bank = to_signed_word(123);
    a.pitch = to_signed_word(-77);
    a.heading = 321;
    a.turn_rate = to_signed_word(-1234);
    return link_frame(LINK_INSTRUMENT, FRAME_ATTITUDE, attitude_data(a));
}

Bytes FaultInjector::noise(int count)
{
    Bytes out;
    for (int i = 0; i < count; ++i)
        out.push_back(static_cast<uint8_t>(pick(0, 255)));
    return out;
}

Bytes FaultInjector::bad_checksums(int frames)
{
    Bytes out;
    for (int i = 0; i < frames; ++i) {
        Bytes f = poisoned_attitude_frame();
        f[f.size() - 2] ^= static_cast<uint8_t>(pick(1, 255));
        out.insert(out.end(), f.begin(), f.end());
    }
    return out;
}

Bytes FaultInjector::truncated(int frames)
{
    Bytes out;
    for (int i = 0; i < frames; ++i) {
        const Bytes f = poisoned_attitude_frame();
        // At least the start byte and the address go out; the end byte never.
        const auto kept = static_cast<size_t>(pick(2, static_cast<int>(f.size()) - 1));
        out.insert(out.end(), f.begin(), f.begin() + static_cast<std::ptrdiff_t>(kept));
    }
    return out;
}

void FaultInjector::set_random_faults(double mean_interval, double now)
{
    mean_interval_ = mean_interval;
    next_random_ = 1e300;
    if (mean_interval_ > 0)
        schedule_next(now);
}

void FaultInjector::schedule_next(double now)
{
    next_random_ = now + std::exponential_distribution<double>(1.0 / mean_interval_)(random_);
}

bool FaultInjector::random_fault_due(double now, Bytes& burst, std::string& description)
{
    if (now < next_random_)
        return false;
    schedule_next(now);
    char text[64];
    switch (pick(0, 3)) {
    case 0: {
        burst = noise(pick(8, 64));
        std::snprintf(text, sizeof text, "noise");
        break;
    }
    case 1: {
        const int n = pick(1, 3);
        burst = bad_checksums(n);
        std::snprintf(text, sizeof text, "%d frame(s) with a bad checksum", n);
        break;
    }
    case 2: {
        const int n = pick(1, 3);
        burst = truncated(n);
        std::snprintf(text, sizeof text, "%d frame(s) cut short", n);
        break;
    }
    default: {
        const double seconds = pick(5, 30) / 10.0;
        burst.clear();
        silence_until(now + seconds);
        std::snprintf(text, sizeof text, "silence for %.1f s", seconds);
        break;
    }
    }
    description = text;
    return true;
}

} // namespace emulator
