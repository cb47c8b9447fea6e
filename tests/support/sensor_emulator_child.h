// The sensor unit emulator as a child process of the end-to-end and soak
// tests. It is found at $TARNBY_SENSOR_EMULATOR, else at the path the build
// gives the suite (TARNBY_SENSOR_EMULATOR), else next to the tests in the same
// build tree; and it names its device on the first line of its output.
// Header-only: the path the build gives is the including suite's.
#pragma once

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "child_process.h"
#include "this_system.h"

inline std::string sensor_emulator_path()
{
    if (const char* env = std::getenv("TARNBY_SENSOR_EMULATOR"))
        return env;
#ifdef TARNBY_SENSOR_EMULATOR
    return TARNBY_SENSOR_EMULATOR;
#else
    const std::string self = this_system::executable_path();
    if (self.empty())
        return {};
    return self.substr(0, self.rfind('/')) + "/../tools/sensor_emulator/sensor_emulator";
#endif
}

class SensorEmulatorChild : public ChildProcess {
public:
    SensorEmulatorChild(const std::vector<std::string>& options, ErrorOutput error_output)
        : ChildProcess(sensor_emulator_path(), options, error_output)
    {
        if (!error().empty())
            return;
        // Generous: the machine may be busy with other builds.
        if (!wait_for_output_line(std::chrono::seconds(30))) {
            collect();
            std::string why = "the sensor emulator did not name its device";
            for (const std::string& line : err_lines())
                why += "; " + line;
            fail(why);
            return;
        }
        device_ = out_lines().front();
        out_lines().erase(out_lines().begin());
    }

    // Empty if it could not be started; error() says why.
    const std::string& device() const { return device_; }

private:
    std::string device_;
};
