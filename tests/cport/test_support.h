// What the port tests share: a Qt application for the whole run (the owning
// thread's event loop is where thread-synchronised events are delivered), a
// wait for a condition that keeps that loop turning, and an event log.
#pragma once

#include "tarnby/cport/cport.h"
#include "pseudo_terminal.h"
#include "pump_until.h"

#include <functional>
#include <mutex>
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

// The far end of a pseudo-terminal: the port opens Path(), the test plays
// the other side on the master.
class FarEnd {
public:
    const std::string& Path() const { return terminal_.slave_path(); }
    int Fd() const { return terminal_.master_fd(); }
    void Send(const std::string& bytes);
    // Reads until n bytes came or the deadline passed.
    std::string Receive(size_t n, int deadline_ms = 10000);
    void HangUp() { terminal_.hang_up(); }

private:
    pty::PseudoTerminal terminal_;
};

// A repeatable byte pattern of n bytes.
std::string Pattern(size_t n);

// Event threads of serial ports now running in this process; -1 where the
// system does not name threads.
int EventThreadCount();

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
