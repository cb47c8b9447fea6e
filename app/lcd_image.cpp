#include "app/lcd_image.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cstring>

#include "firmware/lcd/lcd.h"

static_assert(sizeof lcd_surface[0][0] == 4, "one 32-bit word per screen pixel");

LcdImage::LcdImage(QWidget* parent)
    : QWidget(parent),
      surface_(reinterpret_cast<const uchar*>(&lcd_surface[0][0]), LCD_SURFACE_WIDTH, LCD_SURFACE_HEIGHT,
               LCD_SURFACE_WIDTH * 4, QImage::Format_ARGB32_Premultiplied)
{
    // Every pixel is painted below, so the panel behind is never painted
    // first for nothing.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

// A running instrument presents about 60 frames a second, most of them the
// same as the one before; repainting those would keep the window busy for
// nothing.
void LcdImage::frame_presented(const uint8_t (&frame)[1024], uint32_t unlit)
{
    static_assert(sizeof frame == LCD_WIDTH * LCD_HEIGHT / 8);
    if (!shown_any_ || unlit != shown_unlit_) {
        std::memcpy(shown_.data(), frame, sizeof frame);
        shown_unlit_ = unlit;
        shown_any_ = true;
        update();
        return;
    }
    // The columns and pages that differ bound the part to repaint.
    int left = LCD_WIDTH, right = -1, top = LCD_HEIGHT / 8, bottom = -1;
    for (int page = 0; page < LCD_HEIGHT / 8; ++page) {
        const uint8_t* now = frame + page * LCD_WIDTH;
        uint8_t* before = shown_.data() + page * LCD_WIDTH;
        if (std::memcmp(now, before, LCD_WIDTH) == 0)
            continue;
        for (int x = 0; x < LCD_WIDTH; ++x) {
            if (now[x] != before[x]) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
        top = std::min(top, page);
        bottom = page;
        std::memcpy(before, now, LCD_WIDTH);
    }
    if (right < 0)
        return;
    update(LCD_PIXEL_SCALE * left, LCD_PIXEL_SCALE * 8 * top, LCD_PIXEL_SCALE * (right - left + 1),
           LCD_PIXEL_SCALE * 8 * (bottom - top + 1));
}

// The painted part of the surface is opaque and copied as it is; the column
// and row lcd_present never paints, and the whole picture before the first
// frame, show the panel's colour, as if Image1 were transparent there.
void LcdImage::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QColor panel = palette().color(QPalette::Window);
    const QRect painted = shown_any_ ? QRect(0, 0, LCD_PAINTED_WIDTH, LCD_PAINTED_HEIGHT) : QRect();
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (const QRect& rect : event->region()) {
        const QRect copied = rect & painted;
        if (!copied.isEmpty())
            painter.drawImage(copied, surface_, copied);
        for (const QRect& rest : QRegion(rect) - QRegion(copied))
            painter.fillRect(rest, panel);
    }
}
