#include "soak_support.h"

#include <sys/resource.h>

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "app/exception_box.h"
#include "fake_host.h"
#include "window_application.h"
#include "firmware/instrument_state.h"
#include "firmware/link/link.h"

namespace soak {

namespace {

TARNBY_WINDOW_TEST_APPLICATION;

// "... 12 frames sent, 345 bytes sent, 6 commands heard ..." or "sent 12 frames, 345 bytes".
std::optional<EmulatorStatus> parse_counts(const std::string& line)
{
    EmulatorStatus s;
    if (std::sscanf(line.c_str(), "sent %lu frames, %llu bytes", &s.frames, &s.bytes) == 2)
        return s;
    const size_t at = line.find("; ");
    if (line.rfind("device ", 0) != 0 || at == std::string::npos)
        return std::nullopt;
    if (std::sscanf(line.c_str() + at, "; %lu frames sent, %llu bytes sent, %lu commands heard", &s.frames, &s.bytes,
                    &s.commands) != 3)
        return std::nullopt;
    s.silent = line.find(", silent") != std::string::npos;
    return s;
}

} // namespace

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds deadline)
{
    QDeadlineTimer until(deadline.count());
    // Conditions that change outside Qt (a child's output, the clock) are
    // looked at again at least this often.
    QTimer wake;
    wake.start(5);
    QEventLoop loop;
    while (!done()) {
        if (until.hasExpired())
            return done();
        loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void keep_running_for(std::chrono::milliseconds span)
{
    const auto until = std::chrono::steady_clock::now() + span;
    wait_until([&] { return std::chrono::steady_clock::now() >= until; }, span + DEADLINE);
}

// ---- this process -------------------------------------------------------------------

double cpu_seconds()
{
    rusage use{};
    ::getrusage(RUSAGE_SELF, &use);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(use.ru_utime) + seconds(use.ru_stime);
}

CpuShare::CpuShare() : cpu_at_start_(cpu_seconds()), wall_at_start_(std::chrono::steady_clock::now()) {}

double CpuShare::wall_seconds() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_at_start_).count();
}

double CpuShare::share() const
{
    const double wall = wall_seconds();
    return wall > 0 ? (cpu_seconds() - cpu_at_start_) / wall : 0;
}

// ---- the parser's tally ---------------------------------------------------------------

ParserTally& parser_tally()
{
    static ParserTally tally;
    return tally;
}

void ParserTally::mark()
{
    marked = true;
    marked_at = bytes;
    since_mark.clear();
    first_frame_end_since_mark = 0;
}

} // namespace soak

// The wrapped link_receive (-Wl,--wrap): each byte goes through the real
// parser on its own, so the frames it acts on are seen one by one by the
// marks they set, which are put back as they were, or set, afterwards.
extern "C" void __real__Z12link_receivePKhm(const uint8_t* data, size_t count);

extern "C" void __wrap__Z12link_receivePKhm(const uint8_t* data, size_t count)
{
    soak::ParserTally& t = soak::parser_tally();
    for (size_t i = 0; i < count; ++i) {
        uint8_t* const marks[] = {&ack_received, &compass_frame_received, &compass_data_received, &attitude_valid};
        uint8_t before[std::size(marks)];
        for (size_t m = 0; m < std::size(marks); ++m) {
            before[m] = *marks[m];
            *marks[m] = 0;
        }
        if (rx_state != 0 && rx_clock - rx_byte_tick >= 2)
            ++(data[i] == LINK_START ? t.abandoned_after_a_pause : t.resumed_after_a_pause);
        __real__Z12link_receivePKhm(data + i, 1);
        ++t.bytes;
        bool acted = false;
        for (size_t m = 0; m < std::size(marks); ++m) {
            acted |= *marks[m] != 0;
            *marks[m] |= before[m];
        }
        if (t.marked && t.since_mark.size() < 256)
            t.since_mark.push_back(data[i]);
        if (!acted)
            continue;
        ++t.frames;
        if (t.marked && t.first_frame_end_since_mark == 0)
            t.first_frame_end_since_mark = t.bytes - t.marked_at;
        if (rx_command == FRAME_ATTITUDE) {
            ++t.attitude_frames;
            if (bank == 123 || pitch == -77)
                ++t.poisoned;
        }
    }
}

namespace soak {

// ---- the emulator -------------------------------------------------------------------

EmulatorChild::EmulatorChild(const std::vector<std::string>& options)
    : SensorEmulatorChild(
          [&] {
              std::vector<std::string> quiet{"--quiet"};
              quiet.insert(quiet.end(), options.begin(), options.end());
              return quiet;
          }(),
          ErrorOutput::Read)
{
}

std::optional<EmulatorStatus> EmulatorChild::status()
{
    collect();
    const size_t seen = err_lines().size();
    command("status");
    std::optional<EmulatorStatus> found;
    wait_until([&] {
        collect();
        for (size_t i = seen; i < err_lines().size() && !found; ++i)
            found = parse_counts(err_lines()[i]);
        return found.has_value();
    });
    return found;
}

std::optional<EmulatorStatus> EmulatorChild::frames_done()
{
    collect();
    for (const std::string& line : out_lines()) {
        if (auto counts = parse_counts(line))
            return counts;
    }
    return std::nullopt;
}

// ---- the window ---------------------------------------------------------------------

void WindowOnLine::open_window(const std::string& port)
{
    reset_program_state();
    parser_tally() = ParserTally{};
    set_exception_presenter([this](const QString& message) { errors_shown << message; });
    const bool was_set = qEnvironmentVariableIsSet("TARNBY_PORT");
    const QByteArray old = qgetenv("TARNBY_PORT");
    qputenv("TARNBY_PORT", QByteArray::fromStdString(port));
    form = std::make_unique<TForm1>();
    if (was_set)
        qputenv("TARNBY_PORT", old);
    else
        qunsetenv("TARNBY_PORT");
}

testing::AssertionResult WindowOnLine::start_emulator(const std::vector<std::string>& options)
{
    emulator = std::make_unique<EmulatorChild>(options);
    if (emulator->device().empty())
        return testing::AssertionFailure() << "no sensor unit emulator: " << emulator->error();
    return testing::AssertionSuccess();
}

void WindowOnLine::TearDown()
{
    form.reset();
    set_exception_presenter({});
    emulator.reset();
}

void WindowOnLine::click_connect()
{
    form->Button3->click();
}

void WindowOnLine::click_disconnect()
{
    form->Button4->click();
}

bool WindowOnLine::data_flowing()
{
    attitude_valid = 0;
    compass_frame_received = 0;
    compass_data_received = 0;
    return wait_until([] { return attitude_valid == 1 && compass_frame_received == 1 && compass_data_received == 1; });
}

} // namespace soak
