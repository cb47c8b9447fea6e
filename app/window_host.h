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

    // How long lines for Memo1 wait to be handed over together. Connected,
    // the loop logs 240 lines a second; Memo1 taking them one at a time, or
    // even a pass at a time, cost several times what the whole instrument
    // costs otherwise.
    static constexpr std::chrono::milliseconds MEMO_BATCH_PERIOD{250};

    // Hands the communication log's waiting lines to Memo1 at once.
    void flush_memo();

private:
    void show_lcd_as_asked();

    TForm1& form_;
    // Lines for Memo1 not handed to it yet, one per line, and how many. A
    // pass logs its readings, and a frame its bytes, one line at a time;
    // Memo1 takes them together, MEMO_BATCH_PERIOD after the first of them,
    // when the loop ends, or once they are as many as Memo1 keeps.
    QString memo_pending_;
    int memo_pending_lines_ = 0;
    QTimer memo_flush_timer_;
    // Image1 as the loop last asked for it. The window only shows anything
    // while messages are handled, so the widget follows when they are.
    bool lcd_visible_ = true;
    // The unlit colour the firmware was given for the frame it presents.
    uint32_t presented_unlit_ = 0;
    std::chrono::steady_clock::time_point next_frame_{};
    // Ends the wait for messages at the frame boundary when nothing else does.
    QTimer frame_timer_;
};
