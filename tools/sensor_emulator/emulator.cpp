#include "emulator.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace emulator {

const char OPERATOR_COMMANDS_HELP[] = R"(Commands typed on standard input, one per line:
  noise [N]          N random bytes at once (default 32)
  badsum [N]         N frames with a wrong checksum (default 1)
  truncate [N]       N frames cut short before their end (default 1)
  silence [S]        send and answer nothing for S seconds (default 5)
  answers on|off     answer commands or not
  status             show the flight and the line
  help               this list
  quit               leave (end of input or Ctrl-C as well)
)";

namespace {

constexpr double PRESENCE_CHECK_PERIOD = 0.2;
constexpr double STATUS_LOG_PERIOD = 10;
// A line typed without an end is dropped past this, so the input cannot
// grow without bound.
constexpr size_t MAX_INPUT_LINE = 4096;

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

std::string format(const char* fmt, ...)
{
    char text[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

} // namespace

Emulator::Emulator(const EmulatorOptions& options, Output log, Output reply, Output done)
    : options_(options),
      log_(std::move(log)),
      reply_(std::move(reply)),
      done_(std::move(done)),
      unit_(options.unit, options.start_heading),
      faults_(options.seed)
{
    if (options.attitude_hz > 0)
        streams_.push_back({"attitude", options.attitude_hz, [this] { return unit_.attitude_frame(); }});
    if (options.heading_hz > 0)
        streams_.push_back(
            {"compass heading", options.heading_hz, [this] { return unit_.compass_heading_frame(); }});
    if (options.data_hz > 0)
        streams_.push_back({"compass data", options.data_hz, [this] { return unit_.compass_data_frame(); }});
    faults_.set_random_faults(options.fault_interval, 0);
    if (!options.replay_path.empty())
        replay_ = RecordedFlight::load(options.replay_path);
    if (options.flightgear_port != 0) {
        flightgear_ = std::make_unique<FlightGearReceiver>(options.flightgear_port);
        if (!options.record_path.empty())
            recorder_ = std::make_unique<FlightRecorder>(options.record_path);
    }
}

double Emulator::flight_time(double now) const
{
    if (replay_)
        return replay_origin_ ? (now - *replay_origin_) * options_.speed : 0;
    return now * options_.speed;
}

double Emulator::wall_time(double flight_time) const
{
    if (replay_)
        return replay_origin_.value_or(0) + flight_time / options_.speed;
    return flight_time / options_.speed;
}

double Emulator::now() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
}

void Emulator::log(const std::string& line) const
{
    if (log_)
        log_(line);
}

void Emulator::reply(const std::string& line) const
{
    if (reply_)
        reply_(line);
}

void Emulator::step_time(double now)
{
    unit_.advance((now - last_step_) * options_.speed);
    last_step_ = now;
    if (!connected_ && now >= next_presence_check_) {
        next_presence_check_ = now + PRESENCE_CHECK_PERIOD;
        if (line_.peer_present()) {
            connected_ = true;
            reader_ = LinkFrameReader{};
            // A recorded flight starts when the simulator is first there.
            if (replay_ && !replay_origin_)
                replay_origin_ = now;
            for (Stream& s : streams_) {
                s.start = s.next = flight_time(now);
                s.count = 0;
            }
            log("simulator connected to " + line_.slave_path());
        }
    }
    if (flightgear_live_ && now - flightgear_last_ >= FLIGHTGEAR_TIMEOUT) {
        flightgear_live_ = false;
        log(format("FlightGear's data stopped (nothing for %.0f s): no frames until it comes back",
                   FLIGHTGEAR_TIMEOUT));
    }
    if (now >= next_status_) {
        next_status_ = now + STATUS_LOG_PERIOD;
        const FlightSample& f = unit_.flight();
        log(format("flight: %s, heading %.0f, pitch %.0f, bank %.0f%s", f.manoeuvre.c_str(), f.heading, f.pitch,
                   f.bank, connected_ ? "" : " (nobody listening)"));
    }
}

void Emulator::send_due(double now)
{
    if (!connected_)
        return;
    Bytes burst;
    std::string what;
    if (faults_.random_fault_due(now, burst, what)) {
        what = "random " + what;
        if (burst.empty())
            log(what);
        else
            inject(burst, what);
    }
    const bool silent = faults_.silent(now);
    send_streams(now, silent);
    while (!answers_.empty() && answers_.front().first <= now) {
        if (!silent)
            line_.queue(answers_.front().second);
        answers_.pop_front();
    }
    line_.flush();
}

void Emulator::send_streams(double now, bool silent)
{
    if (streams_done_)
        return;
    // Without FlightGear's data there is nothing to measure: the unit goes
    // quiet, as one that has lost its sensors would.
    if (flightgear_ && !flightgear_live_)
        return;
    auto sent = [this] {
        ++frames_sent_;
        streams_done_ = options_.frame_limit != 0 && frames_sent_ >= options_.frame_limit;
    };
    // The streams keep time on the flight's clock.
    const double at = flight_time(now);
    // A recorded flight sends every frame, each made from the sample in
    // force at the frame's own time, so a replay gives the same bytes
    // however busy the machine is.
    if (options_.speed <= 1 && !replay_) {
        for (Stream& s : streams_) {
            if (at < s.next)
                continue;
            // After a stall, carry on at the normal rate rather than catch up.
            s.next = std::max(s.next + 1 / s.rate, at);
            if (!silent && line_.queue(s.make()))
                sent();
            if (streams_done_)
                return;
        }
        return;
    }
    // Faster than real time every frame goes, earliest first, and one the
    // line cannot take yet waits for it rather than be skipped.
    streams_wait_for_line_ = false;
    const double end = replay_ ? replay_->end_time() : 1e300;
    for (;;) {
        Stream* due = nullptr;
        for (Stream& s : streams_) {
            if (at >= s.next && s.next <= end && (due == nullptr || s.next < due->next))
                due = &s;
        }
        if (due == nullptr) {
            if (replay_ && std::all_of(streams_.begin(), streams_.end(), [end](const Stream& s) { return s.next > end; }))
                replay_finished();
            return;
        }
        if (replay_)
            unit_.fly(flight_from_flightgear(replay_->at(due->next).state));
        if (!silent) {
            if (!line_.queue(due->make())) {
                streams_wait_for_line_ = true;
                return;
            }
            sent();
        }
        due->next = due->start + static_cast<double>(++due->count) / due->rate;
        if (streams_done_)
            return;
    }
}

void Emulator::replay_finished()
{
    streams_done_ = true;
    log(format("the recorded flight has ended (%.1f s); no more frames", replay_->end_time()));
}

void Emulator::report_done()
{
    if (!streams_done_ || done_reported_ || line_.has_output())
        return;
    done_reported_ = true;
    const std::string text = format("sent %lu frames, %llu bytes", frames_sent_, line_.bytes_written());
    log((options_.frame_limit != 0 && frames_sent_ >= options_.frame_limit ? "frame limit reached: "
                                                                          : "streams ended: ") +
        text);
    if (done_)
        done_(text);
}

double Emulator::next_wake(double now) const
{
    double wake = now + 1.0;
    if (!connected_) {
        wake = std::min(wake, next_presence_check_);
    } else {
        // A stream waiting for a backlog the line has not taken yet is
        // woken by the line; without FlightGear's data, by its data.
        if (!streams_done_ && !(streams_wait_for_line_ && line_.has_output()) && !(flightgear_ && !flightgear_live_)) {
            for (const Stream& s : streams_)
                wake = std::min(wake, wall_time(s.next));
        }
        if (!answers_.empty())
            wake = std::min(wake, answers_.front().first);
        wake = std::min(wake, faults_.next_random_fault());
    }
    if (flightgear_live_)
        wake = std::min(wake, flightgear_last_ + FLIGHTGEAR_TIMEOUT);
    return std::max(wake, now);
}

void Emulator::disconnected(double now)
{
    connected_ = false;
    line_.discard_output();
    answers_.clear();
    next_presence_check_ = now + PRESENCE_CHECK_PERIOD;
    log("simulator disconnected; waiting for it to open " + line_.slave_path() + " again");
}

void Emulator::handle_line_input(double now)
{
    Bytes bytes;
    const bool still_there = line_.read_available(bytes);
    for (uint8_t b : bytes) {
        auto frame = reader_.push(b);
        if (!frame)
            continue;
        ++commands_heard_;
        if (faults_.silent(now)) {
            log(format("command to 0x%02X ignored: silent", frame->address));
            continue;
        }
        Answer a = unit_.answer(*frame);
        log(a.note + (a.frames.empty() ? "" : " -> answered"));
        for (Bytes& f : a.frames)
            answers_.emplace_back(now + options_.answer_delay_ms / 1000.0, std::move(f));
    }
    if (!still_there)
        disconnected(now);
}

void Emulator::handle_flightgear(double now)
{
    for (const std::string& line : flightgear_->read_lines()) {
        std::string why;
        const std::optional<FlightGearState> state = parse_flightgear_line(line, &why);
        if (!state) {
            // The first says what is wrong; then a count now and then, so a
            // wrong protocol file cannot flood the log.
            const unsigned long n = ++flightgear_malformed_;
            if (n == 1)
                log("skipped a line from FlightGear, " + why + " (is qr7.xml its protocol file?)");
            else if (n == 10 || n == 100 || n % 1000 == 0)
                log(format("%lu lines from FlightGear skipped so far", n));
            continue;
        }
        ++flightgear_lines_;
        if (flightgear_first_ < 0)
            flightgear_first_ = now;
        if (recorder_ && !recorder_->write(now - flightgear_first_, *state) && !failed_) {
            failed_ = true;
            log("recording stopped: " + recorder_->error());
        }
        unit_.fly(flight_from_flightgear(*state));
        flightgear_last_ = now;
        if (!flightgear_live_) {
            flightgear_live_ = true;
            log(flightgear_lines_ == 1 ? format("FlightGear's data has started on udp 127.0.0.1:%d", flightgear_->port())
                                       : std::string("FlightGear's data is back"));
        }
    }
}

void Emulator::inject(const Bytes& burst, const std::string& what)
{
    if (!connected_) {
        log("not connected: " + what + " not sent");
        return;
    }
    if (!line_.queue(burst)) {
        log("line backlog full: " + what + " not sent");
        return;
    }
    log(format("sent %s (%zu bytes)", what.c_str(), burst.size()));
    line_.flush();
}

void Emulator::show_status(double now)
{
    const FlightSample& f = unit_.flight();
    reply(format("device %s, %s; %lu frames sent, %llu bytes sent, %lu commands heard%s%s",
                 line_.slave_path().c_str(), connected_ ? "simulator connected" : "nobody connected", frames_sent_,
                 line_.bytes_written(), commands_heard_, streams_done_ ? ", frame limit reached" : "",
                 faults_.silent(now) ? ", silent" : ""));
    reply(format("flight: %s; heading %.1f, pitch %.1f, bank %.1f, turn %.1f deg/s, slip %.0f, %.2f G%s",
                 f.manoeuvre.c_str(), f.heading, f.pitch, f.bank, f.turn_rate + 0.0, f.slip + 0.0, f.g_load,
                 f.range_exceeded ? ", range exceeded" : ""));
    if (flightgear_) {
        reply(format("FlightGear on udp 127.0.0.1:%d: %s; %lu lines taken, %lu malformed skipped%s", flightgear_->port(),
                     flightgear_live_ ? "data coming" : flightgear_lines_ ? "data stopped" : "no data yet",
                     flightgear_lines_, flightgear_malformed_,
                     recorder_ ? format(", %lu recorded", recorder_->samples()).c_str() : ""));
    }
    if (replay_) {
        reply(format("recorded flight: %.1f of %.1f s", std::min(flight_time(now), replay_->end_time()),
                     replay_->end_time()));
    }
}

bool Emulator::command_line(const std::string& text)
{
    const double at = now();
    std::istringstream in(text);
    std::string word;
    if (!(in >> word))
        return true;
    // The optional number after the command; -1 when it is not one.
    auto count = [&](double fallback, double low, double high) {
        double v = fallback;
        std::string extra;
        if (in >> extra) {
            char* end = nullptr;
            v = std::strtod(extra.c_str(), &end);
            if (end == extra.c_str() || *end != '\0' || !(v >= low && v <= high)) {
                reply(format("%s: \"%s\" is not a number from %g to %g", word.c_str(), extra.c_str(), low, high));
                return -1.0;
            }
        }
        return v;
    };
    if (word == "noise") {
        const double n = count(32, 1, 2048);
        if (n > 0)
            inject(faults_.noise(static_cast<int>(n)), "noise");
    } else if (word == "badsum") {
        const double n = count(1, 1, 50);
        if (n > 0)
            inject(faults_.bad_checksums(static_cast<int>(n)), "bad checksums");
    } else if (word == "truncate") {
        const double n = count(1, 1, 50);
        if (n > 0)
            inject(faults_.truncated(static_cast<int>(n)), "frames cut short");
    } else if (word == "silence") {
        const double s = count(5, 0, 3600);
        if (s >= 0) {
            faults_.silence_until(at + s);
            log(format("silent for %.1f s", s));
        }
    } else if (word == "answers") {
        std::string state;
        in >> state;
        if (state == "on" || state == "off") {
            unit_.options.answer_commands = state == "on";
            log("answers " + state);
        } else {
            reply("answers on|off");
        }
    } else if (word == "status") {
        show_status(at);
    } else if (word == "help") {
        std::string help = OPERATOR_COMMANDS_HELP;
        if (!help.empty() && help.back() == '\n')
            help.pop_back();
        reply(help);
    } else if (word == "quit" || word == "exit") {
        quit_ = true;
        return false;
    } else {
        reply("unknown command \"" + word + "\"; type help");
    }
    return true;
}

int Emulator::run(int input, const volatile std::sig_atomic_t* stop)
{
    bool input_open = input >= 0;
    while (!quit_ && !(stop && *stop)) {
        wakeups_.fetch_add(1, std::memory_order_relaxed);
        double t = now();
        step_time(t);
        send_due(t);
        report_done();

        pollfd fds[3];
        nfds_t n = 0;
        int input_slot = -1;
        int line_slot = -1;
        int flightgear_slot = -1;
        if (flightgear_) {
            flightgear_slot = static_cast<int>(n);
            fds[n++] = {flightgear_->fd(), POLLIN, 0};
        }
        if (input_open) {
            input_slot = static_cast<int>(n);
            fds[n++] = {input, POLLIN, 0};
        }
        // Only while the simulator is there: a master without a peer reports
        // a hang-up at once, every time it is polled.
        if (connected_) {
            line_slot = static_cast<int>(n);
            fds[n++] = {line_.fd(), static_cast<short>(POLLIN | (line_.has_output() ? POLLOUT : 0)), 0};
        }
        const int timeout_ms = static_cast<int>(std::ceil((next_wake(t) - t) * 1000));
        if (::poll(fds, n, timeout_ms) < 0) {
            if (errno == EINTR)
                continue;
            log(std::string("poll: ") + std::strerror(errno));
            return 1;
        }
        t = now();

        if (flightgear_slot >= 0 && fds[flightgear_slot].revents)
            handle_flightgear(t);
        if (line_slot >= 0) {
            const short r = fds[line_slot].revents;
            if (r & POLLIN)
                handle_line_input(t);
            if (connected_ && (r & (POLLHUP | POLLERR)))
                disconnected(t);
            else if (connected_ && (r & POLLOUT))
                line_.flush();
        }
        if (input_slot >= 0 && fds[input_slot].revents) {
            char buffer[256];
            const ssize_t got = ::read(input, buffer, sizeof buffer);
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (got <= 0) {
                // The operator is gone: so is the sensor unit.
                log(got == 0 ? "end of input" : std::string("input: ") + std::strerror(errno));
                input_open = false;
                break;
            }
            input_text_.append(buffer, static_cast<size_t>(got));
            size_t end;
            while (!quit_ && (end = input_text_.find('\n')) != std::string::npos) {
                command_line(input_text_.substr(0, end));
                input_text_.erase(0, end + 1);
            }
            if (input_text_.size() > MAX_INPUT_LINE)
                input_text_.clear();
        }
    }
    // What is queued for the line still goes, as far as it takes it now.
    if (connected_)
        line_.flush();
    log("leaving");
    return failed_ ? 1 : 0;
}

} // namespace emulator
