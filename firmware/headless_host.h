// A host with no window, for tools and benchmarks that draw the instrument's
// screens on their own: nothing to log, show or light. Its message pump is
// one 100 ms tick, so an acknowledged exchange run headless still ends.
#pragma once

#include "firmware/firmware_loop.h"
#include "firmware/host.h"

class HeadlessHost : public Host {
public:
    uint32_t unlit = 0xffc8c8c8;  // the window's fallback panel grey

    void pump_messages() override { timer_tick(); }
    void memo_add_line(std::string_view) override {}
    bool port_connected() override { return false; }
    void port_write(uint8_t) override {}
    void set_lcd_visible(bool) override {}
    void lcd_surface_painted() override {}
    uint32_t lcd_unlit_colour() override { return unlit; }
    void set_lamp_colour(uint32_t) override {}
    bool key_fast() override { return false; }
};
