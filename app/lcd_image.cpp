#include "app/lcd_image.h"

#include <QPaintEvent>
#include <QPainter>

#include "firmware/lcd/lcd.h"

static_assert(sizeof lcd_surface[0][0] == 4, "one 32-bit word per screen pixel");

LcdImage::LcdImage(QWidget* parent)
    : QWidget(parent),
      surface_(reinterpret_cast<const uchar*>(&lcd_surface[0][0]), LCD_SURFACE_WIDTH, LCD_SURFACE_HEIGHT,
               LCD_SURFACE_WIDTH * 4, QImage::Format_ARGB32_Premultiplied)
{
}

void LcdImage::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(event->rect(), surface_, event->rect());
}
