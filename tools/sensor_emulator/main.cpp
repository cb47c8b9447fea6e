// sensor_emulator: a stand-in for the QR-7's sensor unit on a pseudo-terminal.
// The command line and the process (signals, the link, where lines go) are
// here; the unit itself is the Emulator.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QString>
#include <QStringList>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "command_line.h"
#include "emulator.h"

using namespace emulator;

namespace {

const char SUMMARY[] = R"(Stands in for the QR-7's sensor unit (attitude unit and compass unit) on a
pseudo-terminal. The first line printed on standard output is the device the
simulator should open as its serial port, for example /dev/pts/5.

While the simulator has the device open the emulator
  - streams attitude frames (command 55, long form with turn rate), compass
    heading frames (command 50) and compass data frames (command 51) that
    follow a scripted flight: straight and level, turns both ways, climbs and
    descents, a steep turn that sets the range-exceeded bit, a short push-over;
    or the flight FlightGear flies, live (--flightgear) or recorded (--replay);
  - answers the instrument's commands as a sensor unit would: an
    acknowledgement frame (command 10) for every command it accepts, a compass
    data frame for the start and finish of the deviation calibration, and
    nothing for the tilt compensation setting, which needs no answer.
While nothing has the device open it sends nothing and waits quietly.

It runs until its standard input ends (Ctrl-D), "quit", Ctrl-C or SIGTERM. A
script that starts it in the background, where standard input is often
/dev/null, keeps it running with --ignore-input and ends it with SIGTERM.)";

const char FAULT_FRAMES[] = R"(
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
    EmulatorOptions emulator;
    std::string link_path;
    bool quiet = false;
    bool ignore_input = false;
};

Options parse_options(int argc, char** argv)
{
    command_line::ToolCommandLine cli(QStringLiteral("sensor_emulator"), QString::fromUtf8(SUMMARY));
    QCommandLineParser& p = cli.parser();
    const auto option = command_line::option_adder(p);
    option("attitude-hz", "Attitude frames per second (default 20; 0 for none).", "N");
    option("heading-hz",
           "Compass heading frames per second (default 5; 0 for none: the instrument then takes the attitude "
           "frames' heading).",
           "N");
    option("data-hz", "Compass data frames per second (default 1; 0 for none).", "N");
    option("form", "Attitude frame form 0, 4 or 5 (5: tenths of a degree); default 0.", "F");
    option("no-turn-rate", "Send the shorter attitude frame without turn rate.");
    option("no-answer", "Accept commands but never answer (the instrument then shows COMMS ERROR).");
    option("answer-delay", "Time the unit takes to answer a command (default 20).", "MS");
    option("heading", "Heading the flight starts on (default 0).", "DEG");
    option("faults", "Inject a random fault every SECONDS on average.", "SECONDS");
    option("seed", "Seed for noise and random faults (default 1).", "N");
    option("speed",
           "Fly and stream X times faster than real time (default 1); above 1 no frame is skipped, so a "
           "reader slower than that sets the pace. Answers, faults and silence keep real time.",
           "X");
    option("frames",
           "Stop streaming after N frames; once they are on the line, print \"sent N frames, B bytes\" "
           "(B: every byte written, answers and faults included) on standard output.",
           "N");
    option("flightgear",
           "Fly what FlightGear sends to udp 127.0.0.1:PORT with the protocol file qr7.xml instead of the script; "
           "no frames while its data is not coming.",
           "PORT");
    option("record", "With --flightgear: also write what FlightGear sends to FILE (CSV; an existing file is not "
                     "replaced).",
           "FILE");
    option("replay", "Fly a flight recorded with --record instead of the script, from when the simulator first "
                     "opens the device; every frame is sent, made from the flight at the frame's own time, so a "
                     "replay gives the same bytes every time.",
           "FILE");
    option("link", "Also make PATH a symbolic link to the device.", "PATH");
    option("ignore-input", "Read no commands: run until Ctrl-C or SIGTERM.");
    option("quiet", "Log nothing on standard error.");
    cli.set_epilogue(QString::fromLatin1(OPERATOR_COMMANDS_HELP) + QString::fromLatin1(FAULT_FRAMES));
    cli.parse(argc, argv);

    auto number = [&](const char* name, double fallback, double low, double high) {
        const QString key = QString::fromLatin1(name);
        if (!p.isSet(key))
            return fallback;
        const QString text = p.value(key);
        bool ok = false;
        const double v = text.trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(v) || v < low || v > high)
            cli.reject(QStringLiteral("--%1: \"%2\" is not a number from %3 to %4").arg(key, text).arg(low).arg(high));
        return v;
    };
    Options o;
    EmulatorOptions& e = o.emulator;
    e.attitude_hz = number("attitude-hz", e.attitude_hz, 0, 200);
    e.heading_hz = number("heading-hz", e.heading_hz, 0, 200);
    e.data_hz = number("data-hz", e.data_hz, 0, 200);
    const double form = number("form", e.unit.attitude_form, 0, 5);
    if (form != 0 && form != 4 && form != 5)
        cli.reject(QStringLiteral("--form: the instrument decodes forms 0, 4 and 5"));
    e.unit.attitude_form = static_cast<uint8_t>(form);
    e.unit.turn_rate = !p.isSet(QStringLiteral("no-turn-rate"));
    e.unit.answer_commands = !p.isSet(QStringLiteral("no-answer"));
    e.answer_delay_ms = number("answer-delay", e.answer_delay_ms, 0, 10000);
    e.start_heading = number("heading", e.start_heading, 0, 359);
    e.fault_interval = p.isSet(QStringLiteral("faults")) ? number("faults", 0, 0.1, 86400) : 0;
    e.seed = static_cast<uint32_t>(number("seed", e.seed, 0, 4294967295.0));
    e.speed = number("speed", e.speed, 1, 10000);
    const double frames = number("frames", 0, 1, 4e9);
    if (frames != std::floor(frames))
        cli.reject(QStringLiteral("--frames: \"%1\" is not a whole number").arg(p.value(QStringLiteral("frames"))));
    e.frame_limit = static_cast<unsigned long>(frames);
    if (p.isSet(QStringLiteral("flightgear"))) {
        const double port = number("flightgear", 0, 1, 65535);
        if (port != std::floor(port))
            cli.reject(QStringLiteral("--flightgear: \"%1\" is not a port number").arg(p.value(QStringLiteral("flightgear"))));
        e.flightgear_port = static_cast<int>(port);
        if (p.isSet(QStringLiteral("replay")))
            cli.reject(QStringLiteral("--flightgear and --replay: one flight at a time"));
        if (p.isSet(QStringLiteral("speed")))
            cli.reject(QStringLiteral("--speed: FlightGear's data comes in real time"));
    }
    e.record_path = p.value(QStringLiteral("record")).toStdString();
    e.replay_path = p.value(QStringLiteral("replay")).toStdString();
    if (p.isSet(QStringLiteral("record")) && (e.flightgear_port == 0 || e.record_path.empty()))
        cli.reject(QStringLiteral("--record: records what FlightGear sends; give --flightgear PORT and a file"));
    if (p.isSet(QStringLiteral("replay")) && e.replay_path.empty())
        cli.reject(QStringLiteral("--replay: an empty path"));
    o.link_path = p.value(QStringLiteral("link")).toStdString();
    if (p.isSet(QStringLiteral("link")) && o.link_path.empty())
        cli.reject(QStringLiteral("--link: an empty path"));
    o.quiet = p.isSet(QStringLiteral("quiet"));
    o.ignore_input = p.isSet(QStringLiteral("ignore-input"));
    return o;
}

// A descriptor 0, 1 or 2 that was closed would otherwise be handed out
// again, to the pseudo-terminal: reading the line as our input.
void open_standard_descriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            const int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            if (null >= 0 && null != fd) {
                ::dup2(null, fd);
                ::close(null);
            }
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = parse_options(argc, argv);
    open_standard_descriptors();

    struct sigaction action{};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const auto started = std::chrono::steady_clock::now();
    Emulator::Output log;
    if (!options.quiet) {
        log = [started](const std::string& line) {
            const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            std::fprintf(stderr, "[%8.2f] %s\n", t, line.c_str());
        };
    }
    const Emulator::Output reply = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
    // For whoever reads the device from the first line: the second says the
    // frames asked for are all out.
    const Emulator::Output done = [](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    };

    try {
        Emulator emulator(options.emulator, log, reply, done);

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
        // Printed once the link exists: whoever reads the line may use either at once.
        std::printf("%s\n", emulator.device().c_str());
        std::fflush(stdout);
        if (log) {
            log("sensor unit on " + emulator.device() + "; waiting for the simulator to open it");
            if (options.emulator.flightgear_port != 0)
                log("waiting for FlightGear's data on udp 127.0.0.1:" + std::to_string(options.emulator.flightgear_port) +
                    (options.emulator.record_path.empty() ? "" : "; recording it to " + options.emulator.record_path));
        }
        const int result = emulator.run(options.ignore_input ? -1 : STDIN_FILENO, &quit_signal);
        if (!options.link_path.empty())
            ::unlink(options.link_path.c_str());
        return result;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sensor_emulator: %s\n", e.what());
        return 1;
    }
}
