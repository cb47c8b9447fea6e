// Without a display the program says so in one line, with the way to run
// it under Xvfb, before Qt gets a chance to abort.
#include "app/display_check.h"
#include "app_test_support.h"

TEST(DisplayCheck, NoDisplayIsReportedWithTheXvfbWayOut)
{
    ScopedEnv platform("QT_QPA_PLATFORM", nullptr);
    ScopedEnv display("DISPLAY", nullptr);
    ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
    const auto reason = display_unavailable_reason();
    ASSERT_TRUE(reason.has_value());
    EXPECT_NE(reason->find("DISPLAY"), std::string::npos);
    const std::string line = no_display_message(*reason, "./build/app/tarnby");
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_NE(line.find("xvfb-run ./build/app/tarnby"), std::string::npos) << line;
}

TEST(DisplayCheck, AnUnreachableXServerIsReported)
{
    ScopedEnv platform("QT_QPA_PLATFORM", nullptr);
    ScopedEnv display("DISPLAY", ":4711");
    if (!x_server_probed())
        GTEST_SKIP() << "built without xcb: Qt reports an unreachable server itself";
    const auto reason = display_unavailable_reason();
    ASSERT_TRUE(reason.has_value());
    EXPECT_NE(reason->find(":4711"), std::string::npos);
}

TEST(DisplayCheck, APlatformWithoutXNeedsNoDisplay)
{
    ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
    ScopedEnv display("DISPLAY", nullptr);
    EXPECT_FALSE(display_unavailable_reason().has_value());
}
