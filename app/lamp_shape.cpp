#include "app/lamp_shape.h"

#include <QPainter>

LampShape::LampShape(QWidget* parent) : QWidget(parent)
{
}

void LampShape::set_brush_colour(QColor colour)
{
    if (colour == brush_)
        return;
    brush_ = colour;
    update();
}

void LampShape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(brush_);
    painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}
