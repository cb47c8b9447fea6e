// A host that stands in front of another for the length of a scope and
// passes every call on to it: tests derive from it to watch or add to a
// call or two of the real window's host.
#pragma once

#include "firmware/host.h"

class ForwardingHost : public Host {
public:
    explicit ForwardingHost(Host& inner) : inner_(inner) { set_host(this); }
    ~ForwardingHost() override { set_host(&inner_); }
    ForwardingHost(const ForwardingHost&) = delete;
    ForwardingHost& operator=(const ForwardingHost&) = delete;

    void pump_messages() override { inner_.pump_messages(); }
    void memo_add_line(std::string_view line) override { inner_.memo_add_line(line); }
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
