// Close sends what was written before it: on a pseudo-terminal whose far end
// reads slowly, every byte arrives, however and wherever the port is closed;
// only with no drain time, or a far end that never reads, is the rest
// discarded, and then without a long wait.
#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Reads the far end at about 100 kB/s, well below what the port writes, so
// that a good part of what was written still waits in the line at Close;
// until `expected` bytes came or the port let go of the line for good.
class SlowReader {
public:
    SlowReader(FarEnd& far, size_t expected)
        : thread_([this, &far, expected] {
              const auto deadline = Clock::now() + std::chrono::seconds(60);
              std::vector<uint8_t> chunk;
              while (got_.size() < expected && Clock::now() < deadline) {
                  chunk.clear();
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
                  int fd = far.Fd();
                  uint8_t buf[2048];
                  const ssize_t n = ::read(fd, buf, sizeof buf);
                  if (n > 0)
                      got_.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
                  else if (n < 0 && errno == EIO && closed_)
                      break; // nobody holds the line any more and it is empty
              }
          })
    {
    }
    ~SlowReader() { Join(); }
    // The port has closed: an empty line from now on is the end.
    void PortClosed() { closed_ = true; }
    std::string Join()
    {
        if (thread_.joinable())
            thread_.join();
        return got_;
    }

private:
    std::string got_;
    std::atomic<bool> closed_{false};
    std::thread thread_;
};

enum class Writing { kBlocking, kPending };
enum class Closer { kOwner, kDestructor, kHandler, kOtherThread };

struct Row {
    const char* what;
    TSyncMethod mode;
    bool events;
    Writing writing;
    Closer closer;
};

const Row kRows[] = {
    {"thread-synchronised, blocking write", smThreadSync, true, Writing::kBlocking, Closer::kOwner},
    {"thread-synchronised, write still pending", smThreadSync, true, Writing::kPending, Closer::kOwner},
    {"window messages, blocking write", smWindowSync, true, Writing::kBlocking, Closer::kOwner},
    {"window messages, write still pending", smWindowSync, true, Writing::kPending, Closer::kOwner},
    {"on the event thread, blocking write", smNone, true, Writing::kBlocking, Closer::kOwner},
    {"on the event thread, write still pending", smNone, true, Writing::kPending, Closer::kOwner},
    {"no event thread, blocking write", smThreadSync, false, Writing::kBlocking, Closer::kOwner},
    {"no event thread, write still pending", smThreadSync, false, Writing::kPending, Closer::kOwner},
    {"destroyed", smThreadSync, true, Writing::kPending, Closer::kDestructor},
    {"closed by its receive handler", smThreadSync, true, Writing::kBlocking, Closer::kHandler},
    {"closed by its receive handler on the event thread", smNone, true, Writing::kBlocking, Closer::kHandler},
    {"closed from another thread", smThreadSync, true, Writing::kPending, Closer::kOtherThread},
};

constexpr size_t kSize = 40000;

// Writes the pattern the row's way and closes the port the row's way;
// returns once the port has closed. A handler that closes is bound before
// the port opens, as handlers must be in smNone mode.
void WriteAndClose(const Row& row, FarEnd& far, std::unique_ptr<TComPort>& port, const std::string& data,
                   const std::atomic<bool>& handler_closed)
{
    PAsync async = nullptr;
    auto write = [&] {
        if (row.writing == Writing::kBlocking) {
            EXPECT_EQ(port->WriteStr(data), static_cast<int32_t>(data.size()));
        } else {
            InitAsync(async);
            port->WriteStrAsync(data, async);
        }
    };
    switch (row.closer) {
    case Closer::kOwner:
        write();
        port->Close();
        break;
    case Closer::kDestructor:
        write();
        port.reset();
        break;
    case Closer::kOtherThread:
        write();
        std::thread([&] { port->Close(); }).join();
        break;
    case Closer::kHandler:
        far.Send("x");
        ASSERT_TRUE(PumpUntil([&] { return handler_closed.load(); }, 30000));
        break;
    }
    if (async != nullptr) {
        // Finished by the drain: the abort that follows it found nothing to cut.
        if (port) {
            EXPECT_EQ(port->WaitForAsync(async), static_cast<int32_t>(data.size()));
        }
        DoneAsync(async);
    }
}

} // namespace

TEST(CloseDrain, EverythingWrittenBeforeCloseReachesASlowReader)
{
    const std::string data = Pattern(kSize);
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.what);
        FarEnd far;
        auto port = std::make_unique<TComPort>(nullptr);
        port->SetPort(far.Path());
        port->SetBaudRate(br19200); // a pseudo-terminal's speed is nominal: the bound is generous
        port->SetSyncMethod(row.mode);
        if (!row.events)
            port->SetEvents({});
        std::atomic<bool> handler_closed{false};
        if (row.closer == Closer::kHandler) {
            port->OnRxChar = [&](TObject*, int32_t count) {
                std::string ignored;
                port->ReadStr(ignored, count);
                EXPECT_EQ(port->WriteStr(data), static_cast<int32_t>(data.size()));
                port->Close();
                handler_closed = true;
            };
        }
        port->Open();
        SlowReader reader(far, kSize);
        WriteAndClose(row, far, port, data, handler_closed);
        reader.PortClosed();
        const std::string got = reader.Join();
        EXPECT_EQ(got.size(), kSize);
        EXPECT_TRUE(got == data);
    }
}

TEST(CloseDrain, WithNoDrainTimeCloseDiscardsWhatIsStillQueued)
{
    // More than the far end's side of the line takes in, less than the whole
    // line holds: the far end reads only after Close, and finds the rest cut.
    const std::string data = Pattern(8000);
    FarEnd far;
    TComPort port(nullptr);
    port.SetPort(far.Path());
    port.SetCloseDrainTime(0);
    port.Open();
    ASSERT_EQ(port.WriteStr(data), static_cast<int32_t>(data.size()));
    port.Close();
    SlowReader reader(far, data.size());
    reader.PortClosed();
    const std::string got = reader.Join();
    EXPECT_LT(got.size(), data.size());
    EXPECT_EQ(got, data.substr(0, got.size()));
}

TEST(CloseDrain, AFarEndThatNeverReadsBoundsTheWait)
{
    FarEnd far;
    TComPort port(nullptr);
    port.SetPort(far.Path());
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(4000000); // 2.5 microseconds a byte: the bound is short
    port.SetCloseDrainTime(300);
    port.Open();
    PAsync async = nullptr;
    InitAsync(async);
    const std::string data = Pattern(400000);
    port.WriteStrAsync(data, async);
    EXPECT_FALSE(port.DrainOutput(50));
    const auto start = Clock::now();
    port.Close();
    // About a second at this speed; the limit only catches a wait for ever.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
    EXPECT_LT(port.WaitForAsync(async), static_cast<int32_t>(data.size()));
    DoneAsync(async);
}

TEST(CloseDrain, DrainOutputWaitsUntilEveryWriteHasLeftThePort)
{
    FarEnd far;
    TComPort port(nullptr);
    port.SetPort(far.Path());
    port.Open();
    SlowReader reader(far, kSize);
    PAsync async = nullptr;
    InitAsync(async);
    const std::string data = Pattern(kSize); // untouched until the write has ended
    port.WriteStrAsync(data, async);
    EXPECT_TRUE(port.DrainOutput(2000));
    EXPECT_EQ(port.OutputCount(), 0);
    EXPECT_EQ(port.WaitForAsync(async), static_cast<int32_t>(kSize));
    DoneAsync(async);
    port.Close();
    reader.PortClosed();
    EXPECT_EQ(reader.Join().size(), kSize);
    try {
        port.DrainOutput(0);
        FAIL() << "a closed port has nothing to drain";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), errWrite);
    }
}
