// Many ports at once, as a test rig of USB adapters or a multi-drop gateway
// has them: N pseudo-terminals, a port open on each whose receive handler
// reads what came, and the far ends writing 16 bytes to every port every
// 10 ms. Measured: the CPU time of the process per wall time with the far
// ends' writer taken out, the threads and descriptors each port adds, the
// bytes lost (must be none), and the time from a far-end write to the
// handler that sees it. The same is done with QSerialPort (readyRead reading
// all) in the same run, taking turns, as the baseline.
//
// Each chunk carries the time it was written, its port and its number, so
// the handler measures the latency itself and finds a chunk lost, doubled or
// out of order.
#include "tarnby/cport/cport.h"
#include "pseudo_terminal.h"
#include "this_system.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#ifdef TARNBY_HAVE_QSERIALPORT
#include <QSerialPort>
#endif

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <pthread.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tarnby;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kChunk = 16;
constexpr auto kPeriod = std::chrono::milliseconds(10);

// Set by --quick (tools/bench.sh): shorter windows, one round; --rounds N
// for more rounds where a figure drifts.
double g_seconds = 6;
double g_warmup = 1;
int g_rounds = 3;

double ClockSeconds(clockid_t id)
{
    timespec t{};
    ::clock_gettime(id, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// What one side's handlers see: per port the bytes of a chunk not yet
// complete and the number of the next chunk, and the latencies.
struct Receiver {
    struct PortState {
        uint8_t partial[kChunk];
        int have = 0;
        uint32_t next_seq = 0;
    };
    std::vector<PortState> ports;
    std::vector<double> micros;
    uint64_t bytes = 0;
    uint64_t disorder = 0;
    bool measuring = false;

    explicit Receiver(size_t n) : ports(n) { micros.reserve(1 << 20); }

    void Take(size_t port, const uint8_t* data, size_t n)
    {
        bytes += n;
        PortState& p = ports[port];
        const int64_t now = NowNs();
        while (n > 0) {
            size_t take = std::min<size_t>(n, static_cast<size_t>(kChunk - p.have));
            std::memcpy(p.partial + p.have, data, take);
            p.have += static_cast<int>(take);
            data += take;
            n -= take;
            if (p.have < kChunk)
                continue;
            p.have = 0;
            int64_t sent = 0;
            uint32_t index = 0, seq = 0;
            std::memcpy(&sent, p.partial, 8);
            std::memcpy(&index, p.partial + 8, 4);
            std::memcpy(&seq, p.partial + 12, 4);
            if (index != port || seq != p.next_seq)
                ++disorder;
            p.next_seq = seq + 1;
            if (measuring)
                micros.push_back(static_cast<double>(now - sent) / 1000.0);
        }
    }
};

// The far ends: one thread writing a chunk to every master every period.
class Writer {
public:
    explicit Writer(std::vector<std::unique_ptr<pty::PseudoTerminal>>& ptys) : ptys_(ptys), seq_(ptys.size(), 0) {}
    ~Writer() { Stop(); }

    void Start()
    {
        thread_ = std::thread([this] { Run(); });
    }
    void Stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    double CpuSeconds()
    {
        clockid_t id;
        if (!thread_.joinable() || ::pthread_getcpuclockid(thread_.native_handle(), &id) != 0)
            return 0;
        return ClockSeconds(id);
    }
    uint64_t Sent() const { return sent_.load(); }
    bool Failed() const { return failed_.load(); }

private:
    void Run()
    {
        auto next = Clock::now();
        while (!stop_) {
            for (size_t i = 0; i < ptys_.size(); ++i) {
                uint8_t chunk[kChunk]{};
                int64_t now = NowNs();
                uint32_t index = static_cast<uint32_t>(i);
                std::memcpy(chunk, &now, 8);
                std::memcpy(chunk + 8, &index, 4);
                std::memcpy(chunk + 12, &seq_[i], 4);
                ++seq_[i];
                if (!ptys_[i]->write_all(chunk, kChunk))
                    failed_ = true;
                sent_ += kChunk;
            }
            next += kPeriod;
            std::this_thread::sleep_until(next);
        }
    }

    std::vector<std::unique_ptr<pty::PseudoTerminal>>& ptys_;
    std::vector<uint32_t> seq_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> sent_{0};
    std::atomic<bool> failed_{false};
};

void RunLoopFor(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

// One side's ports, opened on the slaves of the given pseudo-terminals.
class Side {
public:
    virtual ~Side() = default;
    virtual void Open(std::vector<std::unique_ptr<pty::PseudoTerminal>>& ptys, Receiver& receiver) = 0;
    virtual void Close() = 0;
};

class CportSide : public Side {
public:
    void Open(std::vector<std::unique_ptr<pty::PseudoTerminal>>& ptys, Receiver& receiver) override
    {
        for (size_t i = 0; i < ptys.size(); ++i) {
            auto port = std::make_unique<TComPort>(nullptr);
            port->SetPort(ptys[i]->slave_path());
            port->SetBaudRate(br115200);
            TComPort* p = port.get();
            port->OnRxChar = [p, i, &receiver](TObject*, int32_t count) {
                uint8_t buf[4096];
                while (count > 0) {
                    int32_t n = p->Read(buf, std::min<int32_t>(count, static_cast<int32_t>(sizeof buf)));
                    if (n <= 0)
                        break;
                    receiver.Take(i, buf, static_cast<size_t>(n));
                    count -= n;
                }
            };
            port->Open();
            ports_.push_back(std::move(port));
        }
    }
    void Close() override
    {
        for (auto& port : ports_)
            port->Close();
        ports_.clear();
    }

private:
    std::vector<std::unique_ptr<TComPort>> ports_;
};

#ifdef TARNBY_HAVE_QSERIALPORT
class QtSide : public Side {
public:
    void Open(std::vector<std::unique_ptr<pty::PseudoTerminal>>& ptys, Receiver& receiver) override
    {
        for (size_t i = 0; i < ptys.size(); ++i) {
            auto port = std::make_unique<QSerialPort>();
            port->setPortName(QString::fromStdString(ptys[i]->slave_path()));
            port->setBaudRate(115200);
            port->setFlowControl(QSerialPort::NoFlowControl);
            if (!port->open(QIODevice::ReadWrite))
                throw std::runtime_error("QSerialPort cannot open the pseudo-terminal");
            QSerialPort* p = port.get();
            QObject::connect(p, &QSerialPort::readyRead, [p, i, &receiver] {
                QByteArray all = p->readAll();
                receiver.Take(i, reinterpret_cast<const uint8_t*>(all.constData()), static_cast<size_t>(all.size()));
            });
            ports_.push_back(std::move(port));
        }
    }
    void Close() override
    {
        for (auto& port : ports_)
            port->close();
        ports_.clear();
    }

private:
    std::vector<std::unique_ptr<QSerialPort>> ports_;
};
#endif

void Measure(benchmark::State& state, Side& side)
{
    const size_t n = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        std::vector<std::unique_ptr<pty::PseudoTerminal>> ptys;
        pty::PseudoTerminal::Options options;
        options.raw = true;
        options.nonblocking = true;
        for (size_t i = 0; i < n; ++i)
            ptys.push_back(std::make_unique<pty::PseudoTerminal>(options));
        QCoreApplication::processEvents();
        const int threads_before = this_system::thread_count();
        const int fds_before = this_system::open_descriptors();

        Receiver receiver(n);
        side.Open(ptys, receiver);
        Writer writer(ptys);
        writer.Start();
        RunLoopFor(g_warmup);

        const int threads = this_system::thread_count() - 1; // not the writer
        const int fds = this_system::open_descriptors();
        receiver.measuring = true;
        const double wall0 = ClockSeconds(CLOCK_MONOTONIC);
        const double cpu0 = ClockSeconds(CLOCK_PROCESS_CPUTIME_ID) - writer.CpuSeconds();
        RunLoopFor(g_seconds);
        const double cpu1 = ClockSeconds(CLOCK_PROCESS_CPUTIME_ID) - writer.CpuSeconds();
        const double wall1 = ClockSeconds(CLOCK_MONOTONIC);
        receiver.measuring = false;
        writer.Stop();

        // Everything sent has to arrive; a generous deadline for a loaded machine.
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (receiver.bytes < writer.Sent() && Clock::now() < deadline)
            RunLoopFor(0.05);
        side.Close();
        QCoreApplication::processEvents();

        std::sort(receiver.micros.begin(), receiver.micros.end());
        const auto& m = receiver.micros;
        const double lost = static_cast<double>(writer.Sent()) - static_cast<double>(receiver.bytes);
        state.counters["cpu_pct"] = (cpu1 - cpu0) / (wall1 - wall0) * 100;
        state.counters["threads"] = threads;
        state.counters["threads_per_port"] = static_cast<double>(threads - threads_before) / static_cast<double>(n);
        state.counters["fds"] = fds;
        state.counters["fds_per_port"] = static_cast<double>(fds - fds_before) / static_cast<double>(n);
        state.counters["bytes_lost"] = lost;
        state.counters["chunks_out_of_order"] = static_cast<double>(receiver.disorder);
        if (!m.empty()) {
            state.counters["median_us"] = m[m.size() / 2];
            state.counters["p99_us"] = m[std::min(m.size() - 1, m.size() * 99 / 100)];
        }
        if (lost != 0 || receiver.disorder != 0 || writer.Failed())
            state.SkipWithError("bytes were lost, doubled or reordered");
    }
}

void BM_CportPorts(benchmark::State& state)
{
    CportSide side;
    Measure(state, side);
}

#ifdef TARNBY_HAVE_QSERIALPORT
void BM_QSerialPortPorts(benchmark::State& state)
{
    QtSide side;
    Measure(state, side);
}
#endif

// The two sides take turns, size by size, several rounds: on a shared
// machine the cost of a wake-up drifts from minute to minute.
void RegisterRounds()
{
    for (int round = 0; round < g_rounds; ++round) {
        for (int ports : {1, 10, 100}) {
            benchmark::RegisterBenchmark("CportPorts", BM_CportPorts)
                ->Arg(ports)
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
#ifdef TARNBY_HAVE_QSERIALPORT
            benchmark::RegisterBenchmark("QSerialPortPorts", BM_QSerialPortPorts)
                ->Arg(ports)
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
#endif
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    // Our own option first; the rest is Google Benchmark's.
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            g_seconds = 2;
            g_warmup = 0.5;
            g_rounds = 1;
        } else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc && std::atoi(argv[i + 1]) > 0) {
            g_rounds = std::atoi(argv[++i]);
        } else {
            args.push_back(argv[i]);
        }
    }
    int count = static_cast<int>(args.size());
    QCoreApplication app(count, args.data());
    RegisterRounds();
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
