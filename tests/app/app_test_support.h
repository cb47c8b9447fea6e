// What the window tests share: one application object for the whole run
// (offscreen, so no display is needed), a fresh window per test with the
// exception box replaced by a recorder, and a wait for a condition that
// keeps the message loop running.
#pragma once

#include <gtest/gtest.h>

#include <QPaintEvent>
#include <QRegion>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

#include "forwarding_host.h"
#include "app/form1.h"
#include "firmware/host.h"

// Runs the message loop until `done` holds or `timeout_ms` pass; true if done.
bool wait_until(const std::function<bool()>& done, int timeout_ms = 20000);

// Handles what is waiting now, without waiting for more.
void handle_pending_events();

// Counts a widget's paint events and keeps the area they covered.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int paints = 0;
    QRegion painted;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
            painted += static_cast<QPaintEvent*>(event)->region();
        }
        return false;
    }
};

// Sets an environment variable for the life of the object, then restores it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);  // nullptr: unset
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    QByteArray name_;
    QByteArray old_value_;
    bool had_value_;
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::unique_ptr<TForm1> form;
    QStringList errors_shown;  // what the standard error box would have shown
};

// Forwards to the window's host, counts the message pumps and keeps the
// lines logged.
class CountingHost : public ForwardingHost {
public:
    explicit CountingHost(Host& inner) : ForwardingHost(inner) {}
    int pumps = 0;
    std::function<void()> on_pump;
    QStringList memo_lines;

    void pump_messages() override
    {
        ++pumps;
        if (on_pump)
            on_pump();
        ForwardingHost::pump_messages();
    }
    void memo_add_line(std::string_view line) override
    {
        memo_lines << QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
        ForwardingHost::memo_add_line(line);
    }
};
