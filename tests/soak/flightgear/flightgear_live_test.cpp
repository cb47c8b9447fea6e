// FlightGear itself, flown through its property interface, feeding the real
// window through the sensor unit emulator: the instrument banks the way the
// aircraft rolls. FlightGear is large and slow to start, so this runs only
// when asked (ctest -C flightgear -L flightgear) and is skipped where fgfs, a
// virtual X server or the protocol file in FlightGear's Protocol folder is
// missing.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QPushButton>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "firmware/flight/flight.h"
#include "firmware/instrument_state.h"
#include "child_process.h"
#include "each_pass.h"
#include "soak_support.h"

using namespace soak;
namespace fs = std::filesystem;

namespace {

// FlightGear needs a minute or more to load on a busy machine.
constexpr auto FLIGHTGEAR_DEADLINE = std::chrono::minutes(8);
constexpr auto MANOEUVRE_DEADLINE = std::chrono::minutes(3);

std::string on_path(const std::string& name, const std::vector<std::string>& also = {})
{
    std::vector<std::string> folders = also;
    if (const char* path = std::getenv("PATH")) {
        std::string p = path;
        for (size_t at = 0; at <= p.size();) {
            const size_t end = std::min(p.find(':', at), p.size());
            folders.insert(folders.begin(), p.substr(at, end - at));
            at = end + 1;
        }
    }
    for (const std::string& folder : folders) {
        const std::string candidate = folder + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

// FG_ROOT, where FlightGear looks for its protocol files.
std::string flightgear_root()
{
    if (const char* root = std::getenv("FG_ROOT"))
        return root;
    return "/usr/share/games/flightgear";
}

int free_port(int type)
{
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    ::close(fd);
    return ntohs(a.sin_port);
}

// FlightGear under its own virtual X server and session bus, in a process
// group of its own that goes with the object.
class FlightGear {
public:
    // What FlightGear says, in the test's working folder.
    static constexpr const char* LOG = "flightgear_live.log";

    FlightGear(const std::string& xvfb_run, const std::string& fgfs, int udp_port, int telnet_port)
    {
        std::vector<std::string> args{xvfb_run, "-a", "-s", "-screen 0 640x480x24", "dbus-run-session", "--", fgfs,
                                      "--aircraft=c172p", "--in-air", "--altitude=3000", "--vc=100",
                                      "--heading=90", "--disable-sound", "--disable-splash-screen",
                                      "--timeofday=noon", "--geometry=320x240", "--disable-ai-traffic",
                                      "--disable-real-weather-fetch", "--disable-clouds",
                                      "--prop:/sim/rendering/draw-mask/terrain=false",
                                      "--prop:/sim/rendering/draw-mask/models=false",
                                      "--telnet=" + std::to_string(telnet_port),
                                      "--generic=socket,out,10,127.0.0.1," + std::to_string(udp_port) + ",udp,qr7"};
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        SpawnEnvironment env({"LIBGL_ALWAYS_SOFTWARE=1"});

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, LOG, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        if (posix_spawn(&pid_, xvfb_run.c_str(), &actions, &attributes, argv.data(), env.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }

    ~FlightGear()
    {
        if (pid_ <= 0)
            return;
        ::kill(-pid_, SIGTERM);
        for (int i = 0; i < 100 && ::waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
            ::poll(nullptr, 0, 100);
        ::kill(-pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }

    bool started() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

// FlightGear's property interface: "set /path value" lines.
class Telnet {
public:
    explicit Telnet(int port) : port_(port) {}
    ~Telnet()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool set(const std::string& path, double value)
    {
        if (fd_ < 0) {
            fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<uint16_t>(port_));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                ::close(fd_);
                fd_ = -1;
                return false;
            }
        }
        const std::string line = "set " + path + " " + std::to_string(value) + "\r\n";
        return ::send(fd_, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
    }

private:
    int port_;
    int fd_ = -1;
};

class FlightGearLive : public WindowOnLine {};

} // namespace

TEST_F(FlightGearLive, TheInstrumentBanksAsTheAircraftRolls)
{
    const std::string fgfs = on_path("fgfs", {"/usr/games"});
    const std::string xvfb_run = on_path("xvfb-run");
    if (fgfs.empty() || xvfb_run.empty() || on_path("dbus-run-session").empty())
        GTEST_SKIP() << "needs fgfs, xvfb-run and dbus-run-session";
    const fs::path protocol = fs::path(flightgear_root()) / "Protocol" / "qr7.xml";
    if (!fs::exists(protocol))
        GTEST_SKIP() << "copy tools/sensor_emulator/flightgear/qr7.xml to " << protocol.string();

    const int udp_port = free_port(SOCK_DGRAM);
    const int telnet_port = free_port(SOCK_STREAM);
    ASSERT_TRUE(start_emulator({"--flightgear", std::to_string(udp_port)}));
    FlightGear flightgear(xvfb_run, fgfs, udp_port, telnet_port);
    ASSERT_TRUE(flightgear.started());
    Telnet controls(telnet_port);

    open_window(emulator->device());
    click_connect();
    ASSERT_TRUE(form->ComPort1->Connected()) << errors_shown.join(" | ").toStdString();

    // Roll right, then left, holding each until the instrument shows it.
    struct Step {
        double aileron;
        bool (*shown)();
        const char* what;
    };
    const Step steps[] = {
        {0.0, [] { return attitude_valid == 1 && heading_valid == 1; }, "FlightGear's data"},
        {0.25, [] { return bank < -15 && turn_rate > 0; }, "banked and turning right"},
        {-0.25, [] { return bank > 15 && turn_rate < 0; }, "banked and turning left"},
    };
    size_t step = 0;
    auto step_started = std::chrono::steady_clock::now();
    auto next_control = step_started;
    bool off_pressed = false;
    std::string failed;
    {
        EachPass hook(host(), [&] {
            if (off_pressed)
                return;
            const auto now = std::chrono::steady_clock::now();
            if (current_screen == main_screen && steps[step].shown()) {
                if (++step == std::size(steps)) {
                    off_pressed = true;
                    form->Button2->click();
                    return;
                }
                step_started = next_control = now;
            }
            // Once a second: the property interface is there only once
            // FlightGear has loaded.
            if (now >= next_control) {
                next_control = now + std::chrono::seconds(1);
                controls.set("/controls/flight/aileron", steps[step].aileron);
            }
            if (now - step_started > (step == 0 ? FLIGHTGEAR_DEADLINE : MANOEUVRE_DEADLINE)) {
                failed = steps[step].what;
                off_pressed = true;
                form->Button2->click();
            }
        });
        form->Button1->click();  // ON; returns at OFF
    }
    EXPECT_TRUE(failed.empty()) << "the instrument never showed " << failed << " (bank " << bank << ", turn rate "
                                << turn_rate << "); FlightGear's output is in " << FlightGear::LOG;
    EXPECT_TRUE(errors_shown.isEmpty()) << errors_shown.join(" | ").toStdString();
}
