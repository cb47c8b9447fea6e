#include "e2e_support.h"

#include "qt_application.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>

#include "fake_host.h"
#include "sensor_emulator_path.h"
#include "firmware/firmware_loop.h"
#include "firmware/instrument_state.h"
#include "firmware/link/link.h"

extern char** environ;

namespace {

TARNBY_QT_TEST_APPLICATION;

// An attitude frame's command, form, bank 123 and pitch -77: what the
// emulator's fault frames carry.
const uint8_t FAULT_SIGNATURE[] = {0x37, 0x00, 0x7B, 0x00, 0xB2, 0xFF};

constexpr auto FRAME_PERIOD = std::chrono::milliseconds(16);

} // namespace

// ---- the emulator process ---------------------------------------------------------

EmulatorProcess::EmulatorProcess(const std::vector<std::string>& options)
{
    const std::string path = sensor_emulator_path();
    if (path.empty() || ::access(path.c_str(), X_OK) != 0) {
        error_ = "sensor emulator not found at \"" + path + "\"";
        return;
    }
    int in_pipe[2], out_pipe[2];
    if (::pipe2(in_pipe, O_CLOEXEC) != 0) {
        error_ = std::strerror(errno);
        return;
    }
    if (::pipe2(out_pipe, O_CLOEXEC) != 0) {
        error_ = std::strerror(errno);
        ::close(in_pipe[0]);
        ::close(in_pipe[1]);
        return;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
    const bool verbose = std::getenv("TARNBY_E2E_VERBOSE") != nullptr;
    if (!verbose)
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    std::vector<std::string> args{path};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int spawned = posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in_pipe[0]);
    ::close(out_pipe[1]);
    to_child_ = in_pipe[1];
    if (spawned != 0) {
        pid_ = -1;
        ::close(out_pipe[0]);
        error_ = std::string("cannot start the sensor emulator: ") + std::strerror(spawned);
        return;
    }

    // Its first line is the device.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                std::chrono::steady_clock::now());
        pollfd p{out_pipe[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buffer[256];
        const ssize_t got = ::read(out_pipe[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        line.append(buffer, static_cast<size_t>(got));
    }
    ::close(out_pipe[0]);
    if (line.find('\n') == std::string::npos) {
        error_ = "the sensor emulator did not name its device";
        return;
    }
    device_ = line.substr(0, line.find('\n'));
}

EmulatorProcess::~EmulatorProcess()
{
    if (to_child_ >= 0)
        ::close(to_child_);  // end of input
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        // A child that has been told to go has nothing to signal back but
        // its end; a short poll on nothing keeps this from spinning.
        ::poll(nullptr, 0, 10);
    }
}

void EmulatorProcess::command(const std::string& line)
{
    const std::string text = line + "\n";
    ASSERT_EQ(::write(to_child_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

// ---- the host -------------------------------------------------------------------------

LinkHost::LinkHost()
{
    reset_program_state();
    set_host(this);
    tick_timer_.setInterval(100);
    QObject::connect(&tick_timer_, &QTimer::timeout, [] { timer_tick(); });
    tick_timer_.start();
    frame_timer_.setSingleShot(true);
    port.OnRxChar = [this](TObject*, int32_t count) { received(count); };
}

LinkHost::~LinkHost()
{
    if (port.Connected())
        port.Close();
    set_host(nullptr);
}

void LinkHost::open(const std::string& device)
{
    port.SetPort(device);
    port.SetBaudRate(br19200);
    port.SetDataBits(dbEight);
    port.SetStopBits(sbOneStopBit);
    port.Open();
}

// What ComPort1RxChar does: read what is waiting, 10000 bytes at most, and
// step the parser through it.
void LinkHost::received(int32_t count)
{
    uint8_t buffer[10000];
    const int32_t wanted = std::min<int32_t>(count, sizeof buffer);
    const int32_t got = port.Read(buffer, wanted);
    if (got <= 0)
        return;
    bytes_received += static_cast<uint64_t>(got);
    link_receive(buffer, static_cast<size_t>(got));
    if (bank == 123 || pitch == -77 || turn_rate == -1234)
        poisoned = true;

    recent_.insert(recent_.end(), buffer, buffer + got);
    const auto n = static_cast<std::ptrdiff_t>(sizeof FAULT_SIGNATURE);
    auto at = recent_.begin();
    while ((at = std::search(at, recent_.end(), std::begin(FAULT_SIGNATURE), std::end(FAULT_SIGNATURE))) !=
           recent_.end()) {
        ++fault_frames_seen;
        at += n;
    }
    // Keep only what could be the start of a signature split across reads.
    recent_.erase(recent_.begin(), recent_.end() - std::min<std::ptrdiff_t>(n - 1, recent_.end() - recent_.begin()));
}

void LinkHost::pump_messages()
{
    const auto until = std::chrono::steady_clock::now() + FRAME_PERIOD;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QEventLoop waiter;
    for (;;) {
        const auto left = until - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            break;
        frame_timer_.start(std::chrono::ceil<std::chrono::milliseconds>(left));
        waiter.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    frame_timer_.stop();
}

bool LinkHost::pump_until(const std::function<bool()>& done, std::chrono::milliseconds deadline)
{
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return done();
        pump_messages();
    }
    return true;
}
