// The far end of a serial line on a pseudo-terminal: the port under test
// opens Path(), the test plays the other side on the master. Header-only,
// so the firmware's test support stays free of Qt and of the pseudo-terminal.
#pragma once

#include "pseudo_terminal.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

class FarEnd {
public:
    const std::string& Path() const { return terminal_.slave_path(); }
    int Fd() const { return terminal_.master_fd(); }
    void Send(const std::string& bytes)
    {
        ASSERT_TRUE(terminal_.write_all(bytes.data(), bytes.size())) << "write to the far end failed: errno " << errno;
    }
    // What has arrived from the port within the deadline, until n bytes
    // came. On the application's thread it serves the event loop meanwhile,
    // so that a port owned there delivers its events and finishes its
    // writes; on any other thread it only waits.
    std::string Receive(size_t n, int deadline_ms = 10000)
    {
        const QCoreApplication* application = QCoreApplication::instance();
        if (application == nullptr || QThread::currentThread() != application->thread())
            return terminal_.receive(n, deadline_ms);
        return terminal_.receive(
            n, deadline_ms, [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); }, 20);
    }
    // Closes our side: the port sees its far end hang up.
    void HangUp() { terminal_.hang_up(); }

private:
    pty::PseudoTerminal terminal_;
};
