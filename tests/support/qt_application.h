// One QCoreApplication for a whole test run, for the suites that use the
// serial component: it hands its events to the owning thread through the Qt
// event loop. Header-only, so the firmware's test support stays free of Qt.
#pragma once

#include <QCoreApplication>

#include <gtest/gtest.h>

class QtApplicationEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "tarnby_tests";
        static char* argv[] = {name, nullptr};
        app_ = new QCoreApplication(argc, argv);
    }
    void TearDown() override { delete app_; }

private:
    QCoreApplication* app_ = nullptr;
};

// Registers the environment; define it once per test executable.
#define TARNBY_QT_TEST_APPLICATION                                                                          \
    [[maybe_unused]] static testing::Environment* const tarnby_qt_application =                              \
        testing::AddGlobalTestEnvironment(new QtApplicationEnvironment)
