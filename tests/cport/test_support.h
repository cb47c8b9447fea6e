// What the port tests share: a Qt application for the whole run (the owning
// thread's event loop is where thread-synchronised events are delivered), a
// wait for a condition that keeps that loop turning, an event log and the
// far end of a pseudo-terminal.
#pragma once

#include "tarnby/cport/cport.h"
#include "far_end.h"
#include "pump_until.h"

#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

using namespace tarnby;

// Serves the event loop for a while, for tests that check nothing happens.
void PumpFor(int ms);

// Collects handler calls as text lines ("RxChar 3", "CTS 0", "AfterOpen").
class EventLog {
public:
    void Add(const std::string& line);
    std::vector<std::string> Lines();
    size_t Size();
    void Clear();
    // Binds every handler of the port to this log.
    void Attach(TCustomComPort& port);

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// A repeatable byte pattern of n bytes.
std::string Pattern(size_t n);

// Event threads of serial ports now running in this process; -1 where the
// system does not name threads.
int EventThreadCount();

// Runs act on a thread of its own, which has no event loop, and raises
// here what it raised there.
void OnThreadWithoutEventLoop(const std::function<void()>& act);

// A call and the code of the EComPort it must raise.
struct RaiseCase {
    const char* what;
    std::function<void()> act;
    int code;
};
// Runs each case in turn; `also` checks more of what each raised.
void ExpectRaises(std::span<const RaiseCase> cases, const std::function<void(const EComPort&)>& also = {});

// Collects what reaches the application's exception handler.
class CaughtExceptions {
public:
    CaughtExceptions();
    ~CaughtExceptions();
    std::vector<std::string> Messages();

private:
    std::mutex mutex_;
    std::vector<std::string> messages_;
};
