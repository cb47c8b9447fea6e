// Cost of one full pass of each flight page (clear, then the main screen
// drawing the page) against two baselines measured in the same run:
//   Baseline_Clear            lcd_clear alone, a 1024-byte memset of the frame
//                             buffer: the floor of any pass;
//   Baseline_ClearAndPresent  lcd_clear + lcd_present, the part of every loop
//                             pass that is not the screen.
// The ratio page / Baseline_ClearAndPresent says how much of a loop pass the
// page itself adds.
#include <benchmark/benchmark.h>

#include <string_view>

#include "firmware/firmware_loop.h"
#include "firmware/flight/flight.h"
#include "firmware/headless_host.h"
#include "firmware/instrument_state.h"
#include "firmware/lcd/lcd.h"

namespace {

HeadlessHost bench_host;

// A level aircraft at 1 G on heading 47, the main screen on `page`.
void prepare(uint8_t page)
{
    set_host(&bench_host);
    level_aircraft_state();
    main_page = page;
    heading = 47;
    gforce_raw = 256;
}

void pass(benchmark::State& state)
{
    for (auto _ : state) {
        lcd_clear();
        main_screen();
        benchmark::DoNotOptimize(frame_buffer);
        benchmark::ClobberMemory();
    }
}

void Baseline_Clear(benchmark::State& state)
{
    for (auto _ : state) {
        lcd_clear();
        benchmark::DoNotOptimize(frame_buffer);
        benchmark::ClobberMemory();
    }
}

void Baseline_ClearAndPresent(benchmark::State& state)
{
    set_host(&bench_host);
    for (auto _ : state) {
        lcd_clear();
        lcd_present();
        benchmark::DoNotOptimize(lcd_surface);
        benchmark::ClobberMemory();
    }
}

// Level: half the panel swept column by column by the ground fill.
void Attitude_Level(benchmark::State& state)
{
    prepare(PAGE_ATTITUDE);
    pass(state);
}

// Steep left bank: the fill runs from the top left corner.
void Attitude_Bank100(benchmark::State& state)
{
    prepare(PAGE_ATTITUDE);
    bank = 100;
    pass(state);
}

// Horizon above the panel: all ground by one memset.
void Attitude_AllGround(benchmark::State& state)
{
    prepare(PAGE_ATTITUDE);
    pitch = -40;
    pass(state);
}

void Attitude_AllOverlays(benchmark::State& state)
{
    prepare(PAGE_ATTITUDE);
    bank = 20;
    pitch = 5;
    numeric_display = 1;
    pass(state);
}

void Compass_Card1(benchmark::State& state)
{
    prepare(PAGE_COMPASS);
    compass_display = COMPASS_CARD1;
    pass(state);
}

void Compass_Card2WithBug(benchmark::State& state)
{
    prepare(PAGE_COMPASS);
    compass_display = COMPASS_CARD2;
    heading_bug_on = 1;
    heading_bug = 90;
    pass(state);
}

void Compass_Rose(benchmark::State& state)
{
    prepare(PAGE_COMPASS);
    compass_display = COMPASS_ROSE;
    pass(state);
}

void TurnBank_FromBank(benchmark::State& state)
{
    prepare(PAGE_TURN_BANK);
    bank = 15;
    pass(state);
}

void TurnBank_FromTurnRate(benchmark::State& state)
{
    prepare(PAGE_TURN_BANK);
    turn_source = 2;
    turn_rate = -30;
    pass(state);
}

void NoData(benchmark::State& state)
{
    prepare(PAGE_ATTITUDE);
    attitude_valid = 0;
    pass(state);
}

}  // namespace

BENCHMARK(Baseline_Clear);
BENCHMARK(Baseline_ClearAndPresent);
BENCHMARK(Attitude_Level);
BENCHMARK(Attitude_Bank100);
BENCHMARK(Attitude_AllGround);
BENCHMARK(Attitude_AllOverlays);
BENCHMARK(Compass_Card1);
BENCHMARK(Compass_Card2WithBug);
BENCHMARK(Compass_Rose);
BENCHMARK(TurnBank_FromBank);
BENCHMARK(TurnBank_FromTurnRate);
BENCHMARK(NoData);

BENCHMARK_MAIN();
