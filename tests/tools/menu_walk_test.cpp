// tools/menu_walk.sh end to end under a virtual X server, where the machine
// has one and the script's helpers: the walk succeeds and leaves nothing of
// its own running (not the window, not the emulator, not the X server).
#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tool_support.h"

using namespace tools_test;
namespace fs = std::filesystem;

namespace {

// Processes of a session, named by their command.
std::vector<std::string> in_session(qint64 session)
{
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string text;
        if (!std::getline(stat, text))
            continue;
        // pid (command) state ppid pgrp session ...
        const size_t close = text.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(text.substr(close + 1));
        std::string state;
        qint64 ppid = 0, pgrp = 0, sid = 0;
        rest >> state >> ppid >> pgrp >> sid;
        if (sid == session && state != "Z")
            found.push_back(text.substr(0, close + 1));
    }
    return found;
}

} // namespace

TEST(MenuWalk, WalksTheMenusAndStopsWhatItStarted)
{
    const std::string tarnby = program_path("tarnby");
    if (tarnby.empty())
        GTEST_SKIP() << "the window is not built";
    for (const char* helper : {"setsid", "xvfb-run", "xdotool", "import", "montage"})
        if (QStandardPaths::findExecutable(helper).isEmpty())
            GTEST_SKIP() << "no " << helper << " here";

    // The build folder the script wants: the one holding app/ and tools/.
    const QString build = QString::fromStdString(fs::path(tarnby).parent_path().parent_path().string());
    ScratchDir out;
    // In a session of its own, so whatever it leaves behind can be found.
    QProcess walk;
    walk.setProcessEnvironment(without_display());
    walk.setStandardInputFile(QProcess::nullDevice());
    walk.start("setsid", {"xvfb-run", "-a", "-s", "-screen 0 1024x768x24",
                          QString::fromStdString(program_path("menu_walk.sh")), build, out.qpath() + "/walk"});
    ASSERT_TRUE(walk.waitForStarted(60000));
    const qint64 session = walk.processId();
    ASSERT_TRUE(walk.waitForFinished(300000)) << "the walk did not end";
    EXPECT_EQ(walk.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(walk.exitCode(), 0) << walk.readAllStandardError().toStdString();
    EXPECT_TRUE(fs::exists(fs::path(out.path()) / "walk" / "walk.png"));
    EXPECT_TRUE(fs::exists(fs::path(out.path()) / "walk" / "15_dev_cal_done.png"));
    // xvfb-run signals its X server and does not wait for it: give what is
    // ending time to end; what was left running stays.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!in_session(session).empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(in_session(session), std::vector<std::string>{});
}
