// Memo1's vertical scroll bar. While lines stream in, its range and value
// change with every batch, mostly without moving the handle by a pixel: it
// repaints only when it would look different. (A scroll bar repaint costs
// more than the lines it scrolls in.)
#pragma once

#include <QRect>
#include <QScrollBar>

class LogScrollBar : public QScrollBar {
    Q_OBJECT
public:
    explicit LogScrollBar(QWidget* parent = nullptr);

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // What the value and range decide of the picture: where the handle is,
    // and whether it sits at either end (the arrows may show that).
    struct Look {
        QRect handle;
        bool at_minimum = false;
        bool at_maximum = false;
        bool operator==(const Look&) const = default;
    };
    Look look() const;

    Look painted_;
    bool painted_any_ = false;
    bool look_check_pending_ = false;
};
