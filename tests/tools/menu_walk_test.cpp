// tools/menu_walk.sh end to end under a virtual X server, where the machine
// has one and the script's helpers: the walk succeeds and leaves nothing of
// its own running (not the window, not the emulator, not the X server).
#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>

#include <chrono>
#include <filesystem>
#include <thread>

#include "this_system.h"
#include "tool_support.h"

using namespace tools_test;
namespace fs = std::filesystem;

TEST(MenuWalk, WalksTheMenusAndStopsWhatItStarted)
{
    const std::string tarnby = program_path("tarnby");
    if (tarnby.empty())
        GTEST_SKIP() << "the window is not built";
    for (const char* helper : {"setsid", "xvfb-run", "xdotool", "import", "montage"})
        if (QStandardPaths::findExecutable(helper).isEmpty())
            GTEST_SKIP() << "no " << helper << " here";
    // What is left running is found by its session.
    if (!this_system::session_processes(0))
        GTEST_SKIP() << "this system does not list the processes of a session";

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
    const auto in_session = [session] { return this_system::session_processes(session).value(); };
    while (!in_session().empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(in_session(), std::vector<std::string>{});
}
