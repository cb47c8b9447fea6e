// The application object. Its notify catches what an event handler let
// escape and shows it in the standard error box, so the program goes on.
#pragma once

#include <QApplication>

class TarnbyApplication : public QApplication {
    Q_OBJECT
public:
    TarnbyApplication(int& argc, char** argv);
    ~TarnbyApplication() override;
    bool notify(QObject* receiver, QEvent* event) override;
};
