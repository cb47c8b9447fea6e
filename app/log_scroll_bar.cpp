#include "app/log_scroll_bar.h"

#include <QStyle>
#include <QStyleOptionSlider>

LogScrollBar::LogScrollBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent)
{
}

LogScrollBar::Look LogScrollBar::look() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
            value() == minimum(), value() == maximum()};
}

// A batch of lines changes the range first and the value after it, and the
// handle may move between the two only to come back: whether the picture
// changed is asked once the changes are over.
void LogScrollBar::sliderChange(SliderChange change)
{
    if (change == SliderOrientationChange || !painted_any_) {
        QScrollBar::sliderChange(change);
        return;
    }
    if (look_check_pending_)
        return;
    look_check_pending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            look_check_pending_ = false;
            if (look() != painted_)
                update();
        },
        Qt::QueuedConnection);
}

void LogScrollBar::paintEvent(QPaintEvent* event)
{
    painted_ = look();
    painted_any_ = true;
    QScrollBar::paintEvent(event);
}
