#include "test_support.h"

#include "qt_application.h"
#include "this_system.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <chrono>
#include <exception>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

namespace {
TARNBY_QT_TEST_APPLICATION;
}

void PumpFor(int ms)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
}

void EventLog::Add(const std::string& line)
{
    std::lock_guard lock(mutex_);
    lines_.push_back(line);
}

std::vector<std::string> EventLog::Lines()
{
    std::lock_guard lock(mutex_);
    return lines_;
}

size_t EventLog::Size()
{
    std::lock_guard lock(mutex_);
    return lines_.size();
}

void EventLog::Clear()
{
    std::lock_guard lock(mutex_);
    lines_.clear();
}

void EventLog::Attach(TCustomComPort& port)
{
    port.OnRxChar = [this](TObject*, int32_t n) { Add("RxChar " + std::to_string(n)); };
    port.OnTxEmpty = [this](TObject*) { Add("TxEmpty"); };
    port.OnBreak = [this](TObject*) { Add("Break"); };
    port.OnRing = [this](TObject*) { Add("Ring"); };
    port.OnCTSChange = [this](TObject*, bool on) { Add(std::string("CTS ") + (on ? "1" : "0")); };
    port.OnDSRChange = [this](TObject*, bool on) { Add(std::string("DSR ") + (on ? "1" : "0")); };
    port.OnRLSDChange = [this](TObject*, bool on) { Add(std::string("RLSD ") + (on ? "1" : "0")); };
    port.OnError = [this](TObject*, TComErrors e) { Add("Error " + std::to_string(e.ToBits())); };
    port.OnRxFlag = [this](TObject*) { Add("RxFlag"); };
    port.OnAfterOpen = [this](TObject*) { Add("AfterOpen"); };
    port.OnAfterClose = [this](TObject*) { Add("AfterClose"); };
    port.OnBeforeOpen = [this](TObject*) { Add("BeforeOpen"); };
    port.OnBeforeClose = [this](TObject*) { Add("BeforeClose"); };
    port.OnRx80Full = [this](TObject*) { Add("Rx80Full"); };
}

CaughtExceptions::CaughtExceptions()
{
    SetApplicationExceptionHandler([this](const std::exception& e) {
        std::lock_guard lock(mutex_);
        messages_.push_back(e.what());
    });
}

CaughtExceptions::~CaughtExceptions() { SetApplicationExceptionHandler({}); }

std::vector<std::string> CaughtExceptions::Messages()
{
    std::lock_guard lock(mutex_);
    return messages_;
}

std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

void OnThreadWithoutEventLoop(const std::function<void()>& act)
{
    std::exception_ptr raised;
    std::thread([&] {
        try {
            act();
        } catch (...) {
            raised = std::current_exception();
        }
    }).join();
    if (raised)
        std::rethrow_exception(raised);
}

void ExpectRaises(std::span<const RaiseCase> cases, const std::function<void(const EComPort&)>& also)
{
    for (const RaiseCase& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            c.act();
            ADD_FAILURE() << "no exception";
        } catch (const EComPort& e) {
            EXPECT_EQ(e.Code(), c.code) << e.what();
            if (also)
                also(e);
        }
    }
}

int EventThreadCount()
{
    const auto names = this_system::thread_names();
    return names ? static_cast<int>(std::count(names->begin(), names->end(), "cport-event")) : -1;
}
