// A scriptable serial device behind the same interface as the Linux one: it
// records what the port asks of it, fails the operations a test names, and
// raises device events on request. Installed as the device opener for the
// lifetime of a FakeDeviceScope.
#pragma once

#include "tarnby/cport/platform/comm.h"
#include "this_system.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using namespace tarnby;

struct FakeLine {
    std::mutex mutex;
    std::condition_variable changed;

    // Script.
    int open_error = 0;                 // errno for the next opens
    std::map<std::string, int> failing; // operation name -> errno
    // Under the lock: an event thread may be asking meanwhile.
    void SetFailing(const std::string& op, int error)
    {
        std::lock_guard lock(mutex);
        failing[op] = error;
    }
    void ClearFailing()
    {
        std::lock_guard lock(mutex);
        failing.clear();
    }
    uint32_t modem_status = 0;          // MS_ bits
    uint32_t errors = 0;                // CE_ bits, reset when read
    std::deque<uint8_t> input;          // bytes waiting to be read

    // Record.
    std::vector<std::string> calls; // "SetupComm 1024 1024", "SetCommState", "Close", ...
    std::string opened_port;
    int open_count = 0;
    int live_devices = 0;
    comm::DCB dcb{};
    comm::COMMTIMEOUTS timeouts{};
    std::vector<uint8_t> written;
    uint32_t mask = 0;

    // Raises events: a waiting WaitCommEvent reports those in its mask.
    void Raise(uint32_t events);
    // Adds bytes to the input queue and raises EV_RXCHAR.
    void Receive(const std::string& bytes);
    std::vector<std::string> Calls();
    void ClearCalls();
    int Fail(const std::string& op); // errno scripted for op, or 0

    // Opt in to an input watch as the real device has one: input events
    // are then left to the looks of the owner's event loop.
    bool notify_input = false;

    uint32_t pending_events = 0;
    uint32_t mask_generation = 0;
    bool by_notify = false;
    this_system::WakeUp wake; // a change the waiting event thread looks at
    this_system::WakeUp look; // input for the owner's look, when notify_input
};

class FakeDeviceScope {
public:
    FakeDeviceScope();
    ~FakeDeviceScope();
    std::shared_ptr<FakeLine> line;
};
