// Image1: shows the firmware's presentation surface (lcd_surface) as it is,
// without copying it. Where lcd_present never writes, the 257th column and
// 129th row, the panel's colour shows, as it does everywhere before the
// first frame.
#pragma once

#include <QImage>
#include <QWidget>

#include <array>
#include <cstdint>

class LcdImage : public QWidget {
    Q_OBJECT
public:
    explicit LcdImage(QWidget* parent);
    const QImage& surface() const { return surface_; }

    // The surface was painted from `frame` (the frame buffer) with `unlit`
    // for unlit pixels. Only the part that differs from the frame shown
    // before is repainted, nothing at all when the frame did not change.
    void frame_presented(const uint8_t (&frame)[1024], uint32_t unlit);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage surface_;
    // What the surface was last painted from.
    std::array<uint8_t, 1024> shown_{};
    uint32_t shown_unlit_ = 0;
    bool shown_any_ = false;
};
