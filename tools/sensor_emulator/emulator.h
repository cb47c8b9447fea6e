// The sensor unit on its line: the frame streams, the answers to the
// instrument's commands, fault injection, and the operator's commands typed
// on an input descriptor, all in one thread that sleeps in poll between
// frames.
#pragma once

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fault_injector.h"
#include "flightgear.h"
#include "pty_line.h"
#include "sensor_unit.h"

namespace emulator {

struct EmulatorOptions {
    double attitude_hz = 20;  // frames per second; 0 for none
    double heading_hz = 5;
    double data_hz = 1;
    UnitOptions unit;
    double answer_delay_ms = 20;
    double start_heading = 0;
    double fault_interval = 0;  // mean seconds between random faults; 0 for none
    uint32_t seed = 1;
    // The flight and the frame streams run this many times faster than real
    // time (answers, faults and silence keep real time). Above 1 no stream
    // frame is skipped: one the line cannot take yet waits for it, so a
    // reader slower than the streams sets the pace instead.
    double speed = 1;
    // Stream frames to send in all; 0 for no end. Once they are all on the
    // line the streams stop and the done output hears how many went.
    unsigned long frame_limit = 0;

    // Where the flight comes from instead of the script: FlightGear live on
    // this UDP port of 127.0.0.1 (0: not), or a recorded flight. With
    // FlightGear, what it sends may also be recorded.
    int flightgear_port = 0;
    std::string record_path;
    std::string replay_path;
};

// Nothing from FlightGear for this long: its data has stopped, and so do the
// frames.
constexpr double FLIGHTGEAR_TIMEOUT = 2.0;

// The operator's commands, as "help" shows them (and --help after the
// options).
extern const char OPERATOR_COMMANDS_HELP[];

class Emulator {
public:
    // Where lines for a person go: `log` for what happens on the line (the
    // caller adds a time stamp or drops it), `reply` for answers to the
    // operator's commands. Both are called on the thread that runs run().
    using Output = std::function<void(const std::string&)>;

    // Throws std::runtime_error when no pseudo-terminal can be had. `done`
    // hears, once, "sent N frames, B bytes" when a frame limit has been
    // reached and everything queued so far has been written.
    explicit Emulator(const EmulatorOptions& options, Output log = {}, Output reply = {}, Output done = {});

    // The device the instrument opens as its serial port.
    const std::string& device() const { return line_.slave_path(); }

    // Runs until "quit", the end of `input` (or a read error on it), or
    // *stop turning non-zero (a signal handler's flag). Returns 0, or 1 when
    // waiting or the recording failed.
    int run(int input, const volatile std::sig_atomic_t* stop = nullptr);

    // One line typed by the operator; false when it asks to leave.
    bool command_line(const std::string& text);

    // Stream frames queued for the line, and every byte written to it
    // (frames, answers and faults alike). Read them on the thread that runs
    // run(), or after it has returned.
    unsigned long frames_sent() const { return frames_sent_; }
    unsigned long long bytes_sent() const { return line_.bytes_written(); }
    // Times run() has woken, from any thread: it sleeps until something is
    // due, so this grows by a few a second when nothing is.
    unsigned long wakeups() const { return wakeups_.load(std::memory_order_relaxed); }

private:
    struct Stream {
        const char* name;
        double rate;  // frames a second
        std::function<Bytes()> make;
        double next = 0;
        // Where the streams started and how many frames were due since:
        // frame n is due at start + n / rate, without a sum's drift.
        double start = 0;
        unsigned long count = 0;
    };

    double now() const;
    // The streams' clock: the script's (speed times the wall clock),
    // FlightGear's (the wall clock), or the recording's (from the first
    // connection, at speed).
    double flight_time(double now) const;
    double wall_time(double flight_time) const;
    void step_time(double now);
    void handle_flightgear(double now);
    void replay_finished();
    void send_due(double now);
    void send_streams(double now, bool silent);
    void report_done();
    double next_wake(double now) const;
    void handle_line_input(double now);
    void disconnected(double now);
    void inject(const Bytes& burst, const std::string& what);
    void show_status(double now);
    void log(const std::string& line) const;
    void reply(const std::string& line) const;

    EmulatorOptions options_;
    Output log_;
    Output reply_;
    Output done_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    PtyLine line_;
    SensorUnit unit_;
    FaultInjector faults_;
    LinkFrameReader reader_;
    std::vector<Stream> streams_;
    std::deque<std::pair<double, Bytes>> answers_;
    bool connected_ = false;
    double next_presence_check_ = 0;
    double last_step_ = 0;
    double next_status_ = 10;
    std::string input_text_;
    bool quit_ = false;
    unsigned long frames_sent_ = 0;
    unsigned long commands_heard_ = 0;
    // A stream frame is waiting for the line to take the backlog (above
    // speed 1): the line's readiness, not the clock, wakes the streams.
    bool streams_wait_for_line_ = false;
    bool streams_done_ = false;
    bool done_reported_ = false;

    std::unique_ptr<FlightGearReceiver> flightgear_;
    std::unique_ptr<FlightRecorder> recorder_;
    bool flightgear_live_ = false;   // its data is coming
    double flightgear_last_ = 0;     // when the last good line came
    double flightgear_first_ = -1;   // when the first did (the recording's time 0)
    unsigned long flightgear_lines_ = 0;
    unsigned long flightgear_malformed_ = 0;
    std::optional<RecordedFlight> replay_;
    std::optional<double> replay_origin_;  // wall time of the recording's time 0
    bool failed_ = false;
    std::atomic<unsigned long> wakeups_{0};
};

} // namespace emulator
