#include "app_test_support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include "app/exception_box.h"
#include "fake_host.h"
#include "window_application.h"

TARNBY_WINDOW_TEST_APPLICATION;

bool wait_until(const std::function<bool()>& done, int timeout_ms)
{
    QDeadlineTimer deadline(timeout_ms);
    QTimer wake;
    wake.start(5);
    QEventLoop loop;
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void handle_pending_events()
{
    for (int n = 0; n < 5; ++n)
        QCoreApplication::processEvents();
}

ScopedEnv::ScopedEnv(const char* name, const char* value)
    : name_(name), old_value_(qgetenv(name)), had_value_(qEnvironmentVariableIsSet(name))
{
    if (value)
        qputenv(name, value);
    else
        qunsetenv(name);
}

ScopedEnv::~ScopedEnv()
{
    if (had_value_)
        qputenv(name_.constData(), old_value_);
    else
        qunsetenv(name_.constData());
}

void WindowTest::SetUp()
{
    reset_program_state();
    set_exception_presenter([this](const QString& message) { errors_shown << message; });
    form = std::make_unique<TForm1>();
}

void WindowTest::TearDown()
{
    form.reset();
    set_exception_presenter({});
}
