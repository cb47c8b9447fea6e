// Where the tests that talk to the sensor unit emulator find it:
// $TARNBY_SENSOR_EMULATOR, else the path the build gives the suite
// (TARNBY_SENSOR_EMULATOR), else next to the tests in the same build tree.
#pragma once

#include <cstdlib>
#include <string>
#include <unistd.h>

inline std::string sensor_emulator_path()
{
    if (const char* env = std::getenv("TARNBY_SENSOR_EMULATOR"))
        return env;
#ifdef TARNBY_SENSOR_EMULATOR
    return TARNBY_SENSOR_EMULATOR;
#else
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return {};
    std::string dir(self, static_cast<size_t>(n));
    dir = dir.substr(0, dir.rfind('/'));
    return dir + "/../tools/sensor_emulator/sensor_emulator";
#endif
}
