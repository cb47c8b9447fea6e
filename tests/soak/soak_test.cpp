// The soak in compressed time: an hour of the sensor unit's frames, sent at
// 200 times the normal rate (or as fast as the instrument takes them, if
// that is slower) to the instrument running and connected in the real
// window; and the port connected and disconnected many times over. The same
// soak in real time, ten minutes or more, is the suite in real_time/ (run by
// ctest -C soak -L soak).
#include <QPushButton>

#include <algorithm>
#include <cstdio>

#include "soak_run.h"

using namespace soak;

namespace {

class Soak : public SoakRun {};

} // namespace

TEST_F(Soak, AnHourOfFramesAtTheFullRateLosesNothingAndStaysBounded)
{
    SoakPlan plan;
    plan.speed = 200;
    plan.frames = FRAMES_PER_HOUR;
#if defined(__SANITIZE_THREAD__)
    // Races show in minutes as well as in hours; the volume is the plain
    // and address-sanitized runs' to carry.
    plan.frames = FRAMES_PER_HOUR / 6;
#endif
    // Commands fill the communication window to its bound in seconds;
    // the readings alone would take minutes.
    plan.commands_per_pass = 10;
    run(plan);
}

TEST_F(Soak, ConnectAndDisconnectOverAndOverLeaveNoDescriptorOrThreadBehind)
{
    ASSERT_TRUE(start_emulator({"--speed", "20"}));
    open_window(emulator->device());

    // Each cycle: Connect, bytes arrive, Disconnect. What an open port has
    // (its descriptors; its event thread, and a worker it starts when first
    // needed) must all go with it.
    int most_descriptors = 0, most_threads = 0;
    auto cycle = [&] {
        const uint64_t before = parser_tally().bytes;
        click_connect();
        EXPECT_TRUE(form->ComPort1->Connected()) << errors_shown.join(" | ").toStdString();
        EXPECT_TRUE(wait_until([&] { return parser_tally().bytes > before; }));
        most_descriptors = std::max(most_descriptors, open_descriptors());
        most_threads = std::max(most_threads, thread_count());
        click_disconnect();
    };
    // The first opening may start what lives as long as the program.
    cycle();
    const int descriptors_closed = open_descriptors();
    const int threads_closed = thread_count();

    constexpr int CYCLES = 60;
    for (int i = 0; i < CYCLES && !HasFailure(); ++i) {
        cycle();
        EXPECT_TRUE(
            wait_until([&] { return open_descriptors() == descriptors_closed && thread_count() == threads_closed; }))
            << "cycle " << i << ": " << open_descriptors() << " descriptors, " << thread_count() << " threads";
    }
    std::printf("[ figures  ] %d cycles: descriptors %d closed, %d at most open; threads %d closed, %d at most open\n",
                CYCLES, descriptors_closed, most_descriptors, threads_closed, most_threads);
    EXPECT_LE(most_descriptors, descriptors_closed + 8);
    EXPECT_LE(most_threads, threads_closed + 3);
    EXPECT_TRUE(errors_shown.isEmpty()) << errors_shown.join(" | ").toStdString();
}
