#include "e2e_support.h"

#include "qt_application.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

#include "fake_host.h"
#include "firmware/firmware_loop.h"
#include "firmware/instrument_state.h"
#include "firmware/link/link.h"

namespace {

TARNBY_QT_TEST_APPLICATION;

// An attitude frame's command, form, bank 123 and pitch -77: what the
// emulator's fault frames carry.
const uint8_t FAULT_SIGNATURE[] = {0x37, 0x00, 0x7B, 0x00, 0xB2, 0xFF};

constexpr auto FRAME_PERIOD = std::chrono::milliseconds(16);

} // namespace

// ---- the emulator process ---------------------------------------------------------

EmulatorProcess::EmulatorProcess(const std::vector<std::string>& options)
    : SensorEmulatorChild(options, std::getenv("TARNBY_E2E_VERBOSE") ? ErrorOutput::Inherit : ErrorOutput::Discard)
{
}

// ---- the host -------------------------------------------------------------------------

LinkHost::LinkHost()
{
    reset_program_state();
    set_host(this);
    tick_timer_.setInterval(100);
    QObject::connect(&tick_timer_, &QTimer::timeout, [] { timer_tick(); });
    tick_timer_.start();
    frame_timer_.setSingleShot(true);
    port.OnRxChar = [this](TObject*, int32_t count) { received(count); };
}

LinkHost::~LinkHost()
{
    if (port.Connected())
        port.Close();
    set_host(nullptr);
}

void LinkHost::open(const std::string& device)
{
    port.SetPort(device);
    port.SetBaudRate(br19200);
    port.SetDataBits(dbEight);
    port.SetStopBits(sbOneStopBit);
    port.Open();
}

// What ComPort1RxChar does: read what is waiting, 10000 bytes at most, and
// step the parser through it.
void LinkHost::received(int32_t count)
{
    uint8_t buffer[10000];
    const int32_t wanted = std::min<int32_t>(count, sizeof buffer);
    const int32_t got = port.Read(buffer, wanted);
    if (got <= 0)
        return;
    bytes_received += static_cast<uint64_t>(got);
    link_receive(buffer, static_cast<size_t>(got));
    if (bank == 123 || pitch == -77 || turn_rate == -1234)
        poisoned = true;

    recent_.insert(recent_.end(), buffer, buffer + got);
    const auto n = static_cast<std::ptrdiff_t>(sizeof FAULT_SIGNATURE);
    auto at = recent_.begin();
    while ((at = std::search(at, recent_.end(), std::begin(FAULT_SIGNATURE), std::end(FAULT_SIGNATURE))) !=
           recent_.end()) {
        ++fault_frames_seen;
        at += n;
    }
    // Keep only what could be the start of a signature split across reads.
    recent_.erase(recent_.begin(), recent_.end() - std::min<std::ptrdiff_t>(n - 1, recent_.end() - recent_.begin()));
}

void LinkHost::pump_messages()
{
    const auto until = std::chrono::steady_clock::now() + FRAME_PERIOD;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QEventLoop waiter;
    for (;;) {
        const auto left = until - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            break;
        frame_timer_.start(std::chrono::ceil<std::chrono::milliseconds>(left));
        waiter.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    frame_timer_.stop();
}

bool LinkHost::pump_until(const std::function<bool()>& done, std::chrono::milliseconds deadline)
{
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return done();
        pump_messages();
    }
    return true;
}
