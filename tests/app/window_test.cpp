// The window through its real controls: sliders and their labels,
// the panel keys and the key-drop rule, the timer, ON and OFF with the
// paced message pump, closing while the instrument runs, and exceptions
// escaping handlers.
#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QPushButton>
#include <QTextBlock>
#include <QSlider>
#include <QTimer>

#include <stdexcept>

#include "app/click_area.h"
#include "app/lamp_shape.h"
#include "app/lcd_image.h"
#include "app_test_support.h"
#include "firmware/firmware_loop.h"
#include "firmware/instrument_state.h"

namespace {

void click_area(QWidget* area)
{
    const QPointF inside(area->width() / 2.0, area->height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, inside, area->mapToGlobal(inside), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, inside, area->mapToGlobal(inside), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(area, &press);
    QCoreApplication::sendEvent(area, &release);
}

}  // namespace

TEST_F(WindowTest, SlidersWriteTheirVariableAndLabelAtBothEnds)
{
    const struct {
        QSlider* slider;
        QLabel* label;
        const int32_t* variable;
        int minimum;
        int maximum;
    } table[] = {
        {form->TrackBar1, form->Label3, &slider_heading, 0, 359},
        {form->TrackBar2, form->Label4, &slider_pitch, -90, 90},
        {form->TrackBar3, form->Label6, &slider_bank, -180, 180},
        {form->TrackBar4, form->Label8, &slider_slip, -50, 50},
        {form->TrackBar5, form->Label10, &slider_turn, -180, 180},
        {form->TrackBar6, form->Label12, &slider_gforce, 0, 65535},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.maximum);
        EXPECT_EQ(row.slider->value(), 0);
        EXPECT_EQ(row.label->text(), "0");
        EXPECT_EQ(row.slider->minimum(), row.minimum);
        EXPECT_EQ(row.slider->maximum(), row.maximum);
        // Past the ends: the slider stops at its range.
        row.slider->setValue(row.minimum - 1000);
        EXPECT_EQ(row.label->text(), QString::number(row.minimum));
        EXPECT_EQ(*row.variable, row.minimum);
        row.slider->setValue(row.maximum + 1000);
        EXPECT_EQ(row.label->text(), QString::number(row.maximum));
        EXPECT_EQ(*row.variable, row.maximum);
        // The label grows with its text rather than cutting "65535" or "-180".
        EXPECT_GE(row.label->width(), row.label->sizeHint().width());
    }
    EXPECT_EQ(form->Label4->text(), "90");
    form->TrackBar2->setValue(-90);
    EXPECT_EQ(form->Label4->text(), "-90");
}

TEST_F(WindowTest, OnlyTheTurnSliderMakesTheTurnRateAvailable)
{
    form->TrackBar3->setValue(30);
    EXPECT_EQ(turn_source, 0);
    form->TrackBar5->setValue(-12);
    EXPECT_EQ(turn_source, 2);
    EXPECT_EQ(slider_turn, -12);
}

TEST_F(WindowTest, PanelControlsStoreTheirKeyCodesAndDropOneWhileAKeyIsPending)
{
    const struct {
        std::function<void()> click;
        uint8_t code;
    } table[] = {
        {[&] { click_area(form->Image5); }, KEY_KNOB_PRESS},
        {[&] { form->Button5->click(); }, KEY_CLOCKWISE},
        {[&] { form->Button6->click(); }, KEY_ANTICLOCKWISE},
        {[&] { click_area(form->Image3); }, KEY_LEFT},
        {[&] { click_area(form->Image6); }, KEY_RIGHT},
    };
    for (const auto& row : table) {
        key_code = KEY_NONE;
        row.click();
        EXPECT_EQ(key_code, row.code);
        // Every other control is dropped while this key is pending.
        for (const auto& other : table)
            other.click();
        EXPECT_EQ(key_code, row.code);
    }
}

TEST_F(WindowTest, ClickAreaIgnoresAReleaseOutsideAndOtherButtons)
{
    key_code = KEY_NONE;
    QWidget* area = form->Image3;
    const QPointF inside(5, 5);
    const QPointF outside(area->width() + 10, 5);
    QMouseEvent press(QEvent::MouseButtonPress, inside, inside, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release_outside(QEvent::MouseButtonRelease, outside, outside, Qt::LeftButton, Qt::NoButton,
                                Qt::NoModifier);
    QCoreApplication::sendEvent(area, &press);
    QCoreApplication::sendEvent(area, &release_outside);
    EXPECT_EQ(key_code, KEY_NONE);
    QMouseEvent right_press(QEvent::MouseButtonPress, inside, inside, Qt::RightButton, Qt::RightButton,
                            Qt::NoModifier);
    QMouseEvent right_release(QEvent::MouseButtonRelease, inside, inside, Qt::RightButton, Qt::NoButton,
                              Qt::NoModifier);
    QCoreApplication::sendEvent(area, &right_press);
    QCoreApplication::sendEvent(area, &right_release);
    EXPECT_EQ(key_code, KEY_NONE);
}

TEST_F(WindowTest, TimerTicksEveryTenthOfASecondWithoutTheLoop)
{
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_EQ(form->Timer1->interval(), 100);
    ticks = 0;
    led_timer = 3;
    ASSERT_TRUE(wait_until([] { return ticks >= 2; }));
    EXPECT_LT(led_timer, 3);
}

TEST_F(WindowTest, OnPlaysAPacedSplashThenPacedPassesUntilOff)
{
    form->show();
    CountingHost counter(host());
    QElapsedTimer clock;
    clock.start();
    qint64 splash_ms = -1;
    qint64 stop_ms = -1;
    int passes = 0;
    counter.on_pump = [&] {
        if (current_screen == nullptr)
            return;  // still in the splash
        if (splash_ms < 0)
            splash_ms = clock.elapsed();
        ++passes;
        if (stop_ms < 0 && clock.elapsed() - splash_ms >= 300) {
            stop_ms = clock.elapsed();
            form->Button2->click();
        }
    };
    form->Button1->click();  // returns after OFF
    EXPECT_FALSE(form->firmware_running());
    // 80 frames at about 60 a second: visible, not over in a blink. A slow
    // machine only makes both figures safer.
    EXPECT_GE(splash_ms, 1200) << "the splash is not paced";
    EXPECT_LE(passes, 40) << "the passes are not paced";
    EXPECT_GE(passes, 2);
    EXPECT_LT(clock.elapsed() - stop_ms, 5000);
    EXPECT_TRUE(form->Image1->isVisible()) << "the last frame stays in the window";
}

// OFF leaves stop_requested set until the next ON has played its splash, and
// OFF during a splash sets it there too: neither may cut the splash short or
// keep the loop from running after it.
TEST_F(WindowTest, EveryOnPlaysThePacedSplashAndOffDuringItHasNoLastingEffect)
{
    form->show();
    CountingHost counter(host());
    constexpr int SPLASH_FRAMES = 80;  // one pump each
    const struct {
        const char* on;
        int off_at_splash_frame;  // 0: none
    } table[] = {{"first ON, OFF during the splash", 20}, {"second ON", 0}, {"third ON", 0}};
    for (const auto& row : table) {
        SCOPED_TRACE(row.on);
        QElapsedTimer clock;
        clock.start();
        int pumps = 0;
        int passes = 0;
        qint64 splash_ms = -1;
        counter.on_pump = [&] {
            ++pumps;
            if (pumps == row.off_at_splash_frame)
                form->Button2->click();
            if (pumps <= SPLASH_FRAMES)
                return;
            if (splash_ms < 0)
                splash_ms = clock.elapsed();
            if (++passes == 3)
                form->Button2->click();
        };
        form->Button1->click();  // returns after OFF
        EXPECT_FALSE(form->firmware_running());
        // 80 frames at about 60 a second; a slow machine only lengthens it.
        EXPECT_GE(splash_ms, 1200) << "the splash is not paced";
        EXPECT_EQ(passes, 3) << "the loop runs after the splash until the next OFF";
    }
}

TEST_F(WindowTest, PassesReadTheSlidersAndTheKeyFastBox)
{
    form->CheckBox3->setChecked(true);
    form->TrackBar2->setValue(-7);
    int passes = 0;
    CountingHost counter(host());
    counter.on_pump = [&] {
        if (current_screen != nullptr && ++passes == 3)
            form->Button2->click();
    };
    form->Button1->click();
    EXPECT_EQ(pitch, -7);
    EXPECT_EQ(key_step, 10);
    EXPECT_EQ(form->Shape1->brush_colour(), QColor(0x80, 0, 0)) << "lamp dark without an alert";
}

TEST_F(WindowTest, PumpHandlesMessagesWhileItWaitsForTheFrame)
{
    host().pump_messages();  // starts the frame rhythm
    bool handled_inside = false;
    bool pump_returned = false;
    QTimer::singleShot(1, form.get(), [&] { handled_inside = !pump_returned; });
    // The wait ends at the next frame, well after the 1 ms timer; unless the
    // machine stalls past the frame first, the timer runs inside the pump.
    QElapsedTimer clock;
    clock.start();
    host().pump_messages();
    pump_returned = true;
    if (clock.elapsed() < 2)
        GTEST_SKIP() << "the frame was already due";
    wait_until([&] { return handled_inside || pump_returned; });
    EXPECT_TRUE(handled_inside);
}

// Closing during the splash: the loop's start clears OFF once after it.
TEST_F(WindowTest, ClosingWhileTheInstrumentRunsEndsTheLoopThenTheWindow)
{
    form->show();
    bool visible_after_close = false;
    QTimer::singleShot(300, form.get(), [&] {
        form->close();
        visible_after_close = form->isVisible();
    });
    form->Button1->click();
    EXPECT_TRUE(visible_after_close) << "the window waits for the loop";
    EXPECT_FALSE(form->firmware_running());
    ASSERT_TRUE(wait_until([&] { return !form->isVisible(); }));
    EXPECT_TRUE(errors_shown.isEmpty());
}

TEST_F(WindowTest, ClosingWhileStoppedClosesAtOnce)
{
    form->show();
    EXPECT_TRUE(form->close());
    EXPECT_FALSE(form->isVisible());
}

namespace {

// A message whose handler fails.
class Failing : public QObject {
public:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User)
            throw std::runtime_error("sensor unit on fire");
        return QObject::event(e);
    }
};

}  // namespace

TEST_F(WindowTest, AnExceptionInANestedHandlerIsShownAndTheLoopGoesOn)
{
    Failing failing;
    CountingHost counter(host());
    int pumps_at_failure = -1;
    bool posted = false;
    counter.on_pump = [&] {
        if (current_screen == nullptr)
            return;  // the splash
        if (!posted) {
            posted = true;
            QCoreApplication::postEvent(&failing, new QEvent(QEvent::User));
        }
        if (pumps_at_failure < 0 && !errors_shown.isEmpty())
            pumps_at_failure = counter.pumps;
        if (pumps_at_failure > 0 && counter.pumps == pumps_at_failure + 5)
            form->Button2->click();
    };
    form->Button1->click();
    ASSERT_EQ(errors_shown.size(), 1);
    EXPECT_EQ(errors_shown[0], "sensor unit on fire");
    EXPECT_GT(counter.pumps, pumps_at_failure);
}

TEST_F(WindowTest, MemoKeepsTheNewestLinesUpToItsBound)
{
    const int extra = 25;
    for (int i = 0; i < TForm1::MEMO_LINE_LIMIT + extra; ++i)
        host().memo_add_line("0x" + std::to_string(i));
    // Lines reach Memo1 in batches, by the next turn of the message loop.
    const QString last = QString("0x%1").arg(TForm1::MEMO_LINE_LIMIT + extra - 1);
    ASSERT_TRUE(wait_until([&] { return form->Memo1->document()->lastBlock().text() == last; }));
    EXPECT_EQ(form->Memo1->blockCount(), TForm1::MEMO_LINE_LIMIT);
    EXPECT_EQ(form->Memo1->document()->firstBlock().text(), QString("0x%1").arg(extra));
    EXPECT_EQ(form->Memo1->document()->lastBlock().text(), QString("0x%1").arg(TForm1::MEMO_LINE_LIMIT + extra - 1));
}

// Lines streaming in at the bottom of a long log leave the scroll bar's
// handle where it is, and the scroll bar is not repainted for them; when
// the handle does move, it is.
TEST_F(WindowTest, MemoScrollBarIsRepaintedOnlyWhenItLooksDifferent)
{
    form->show();
    for (int i = 0; i < 2000; ++i)
        host().memo_add_line("0xE5");
    ASSERT_TRUE(wait_until([&] { return form->Memo1->blockCount() == 2000; }));
    QScrollBar* bar = form->Memo1->verticalScrollBar();
    PaintCounter counter(bar);
    handle_pending_events();
    counter.paints = 0;
    for (int i = 0; i < 40; ++i)
        host().memo_add_line("0x82");
    ASSERT_TRUE(wait_until([&] { return form->Memo1->blockCount() == 2040; }));
    handle_pending_events();
    EXPECT_EQ(bar->value(), bar->maximum()) << "the log follows its newest line";
    EXPECT_EQ(counter.paints, 0);

    bar->setValue(0);
    EXPECT_TRUE(wait_until([&] { return counter.paints > 0; })) << "the handle moved to the top";
}
