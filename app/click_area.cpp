#include "app/click_area.h"

#include <QMouseEvent>

ClickArea::ClickArea(QWidget* parent) : QWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
}

void ClickArea::mousePressEvent(QMouseEvent* event)
{
    pressed_ = event->button() == Qt::LeftButton;
    event->accept();
}

void ClickArea::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressed_ = false;
    event->accept();
    if (click)
        emit clicked();
}
