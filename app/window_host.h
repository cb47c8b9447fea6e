// The window's side of the firmware's host seam: what the firmware asks of
// the window, answered by Form1's controls. No firmware logic lives here.
#pragma once

#include <QTimer>

#include <chrono>

#include "firmware/host.h"

class TForm1;

class WindowHost : public Host {
public:
    // The display frame rate the message pumping paces the loop to.
    static constexpr std::chrono::nanoseconds FRAME_PERIOD{1'000'000'000 / 60};

    explicit WindowHost(TForm1& form);

    void pump_messages() override;
    void memo_add_line(std::string_view line) override;
    bool port_connected() override;
    void port_write(uint8_t byte) override;
    void set_lcd_visible(bool visible) override;
    void lcd_surface_painted() override;
    uint32_t lcd_unlit_colour() override;
    void set_lamp_colour(uint32_t rgb) override;
    bool key_fast() override;

private:
    TForm1& form_;
    std::chrono::steady_clock::time_point next_frame_{};
    // Ends the wait for messages at the frame boundary when nothing else does.
    QTimer frame_timer_;
};
