// sensor_emulator: a stand-in for the QR-7's sensor unit on a pseudo-terminal.
// See usage() for what it does and how to drive it.
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "fault_injector.h"
#include "frame_encoder.h"
#include "pty_line.h"
#include "sensor_unit.h"

using namespace emulator;

namespace {

const char USAGE[] = R"(Usage: sensor_emulator [options]

Stands in for the QR-7's sensor unit (attitude unit and compass unit) on a
pseudo-terminal. The first line printed on standard output is the device the
simulator should open as its serial port, for example /dev/pts/5.

While the simulator has the device open the emulator
  - streams attitude frames (command 55, long form with turn rate), compass
    heading frames (command 50) and compass data frames (command 51) that
    follow a scripted flight: straight and level, turns both ways, climbs and
    descents, a steep turn that sets the range-exceeded bit, a short push-over;
  - answers the instrument's commands as a sensor unit would: an
    acknowledgement frame (command 10) for every command it accepts, a compass
    data frame for the start and finish of the deviation calibration, and
    nothing for the tilt compensation setting, which needs no answer.
While nothing has the device open it sends nothing and waits quietly.

Options:
  --attitude-hz N    attitude frames per second (default 20; 0 for none)
  --heading-hz N     compass heading frames per second (default 5; 0 for none;
                     without them the instrument takes the attitude heading)
  --data-hz N        compass data frames per second (default 1; 0 for none)
  --form F           attitude frame form 0, 4 or 5 (5: tenths of a degree);
                     default 0
  --no-turn-rate     send the shorter attitude frame without turn rate
  --no-answer        accept commands but never answer (the instrument then
                     shows COMMS ERROR)
  --answer-delay MS  time the unit takes to answer a command (default 20)
  --heading DEG      heading the flight starts on (default 0)
  --faults SECONDS   inject a random fault every SECONDS on average
  --seed N           seed for noise and random faults (default 1)
  --link PATH        also make PATH a symbolic link to the device
  --quiet            log nothing on standard error
  -h, --help         this text

Commands typed on standard input, one per line:
  noise [N]          N random bytes at once (default 32)
  badsum [N]         N frames with a wrong checksum (default 1)
  truncate [N]       N frames cut short before their end (default 1)
  silence [S]        send and answer nothing for S seconds (default 5)
  answers on|off     answer commands or not
  status             show the flight and the line
  help               this list
  quit               leave (end of input or Ctrl-C as well)

Frames injected as faults are attitude frames carrying a bank of 123 degrees
and a pitch of -77, values the scripted flight never shows: if the instrument
ever displays them, it took a frame it should have dropped.
)";

volatile sig_atomic_t quit_signal = 0;

void on_signal(int)
{
    quit_signal = 1;
}

struct Options {
    double attitude_hz = 20;
    double heading_hz = 5;
    double data_hz = 1;
    UnitOptions unit;
    double answer_delay_ms = 20;
    double start_heading = 0;
    double fault_interval = 0;
    uint32_t seed = 1;
    std::string link_path;
    bool quiet = false;
};

bool quiet = false;
std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();

double seconds_since_start()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

void log(const char* fmt, ...)
{
    if (quiet)
        return;
    std::fprintf(stderr, "[%8.2f] ", seconds_since_start());
    va_list args;
    va_start(args, fmt);
    std::vfprintf(stderr, fmt, args);
    va_end(args);
    std::fputc('\n', stderr);
}

[[noreturn]] void usage_error(const std::string& message)
{
    std::fprintf(stderr, "sensor_emulator: %s\n(try --help)\n", message.c_str());
    std::exit(2);
}

double number_arg(int argc, char** argv, int& i, double low, double high)
{
    const std::string option = argv[i];
    if (i + 1 >= argc)
        usage_error(option + " needs a value");
    const char* text = argv[++i];
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !std::isfinite(v) || v < low || v > high) {
        std::ostringstream m;
        m << option << ": \"" << text << "\" is not a number from " << low << " to " << high;
        usage_error(m.str());
    }
    return v;
}

Options parse_options(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::fputs(USAGE, stdout);
            std::exit(0);
        } else if (a == "--attitude-hz") {
            o.attitude_hz = number_arg(argc, argv, i, 0, 200);
        } else if (a == "--heading-hz") {
            o.heading_hz = number_arg(argc, argv, i, 0, 200);
        } else if (a == "--data-hz") {
            o.data_hz = number_arg(argc, argv, i, 0, 200);
        } else if (a == "--form") {
            const double f = number_arg(argc, argv, i, 0, 5);
            if (f != 0 && f != 4 && f != 5)
                usage_error("--form: the instrument decodes forms 0, 4 and 5");
            o.unit.attitude_form = static_cast<uint8_t>(f);
        } else if (a == "--no-turn-rate") {
            o.unit.turn_rate = false;
        } else if (a == "--no-answer") {
            o.unit.answer_commands = false;
        } else if (a == "--answer-delay") {
            o.answer_delay_ms = number_arg(argc, argv, i, 0, 10000);
        } else if (a == "--heading") {
            o.start_heading = number_arg(argc, argv, i, 0, 359);
        } else if (a == "--faults") {
            o.fault_interval = number_arg(argc, argv, i, 0.1, 86400);
        } else if (a == "--seed") {
            o.seed = static_cast<uint32_t>(number_arg(argc, argv, i, 0, 4294967295.0));
        } else if (a == "--link") {
            if (i + 1 >= argc)
                usage_error("--link needs a path");
            o.link_path = argv[++i];
        } else if (a == "--quiet") {
            o.quiet = true;
        } else {
            usage_error("unknown option \"" + a + "\"");
        }
    }
    return o;
}

// A frame stream at a fixed rate.
struct Stream {
    const char* name;
    double period;  // seconds; 0 when off
    std::function<Bytes()> make;
    double next = 0;
};

class Emulator {
public:
    explicit Emulator(const Options& options)
        : options_(options), unit_(options.unit, options.start_heading), faults_(options.seed)
    {
        if (options.attitude_hz > 0)
            streams_.push_back({"attitude", 1 / options.attitude_hz, [this] { return unit_.attitude_frame(); }});
        if (options.heading_hz > 0)
            streams_.push_back(
                {"compass heading", 1 / options.heading_hz, [this] { return unit_.compass_heading_frame(); }});
        if (options.data_hz > 0)
            streams_.push_back({"compass data", 1 / options.data_hz, [this] { return unit_.compass_data_frame(); }});
        faults_.set_random_faults(options.fault_interval, 0);
    }

    const std::string& device() const { return line_.slave_path(); }

    int run();

private:
    void step_time(double now);
    void send_due(double now);
    double next_wake(double now) const;
    void handle_input(double now);
    void disconnected(double now);
    void command_line(const std::string& text, double now);
    void inject(const Bytes& burst, const char* what);
    void show_status(double now);

    Options options_;
    PtyLine line_;
    SensorUnit unit_;
    FaultInjector faults_;
    FrameReader reader_;
    std::vector<Stream> streams_;
    std::deque<std::pair<double, Bytes>> answers_;
    bool connected_ = false;
    double next_presence_check_ = 0;
    double last_step_ = 0;
    double next_status_ = 10;
    bool stdin_open_ = true;
    std::string stdin_text_;
    bool quit_ = false;
    unsigned long frames_sent_ = 0;
    unsigned long commands_heard_ = 0;
};

constexpr double PRESENCE_CHECK_PERIOD = 0.2;

void Emulator::step_time(double now)
{
    unit_.advance(now - last_step_);
    last_step_ = now;
    if (!connected_ && now >= next_presence_check_) {
        next_presence_check_ = now + PRESENCE_CHECK_PERIOD;
        if (line_.peer_present()) {
            connected_ = true;
            reader_ = FrameReader{};
            for (Stream& s : streams_)
                s.next = now;
            log("simulator connected to %s", line_.slave_path().c_str());
        }
    }
    if (now >= next_status_) {
        next_status_ = now + 10;
        const FlightSample& f = unit_.flight();
        log("flight: %s, heading %.0f, pitch %.0f, bank %.0f%s", f.manoeuvre.c_str(), f.heading, f.pitch, f.bank,
            connected_ ? "" : " (nobody listening)");
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
            log("%s", what.c_str());
        else
            inject(burst, what.c_str());
    }
    const bool silent = faults_.silent(now);
    for (Stream& s : streams_) {
        if (now < s.next)
            continue;
        // After a stall, carry on at the normal rate rather than catch up.
        s.next = std::max(s.next + s.period, now);
        if (!silent && line_.queue(s.make()))
            ++frames_sent_;
    }
    while (!answers_.empty() && answers_.front().first <= now) {
        if (!silent)
            line_.queue(answers_.front().second);
        answers_.pop_front();
    }
    line_.flush();
}

double Emulator::next_wake(double now) const
{
    double wake = now + 1.0;
    if (!connected_) {
        wake = std::min(wake, next_presence_check_);
    } else {
        for (const Stream& s : streams_)
            wake = std::min(wake, s.next);
        if (!answers_.empty())
            wake = std::min(wake, answers_.front().first);
        wake = std::min(wake, faults_.next_random_fault());
    }
    return std::max(wake, now);
}

void Emulator::disconnected(double now)
{
    connected_ = false;
    line_.discard_output();
    answers_.clear();
    next_presence_check_ = now + PRESENCE_CHECK_PERIOD;
    log("simulator disconnected; waiting for it to open %s again", line_.slave_path().c_str());
}

void Emulator::handle_input(double now)
{
    Bytes bytes;
    const bool still_there = line_.read_available(bytes);
    for (uint8_t b : bytes) {
        auto frame = reader_.push(b);
        if (!frame)
            continue;
        ++commands_heard_;
        if (faults_.silent(now)) {
            log("command to 0x%02X ignored: silent", frame->address);
            continue;
        }
        Answer a = unit_.answer(*frame);
        log("%s%s", a.note.c_str(), a.frames.empty() ? "" : " -> answered");
        for (Bytes& f : a.frames)
            answers_.emplace_back(now + options_.answer_delay_ms / 1000.0, std::move(f));
    }
    if (!still_there)
        disconnected(now);
}

void Emulator::inject(const Bytes& burst, const char* what)
{
    if (!connected_) {
        log("not connected: %s not sent", what);
        return;
    }
    if (!line_.queue(burst)) {
        log("line backlog full: %s not sent", what);
        return;
    }
    log("sent %s (%zu bytes)", what, burst.size());
    line_.flush();
}

void Emulator::show_status(double now)
{
    const FlightSample& f = unit_.flight();
    std::fprintf(stderr,
                 "device %s, %s; %lu frames sent, %lu commands heard%s\n"
                 "flight: %s; heading %.1f, pitch %.1f, bank %.1f, turn %.1f deg/s, slip %.0f, %.2f G%s\n",
                 line_.slave_path().c_str(), connected_ ? "simulator connected" : "nobody connected", frames_sent_,
                 commands_heard_, faults_.silent(now) ? ", silent" : "", f.manoeuvre.c_str(), f.heading, f.pitch,
                 f.bank, f.turn_rate + 0.0, f.slip + 0.0, f.g_load, f.range_exceeded ? ", range exceeded" : "");
}

void Emulator::command_line(const std::string& text, double now)
{
    std::istringstream in(text);
    std::string word;
    if (!(in >> word))
        return;
    auto count = [&](double fallback, double low, double high) {
        double v = fallback;
        std::string extra;
        if (in >> extra) {
            char* end = nullptr;
            v = std::strtod(extra.c_str(), &end);
            if (end == extra.c_str() || *end != '\0' || !(v >= low && v <= high)) {
                std::fprintf(stderr, "%s: \"%s\" is not a number from %g to %g\n", word.c_str(), extra.c_str(), low,
                             high);
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
            faults_.silence_until(now + s);
            log("silent for %.1f s", s);
        }
    } else if (word == "answers") {
        std::string state;
        in >> state;
        if (state == "on" || state == "off") {
            unit_.options.answer_commands = state == "on";
            log("answers %s", state.c_str());
        } else {
            std::fputs("answers on|off\n", stderr);
        }
    } else if (word == "status") {
        show_status(now);
    } else if (word == "help") {
        const char* commands = std::strstr(USAGE, "Commands typed");
        std::fputs(commands ? commands : USAGE, stderr);
    } else if (word == "quit" || word == "exit") {
        quit_ = true;
    } else {
        std::fprintf(stderr, "unknown command \"%s\"; type help\n", word.c_str());
    }
}

int Emulator::run()
{
    while (!quit_ && !quit_signal) {
        double now = seconds_since_start();
        step_time(now);
        send_due(now);

        pollfd fds[2];
        nfds_t n = 0;
        int stdin_slot = -1;
        int line_slot = -1;
        if (stdin_open_) {
            stdin_slot = static_cast<int>(n);
            fds[n++] = {STDIN_FILENO, POLLIN, 0};
        }
        // Only while the simulator is there: a master without a peer reports
        // a hang-up at once, every time it is polled.
        if (connected_) {
            line_slot = static_cast<int>(n);
            fds[n++] = {line_.fd(), static_cast<short>(POLLIN | (line_.has_output() ? POLLOUT : 0)), 0};
        }
        const double wait = next_wake(now) - now;
        const int timeout_ms = static_cast<int>(std::ceil(wait * 1000));
        if (::poll(fds, n, timeout_ms) < 0) {
            if (errno == EINTR)
                continue;
            std::perror("sensor_emulator: poll");
            return 1;
        }
        now = seconds_since_start();

        if (line_slot >= 0) {
            const short r = fds[line_slot].revents;
            if (r & POLLIN)
                handle_input(now);
            if (connected_ && (r & (POLLHUP | POLLERR)))
                disconnected(now);
            else if (connected_ && (r & POLLOUT))
                line_.flush();
        }
        if (stdin_slot >= 0 && fds[stdin_slot].revents) {
            char buffer[256];
            const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (got <= 0) {
                if (got < 0 && errno == EINTR)
                    continue;
                // End of input: keep running, driven by the clock alone.
                stdin_open_ = false;
                continue;
            }
            stdin_text_.append(buffer, static_cast<size_t>(got));
            size_t end;
            while ((end = stdin_text_.find('\n')) != std::string::npos) {
                command_line(stdin_text_.substr(0, end), now);
                stdin_text_.erase(0, end + 1);
            }
            if (stdin_text_.size() > 4096)
                stdin_text_.clear();
        }
    }
    log("leaving");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = parse_options(argc, argv);
    quiet = options.quiet;

    struct sigaction action{};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    try {
        Emulator emulator(options);
        std::printf("%s\n", emulator.device().c_str());
        std::fflush(stdout);

        if (!options.link_path.empty()) {
            struct stat st{};
            if (lstat(options.link_path.c_str(), &st) == 0) {
                if (!S_ISLNK(st.st_mode)) {
                    std::fprintf(stderr, "sensor_emulator: %s exists and is not a symbolic link; not replaced\n",
                                 options.link_path.c_str());
                    return 1;
                }
                ::unlink(options.link_path.c_str());
            }
            if (symlink(emulator.device().c_str(), options.link_path.c_str()) != 0) {
                std::fprintf(stderr, "sensor_emulator: cannot link %s: %s\n", options.link_path.c_str(),
                             std::strerror(errno));
                return 1;
            }
        }
        log("sensor unit on %s; waiting for the simulator to open it", emulator.device().c_str());
        const int result = emulator.run();
        if (!options.link_path.empty())
            ::unlink(options.link_path.c_str());
        return result;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sensor_emulator: %s\n", e.what());
        return 1;
    }
}
