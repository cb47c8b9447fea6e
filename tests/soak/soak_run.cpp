#include "each_pass.h"
#include "soak_run.h"

#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "firmware/host.h"
#include "firmware/link/link.h"

namespace soak {

namespace {

struct Sample {
    double seconds;
    long rss_kib;
    int descriptors;
    int threads;
    int memo_lines;
};

constexpr auto SAMPLE_PERIOD = 500ms;
// Memory may still settle a little once the window is full (the last
// batch of lines, the allocator's own pools).
constexpr auto SETTLE = 2s;

std::string number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

} // namespace

void SoakRun::run(const SoakPlan& plan)
{
    ASSERT_TRUE(
        start_emulator({"--heading", "90", "--speed", number(plan.speed), "--frames", std::to_string(plan.frames)}));
    open_window(emulator->device());
    const int descriptors_closed = open_descriptors();
    const int threads_closed = thread_count();
    click_connect();
    ASSERT_TRUE(form->ComPort1->Connected()) << errors_shown.join(" | ").toStdString();

    using Clock = std::chrono::steady_clock;
    const auto started = Clock::now();
    const CpuShare cpu;
    std::vector<Sample> samples;
    auto next_sample = started;
    std::optional<Clock::time_point> memo_full_at;
    int memo_most = 0;
    unsigned long commands_sent = 0;
    std::optional<EmulatorStatus> done;
    bool off_pressed = false;
    bool out_of_time = false;

    {
        EachPass hook(host(), [&] {
            emulator->collect();
            const auto now = Clock::now();
            if (plan.commands_per_pass > 0 && !memo_full_at) {
                for (int i = 0; i < plan.commands_per_pass; ++i) {
                    send_command(CMD_TILT_COMP, static_cast<uint8_t>(1 + commands_sent % 3), 0);
                    ++commands_sent;
                }
            }
            if (now >= next_sample) {
                next_sample += SAMPLE_PERIOD;
                const int memo = form->Memo1->blockCount();
                memo_most = std::max(memo_most, memo);
                if (memo >= TForm1::MEMO_LINE_LIMIT && !memo_full_at)
                    memo_full_at = now;
                samples.push_back({std::chrono::duration<double>(now - started).count(), rss_kib(), open_descriptors(),
                                   thread_count(), memo});
            }
            if (!done)
                done = emulator->frames_done();
            const bool finished = done && parser_tally().bytes >= done->bytes && memo_full_at &&
                                  now - *memo_full_at >= plan.held_for;
            out_of_time = now - started > plan.deadline;
            if ((finished || out_of_time) && !off_pressed) {
                off_pressed = true;
                form->Button2->click();
            }
        });
        form->Button1->click();  // ON; returns at OFF
    }
    const double seconds = cpu.wall_seconds();
    const double share = cpu.share();
    ParserTally& t = parser_tally();

    std::printf("[ figures  ] %lu frames at %gx in %.1f s (%.0f frames/s, %.0f bytes/s); %.1f %% of a core; "
                "%llu frames whose tail came after a pause\n",
                plan.frames, plan.speed, seconds, t.frames / seconds, t.bytes / seconds, share * 100,
                static_cast<unsigned long long>(t.resumed_after_a_pause));
    ASSERT_FALSE(out_of_time) << "not done within " << plan.deadline.count() << " minutes: " << t.frames
                              << " frames parsed, emulator done: " << done.has_value();
    ASSERT_TRUE(done);

    // Nothing lost on the way in or out: every byte written was parsed,
    // every frame acted on, every command heard.
    const std::optional<EmulatorStatus> last = emulator->status();
    ASSERT_TRUE(last);
    EXPECT_EQ(last->frames, plan.frames);
    EXPECT_EQ(last->bytes, done->bytes) << "nothing but the frames went out";
    EXPECT_EQ(t.bytes, last->bytes) << "bytes written by the emulator and stepped through the parser";
    EXPECT_EQ(t.frames, plan.frames) << "frames acted on";
    EXPECT_EQ(t.abandoned_after_a_pause, 0u);
    EXPECT_EQ(t.poisoned, 0u);
    EXPECT_EQ(last->commands, commands_sent) << "commands the emulator heard";

    // The communication window reached its bound and stayed there.
    ASSERT_TRUE(memo_full_at) << "the window got " << memo_most << " lines";
    EXPECT_EQ(memo_most, TForm1::MEMO_LINE_LIMIT);
    EXPECT_EQ(form->Memo1->blockCount(), TForm1::MEMO_LINE_LIMIT);

    // Descriptors and threads: once the run is under way, no more; an open
    // port has its event thread, a worker it starts when first needed and,
    // on a real UART, a line watcher.
    ASSERT_GE(samples.size(), 8u);
    const Sample& settled = samples[samples.size() / 4];
    int most_descriptors = 0, most_threads = 0;
    for (size_t i = samples.size() / 4; i < samples.size(); ++i) {
        most_descriptors = std::max(most_descriptors, samples[i].descriptors);
        most_threads = std::max(most_threads, samples[i].threads);
    }
    EXPECT_LE(most_descriptors, settled.descriptors + 2);
    EXPECT_LE(most_threads, threads_closed + 3);

    // Memory: what it takes once the window is full, and the most after.
    const double full_at = std::chrono::duration<double>(*memo_full_at - started).count();
    long rss_full = -1, rss_most = 0;
    for (const Sample& s : samples) {
        if (s.seconds < full_at + std::chrono::duration<double>(SETTLE).count())
            continue;
        if (rss_full < 0)
            rss_full = s.rss_kib;
        rss_most = std::max(rss_most, s.rss_kib);
    }
    std::printf("[ figures  ] memory %ld KiB at the start, %ld KiB with the window full (at %.1f s), at most %ld KiB "
                "after, %ld KiB at the end; %d samples\n",
                samples.front().rss_kib, rss_full, full_at, rss_most, samples.back().rss_kib,
                static_cast<int>(samples.size()));
    std::printf("[ figures  ] descriptors %d closed, %d running, %d at most; threads %d closed, %d running, %d at most; "
                "%lu commands sent\n",
                descriptors_closed, settled.descriptors, most_descriptors, threads_closed, settled.threads,
                most_threads, commands_sent);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // Sanitizers hold freed memory back on purpose; only a plain build's
    // resident size says anything.
    if (rss_full > 0) {
        EXPECT_LT(rss_most - rss_full, 8 * 1024) << "KiB gained with the window full";
    }
#endif

    click_disconnect();
    EXPECT_TRUE(wait_until([&] { return open_descriptors() == descriptors_closed && thread_count() == threads_closed; }))
        << "after Disconnect: " << open_descriptors() << " descriptors (" << descriptors_closed << " before Connect), "
        << thread_count() << " threads (" << threads_closed << ")";
    EXPECT_TRUE(errors_shown.isEmpty()) << errors_shown.join(" | ").toStdString();
}

} // namespace soak
