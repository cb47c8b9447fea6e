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
class CountingHost : public Host {
public:
    explicit CountingHost(Host& inner) : inner_(inner) { set_host(this); }
    ~CountingHost() override { set_host(&inner_); }
    int pumps = 0;
    std::function<void()> on_pump;
    QStringList memo_lines;

    void pump_messages() override
    {
        ++pumps;
        if (on_pump)
            on_pump();
        inner_.pump_messages();
    }
    void memo_add_line(std::string_view line) override
    {
        memo_lines << QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
        inner_.memo_add_line(line);
    }
    bool port_connected() override { return inner_.port_connected(); }
    void port_write(uint8_t byte) override { inner_.port_write(byte); }
    void set_lcd_visible(bool visible) override { inner_.set_lcd_visible(visible); }
    void lcd_surface_painted() override { inner_.lcd_surface_painted(); }
    uint32_t lcd_unlit_colour() override { return inner_.lcd_unlit_colour(); }
    void set_lamp_colour(uint32_t rgb) override { inner_.set_lamp_colour(rgb); }
    bool key_fast() override { return inner_.key_fast(); }

private:
    Host& inner_;
};
