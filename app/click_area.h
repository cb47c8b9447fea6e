// A transparent picture control laid over a key of the front-panel picture:
// it draws nothing and reports a click (press and release inside it).
#pragma once

#include <QWidget>

class ClickArea : public QWidget {
    Q_OBJECT
public:
    explicit ClickArea(QWidget* parent);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool pressed_ = false;
};
