// Image1: shows the firmware's presentation surface (lcd_surface) as it is,
// without copying it. The surface is read as premultiplied ARGB: every pixel
// lcd_present writes is opaque, while the 257th column and 129th row, which
// it never writes, stay 0 and therefore transparent, so the panel's colour
// shows there, as it does everywhere before the first frame.
#pragma once

#include <QImage>
#include <QWidget>

class LcdImage : public QWidget {
    Q_OBJECT
public:
    explicit LcdImage(QWidget* parent);
    const QImage& surface() const { return surface_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage surface_;
};
