#include "fake_host.h"

#include <algorithm>
#include <cstring>

#include "firmware/firmware_loop.h"
#include "firmware/instrument_state.h"
#include "firmware/lcd/lcd.h"
#include "firmware/link/link.h"

void reset_program_state()
{
    reset_instrument_state();
    reset_link_state();
    lcd_clear();
    clipped_line = {};
    std::memset(lcd_surface, 0, sizeof lcd_surface);
}

FakeHost::FakeHost()
{
    reset_program_state();
    set_host(this);
}

FakeHost::~FakeHost()
{
    set_host(nullptr);
}

void FakeHost::at(int64_t ms, std::function<void()> action)
{
    actions_.push_back({ms, scheduled_++, std::move(action)});
}

// Ticks and actions run in time order; an action may pump again itself (a
// second ON, an exchange), which moves the clock on underneath us.
void FakeHost::advance_to(int64_t target)
{
    for (;;) {
        auto next = std::min_element(actions_.begin(), actions_.end(), [](const Action& a, const Action& b) {
            return a.due != b.due ? a.due < b.due : a.order < b.order;
        });
        const bool action_due = next != actions_.end() && next->due <= target;
        const bool tick_due = next_tick_ <= target;
        if (!action_due && !tick_due)
            break;
        if (tick_due && (!action_due || next_tick_ <= next->due)) {
            now_ = std::max(now_, next_tick_);
            next_tick_ += 100;
            timer_tick();
        } else {
            now_ = std::max(now_, next->due);
            auto run = std::move(next->run);
            actions_.erase(next);
            run();
        }
    }
    now_ = std::max(now_, target);
}

void FakeHost::pump_messages()
{
    ++pumps;
    advance_to(now_ + frame_ms);
    if (on_pump)
        on_pump();
}

void FakeHost::port_write(uint8_t byte)
{
    written.push_back(byte);
    if (on_write)
        on_write(byte);
}

void FakeHost::lcd_surface_painted()
{
    ++presents;
    if (on_present)
        on_present();
}

void FakeHost::run_for(int64_t ms)
{
    at(now_ + ms, [] { firmware_stop(); });
    firmware_run();
}

void FakeHost::run_passes(int passes)
{
    // The splash presents 80 frames before the first screen pass.
    const int stop_at = presents + 80 + passes;
    auto previous = on_present;
    on_present = [this, stop_at, previous] {
        if (previous)
            previous();
        if (presents >= stop_at)
            firmware_stop();
    };
    firmware_run();
    on_present = previous;
}

void FakeHost::idle_for(int64_t ms)
{
    advance_to(now_ + ms);
}
