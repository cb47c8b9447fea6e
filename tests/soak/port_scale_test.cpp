// A hundred ports at once for a minute, as a test rig of USB adapters has
// them: a pseudo-terminal each, its far end writing 16 bytes every 10 ms, a
// port in the default mode whose receive handler reads what came. Every byte
// must arrive, in order, and the process's threads, descriptors and memory
// must stay flat while it runs. TARNBY_SCALE_SECONDS sets another length.
#include "tarnby/cport/cport.h"
#include "pseudo_terminal.h"
#include "this_system.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace tarnby;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPorts = 100;
constexpr int kChunk = 16;

// Byte i of a port's stream; the port's number in it, so that a byte that
// strays to another port shows.
uint8_t StreamByte(int port, uint64_t i) { return static_cast<uint8_t>(i * 7 + static_cast<uint64_t>(port) * 31 + (i >> 8)); }

struct Sample {
    double at;
    int threads, fds;
    long kib;
};

} // namespace

TEST(PortScale, AHundredPortsForAMinuteLoseNothingAndStayFlat)
{
    double seconds = 60;
    if (const char* s = std::getenv("TARNBY_SCALE_SECONDS"))
        seconds = std::max(5.0, std::atof(s));

    pty::PseudoTerminal::Options options;
    options.raw = true;
    options.nonblocking = true;
    std::vector<std::unique_ptr<pty::PseudoTerminal>> far;
    std::vector<std::unique_ptr<TComPort>> ports;
    std::vector<uint64_t> received(kPorts, 0), sent(kPorts, 0);
    std::vector<uint64_t> wrong(kPorts, 0);
    for (int i = 0; i < kPorts; ++i) {
        far.push_back(std::make_unique<pty::PseudoTerminal>(options));
        auto port = std::make_unique<TComPort>(nullptr);
        port->SetPort(far.back()->slave_path());
        port->SetBaudRate(br115200);
        TComPort* p = port.get();
        port->OnRxChar = [p, i, &received, &wrong](TObject*, int32_t count) {
            uint8_t buf[1024];
            while (count > 0) {
                int32_t n = p->Read(buf, std::min<int32_t>(count, static_cast<int32_t>(sizeof buf)));
                if (n <= 0)
                    break;
                for (int32_t k = 0; k < n; ++k)
                    wrong[static_cast<size_t>(i)] += buf[k] != StreamByte(i, received[static_cast<size_t>(i)]++);
                count -= n;
            }
        };
        ASSERT_NO_THROW(port->Open());
        ports.push_back(std::move(port));
    }

    std::atomic<bool> stop{false};
    std::atomic<bool> write_failed{false};
    std::thread writer([&] {
        auto next = Clock::now();
        while (!stop) {
            for (int i = 0; i < kPorts; ++i) {
                uint8_t chunk[kChunk];
                for (int k = 0; k < kChunk; ++k)
                    chunk[k] = StreamByte(i, sent[static_cast<size_t>(i)]++);
                if (!far[static_cast<size_t>(i)]->write_all(chunk, kChunk))
                    write_failed = true;
            }
            next += std::chrono::milliseconds(10);
            std::this_thread::sleep_until(next);
        }
    });

    // The owner serves its loop as an application does; the samples start
    // once everything has been through its first turns.
    std::vector<Sample> samples;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    auto next_sample = start + std::chrono::seconds(3);
    while (Clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        if (Clock::now() >= next_sample) {
            samples.push_back({std::chrono::duration<double>(Clock::now() - start).count(), this_system::thread_count(),
                               this_system::open_descriptors(), this_system::rss_kib()});
            next_sample += std::chrono::seconds(5);
        }
    }
    stop = true;
    writer.join();

    // The rest on its way arrives within a generous deadline.
    auto all_in = [&] {
        for (int i = 0; i < kPorts; ++i)
            if (received[static_cast<size_t>(i)] < sent[static_cast<size_t>(i)])
                return false;
        return true;
    };
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (!all_in() && Clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    for (auto& port : ports)
        port->Close();

    EXPECT_FALSE(write_failed);
    for (int i = 0; i < kPorts; ++i) {
        SCOPED_TRACE("port " + std::to_string(i));
        EXPECT_EQ(received[static_cast<size_t>(i)], sent[static_cast<size_t>(i)]);
        EXPECT_EQ(wrong[static_cast<size_t>(i)], 0u);
    }
    ASSERT_GE(samples.size(), 2u);
    const Sample& first = samples.front();
    for (const Sample& s : samples) {
        SCOPED_TRACE("at " + std::to_string(s.at) + " s");
        EXPECT_EQ(s.threads, first.threads);
        EXPECT_EQ(s.fds, first.fds);
#if !defined(__SANITIZE_ADDRESS__)
        // AddressSanitizer holds freed memory back in its quarantine: the
        // plain run judges memory.
        EXPECT_LT(s.kib - first.kib, 8 * 1024);
#endif
    }
}
