// The serial terminal's window at work on real lines: files both ways
// against lrzsz behind pty_shell, a far end that cancels or goes silent, a
// device that goes away and comes back under the same path, the sensor unit
// emulator's frames in the hex view, the log, the line field, and the
// program's command line.
#include "extras_support.h"
#include "terminal_window.h"

#include "sensor_emulator_child.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <random>
#include <sys/wait.h>
#include <atomic>
#include <thread>
#include <unistd.h>

using namespace tarnby;
using transfer::Protocol;

namespace {

// A program whose first line on standard output names its device
// (pty_shell, the sensor unit emulator), run in `folder`. Ended with
// SIGTERM when the test is done with it.
class FarProgram {
public:
    FarProgram(const std::string& folder, std::vector<std::string> argv)
    {
        int out[2];
        if (::pipe(out) != 0)
            throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::close(out[1]);
            const int null = ::open("/dev/null", O_RDONLY);
            ::dup2(null, 0);
            if (::chdir(folder.c_str()) != 0)
                ::_exit(126);
            std::vector<char*> args;
            for (std::string& word : argv)
                args.push_back(word.data());
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        ::close(out[1]);
        out_ = out[0];
        // Its first line, within a generous deadline.
        for (int waited = 0; device_.find('\n') == std::string::npos && waited < 200; ++waited) {
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, 100) > 0) {
                char c;
                if (::read(out_, &c, 1) != 1)
                    break;
                device_ += c;
            }
        }
        if (!device_.empty() && device_.back() == '\n')
            device_.pop_back();
    }
    ~FarProgram()
    {
        if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
    }
    const std::string& Device() const { return device_; }
    // Its exit status once it has ended, serving the event loop meanwhile.
    int Wait()
    {
        int status = -1;
        PumpUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, 30000);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string device_;
};

std::string RandomBytes(size_t n)
{
    std::mt19937 random(static_cast<unsigned>(n));
    std::string bytes(n, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random() & 0xFF);
    return bytes;
}

struct Outcome {
    bool done = false;
    bool ok = false;
    QString message;
    TerminalWindow::TransferDone Callback()
    {
        return [this](bool success, const QString& text) {
            done = true;
            ok = success;
            message = text;
        };
    }
};

bool ConnectTo(TerminalWindow& window, const std::string& device)
{
    window.Port().SetPort(device);
    window.Port().SetBaudRate(br115200);
    return window.Connect();
}

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

const size_t kSizes[] = {0, 1, 127, 128, 129, 1024, 1025, 1048576};

TEST(TerminalTransfer, LrzszSendsAYmodemBatchAndEveryFileArrivesWhole)
{
    TempFolder folder;
    std::filesystem::create_directory(folder.File("in"));
    std::filesystem::create_directory(folder.File("out"));
    std::vector<std::string> argv = {TARNBY_PTY_SHELL, "--", "sb"};
    for (size_t size : kSizes) {
        WriteWholeFile(folder.File("in/f" + std::to_string(size)), RandomBytes(size));
        argv.push_back('f' + std::to_string(size));
    }
    WriteWholeFile(folder.File("out/f1"), "there before"); // not to be replaced
    FarProgram sb(folder.File("in"), argv);
    TerminalWindow window(folder.File("t.ini"));
    ASSERT_TRUE(ConnectTo(window, sb.Device())) << window.Message().toStdString();
    Outcome outcome;
    ASSERT_TRUE(window.ReceiveFiles(folder.File("out"), Protocol::Ymodem, outcome.Callback()));
    ASSERT_TRUE(PumpUntil([&] { return outcome.done; }, 120000));
    ASSERT_TRUE(outcome.ok) << outcome.message.toStdString();
    for (size_t size : kSizes) {
        const std::string name = 'f' + std::to_string(size) + (size == 1 ? ".1" : "");
        EXPECT_TRUE(ReadWholeFile(folder.File("out/" + name)) == RandomBytes(size)) << name;
    }
    EXPECT_EQ(ReadWholeFile(folder.File("out/f1")), "there before");
    EXPECT_EQ(FilesIn(folder.File("out")).size(), std::size(kSizes) + 1); // no temporary file left
    EXPECT_EQ(sb.Wait(), 0);
}

TEST(TerminalTransfer, LrzszReceivesWhatIsSent)
{
    struct Case {
        Protocol protocol;
        const char* far; // rb or rx
        size_t size;
    };
    const Case cases[] = {
        {Protocol::Ymodem, "rb", 1048576}, {Protocol::Ymodem, "rb", 0},       {Protocol::Ymodem, "rb", 129},
        {Protocol::Xmodem1k, "rx", 1048576}, {Protocol::Xmodem1k, "rx", 1025}, {Protocol::Xmodem, "rx", 127},
    };
    TempFolder folder;
    TerminalWindow window(folder.File("t.ini"));
    for (const Case& c : cases) {
        const std::string name = 's' + std::to_string(c.size);
        SCOPED_TRACE(std::string(c.far) + " " + name);
        const std::string bytes = RandomBytes(c.size);
        WriteWholeFile(folder.File(name), bytes);
        const std::string into = folder.File(std::string(c.far) + name);
        std::filesystem::create_directory(into);
        std::vector<std::string> argv = {TARNBY_PTY_SHELL, "--", c.far};
        if (c.protocol != Protocol::Ymodem)
            argv.push_back(name);
        FarProgram far(into, argv);
        ASSERT_TRUE(ConnectTo(window, far.Device())) << window.Message().toStdString();
        Outcome outcome;
        ASSERT_TRUE(window.SendFile(folder.File(name), c.protocol, outcome.Callback()));
        ASSERT_TRUE(PumpUntil([&] { return outcome.done; }, 120000));
        EXPECT_TRUE(outcome.ok) << outcome.message.toStdString();
        EXPECT_EQ(far.Wait(), 0);
        window.Disconnect();
        const std::string got = ReadWholeFile(into + "/" + name);
        if (c.protocol == Protocol::Ymodem) {
            EXPECT_TRUE(got == bytes);
        } else { // XMODEM has no size: the last block comes padded
            EXPECT_TRUE(got.substr(0, bytes.size()) == bytes);
            EXPECT_EQ(got.find_first_not_of('\x1A', bytes.size()), std::string::npos);
        }
    }
}

// Block 0 of a YMODEM batch, announcing `name` of `size` bytes.
std::string YmodemHeader(const std::string& name, size_t size)
{
    std::string body = name + '\0' + std::to_string(size);
    body.resize(128, '\0');
    const uint16_t crc = transfer::Crc16(reinterpret_cast<const uint8_t*>(body.data()), body.size());
    return std::string{'\x01', '\0', '\xFF'} + body + static_cast<char>(crc >> 8) + static_cast<char>(crc & 0xFF);
}

TEST(TerminalTransfer, AFarEndThatCancelsOrGoesSilentEndsItWithNoFileLeft)
{
    struct Case {
        const char* name;
        bool sending;
        std::string far_says; // after the first request or block it sees
        const char* error;
    };
    const Case cases[] = {
        {"receiving, the sender cancels", false, "\x18\x18", "the far end cancelled the transfer"},
        {"receiving, the sender goes silent after naming the file", false, YmodemHeader("part.bin", 5000),
         "the far end went silent"},
        {"sending, the receiver cancels", true, "C\x18\x18", "the far end cancelled the transfer"},
        {"sending, the receiver goes silent", true, "C", "the far end stopped answering"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        FarEnd far;
        TerminalWindow window(folder.File("t.ini"));
        // The protocols' own time-outs (ten tries of ten seconds) are too
        // long for a test; the behaviour is the same at any scale.
        window.SetTransferTiming({.start_ms = 60000, .block_ms = 300, .probe_ms = 300, .byte_gap_ms = 200, .retries = 3});
        ASSERT_TRUE(ConnectTo(window, far.Path()));
        std::filesystem::create_directory(folder.File("in"));
        WriteWholeFile(folder.File("in/f"), RandomBytes(5000));
        Outcome outcome;
        const bool started = c.sending
                                 ? window.SendFile(folder.File("in/f"), Protocol::Ymodem, outcome.Callback())
                                 : window.ReceiveFiles(folder.File("in"), Protocol::Ymodem, outcome.Callback());
        ASSERT_TRUE(started);
        if (!c.sending) {
            EXPECT_EQ(far.Receive(1), "C"); // the receiver asks for CRC blocks
        }
        far.Send(c.far_says);
        ASSERT_TRUE(PumpUntil([&] { return outcome.done; }, 30000));
        EXPECT_FALSE(outcome.ok);
        EXPECT_TRUE(outcome.message.contains(QString::fromLatin1(c.error))) << outcome.message.toStdString();
        EXPECT_EQ(FilesIn(folder.File("in")), std::vector<std::string>{"f"}); // nothing half received
        EXPECT_FALSE(window.Transferring());
        EXPECT_TRUE(window.Port().Connected()); // the line stays for the terminal
    }
}

TEST(TerminalWindowLine, ReopensTheLineWhenItsDeviceComesBackUnderTheSamePath)
{
    TempFolder folder;
    const std::string link = folder.File("adapter");
    auto far = std::make_unique<FarEnd>();
    std::filesystem::create_symlink(far->Path(), link);
    TerminalWindow window(folder.File("t.ini"));
    window.Port().SetPort(link);
    window.Port().SetBaudRate(br57600);
    ASSERT_TRUE(window.Connect());

    // The adapter is pulled: the device and its link go.
    far.reset();
    std::filesystem::remove(link);
    ASSERT_TRUE(PumpUntil([&] { return !window.Port().Connected(); }));
    EXPECT_TRUE(window.WaitingForDevice());
    EXPECT_TRUE(window.Message().contains("waiting for it to come back")) << window.Message().toStdString();

    // It comes back as another device behind the same path.
    far = std::make_unique<FarEnd>();
    std::filesystem::create_symlink(far->Path(), link);
    ASSERT_TRUE(PumpUntil([&] { return window.Port().Connected(); }));
    EXPECT_TRUE(window.Message().startsWith(QString::fromStdString("Reopened " + link)))
        << window.Message().toStdString();
    EXPECT_EQ(window.Port().BaudRate(), br57600);
    const uint64_t before = window.ReceivedBytes();
    far->Send("back");
    ASSERT_TRUE(PumpUntil([&] { return window.ReceivedBytes() == before + 4; }));

    // Without reconnecting, a lost line stays closed.
    window.SetReconnect(false);
    far.reset();
    ASSERT_TRUE(PumpUntil([&] { return !window.Port().Connected(); }));
    EXPECT_FALSE(window.WaitingForDevice());
    EXPECT_TRUE(window.Message().contains("Port > Connect reopens it")) << window.Message().toStdString();
}

TEST(TerminalWindowTraffic, TheHexViewShowsTheSensorUnitsFramesAsFrames)
{
    TempFolder folder;
    FarProgram emulator(folder.Path(), {sensor_emulator_path(), "--ignore-input"});
    ASSERT_FALSE(emulator.Device().empty());
    TerminalWindow window(folder.File("t.ini"));
    window.SetHexView(true);
    window.Port().SetPort(emulator.Device());
    window.Port().SetBaudRate(br19200);
    ASSERT_TRUE(window.Connect());
    auto lines = [&] { return window.HexText().split('\n'); };
    ASSERT_TRUE(PumpUntil([&] { return lines().size() > 12; }));
    window.SetHexInput(true);
    ASSERT_TRUE(window.SendLine("E5 01 02"));
    ASSERT_TRUE(PumpUntil([&] { return window.HexText().contains("TX 00000000  E5 01 02 "); }));

    // Every line but the first (the stream may start in a frame) and the
    // last (still filling) is one whole frame: start byte to end byte.
    const QRegularExpression frame("^RX [0-9A-F]{8}  82( [0-9A-F]{2})+ 83 +\\|.*\\|$");
    const QStringList shown = lines();
    int frames = 0;
    for (int i = 1; i < 11; ++i) {
        EXPECT_TRUE(frame.match(shown[i]).hasMatch()) << shown[i].toStdString();
        ++frames;
    }
    EXPECT_EQ(frames, 10);
    if (std::getenv("TARNBY_TERMINAL_PICTURE"))
        window.grab().save(QString::fromLocal8Bit(std::getenv("TARNBY_TERMINAL_PICTURE")));
}

TEST(TerminalWindowTraffic, TheLogHoldsWhatArrived)
{
    struct Case {
        bool as_shown;
        traffic::TimeMode times;
        std::string sent;
        QString logged; // a pattern for the whole log
    };
    std::string every_byte;
    for (int i = 0; i < 1024; ++i)
        every_byte += static_cast<char>(i & 0xFF);
    const Case cases[] = {
        {false, traffic::TimeMode::WallClock, every_byte, ""}, // raw: exactly the bytes
        {true, traffic::TimeMode::WallClock, "one\r\ntwo\r\n",
         "\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] one\r\n\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] two\r\n"},
        {true, traffic::TimeMode::SinceConnect, "x\r\n", "\\[\\+\\d+\\.\\d{3}\\] x\r\n"},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        FarEnd far;
        TerminalWindow window(folder.File("t.ini"));
        window.SetTimeMode(c.times);
        ASSERT_TRUE(window.StartLog(folder.Path(), c.as_shown)); // a folder: a new file named for the session
        EXPECT_TRUE(std::filesystem::path(window.LogPath()).filename().string().starts_with("terminal-"));
        ASSERT_TRUE(ConnectTo(window, far.Path()));
        far.Send(c.sent);
        ASSERT_TRUE(PumpUntil([&] { return window.ReceivedBytes() == c.sent.size(); }));
        const std::string path = window.LogPath();
        window.StopLog();
        const std::string logged = ReadWholeFile(path);
        if (c.as_shown)
            EXPECT_TRUE(QRegularExpression(QRegularExpression::anchoredPattern(c.logged))
                            .match(QString::fromStdString(logged))
                            .hasMatch())
                << logged;
        else
            EXPECT_TRUE(logged == c.sent);
    }
}

TEST(TerminalWindowTraffic, ALineGoesWithItsEndingOrAsHex)
{
    struct Case {
        LineEnding ending;
        bool hex;
        const char* typed;
        std::string sent; // empty: refused
    };
    const Case cases[] = {
        {LineEnding::CR, false, "AT", "AT\r"},          {LineEnding::LF, false, "ls", "ls\n"},
        {LineEnding::CRLF, false, "x", "x\r\n"},        {LineEnding::None, false, "raw", "raw"},
        {LineEnding::CRLF, true, "02 41 0D", "\x02" "A\r"}, {LineEnding::CR, true, "02 123", ""},
    };
    TempFolder folder;
    FarEnd far;
    TerminalWindow window(folder.File("t.ini"));
    ASSERT_TRUE(ConnectTo(window, far.Path()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        window.SetLineEnding(c.ending);
        window.SetHexInput(c.hex);
        EXPECT_EQ(window.SendLine(QString::fromLatin1(c.typed)), !c.sent.empty());
        if (c.sent.empty()) {
            EXPECT_TRUE(window.Message().startsWith("Hex input: ")) << window.Message().toStdString();
        } else {
            EXPECT_EQ(far.Receive(c.sent.size()), c.sent);
        }
    }
    // The history: most recent first, each line once.
    window.SetHexInput(false);
    window.SendLine("AT");
    EXPECT_EQ(window.History(), (QStringList{"AT", "02 41 0D", "raw", "x", "ls"}));
    EXPECT_EQ(window.SentBytes(), 3u + 3 + 3 + 3 + 3 + 3);
}

int RunProgram(const std::string& command, std::string& output)
{
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    char buffer[4096];
    size_t n;
    output.clear();
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(TerminalProgramRuns, TransfersAndFailuresGiveATruthfulStatus)
{
    TempFolder folder;
    const std::string program = std::string(TARNBY_TERMINAL_PROGRAM) + " --settings " + folder.File("t.ini");
    WriteWholeFile(folder.File("f.bin"), RandomBytes(3000));
    std::filesystem::create_directory(folder.File("rb"));
    std::string out;
    {
        FarProgram rb(folder.File("rb"), {TARNBY_PTY_SHELL, "--", "rb"});
        EXPECT_EQ(RunProgram(program + " --port " + rb.Device() + " --send " + folder.File("f.bin") +
                                 " --protocol ymodem",
                             out),
                  0)
            << out;
        EXPECT_TRUE(ReadWholeFile(folder.File("rb/f.bin")) == RandomBytes(3000));
    }
    {
        // Raw, to a far end that reads slowly: "sent" and status 0 only with
        // every byte on its way, none cut when the program closes the port.
        const std::string big = RandomBytes(100000);
        WriteWholeFile(folder.File("big.bin"), big);
        FarEnd far;
        std::atomic<bool> ended{false};
        std::string got;
        std::thread reader([&] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
            char buffer[4096];
            while (got.size() < big.size() && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(40));
                const ssize_t n = ::read(far.Fd(), buffer, sizeof buffer);
                if (n > 0)
                    got.append(buffer, static_cast<size_t>(n));
                else if (ended)
                    break;
            }
        });
        EXPECT_EQ(RunProgram(program + " --port " + far.Path() + " --send " + folder.File("big.bin") +
                                 " --protocol raw",
                             out),
                  0)
            << out;
        ended = true;
        reader.join();
        EXPECT_NE(out.find("Sent big.bin (100000 bytes)"), std::string::npos) << out;
        EXPECT_TRUE(got == big) << got.size() << " of " << big.size() << " bytes";
    }
    struct Case {
        std::string arguments;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {" --port " + folder.File("none") + " --send " + folder.File("f.bin") + " --protocol xmodem", 1,
         "terminal: cannot open "},
        {" --port /dev/null --connect", 1, "terminal: cannot open /dev/null: Inappropriate ioctl for device. /dev/null is no serial device: choose another"},
        {" --port /dev/null --receive " + folder.Path() + " --protocol ymodem", 1, "terminal: cannot open /dev/null"},
        {" --port /dev/null --send " + folder.File("missing") + " --protocol raw", 1, "terminal: cannot open /dev/null"},
        // Any speed is the device's to refuse, not the command line's.
        {" --port /dev/null --baud 921600 --connect", 1, "terminal: cannot open /dev/null"},
        {" --port /dev/null --baud 250000 --connect", 1, "terminal: cannot open /dev/null"},
        {" --baud fast", 2, "--baud: \"fast\" is not a speed in bits per second"},
        {" --baud 0", 2, "--baud: \"0\" is not a speed in bits per second"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RunProgram(program + c.arguments + " --delay 0 --screenshot " + folder.File("x.png"), out), c.status)
            << c.arguments;
        EXPECT_NE(out.find(c.says), std::string::npos) << out;
    }
    // Without a display: one line, status 1.
    EXPECT_EQ(RunProgram("env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= " + std::string(TARNBY_TERMINAL_PROGRAM), out), 1);
    EXPECT_TRUE(out.starts_with("terminal: no display (DISPLAY is not set)")) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
}

TEST(TerminalProgramRuns, PtyShellGivesTheShellDefaultSignalHandling)
{
    // Started from a script in the background, where SIGINT and SIGQUIT
    // come ignored.
    TempFolder folder;
    FarProgram shell(folder.Path(), {"/bin/sh", "-c",
                                     std::string("trap '' INT QUIT; exec ") + TARNBY_PTY_SHELL +
                                         " -- sh -c 'sleep 0.3; grep -E \"^Sig(Ign|Blk)\" /proc/self/status'"});
    const int fd = ::open(shell.Device().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    std::string got;
    PumpUntil([&] {
        pollfd p{fd, POLLIN, 0};
        char buffer[256];
        if (::poll(&p, 1, 20) > 0) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, static_cast<size_t>(n));
        }
        return got.find("SigBlk") != std::string::npos && got.find("SigIgn") != std::string::npos &&
               got.back() == '\n';
    });
    ::close(fd);
    EXPECT_NE(got.find("SigBlk:\t0000000000000000"), std::string::npos) << got;
    EXPECT_NE(got.find("SigIgn:\t0000000000000000"), std::string::npos) << got;
}

} // namespace
