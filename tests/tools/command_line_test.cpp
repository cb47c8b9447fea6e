// Every program answers the way Linux tools do: --help and --version on
// standard output with status 0 (writing nothing else, needing no display),
// a wrong option as one line on standard error with status 2.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>

#include <filesystem>

#include "tool_support.h"

using namespace tools_test;

namespace {

const char* const PROGRAMS[] = {"tarnby", "sensor_emulator", "screenshot", "lcd_sheets", "panel_art", "menu_walk.sh"};

std::string version_line(const std::string& program)
{
    return program + " (Tarnby) " TARNBY_VERSION "\n";
}

} // namespace

TEST(CommandLine, EveryProgramAnswersHelpVersionAndWrongOptionsAlike)
{
    struct Case {
        QStringList arguments;
        int status;
    };
    const Case cases[] = {
        {{"--help"}, 0},           {{"-h"}, 0},
        {{"--version"}, 0},        {{"--no-such-option"}, 2},
        {{"--no-such=value"}, 2},  {{"-Z"}, 2},
    };
    for (const char* name : PROGRAMS) {
        const std::string program = program_path(name);
        if (program.empty())
            continue;  // not built here
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(name) + " " + c.arguments.join(' ').toStdString());
            ScratchDir cwd;
            const Outcome r = run(program, c.arguments, without_display(), cwd.qpath());
            ASSERT_TRUE(r.finished);
            EXPECT_EQ(r.exit_code, c.status);
            EXPECT_TRUE(cwd.entries().empty()) << "wrote " << cwd.entries().front();
            if (c.status == 0) {
                EXPECT_EQ(r.err, "");
                if (c.arguments.front() == "--version")
                    EXPECT_EQ(r.out, version_line(name));
                else
                    EXPECT_EQ(r.out.rfind("Usage: " + std::string(name), 0), 0u) << r.out;
            } else {
                EXPECT_EQ(r.out, "");
                ASSERT_EQ(lines(r.err).size(), 1u) << r.err;
                EXPECT_EQ(r.err.rfind(std::string(name) + ": ", 0), 0u) << r.err;
            }
        }
    }
}

TEST(CommandLine, TarnbyHelpNamesItsEnvironmentSettings)
{
    const std::string tarnby = program_path("tarnby");
    if (tarnby.empty())
        GTEST_SKIP() << "the window is not built";
    const Outcome r = run(tarnby, {"--help"}, without_display());
    for (const char* setting : {"TARNBY_PORT", "TARNBY_ASSETS", "TARNBY_AUTO_ON", "TARNBY_AUTO_CONNECT",
                                "TARNBY_SCREENSHOT", "TARNBY_SCREENSHOT_DELAY", "QT_QPA_PLATFORM"})
        EXPECT_NE(r.out.find(setting), std::string::npos) << setting;
}

TEST(CommandLine, ScreenshotTakesValuesEitherWayAndListsItsSettings)
{
    const std::string screenshot = program_path("screenshot");
    ScratchDir dir;
    const auto env = QProcessEnvironment::systemEnvironment();
    const Outcome joined = run(screenshot, {"--out=a.png", "--page=turn", "--turn=180", "--set=tb_two_min=1"}, env,
                           dir.qpath());
    const Outcome apart = run(screenshot, {"--out", "b.png", "--page", "turn", "--turn", "180", "--set", "tb_two_min=1"},
                          env, dir.qpath());
    ASSERT_EQ(joined.exit_code, 0) << joined.err;
    ASSERT_EQ(apart.exit_code, 0) << apart.err;
    const QImage a(dir.qpath() + "/a.png");
    ASSERT_FALSE(a.isNull());
    EXPECT_EQ(a, QImage(dir.qpath() + "/b.png"));

    const Outcome help = run(screenshot, {"--help"}, env);
    for (const char* name : {"pitch_trim", "compass_display", "heading_bug", "menu_edit", "calib_fit"})
        EXPECT_NE(help.out.find(std::string(name) + " "), std::string::npos) << name;

    const Outcome unknown = run(screenshot, {"--out", "x.png", "--set", "no_such=1"}, env, dir.qpath());
    EXPECT_EQ(unknown.exit_code, 2);
    EXPECT_EQ(lines(unknown.err).size(), 1u);
    EXPECT_NE(unknown.err.find("no setting named 'no_such'"), std::string::npos);

    const Outcome unwritable = run(screenshot, {"--out", dir.qpath() + "/missing/x.png"}, env);
    EXPECT_EQ(unwritable.exit_code, 1);
    EXPECT_NE(unwritable.err.find("cannot write"), std::string::npos) << unwritable.err;
}

TEST(CommandLine, TarnbyScreenshotExitStatusTellsWhetherThePictureWasWritten)
{
    const std::string tarnby = program_path("tarnby");
    if (tarnby.empty())
        GTEST_SKIP() << "the window is not built";
    ScratchDir dir;
    QProcessEnvironment env = without_display();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", dir.qpath());  // private to us, so Qt has nothing to warn about
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
    env.insert("TARNBY_SCREENSHOT_DELAY", "300");
    env.insert("TARNBY_AUTO_ON", "90,5,-20,0,0,256");

    env.insert("TARNBY_SCREENSHOT", dir.qpath() + "/window.png");
    const Outcome written = run(tarnby, {}, env);
    ASSERT_TRUE(written.finished);
    EXPECT_EQ(written.exit_code, 0) << written.err;
    const QImage window(dir.qpath() + "/window.png");
    EXPECT_GT(window.width(), 300);
    EXPECT_GT(window.height(), 300);

    const std::string missing = dir.path() + "/no/such/folder/window.png";
    env.insert("TARNBY_SCREENSHOT", QString::fromStdString(missing));
    const Outcome unwritable = run(tarnby, {}, env);
    ASSERT_TRUE(unwritable.finished);
    EXPECT_EQ(unwritable.exit_code, 1);
    ASSERT_EQ(lines(unwritable.err).size(), 1u) << unwritable.err;
    EXPECT_NE(unwritable.err.find("cannot write " + missing), std::string::npos) << unwritable.err;
}

TEST(CommandLine, SensorEmulatorEndsAtTheEndOfItsInput)
{
    const std::string program = program_path("sensor_emulator");
    const Outcome r = run(program, {"--quiet"}, QProcessEnvironment::systemEnvironment(), {}, 60);
    ASSERT_TRUE(r.finished) << "ran on with its standard input at its end";
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out.rfind("/dev/", 0), 0u) << "first the device: " << r.out;
}

TEST(CommandLine, SensorEmulatorWithIgnoredInputRunsUntilTerminatedAndTidiesItsLink)
{
    const std::string program = program_path("sensor_emulator");
    ScratchDir dir;
    const QString link = dir.qpath() + "/sensor";
    QProcess emulator;
    emulator.setStandardInputFile(QProcess::nullDevice());
    emulator.start(QString::fromStdString(program), {"--ignore-input", "--quiet", "--link=" + link});
    ASSERT_TRUE(emulator.waitForReadyRead(60000));
    const QString device = QString::fromLocal8Bit(emulator.readLine()).trimmed();
    EXPECT_TRUE(device.startsWith("/dev/"));
    EXPECT_EQ(QFile::symLinkTarget(link), device);
    EXPECT_EQ(emulator.state(), QProcess::Running) << "standard input at its end does not end it";
    emulator.terminate();
    ASSERT_TRUE(emulator.waitForFinished(60000));
    EXPECT_EQ(emulator.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(emulator.exitCode(), 0);
    EXPECT_FALSE(QFileInfo(link).isSymLink()) << "its link goes with it";
}
