#include "app/window_host.h"

#include <QCoreApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QPlainTextEdit>

#include "app/form1.h"
#include "app/lamp_shape.h"
#include "app/lcd_image.h"
#include "firmware/firmware_loop.h"
#include "firmware/lcd/lcd.h"

WindowHost::WindowHost(TForm1& form) : form_(form)
{
    frame_timer_.setSingleShot(true);
    frame_timer_.setTimerType(Qt::PreciseTimer);
    memo_flush_timer_.setSingleShot(true);
    memo_flush_timer_.setInterval(MEMO_BATCH_PERIOD);
    QObject::connect(&memo_flush_timer_, &QTimer::timeout, [this] { flush_memo(); });
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

    show_lcd_as_asked();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (closing || loop_ending())
        return;
    const auto remaining = next_frame_ - clock::now();
    if (remaining <= clock::duration::zero())
        return;
    // Armed once per frame: a message that wakes the wait does not set the
    // timer again (connected, a received frame does so 26 times a second).
    frame_timer_.start(std::chrono::ceil<std::chrono::milliseconds>(remaining));
    QEventLoop waiter;
    while (frame_timer_.isActive() && !form_.close_pending() && !loop_ending())
        waiter.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    frame_timer_.stop();
}

void WindowHost::memo_add_line(std::string_view line)
{
    if (memo_pending_lines_ > 0)
        memo_pending_ += QLatin1Char('\n');
    memo_pending_ += QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    // A batch never grows beyond what Memo1 keeps.
    if (++memo_pending_lines_ >= TForm1::MEMO_LINE_LIMIT) {
        flush_memo();
        return;
    }
    if (!memo_flush_timer_.isActive())
        memo_flush_timer_.start();
}

// One append for the whole batch: Memo1 splits it into the same lines, in
// the same order, as one append per line would, and is repainted once.
void WindowHost::flush_memo()
{
    memo_flush_timer_.stop();
    if (memo_pending_lines_ == 0)
        return;
    form_.Memo1->appendPlainText(memo_pending_);
    memo_pending_.resize(0);  // keeps its room for the next batch
    memo_pending_lines_ = 0;
}

bool WindowHost::port_connected()
{
    return form_.port_connected();
}

void WindowHost::port_write(uint8_t byte)
{
    form_.port_write(byte);
}

// The loop hides Image1 while it clears and paints the frame buffer and
// shows it again before it pumps: nothing is painted on screen in between,
// so hiding and showing the widget would only repaint the panel for nothing.
// Image1 is really hidden only when messages are handled while the loop
// wants it hidden.
void WindowHost::set_lcd_visible(bool visible)
{
    lcd_visible_ = visible;
}

void WindowHost::show_lcd_as_asked()
{
    if (form_.Image1->isHidden() == lcd_visible_)
        form_.Image1->setVisible(lcd_visible_);
}

void WindowHost::lcd_surface_painted()
{
    form_.Image1->frame_presented(frame_buffer, presented_unlit_);
}

uint32_t WindowHost::lcd_unlit_colour()
{
    presented_unlit_ = form_.lcd_unlit_colour().rgb();
    return presented_unlit_;
}

void WindowHost::set_lamp_colour(uint32_t rgb)
{
    form_.Shape1->set_brush_colour(QColor::fromRgb(rgb));
}

bool WindowHost::key_fast()
{
    return form_.CheckBox3->isChecked();
}
