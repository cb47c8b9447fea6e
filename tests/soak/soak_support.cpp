#include "soak_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "app/exception_box.h"
#include "fake_host.h"
#include "sensor_emulator_path.h"
#include "window_application.h"
#include "firmware/instrument_state.h"
#include "firmware/link/link.h"

extern char** environ;

namespace soak {

namespace {

TARNBY_WINDOW_TEST_APPLICATION;

int count_entries(const char* folder)
{
    DIR* dir = ::opendir(folder);
    if (!dir)
        return -1;
    int n = 0;
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] != '.')
            ++n;
    }
    ::closedir(dir);
    return n;
}

void read_lines(int fd, std::string& text, std::vector<std::string>& lines)
{
    if (fd < 0)
        return;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
    }
    size_t end;
    while ((end = text.find('\n')) != std::string::npos) {
        lines.push_back(text.substr(0, end));
        text.erase(0, end + 1);
    }
}

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

long rss_kib()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

int open_descriptors()
{
    // Less the one opendir holds while it counts.
    return count_entries("/proc/self/fd") - 1;
}

int thread_count()
{
    return count_entries("/proc/self/task");
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
            ++t.abandoned_after_a_pause;
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
{
    const std::string path = sensor_emulator_path();
    if (path.empty() || ::access(path.c_str(), X_OK) != 0) {
        error_ = "sensor emulator not found at \"" + path + "\"";
        return;
    }
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (::pipe2(in_pipe, O_CLOEXEC) != 0 || ::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
        error_ = std::strerror(errno);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
    std::vector<std::string> args{path, "--quiet"};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int spawned = posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in_pipe[0]);
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    to_child_ = in_pipe[1];
    from_out_ = out_pipe[0];
    from_err_ = err_pipe[0];
    if (spawned != 0) {
        pid_ = -1;
        error_ = std::string("cannot start the sensor emulator: ") + std::strerror(spawned);
        return;
    }
    fcntl(from_out_, F_SETFL, fcntl(from_out_, F_GETFL) | O_NONBLOCK);
    fcntl(from_err_, F_SETFL, fcntl(from_err_, F_GETFL) | O_NONBLOCK);
    // Its first line is the device.
    const auto until = std::chrono::steady_clock::now() + DEADLINE;
    while (out_lines_.empty() && std::chrono::steady_clock::now() < until) {
        pollfd p{from_out_, POLLIN, 0};
        if (::poll(&p, 1, 100) < 0 && errno != EINTR)
            break;
        if (p.revents & POLLHUP && !(p.revents & POLLIN))
            break;
        read_lines(from_out_, out_text_, out_lines_);
    }
    if (out_lines_.empty()) {
        collect();
        error_ = "the sensor emulator did not name its device";
        for (const std::string& l : err_lines_)
            error_ += "; " + l;
        return;
    }
    device_ = out_lines_.front();
    out_lines_.erase(out_lines_.begin());
}

EmulatorChild::~EmulatorChild()
{
    if (to_child_ >= 0)
        ::close(to_child_);  // the end of its input ends it
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        reap(10s);
    }
    if (from_out_ >= 0)
        ::close(from_out_);
    if (from_err_ >= 0)
        ::close(from_err_);
}

void EmulatorChild::reap(std::chrono::milliseconds grace)
{
    const auto until = std::chrono::steady_clock::now() + grace;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > until) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        // Its end is all it has left to say; a short poll on nothing keeps
        // this from spinning.
        ::poll(nullptr, 0, 10);
    }
    pid_ = -1;
}

void EmulatorChild::kill_now()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    reap(DEADLINE);
}

void EmulatorChild::command(const std::string& line)
{
    const std::string text = line + "\n";
    ASSERT_EQ(::write(to_child_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

void EmulatorChild::collect()
{
    read_lines(from_out_, out_text_, out_lines_);
    read_lines(from_err_, err_text_, err_lines_);
}

std::optional<EmulatorStatus> EmulatorChild::status()
{
    collect();
    const size_t seen = err_lines_.size();
    command("status");
    std::optional<EmulatorStatus> found;
    wait_until([&] {
        collect();
        for (size_t i = seen; i < err_lines_.size() && !found; ++i)
            found = parse_counts(err_lines_[i]);
        return found.has_value();
    });
    return found;
}

std::optional<EmulatorStatus> EmulatorChild::frames_done()
{
    collect();
    for (const std::string& line : out_lines_) {
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

void WindowOnLine::TearDown()
{
    form.reset();
    set_exception_presenter({});
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
