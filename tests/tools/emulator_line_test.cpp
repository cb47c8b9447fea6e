// The emulator at work on its pseudo-terminal, the test standing where the
// instrument would: it opens the device, sends command frames and reads
// what comes back, while the emulator runs in a thread of its own and takes
// operator commands from a pipe.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emulator.h"
#include "this_system.h"
#include "tool_support.h"

using namespace tools_test;
using namespace std::chrono_literals;

namespace {

constexpr auto DEADLINE = 20s;

class EmulatorOnLine : public testing::Test {
protected:
    // Quiet by default: no streams, so only answers and faults come.
    void start(emulator::EmulatorOptions options = quiet())
    {
        int fds[2];
        ASSERT_TRUE(this_system::close_on_exec_pipe(fds));
        input_ = fds[1];
        auto log = [this](const std::string& line) {
            std::lock_guard lock(mutex_);
            log_ += line + "\n";
            changed_.notify_all();
        };
        emulator_ = std::make_unique<emulator::Emulator>(options, log, log,
                                                         [log](const std::string& line) { log("done: " + line); });
        const int read_end = fds[0];
        finished_ = std::async(std::launch::async, [this, read_end] {
            const int result = emulator_->run(read_end);
            ::close(read_end);
            return result;
        });
    }

    static emulator::EmulatorOptions quiet()
    {
        emulator::EmulatorOptions o;
        o.attitude_hz = 0;
        o.heading_hz = 0;
        o.data_hz = 0;
        o.answer_delay_ms = 0;
        return o;
    }

    void TearDown() override
    {
        close_line();
        end_input();
        if (finished_.valid()) {
            EXPECT_EQ(finished_.wait_for(DEADLINE), std::future_status::ready) << "the emulator ends with its input";
        }
    }

    void open_line()
    {
        line_ = ::open(emulator_->device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(line_, 0);
    }

    void close_line()
    {
        if (line_ >= 0)
            ::close(line_);
        line_ = -1;
    }

    void end_input()
    {
        if (input_ >= 0)
            ::close(input_);
        input_ = -1;
    }

    void type(const std::string& command)
    {
        const std::string text = command + "\n";
        ASSERT_EQ(::write(input_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }

    void send(const Bytes& bytes)
    {
        ASSERT_EQ(::write(line_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Waits until the log holds `text` `times` times.
    bool logged(const std::string& text, int times = 1)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, DEADLINE, [&] {
            int n = 0;
            for (size_t at = log_.find(text); at != std::string::npos; at = log_.find(text, at + 1))
                ++n;
            return n >= times;
        });
    }

    // Reads from the line until `enough` says so or the deadline passes.
    template <typename Enough>
    Bytes read_until(Enough enough)
    {
        Bytes got;
        const auto until = std::chrono::steady_clock::now() + DEADLINE;
        while (!enough(got) && std::chrono::steady_clock::now() < until) {
            pollfd p{line_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            uint8_t buffer[512];
            const ssize_t n = ::read(line_, buffer, sizeof buffer);
            if (n > 0)
                got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

    std::vector<LinkFrame> read_frames_until(size_t count, uint8_t command)
    {
        return frames_in(read_until([&](const Bytes& b) {
            const auto frames = frames_in(b);
            return static_cast<size_t>(std::count_if(frames.begin(), frames.end(), [&](const LinkFrame& f) {
                       return f.command == command;
                   })) >= count;
        }));
    }

    void connect()
    {
        open_line();
        ASSERT_TRUE(logged("simulator connected"));
    }

    // The counts of the last "status" typed from now on.
    std::string status_line(const std::string& starting)
    {
        std::unique_lock lock(mutex_);
        const size_t from = log_.size();
        lock.unlock();
        type("status");
        std::string line;
        lock.lock();
        changed_.wait_for(lock, DEADLINE, [&] {
            const size_t at = log_.find(starting, from);
            if (at == std::string::npos || log_.find('\n', at) == std::string::npos)
                return false;
            line = log_.substr(at, log_.find('\n', at) - at);
            return true;
        });
        return line;
    }

    std::unique_ptr<emulator::Emulator> emulator_;
    std::future<int> finished_;
    int input_ = -1;
    int line_ = -1;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string log_;
};

} // namespace

TEST_F(EmulatorOnLine, AnswersACommandOnTheLine)
{
    start();
    connect();
    Bytes stream{0xE5};  // the attention byte goes ahead of each frame
    const Bytes bump = frame_bytes(0xE6, {0x35, 0x09, 0x46, 0x00});
    stream.insert(stream.end(), bump.begin(), bump.end());
    send(stream);
    const std::vector<LinkFrame> got = read_frames_until(1, 0x0A);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].address, 0xE5);
    EXPECT_EQ(got[0].length, 2);
    EXPECT_TRUE(logged("attitude: bump factor 70 -> answered"));
}

TEST_F(EmulatorOnLine, StreamsEveryFrameKindWhileSomethingHoldsTheLine)
{
    emulator::EmulatorOptions options;
    options.data_hz = 5;
    start(options);
    connect();
    const Bytes got = read_until([](const Bytes& b) {
        bool attitude = false, heading = false, data = false;
        for (const LinkFrame& f : frames_in(b)) {
            attitude |= f.command == 0x37 && f.length == 18;
            heading |= f.command == 0x32 && f.length == 4;
            data |= f.command == 0x33 && f.length == 19;
        }
        return attitude && heading && data;
    });
    for (const LinkFrame& f : frames_in(got))
        EXPECT_EQ(f.address, 0xE5);
    type("status");
    EXPECT_TRUE(logged("simulator connected;"));
}

TEST_F(EmulatorOnLine, InjectsTheFaultsTheOperatorTypes)
{
    start();
    connect();
    type("noise 40");
    EXPECT_EQ(read_until([](const Bytes& b) { return b.size() >= 40; }).size(), 40u);

    type("badsum 2");
    const Bytes bad = read_until([](const Bytes& b) { return std::count(b.begin(), b.end(), 0x83) >= 2; });
    EXPECT_TRUE(logged("sent bad checksums"));
    EXPECT_TRUE(frames_in(bad).empty());

    type("truncate 1");
    EXPECT_TRUE(logged("sent frames cut short"));

    // Silent: a command is heard and not answered; then answers come again.
    type("silence 3600");
    EXPECT_TRUE(logged("silent for 3600.0 s"));
    send(frame_bytes(0xE4, {0x34, 0x01}));
    EXPECT_TRUE(logged("command to 0xE4 ignored: silent"));
    type("silence 0");
    type("answers off");
    EXPECT_TRUE(logged("answers off"));
    send(frame_bytes(0xE4, {0x34, 0x01}));
    EXPECT_TRUE(logged("(answers are off)"));
    type("answers on");
    EXPECT_TRUE(logged("answers on"));
    send(frame_bytes(0xE4, {0x34, 0x01}));
    EXPECT_EQ(read_frames_until(1, 0x0A).size(), 1u);

    type("noise many");
    EXPECT_TRUE(logged("noise: \"many\" is not a number from 1 to 2048"));
    type("fly");
    EXPECT_TRUE(logged("unknown command \"fly\"; type help"));
}

// With a frame limit the streams stop after that many frames, which arrive
// whole and in their kinds' proportions, and the count of frames and of
// bytes written is reported once they are all out; faster than real time
// the flight's frames are the same, only sooner.
TEST_F(EmulatorOnLine, SendsTheFramesAskedForAndSaysHowMany)
{
    const struct {
        double speed;
        unsigned long frames;
    } cases[] = {{1, 3}, {500, 300}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "speed " << c.speed);
        emulator::EmulatorOptions options;
        options.speed = c.speed;
        options.frame_limit = c.frames;
        start(options);
        connect();
        const std::string done = "done: sent " + std::to_string(c.frames) + " frames, ";
        ASSERT_TRUE(logged(done));
        size_t bytes = 0;
        {
            std::lock_guard lock(mutex_);
            bytes = std::stoul(log_.substr(log_.find(done) + done.size()));
        }
        const Bytes got = read_until([&](const Bytes& b) { return b.size() >= bytes; });
        EXPECT_EQ(got.size(), bytes);
        const std::vector<LinkFrame> frames = frames_in(got);
        ASSERT_EQ(frames.size(), c.frames);
        const auto attitude = std::count_if(frames.begin(), frames.end(), [](const LinkFrame& f) { return f.command == 0x37; });
        const auto data = std::count_if(frames.begin(), frames.end(), [](const LinkFrame& f) { return f.command == 0x33; });
        EXPECT_NEAR(double(attitude) / c.frames, 20.0 / 26, c.frames < 10 ? 0.5 : 0.02);
        EXPECT_GE(data, 1);
        // The streams have stopped: by the time the status is out, nothing more came.
        type("status");
        EXPECT_TRUE(logged(std::to_string(c.frames) + " frames sent, " + std::to_string(bytes) +
                           " bytes sent, 0 commands heard, frame limit reached"));
        uint8_t more[64];
        EXPECT_LE(::read(line_, more, sizeof more), 0);
        TearDown();
        std::lock_guard lock(mutex_);
        log_.clear();
    }
}

TEST_F(EmulatorOnLine, WaitsForTheSimulatorToComeBack)
{
    start();
    type("noise 8");
    EXPECT_TRUE(logged("not connected: noise not sent"));
    connect();
    close_line();
    EXPECT_TRUE(logged("simulator disconnected"));
    open_line();
    EXPECT_TRUE(logged("simulator connected", 2));
    send(frame_bytes(0xE4, {0x34, 0x33}));
    EXPECT_EQ(read_frames_until(1, 0x0A).size(), 1u);
}

TEST_F(EmulatorOnLine, EndsAtQuitOrAtTheEndOfItsInput)
{
    start();
    type("quit");
    ASSERT_EQ(finished_.wait_for(DEADLINE), std::future_status::ready);
    EXPECT_EQ(finished_.get(), 0);
    end_input();

    start();
    connect();
    end_input();
    ASSERT_EQ(finished_.wait_for(DEADLINE), std::future_status::ready);
    EXPECT_EQ(finished_.get(), 0);
    EXPECT_TRUE(logged("end of input"));
}

// ---- FlightGear and recorded flights -------------------------------------------------

namespace {

// A UDP port of 127.0.0.1 that nothing holds now.
int free_udp_port()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size), 0);
    ::close(fd);
    return ntohs(a.sin_port);
}

// As FlightGear sends a line: one datagram.
void send_udp(int port, const std::string& text)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a),
              static_cast<ssize_t>(text.size()));
    ::close(fd);
}

bool has_attitude(const Bytes& b, int bank)
{
    for (const LinkFrame& f : frames_in(b)) {
        if (f.command == 0x37 && signed16(f.word(1)) == bank)
            return true;
    }
    return false;
}

unsigned long frames_sent_in(const std::string& status)
{
    const size_t at = status.find("; ");
    return at == std::string::npos ? ~0ul : std::stoul(status.substr(at + 2));
}

} // namespace

TEST_F(EmulatorOnLine, FliesWhatFlightGearSendsAndSaysWhenItStartsStopsAndComesBack)
{
    emulator::EmulatorOptions options;
    options.flightgear_port = free_udp_port();
    start(options);
    connect();
    EXPECT_EQ(frames_sent_in(status_line("device ")), 0u) << "nothing to fly before FlightGear's data";

    send_udp(options.flightgear_port, "not, a line");
    EXPECT_TRUE(logged("skipped a line from FlightGear, not 6 values: \"not, a line\""));
    send_udp(options.flightgear_port, "-33.02,4.97,341.8,-2.497,0.209,1.067\n");
    EXPECT_TRUE(logged("FlightGear's data has started on udp 127.0.0.1:" + std::to_string(options.flightgear_port)));
    EXPECT_TRUE(has_attitude(read_until([](const Bytes& b) { return has_attitude(b, 33); }), 33));

    // FlightGear goes quiet: so does the unit, and it says so.
    EXPECT_TRUE(logged("FlightGear's data stopped"));
    // While it waits for FlightGear nothing is sent, and it sleeps: no
    // frame in twenty frames' time, and a few wakeups at most (one that
    // spun would wake thousands of times, however busy the machine).
    const unsigned long sent = frames_sent_in(status_line("device "));
    const unsigned long woken = emulator_->wakeups();
    std::this_thread::sleep_for(1s);
    EXPECT_LT(emulator_->wakeups() - woken, 20u);
    EXPECT_EQ(frames_sent_in(status_line("device ")), sent);

    send_udp(options.flightgear_port, "10,0,0,0,0,1\n");
    EXPECT_TRUE(logged("FlightGear's data is back"));
    EXPECT_TRUE(has_attitude(read_until([](const Bytes& b) { return has_attitude(b, -10); }), -10));
    EXPECT_NE(status_line("FlightGear on").find("2 lines taken, 1 malformed skipped"), std::string::npos);
}

// Frames made from the flight at each frame's own time: the same bytes
// whether the machine is idle or busy, at any speed.
TEST_F(EmulatorOnLine, ReplaysARecordedFlightAsTheSameBytesAtAnySpeed)
{
    ScratchDir dir;
    const std::string path = dir.path() + "/flight.csv";
    {
        std::ofstream csv(path);
        csv << "time,roll-deg,pitch-deg,heading-magnetic-deg,indicated-turn-rate,indicated-slip-skid,pilot-g\n";
        for (int i = 0; i <= 15; ++i)
            csv << i * 0.1 << "," << i * 3 - 20 << "," << i % 5 << "," << (355 + i) % 360 << ",0.5,-0.2,1.1\n";
    }
    std::vector<Bytes> runs;
    for (double speed : {1.0, 30.0}) {
        SCOPED_TRACE(testing::Message() << "speed " << speed);
        emulator::EmulatorOptions options;
        options.replay_path = path;
        options.speed = speed;
        start(options);
        connect();
        EXPECT_TRUE(logged("the recorded flight has ended (1.5 s)"));
        const std::string done = "done: sent ";
        ASSERT_TRUE(logged(done));
        size_t bytes = 0;
        {
            std::lock_guard lock(mutex_);
            const std::string counts = log_.substr(log_.find(done) + done.size());
            bytes = std::stoul(counts.substr(counts.find(", ") + 2));
        }
        runs.push_back(read_until([&](const Bytes& b) { return b.size() >= bytes; }));
        EXPECT_EQ(runs.back().size(), bytes);
        TearDown();
        std::lock_guard lock(mutex_);
        log_.clear();
    }
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0], runs[1]);
    // Every attitude frame carries the sample in force at its time: each
    // recorded bank in turn (about twice: 20 frames a second, 10 samples).
    std::vector<int> banks;
    for (const LinkFrame& f : frames_in(runs[0])) {
        if (f.command == 0x37)
            banks.push_back(signed16(f.word(1)));
    }
    for (int i = 0; i <= 15; ++i) {
        const auto n = std::count(banks.begin(), banks.end(), 20 - 3 * i);
        EXPECT_TRUE(n >= 1 && n <= 3) << "bank " << 20 - 3 * i << " in " << n << " frames";
    }
    EXPECT_TRUE(std::is_sorted(banks.rbegin(), banks.rend())) << "in the order flown";
}
