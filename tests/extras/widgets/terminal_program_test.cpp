// The serial terminal program: its window keeps port and terminal settings
// between runs, its lamps follow the port, and its command line behaves
// like the other tools'.
#include "extras_support.h"
#include "terminal_window.h"

#include "tarnby/cport/extras/com_settings.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sys/wait.h>

using namespace tarnby;

namespace {

TEST(TerminalProgram, SettingsSurviveARestart)
{
    TempFolder folder;
    const std::string path = folder.File("deeper/terminal.ini");
    {
        TerminalWindow window(path);
        window.Port().SetPort("/dev/ttyUSB3");
        window.Port().SetBaudRate(br115200);
        window.Port().FlowControl()->SetFlowControl(fcHardware);
        window.Terminal().SetLocalEcho(true);
        window.Terminal().SetEmulation(teVT52);
        window.Terminal().SetColumns(100);
        window.Terminal().SetCaret(tcUnderline);
        window.SetHexView(true);
        window.SetTimeMode(traffic::TimeMode::SinceConnect);
        window.SetLineEnding(LineEnding::CRLF);
        window.SetHexInput(true);
        window.close(); // stores
    }
    TerminalWindow again(path);
    EXPECT_EQ(again.Port().Port(), "/dev/ttyUSB3");
    EXPECT_EQ(again.Port().BaudRate(), br115200);
    EXPECT_EQ(again.Port().FlowControl()->FlowControl(), fcHardware);
    EXPECT_TRUE(again.Terminal().LocalEcho());
    EXPECT_EQ(again.Terminal().Emulation(), teVT52);
    EXPECT_EQ(again.Terminal().Columns(), 100);
    EXPECT_EQ(again.Terminal().Caret(), tcUnderline);
    EXPECT_TRUE(again.Terminal().WrapLines()); // the program's own default
    EXPECT_TRUE(again.HexView());
    EXPECT_EQ(again.TimeMode(), traffic::TimeMode::SinceConnect);
    EXPECT_EQ(again.GetLineEnding(), LineEnding::CRLF);
    EXPECT_TRUE(again.HexInput());
    // An ordinary settings file a person can read.
    EXPECT_NE(ReadWholeFile(path).find("[SerialPort]\nPort=/dev/ttyUSB3\nBaudRate=115200\n"), std::string::npos);
    EXPECT_NE(ReadWholeFile(path).find("Emulation=VT52\n"), std::string::npos);
}

TEST(TerminalProgram, AFailedConnectAndALostLineAreShownAndLampsFollowThePort)
{
    TempFolder folder;
    TerminalWindow window(folder.File("t.ini"));
    window.Port().SetPort(folder.File("no-such-device"));
    EXPECT_FALSE(window.Connect());
    // The device, the system's reason and what to do, as the simulator says it.
    EXPECT_TRUE(window.Message().startsWith(QString::fromStdString("Connect: cannot open " + folder.File("no-such-device") +
                                                                   ": No such file or directory. There is no such device")))
        << window.Message().toStdString();

    FarEnd far;
    window.Port().SetPort(far.Path());
    ASSERT_TRUE(window.Connect());
    EXPECT_EQ(window.Lamp(0)->State(), lsOn);
    far.Send("hi");
    ASSERT_TRUE(PumpUntil([&] { return window.Terminal().Buffer().GetChar(2, 1).Ch == 'i'; }));
    window.Terminal().SendChar('k');
    EXPECT_EQ(far.Receive(1), "k");
    ASSERT_TRUE(window.Disconnect());
    EXPECT_EQ(window.Lamp(0)->State(), lsOff);

    // The far end goes (the shell on it exited): the port closes and says so.
    ASSERT_TRUE(window.Connect());
    far.HangUp();
    ASSERT_TRUE(PumpUntil([&] { return !window.Port().Connected(); }));
    EXPECT_EQ(window.Lamp(0)->State(), lsOff);
    EXPECT_TRUE(window.Message().contains(QString::fromStdString(window.Port().Port()) + " hung up"))
        << window.Message().toStdString();
    EXPECT_TRUE(window.windowTitle().endsWith("(closed)")) << window.windowTitle().toStdString();
}

int RunProgram(const std::string& arguments, std::string& output)
{
    std::string command = std::string(TARNBY_TERMINAL_PROGRAM) + " " + arguments + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    size_t n;
    output.clear();
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(TerminalProgram, CommandLine)
{
    std::string out;
    EXPECT_EQ(RunProgram("--help", out), 0);
    EXPECT_NE(out.find("--port <DEVICE>"), std::string::npos);
    EXPECT_NE(out.find("  300, 1200, 2400, 4800, 9600, 19200,\n  38400, 57600, 115200, 230400, 460800, 921600.\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(RunProgram("--version", out), 0);
    EXPECT_EQ(out, "terminal (Tarnby) " TARNBY_VERSION "\n");
    const char* wrong[] = {"--bogus", "--baud -1200", "--baud=fast", "--delay=-1", "--port=", "stray",
                           "--send f --protocol kermit", "--receive d", "--receive d --protocol raw",
                           "--send a --receive b --protocol xmodem", "--protocol ymodem", "--line-ending=crcr",
                           "--log="};
    for (const char* arguments : wrong) {
        EXPECT_EQ(RunProgram(arguments, out), 2) << arguments;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << arguments << ": " << out;
        EXPECT_TRUE(out.starts_with("terminal: ")) << out;
    }
}

} // namespace
