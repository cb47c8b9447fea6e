// The soak in real time: the sensor unit's frames at their normal rate for
// ten minutes (TARNBY_SOAK_MINUTES for longer) to the instrument running and
// connected in the real window. The readings alone fill the communication
// window, four lines a pass, in about three and a half minutes; the rest of
// the run holds it at its bound. Not part of the everyday suite:
//   ctest --test-dir build -C soak -L soak --output-on-failure
#include <cstdlib>

#include "soak_run.h"

using namespace soak;

namespace {

class RealTimeSoak : public SoakRun {};

int minutes()
{
    const char* text = std::getenv("TARNBY_SOAK_MINUTES");
    const int asked = text ? std::atoi(text) : 0;
    return asked >= 10 ? asked : 10;
}

} // namespace

TEST_F(RealTimeSoak, TheNormalRateForTenMinutesOrMore)
{
    SoakPlan plan;
    plan.speed = 1;
    plan.frames = FRAMES_PER_HOUR / 60 * static_cast<unsigned long>(minutes());
    plan.commands_per_pass = 0;
    plan.held_for = std::chrono::seconds(0);
    plan.deadline = std::chrono::minutes(minutes() + 10);
    run(plan);
}
