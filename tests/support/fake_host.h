// A scripted stand-in for the window. Its message pump runs on a virtual
// clock: every pump advances the clock by one display frame, fires
// timer_tick() at each 100 ms of virtual time and runs the actions scheduled
// up to then. Timed behaviour is therefore tested deterministically and fast.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/host.h"

class FakeHost : public Host {
public:
    // Brings the whole firmware back to program start and installs this host.
    FakeHost();
    ~FakeHost() override;
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    // ---- the virtual clock and the script ---------------------------------
    int64_t now_ms() const { return now_; }
    // Virtual time one pump waits for the next display frame.
    int frame_ms = 16;
    // Runs `action` inside the first pump that reaches virtual time `ms`.
    void at(int64_t ms, std::function<void()> action);
    void after(int64_t delay_ms, std::function<void()> action) { at(now_ + delay_ms, std::move(action)); }
    // Called at the end of every pump.
    std::function<void()> on_pump;
    int pumps = 0;

    // ON, running until virtual time now + ms, then OFF; returns when the loop
    // has ended.
    void run_for(int64_t ms);
    // ON, running until `passes` screen passes have been presented after the
    // splash, then OFF.
    void run_passes(int passes);
    // Advances the clock by `ms` with the firmware loop not running (the
    // timer still ticks, as in the window).
    void idle_for(int64_t ms);

    // ---- what the firmware did ----------------------------------------------
    std::vector<std::string> memo;
    std::vector<uint8_t> written;          // bytes written to the port
    std::function<void(uint8_t)> on_write;  // a sensor unit listening
    bool connected = false;
    bool key_fast_checked = false;
    bool lcd_visible = true;
    int presents = 0;
    std::function<void()> on_present;
    uint32_t lamp = 0xff0000;  // the design colour until the loop sets it
    uint32_t unlit = 0xffc0c4c0;

    // ---- Host ------------------------------------------------------------------
    void pump_messages() override;
    void memo_add_line(std::string_view line) override { memo.emplace_back(line); }
    bool port_connected() override { return connected; }
    void port_write(uint8_t byte) override;
    void set_lcd_visible(bool visible) override { lcd_visible = visible; }
    void lcd_surface_painted() override;
    uint32_t lcd_unlit_colour() override { return unlit; }
    void set_lamp_colour(uint32_t rgb) override { lamp = rgb; }
    bool key_fast() override { return key_fast_checked; }

private:
    struct Action {
        int64_t due;
        uint64_t order;
        std::function<void()> run;
    };
    void advance_to(int64_t target);

    int64_t now_ = 0;
    int64_t next_tick_ = 100;
    uint64_t scheduled_ = 0;
    std::vector<Action> actions_;
};

// Brings every firmware variable, the link, the frame buffer and the
// presentation surface back to program start.
void reset_program_state();
