// Shape1: the alert lamp, a circle filled with its brush colour.
#pragma once

#include <QColor>
#include <QWidget>

class LampShape : public QWidget {
    Q_OBJECT
public:
    explicit LampShape(QWidget* parent);
    QColor brush_colour() const { return brush_; }
    // Repaints only on a change: the loop sets the colour on every pass.
    void set_brush_colour(QColor colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor brush_{Qt::red};
};
