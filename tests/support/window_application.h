// One TarnbyApplication for a whole test run of the suites that open the real
// window, on Qt's offscreen platform. Header-only, for the suites that link
// the window's library; the firmware's test support stays free of Qt.
#pragma once

#include <QByteArray>

#include <gtest/gtest.h>

#include <memory>

#include "app/tarnby_application.h"

class WindowApplicationEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        application_ = std::make_unique<TarnbyApplication>(argc_, argv_);
    }
    void TearDown() override { application_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "tarnby_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<TarnbyApplication> application_;
};

// Registers the environment; define it once per test executable.
#define TARNBY_WINDOW_TEST_APPLICATION                                                                       \
    [[maybe_unused]] static testing::Environment* const tarnby_window_application =                          \
        testing::AddGlobalTestEnvironment(new WindowApplicationEnvironment)
