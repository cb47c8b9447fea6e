#include "app/exception_box.h"

#include "app/connect_error.h"
#include "tarnby/cport/cport.h"

#include <QApplication>
#include <QMessageBox>

#include <utility>

static ExceptionPresenter& presenter()
{
    static ExceptionPresenter installed;
    return installed;
}

void set_exception_presenter(ExceptionPresenter p)
{
    presenter() = std::move(p);
}

void show_exception_message(const QString& message)
{
    if (presenter()) {
        presenter()(message);
        return;
    }
    // Modal, like every error box of the desktop: the message loop keeps
    // running underneath it, so the timer keeps ticking.
    QMessageBox::critical(QApplication::activeWindow(), QStringLiteral("Tarnby"), message);
}

void show_current_exception()
{
    try {
        throw;
    } catch (const tarnby::EComPort& e) {
        // The serial port's failures also say which device and why.
        show_exception_message(QString::fromStdString(serial_error_text(e)));
    } catch (const std::exception& e) {
        show_exception_message(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        show_exception_message(QStringLiteral("Unknown exception"));
    }
}
