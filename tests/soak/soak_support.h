// What the fault and soak tests share: the real window on Qt's offscreen
// platform with its error box replaced by a recorder, the sensor unit
// emulator as a child process, a tally of every byte the window hands the
// receive parser, and this process's own figures (CPU time, memory,
// descriptors, threads).
#pragma once

#include <gtest/gtest.h>

#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/form1.h"
#include "sensor_emulator_child.h"
#include "this_system.h"

namespace soak {

using namespace std::chrono_literals;

// Generous: the machine may be busy with other builds.
constexpr auto DEADLINE = 30s;

// Runs the message loop until `done` holds or the deadline passes; true if done.
bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds deadline = DEADLINE);
// Runs the message loop for a while (to let a fault last, never to wait for
// something to happen).
void keep_running_for(std::chrono::milliseconds span);

// ---- this process ----------------------------------------------------------------

// User and system time of the whole process, every thread.
double cpu_seconds();
using this_system::open_descriptors;
using this_system::rss_kib;
using this_system::thread_count;

// CPU seconds spent per wall-clock second since it was made (1.0: one core
// busy all the time).
class CpuShare {
public:
    CpuShare();
    double share() const;
    double wall_seconds() const;

private:
    double cpu_at_start_;
    std::chrono::steady_clock::time_point wall_at_start_;
};

// ---- what the receive parser was given ----------------------------------------------
//
// The window's ComPort1RxChar hands what it reads to the parser in
// link_receive. The soak tests link with that call wrapped (a linker option,
// nothing in the product changes): every byte still goes through the real
// parser, one at a time, and is counted on its way, with the frames the
// parser acts on.
struct ParserTally {
    uint64_t bytes = 0;   // bytes stepped through the parser
    uint64_t frames = 0;  // frames it acted on (acknowledgement, compass heading, compass data, attitude)
    uint64_t attitude_frames = 0;
    // Frames taken whose readings are the emulator's fault signature (bank
    // 123 or pitch -77): a corrupt frame that passed the checksum.
    uint64_t poisoned = 0;
    // Half-received frames given up because the line paused in their middle
    // and a frame's start came next; and those whose tail came late.
    uint64_t abandoned_after_a_pause = 0;
    uint64_t resumed_after_a_pause = 0;

    // From mark() on: the bytes that came (the first few) and where the first
    // frame acted on ended (its end byte's position from the mark, 0 for none).
    void mark();
    uint64_t marked_at = 0;
    std::vector<uint8_t> since_mark;
    uint64_t first_frame_end_since_mark = 0;
    bool marked = false;
};
ParserTally& parser_tally();

// ---- the emulator -------------------------------------------------------------------

// The counts the emulator's "status" shows.
struct EmulatorStatus {
    unsigned long frames = 0;
    unsigned long long bytes = 0;
    unsigned long commands = 0;
    bool silent = false;
};

// sensor_emulator as a child process with --quiet: its device, its command
// input, what it prints later, and the counts it reports.
class EmulatorChild : public SensorEmulatorChild {
public:
    explicit EmulatorChild(const std::vector<std::string>& options);

    // Asks for its status and waits for the answer.
    std::optional<EmulatorStatus> status();
    // The "sent N frames, B bytes" line of a frame limit, once it is out.
    std::optional<EmulatorStatus> frames_done();
};

// ---- the window ---------------------------------------------------------------------

// A fresh window per test, on `port`, its error box replaced by a recorder,
// the firmware back at program start; and the sensor unit emulator, which
// goes after the window at the end of the test.
class WindowOnLine : public testing::Test {
protected:
    void open_window(const std::string& port);
    // The emulator with these options, in `emulator`; fails with its reason
    // when it has no device.
    testing::AssertionResult start_emulator(const std::vector<std::string>& options);
    void TearDown() override;

    // Connect, as the user clicks it.
    void click_connect();
    void click_disconnect();
    // Clear the readings' presence marks and wait until every frame kind the
    // unit streams has been acted on again.
    bool data_flowing();

    std::unique_ptr<TForm1> form;
    QStringList errors_shown;  // what the application's error box would have shown
    std::unique_ptr<EmulatorChild> emulator;
};

} // namespace soak
