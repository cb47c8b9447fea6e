// An exception that escapes an event handler is shown in the application's
// standard error box and the program goes on. Every handler of the window
// runs through run_guarded, so no exception ever unwinds through Qt's own
// frames; TarnbyApplication::notify is only the last line of defence.
#pragma once

#include <QString>

#include <exception>
#include <functional>

// Shows the message of an exception that reached the message loop.
void show_exception_message(const QString& message);

// Tests replace the modal box with a recorder; an empty function restores it.
using ExceptionPresenter = std::function<void(const QString& message)>;
void set_exception_presenter(ExceptionPresenter presenter);

// Call inside a catch block: shows the exception in flight.
void show_current_exception();

template <typename Handler>
void run_guarded(Handler&& handler)
{
    try {
        handler();
    } catch (...) {
        show_current_exception();
    }
}
