// One widget application for the run, on Qt's offscreen platform unless a
// display is asked for explicitly.
#include <QApplication>

#include <gtest/gtest.h>

namespace {
class WidgetApplication : public testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "tarnby_widget_tests";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
    }
    void TearDown() override { delete app_; }

private:
    QApplication* app_ = nullptr;
};

[[maybe_unused]] testing::Environment* const widget_application =
    testing::AddGlobalTestEnvironment(new WidgetApplication);
}
