// The serial port component on one pseudo-terminal: latency from a byte
// written at the far end to the receive handler on the main thread, the
// throughput of receiving 10 MB, and the CPU an idle open port uses. The same
// work is done with QSerialPort in the same run, as the baseline.
#include "tarnby/cport/cport.h"
#include "pseudo_terminal.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#ifdef TARNBY_HAVE_QSERIALPORT
#include <QSerialPort>
#endif

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <fcntl.h>
#include <stdexcept>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tarnby;

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kThroughputBytes = 10 * 1000 * 1000;

using Pty = pty::PseudoTerminal;

void PumpUntil(const std::atomic<bool>& flag)
{
    while (!flag.load(std::memory_order_acquire))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// What each round measured, by implementation, for the ratios at the end.
struct Rounds {
    std::vector<double> median_us, p99_us, bytes_per_second;
};
std::map<std::string, Rounds> g_rounds;

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void ReportLatencies(benchmark::State& state, std::vector<double>& micros, const std::string& side)
{
    std::sort(micros.begin(), micros.end());
    if (micros.empty())
        return;
    const double median = micros[micros.size() / 2];
    const double p99 = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    state.counters["median_us"] = median;
    state.counters["p99_us"] = p99;
    g_rounds[side].median_us.push_back(median);
    g_rounds[side].p99_us.push_back(p99);
}

// The medians over the rounds, and this component against the baseline:
// below 1 is faster for the latencies, above 1 is more for the throughput.
void PrintRatios()
{
    const Rounds& ours = g_rounds["Cport"];
    const Rounds& base = g_rounds["QSerialPort"];
    std::printf("\nOver %zu rounds (medians of the rounds):\n", ours.median_us.size());
    for (const auto& [side, r] : g_rounds)
        std::printf("  %-12s latency median %.2f us, p99 %.2f us; throughput %.1f MB/s\n", side.c_str(),
                    Median(r.median_us), Median(r.p99_us), Median(r.bytes_per_second) / 1e6);
    if (base.median_us.empty())
        return;
    std::printf("  Cport / QSerialPort: latency median %.2f, p99 %.2f; throughput %.2f\n",
                Median(ours.median_us) / Median(base.median_us), Median(ours.p99_us) / Median(base.p99_us),
                Median(ours.bytes_per_second) / Median(base.bytes_per_second));
}

double CpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The timing loops both ports go through, so that they are measured alike.
// `got` is set by the port's receive handler.
void TimeLatencies(benchmark::State& state, Pty& pty, std::atomic<bool>& got, const std::string& side)
{
    std::vector<double> micros;
    for (auto _ : state) {
        got = false;
        auto start = Clock::now();
        pty.write_all("x", 1);
        PumpUntil(got);
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    ReportLatencies(state, micros, side);
}

// `received` and `done` are kept by the port's receive handler, `dispatches`
// counts its calls. Every byte sent must arrive, once: the handler sets
// `done` at the full count, and a byte missing or too many fails the run.
void TimeThroughput(benchmark::State& state, Pty& pty, size_t& received, std::atomic<bool>& done,
                    const int64_t& dispatches, const std::string& side)
{
    const std::vector<char> data(kThroughputBytes, 'u');
    // A lost byte would leave the loop waiting: it gives up after a minute.
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [&done] { done.store(true, std::memory_order_release); });
    auto start = Clock::now();
    for (auto _ : state) {
        received = 0;
        done = false;
        deadline.start(60000);
        std::thread writer([&] { pty.write_all(data.data(), data.size()); });
        PumpUntil(done);
        deadline.stop();
        writer.join();
        // Anything still on its way would be a byte too many.
        QCoreApplication::processEvents();
        if (received != kThroughputBytes)
            state.SkipWithError("received bytes differ from those sent");
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    g_rounds[side].bytes_per_second.push_back(static_cast<double>(state.iterations() * kThroughputBytes) / seconds);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kThroughputBytes));
    state.counters["bytes_per_handler_call"] =
        static_cast<double>(state.iterations() * kThroughputBytes) / static_cast<double>(std::max<int64_t>(dispatches, 1));
}

// ---- this component ----------------------------------------------------------

void BM_CportLatency(benchmark::State& state)
{
    Pty pty;
    TComPort port(nullptr);
    port.SetPort(pty.slave_path());
    port.SetBaudRate(br19200);
    std::atomic<bool> got{false};
    port.OnRxChar = [&](TObject*, int32_t count) {
        char buf[64];
        port.Read(buf, std::min<int32_t>(count, sizeof buf));
        got.store(true, std::memory_order_release);
    };
    port.Open();
    TimeLatencies(state, pty, got, "Cport");
    port.Close();
}

void BM_CportThroughput(benchmark::State& state)
{
    Pty pty;
    TComPort port(nullptr);
    port.SetPort(pty.slave_path());
    port.SetBaudRate(br115200);
    std::vector<char> sink(1 << 20);
    size_t received = 0;
    std::atomic<bool> done{false};
    int64_t dispatches = 0;
    port.OnRxChar = [&](TObject*, int32_t count) {
        ++dispatches;
        while (count > 0) {
            int32_t n = port.Read(sink.data(), std::min<int32_t>(count, static_cast<int32_t>(sink.size())));
            if (n <= 0)
                break;
            received += static_cast<size_t>(n);
            count -= n;
        }
        if (received >= kThroughputBytes)
            done.store(true, std::memory_order_release);
    };
    port.Open();
    TimeThroughput(state, pty, received, done, dispatches, "Cport");
    port.Close();
}

void BM_CportIdleCpu(benchmark::State& state)
{
    Pty pty;
    TComPort port(nullptr);
    port.SetPort(pty.slave_path());
    port.OnRxChar = [&](TObject*, int32_t) {};
    port.Open();
    double cpu = 0;
    for (auto _ : state) {
        double before = CpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(3));
        QCoreApplication::processEvents();
        cpu = CpuSeconds() - before;
    }
    port.Close();
    state.counters["cpu_ms_per_s"] = cpu * 1000 / 3;
}
BENCHMARK(BM_CportIdleCpu)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- the baseline ------------------------------------------------------------------

#ifdef TARNBY_HAVE_QSERIALPORT
void OpenQt(QSerialPort& port, Pty& pty, qint32 baud)
{
    port.setPortName(QString::fromStdString(pty.slave_path()));
    port.setBaudRate(baud);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!port.open(QIODevice::ReadWrite))
        throw std::runtime_error("QSerialPort cannot open the pseudo-terminal");
}

void BM_QSerialPortLatency(benchmark::State& state)
{
    Pty pty;
    QSerialPort port;
    OpenQt(port, pty, 19200);
    std::atomic<bool> got{false};
    QObject::connect(&port, &QSerialPort::readyRead, [&] {
        port.readAll();
        got.store(true, std::memory_order_release);
    });
    TimeLatencies(state, pty, got, "QSerialPort");
    port.close();
}

void BM_QSerialPortThroughput(benchmark::State& state)
{
    Pty pty;
    QSerialPort port;
    OpenQt(port, pty, 115200);
    size_t received = 0;
    std::atomic<bool> done{false};
    int64_t dispatches = 0;
    QObject::connect(&port, &QSerialPort::readyRead, [&] {
        ++dispatches;
        received += static_cast<size_t>(port.readAll().size());
        if (received >= kThroughputBytes)
            done.store(true, std::memory_order_release);
    });
    TimeThroughput(state, pty, received, done, dispatches, "QSerialPort");
    port.close();
}
#endif

} // namespace

// The two implementations take turns, several rounds each: on a shared
// virtual machine the cost of a wake-up drifts from minute to minute, and
// back-to-back runs of one side would measure the drift.
void RegisterRounds()
{
    constexpr int kRounds = 4;
    for (int round = 0; round < kRounds; ++round) {
        benchmark::RegisterBenchmark("CportLatency", BM_CportLatency)->Iterations(3000)->Unit(benchmark::kMicrosecond);
#ifdef TARNBY_HAVE_QSERIALPORT
        benchmark::RegisterBenchmark("QSerialPortLatency", BM_QSerialPortLatency)
            ->Iterations(3000)
            ->Unit(benchmark::kMicrosecond);
#endif
    }
    for (int round = 0; round < kRounds; ++round) {
        benchmark::RegisterBenchmark("CportThroughput", BM_CportThroughput)
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
#ifdef TARNBY_HAVE_QSERIALPORT
        benchmark::RegisterBenchmark("QSerialPortThroughput", BM_QSerialPortThroughput)
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
#endif
    }
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    RegisterRounds();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    PrintRatios();
    benchmark::Shutdown();
    return 0;
}
