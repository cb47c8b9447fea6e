// Faults on the sensor link, with the real window connected to the sensor
// unit emulator on a pseudo-terminal: floods of noise, of frames with a
// wrong checksum and of frames cut short, silence, the far end hanging up
// and coming back under the same name, and a device another program holds.
// Through each the process stays far from a busy loop (its CPU time over the
// fault's wall time), nothing the emulator writes is lost on the way to the
// parser, the parser takes the first good frame after the line has rested,
// and the user sees an error only where one is due, in the error box.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QPushButton>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "firmware/instrument_state.h"
#include "firmware/link/link.h"
#include "child_process.h"
#include "pseudo_terminal.h"
#include "scratch_folder.h"
#include "soak_support.h"

using namespace soak;

namespace {

// Far below one core kept busy; a fault that made anything spin would show
// as most of one.
constexpr double BUSY_LOOP_SHARE = 0.20;

class LinkFaults : public WindowOnLine {
protected:
    // The emulator flies straight and level on heading 90 at first.
    void start_emulator(std::vector<std::string> options = {})
    {
        options.insert(options.end(), {"--heading", "90"});
        ASSERT_TRUE(WindowOnLine::start_emulator(options));
    }

    void connect_window(const std::string& port)
    {
        open_window(port);
        click_connect();
        ASSERT_TRUE(form->ComPort1->Connected()) << errors_shown.join(" | ").toStdString();
        ASSERT_TRUE(data_flowing());
    }

    // Asks the emulator to be silent for a moment and waits until the parser
    // has gone two ticks without a byte and has had every byte the emulator
    // wrote, then marks the parser's tally there: the next byte begins the
    // first frame after the rest. Tries again should the silence end first.
    bool rest_the_line()
    {
        std::optional<EmulatorStatus> last;
        for (int attempt = 0; attempt < 5; ++attempt) {
            emulator->command("silence 1.5");
            const bool rested = wait_until(
                [&] {
                    if (rx_clock - rx_byte_tick < 2)
                        return false;
                    const uint64_t parsed = parser_tally().bytes;
                    last = emulator->status();
                    if (!last || !last->silent)
                        return false;
                    if (last->bytes != parsed || parser_tally().bytes != parsed || rx_clock - rx_byte_tick < 2)
                        return false;
                    parser_tally().mark();
                    return true;
                },
                3s);
            if (rested)
                return true;
        }
        ADD_FAILURE() << "the line never rested with every byte parsed: the emulator wrote "
                      << (last ? last->bytes : 0) << ", the parser had " << parser_tally().bytes;
        return false;
    }

    // The first frame after the mark is the first the parser acts on.
    void expect_first_frame_taken()
    {
        const ParserTally& t = parser_tally();
        ASSERT_TRUE(wait_until([&] { return t.since_mark.size() >= 3 && t.since_mark.size() >= t.since_mark[2] + 5u; }))
            << "no frame came after the rest";
        ASSERT_EQ(t.since_mark[0], LINK_START);
        EXPECT_EQ(t.first_frame_end_since_mark, t.since_mark[2] + 5u) << "the first good frame was not taken";
    }
};

struct FaultCase {
    const char* name;
    // Typed again and again while the fault lasts; empty: silence.
    std::vector<std::string> burst;
};

const FaultCase FAULTS[] = {
    {"noise", {"noise 1500"}},
    {"frames with a wrong checksum", {"badsum 50"}},
    {"frames cut short", {"truncate 50"}},
    {"all three together", {"truncate 10", "noise 400", "badsum 10", "truncate 10"}},
    {"silence", {}},
};

constexpr auto FAULT_SPAN = 2s;

} // namespace

TEST_F(LinkFaults, EachFaultLeavesTheLinkUnharmedAndTheProcessIdle)
{
    start_emulator();
    connect_window(emulator->device());
    for (const FaultCase& fault : FAULTS) {
        SCOPED_TRACE(fault.name);
        const uint64_t bytes_before = parser_tally().bytes;
        const uint64_t poisoned_before = parser_tally().poisoned;
        const CpuShare cpu;
        if (fault.burst.empty()) {
            emulator->command("silence 2");
            keep_running_for(FAULT_SPAN);
        } else {
            const auto until = std::chrono::steady_clock::now() + FAULT_SPAN;
            while (std::chrono::steady_clock::now() < until) {
                for (const std::string& command : fault.burst)
                    emulator->command(command);
                keep_running_for(20ms);
            }
        }
        const double share = cpu.share();
        const uint64_t bytes = parser_tally().bytes - bytes_before;
        std::printf("[ figures  ] %s: %.1f %% of a core for %.1f s, %llu bytes parsed\n", fault.name, share * 100,
                    cpu.wall_seconds(), static_cast<unsigned long long>(bytes));
        EXPECT_LT(share, BUSY_LOOP_SHARE);
        EXPECT_TRUE(form->ComPort1->Connected());

        ASSERT_TRUE(rest_the_line()) << "every byte written reaches the parser";
        expect_first_frame_taken();
        EXPECT_TRUE(data_flowing());
        EXPECT_NE(bank, 123);
        EXPECT_NE(pitch, -77);
        // A frame cut short whose last byte passes for its checksum is taken
        // at the next end byte, as the sensor link does by design.
        std::printf("[ figures  ] %s: %llu corrupt frames taken\n", fault.name,
                    static_cast<unsigned long long>(parser_tally().poisoned - poisoned_before));
    }
    EXPECT_TRUE(errors_shown.isEmpty()) << "faults on the line are dropped without a word: "
                                        << errors_shown.join(" | ").toStdString();
}

TEST_F(LinkFaults, TheFarEndHangsUpAndComesBackUnderTheSameName)
{
    const ScratchFolder folder("tarnby-soak");
    const std::string link = folder.path() + "/sensor";
    start_emulator({"--link", link});
    connect_window(link);

    // The unit loses its power: its end of the line is gone, the name stays
    // behind pointing at nothing.
    emulator->kill_now();
    const CpuShare cpu;
    keep_running_for(FAULT_SPAN);
    const double share = cpu.share();
    std::printf("[ figures  ] far end gone: %.1f %% of a core for %.1f s\n", share * 100, cpu.wall_seconds());
    EXPECT_LT(share, BUSY_LOOP_SHARE);

    // It comes back under the same name; Disconnect and Connect take the
    // line up again, and the first frame on it is taken.
    start_emulator({"--link", link});
    click_disconnect();
    EXPECT_FALSE(form->ComPort1->Connected());
    parser_tally().mark();
    click_connect();
    ASSERT_TRUE(form->ComPort1->Connected()) << errors_shown.join(" | ").toStdString();
    expect_first_frame_taken();
    EXPECT_TRUE(data_flowing());
    EXPECT_TRUE(errors_shown.isEmpty()) << errors_shown.join(" | ").toStdString();

    // Gone again, and this time a command goes out before anyone has
    // noticed: the write fails, the port closes, the user is told once.
    emulator->kill_now();
    send_command(CMD_TILT_COMP, 2, 0);
    EXPECT_FALSE(form->ComPort1->Connected());
    ASSERT_EQ(errors_shown.size(), 1);
    const std::string shown = errors_shown[0].toStdString();
    std::printf("[ figures  ] a command to a far end that is gone shows: \"%s\"\n", shown.c_str());
    EXPECT_EQ(shown.rfind("WriteFile function failed (win error code: " + std::to_string(EIO) + ")", 0), 0u) << shown;
    start_emulator({"--link", link});
    click_connect();
    ASSERT_TRUE(form->ComPort1->Connected());
    EXPECT_TRUE(data_flowing());
    EXPECT_EQ(errors_shown.size(), 1) << errors_shown.join(" | ").toStdString();

    click_disconnect();
    emulator.reset();
}

TEST_F(LinkFaults, ADeviceAnotherProgramHoldsIsShownAtConnectAndTakenOnceFree)
{
#ifndef TARNBY_PROGRAM
    GTEST_SKIP() << "the window program is not built";
#else
    start_emulator();
    // Another simulator has the port.
    SpawnEnvironment env({"TARNBY_PORT=" + emulator->device(), "TARNBY_AUTO_CONNECT=1", "QT_QPA_PLATFORM=offscreen"},
                         {"TARNBY_AUTO"});
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    char program[] = TARNBY_PROGRAM;
    char* argv[] = {program, nullptr};
    pid_t holder = -1;
    ASSERT_EQ(posix_spawn(&holder, program, &actions, nullptr, argv, env.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    struct Reaper {
        pid_t pid;
        void end()
        {
            if (pid <= 0)
                return;
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
            pid = -1;
        }
        ~Reaper() { end(); }
    } reaper{holder};

    // Held once a lock of our own on it is refused.
    auto held = [&] {
        const int probe = ::open(emulator->device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (probe < 0)
            return errno == EBUSY;
        const bool refused = ::flock(probe, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        ::close(probe);
        return refused;
    };
    ASSERT_TRUE(wait_until(held)) << "the other program never took the port";

    open_window(emulator->device());
    click_connect();
    EXPECT_FALSE(form->ComPort1->Connected());
    ASSERT_EQ(errors_shown.size(), 1);
    // The component's message with the system's error number first.
    const std::string shown = errors_shown[0].toStdString();
    std::printf("[ figures  ] Connect to a held device shows: \"%s\"\n", shown.c_str());
    EXPECT_EQ(shown.rfind("Unable to open com port (win error code: " + std::to_string(EBUSY) + ")", 0), 0u) << shown;
    EXPECT_TRUE(form->Button3->isEnabled());

    reaper.end();
    click_connect();
    ASSERT_TRUE(form->ComPort1->Connected()) << errors_shown.join(" | ").toStdString();
    EXPECT_TRUE(data_flowing());
    EXPECT_EQ(errors_shown.size(), 1) << errors_shown.join(" | ").toStdString();
#endif
}

// When the sensor unit's end of the line has gone, the first command the
// instrument sends fails; the user reads which device and why in the
// system's words, not only the component's "WriteFile function failed".
TEST_F(LinkFaults, AWriteToAFarEndThatIsGoneSaysWhichDeviceAndWhy)
{
    pty::PseudoTerminal far;
    const std::string device = far.slave_path();
    open_window(device);
    click_connect();
    ASSERT_TRUE(form->ComPort1->Connected()) << errors_shown.join(" | ").toStdString();
    far.hang_up();
    send_command(CMD_TILT_COMP, 2, 0);
    ASSERT_EQ(errors_shown.size(), 1);
    const std::string shown = errors_shown[0].toStdString();
    EXPECT_NE(shown.find(device), std::string::npos) << shown;
    EXPECT_NE(shown.find(std::strerror(EIO)), std::string::npos) << shown;
}
