// A wait for a condition that keeps the calling thread's Qt event loop
// turning, for the suites whose ports hand their events to that loop.
// Header-only, so the firmware's test support stays free of Qt.
#pragma once

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>
#include <functional>
#include <thread>

// Serves the event loop until done() holds or the deadline has passed;
// returns done().
inline bool PumpUntil(const std::function<bool()>& done, int deadline_ms = 10000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadline_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}
