// Without a display the program says so in one line, with the way to run
// it under Xvfb, before Qt gets a chance to abort.
#include "display_probe.h"
#include "app_test_support.h"

TEST(DisplayCheck, NoDisplayIsReportedWithTheXvfbWayOut)
{
    ScopedEnv platform("QT_QPA_PLATFORM", nullptr);
    ScopedEnv display("DISPLAY", nullptr);
    ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
    const auto reason = display_probe::Unavailable();
    ASSERT_TRUE(reason.has_value());
    EXPECT_NE(reason->find("DISPLAY"), std::string::npos);
    const std::string line = display_probe::Message("tarnby", *reason, "./build/app/tarnby");
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_NE(line.find("xvfb-run -a ./build/app/tarnby"), std::string::npos) << line;
}

TEST(DisplayCheck, AnUnreachableXServerIsReported)
{
    ScopedEnv platform("QT_QPA_PLATFORM", nullptr);
    ScopedEnv display("DISPLAY", ":4711");
    if (!display_probe::XServerProbed())
        GTEST_SKIP() << "built without xcb: Qt reports an unreachable server itself";
    const auto reason = display_probe::Unavailable();
    ASSERT_TRUE(reason.has_value());
    EXPECT_NE(reason->find(":4711"), std::string::npos);
}

TEST(DisplayCheck, APlatformWithoutXNeedsNoDisplay)
{
    ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
    ScopedEnv display("DISPLAY", nullptr);
    EXPECT_FALSE(display_probe::Unavailable().has_value());
}
