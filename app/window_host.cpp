#include "app/window_host.h"

#include <QCoreApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QPlainTextEdit>

#include "app/form1.h"
#include "app/lamp_shape.h"
#include "app/lcd_image.h"
#include "firmware/firmware_loop.h"

WindowHost::WindowHost(TForm1& form) : form_(form)
{
    frame_timer_.setSingleShot(true);
    frame_timer_.setTimerType(Qt::PreciseTimer);
}

// Handles what is waiting at once, then keeps handling messages as they
// arrive until the next display frame is due, so the loop and the splash run
// at the display's pace instead of pinning a core, while a click, a tick or
// a received byte is still handled the moment it comes in. OFF ends the wait
// early, except during the splash, which plays on whatever OFF says; closing
// the window ends it early always.
void WindowHost::pump_messages()
{
    // A close waits for the loop; OFF is asked for again at every pump
    // because starting the instrument clears it once, after the splash.
    const bool closing = form_.close_pending();
    if (closing)
        firmware_stop();
    using clock = std::chrono::steady_clock;
    const auto now = clock::now();
    next_frame_ += FRAME_PERIOD;
    // Late, or the first frame after a pause: start the rhythm again from
    // now rather than catching up with a burst of unpaced frames.
    if (next_frame_ < now)
        next_frame_ = now;

    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QEventLoop waiter;
    while (!closing && !loop_ending()) {
        const auto remaining = next_frame_ - clock::now();
        if (remaining <= clock::duration::zero())
            break;
        frame_timer_.start(std::chrono::ceil<std::chrono::milliseconds>(remaining));
        waiter.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    frame_timer_.stop();
}

void WindowHost::memo_add_line(std::string_view line)
{
    form_.Memo1->appendPlainText(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
}

bool WindowHost::port_connected()
{
    return form_.port_connected();
}

void WindowHost::port_write(uint8_t byte)
{
    form_.port_write(byte);
}

void WindowHost::set_lcd_visible(bool visible)
{
    form_.Image1->setVisible(visible);
}

void WindowHost::lcd_surface_painted()
{
    form_.Image1->update();
}

uint32_t WindowHost::lcd_unlit_colour()
{
    return form_.lcd_unlit_colour().rgb();
}

void WindowHost::set_lamp_colour(uint32_t rgb)
{
    form_.Shape1->set_brush_colour(QColor::fromRgb(rgb));
}

bool WindowHost::key_fast()
{
    return form_.CheckBox3->isChecked();
}
