#include "app/tarnby_application.h"

#include <QThread>

#include "app/exception_box.h"
#include "display_probe.h"
#include "platform/classes.h"

using namespace tarnby;

TarnbyApplication::TarnbyApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    display_probe::Release();
    // No display name: the platform would add it to every window title, and
    // the window's caption is exactly "Aldane QR-7".
    setApplicationName(QStringLiteral("tarnby"));
    // Exceptions the serial component meets away from any handler of ours
    // (its event thread, opening a port while loading) reach the same box.
    // A box can only be shown on this thread: from any other the message is
    // handed over.
    SetApplicationExceptionHandler([this](const std::exception& e) {
        const QString message = QString::fromLocal8Bit(e.what());
        if (QThread::currentThread() == thread())
            show_exception_message(message);
        else
            QMetaObject::invokeMethod(this, [message] { show_exception_message(message); }, Qt::QueuedConnection);
    });
}

TarnbyApplication::~TarnbyApplication()
{
    SetApplicationExceptionHandler({});
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
