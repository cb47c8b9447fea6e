// The firmware's only way out to the window it runs in. The Qt window
// implements it; tests install a scripted fake. The firmware never includes
// anything of the window.
#pragma once

#include <cstdint>
#include <string_view>

class Host {
public:
    virtual ~Host() = default;

    // Handles the window's pending messages (timer ticks, clicks, slider moves,
    // received bytes). Rather than spin, it waits for messages until the next
    // display frame is due (about 60 per second), handling each as it comes,
    // and returns early once the loop is ending (loop_ending()).
    virtual void pump_messages() = 0;

    // Adds one line at the end of the communication log (Memo1).
    virtual void memo_add_line(std::string_view line) = 0;

    // ComPort1: whether it is connected, and writing one byte to it.
    virtual bool port_connected() = 0;
    virtual void port_write(uint8_t byte) = 0;

    // Hides or shows the display picture (Image1).
    virtual void set_lcd_visible(bool visible) = 0;
    // The presentation surface (lcd_surface) has been repainted.
    virtual void lcd_surface_painted() = 0;
    // Colour of an unlit display pixel, 0xffRRGGBB.
    virtual uint32_t lcd_unlit_colour() = 0;

    // Brush colour of the alert lamp (Shape1), 0xRRGGBB.
    virtual void set_lamp_colour(uint32_t rgb) = 0;

    // Whether the "Key Fast" box is checked.
    virtual bool key_fast() = 0;
};

// The host the firmware talks to; set once by the window (or a test) before
// anything of the firmware runs.
void set_host(Host* host);
Host& host();
