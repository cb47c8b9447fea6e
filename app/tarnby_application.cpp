#include "app/tarnby_application.h"

#include "app/exception_box.h"

TarnbyApplication::TarnbyApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("tarnby"));
    setApplicationDisplayName(QStringLiteral("Tarnby"));
}

bool TarnbyApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        show_current_exception();
        return false;
    }
}
