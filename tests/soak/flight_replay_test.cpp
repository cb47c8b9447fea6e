// A flight flown in FlightGear and recorded (tools/sensor_emulator/flights),
// replayed by the sensor unit emulator into the real window with the
// instrument ON, its pages cycled as it goes. Every pass drawn with data
// shows the recorded flight: its readings are the recorded values in the
// instrument's units and signs (worked out here on their own), in the order
// flown, and its page is the page drawn from those values.
#include <QPushButton>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <utility>

#include "firmware/flight/flight.h"
#include "firmware/instrument_state.h"
#include "firmware/lcd/lcd.h"
#include "each_pass.h"
#include "lcd_picture.h"
#include "soak_support.h"

using namespace soak;

namespace {

const char FLIGHT[] = "/tools/sensor_emulator/flights/c172_turns.csv";

// What the instrument must hold for one recorded sample.
struct Readings {
    int32_t bank, pitch, slip, gforce, status, turn_rate, heading;
    bool attitude_equal(const Readings& o) const
    {
        return bank == o.bank && pitch == o.pitch && slip == o.slip && gforce == o.gforce && status == o.status &&
               turn_rate == o.turn_rate;
    }
};

// FlightGear's roll is positive right wing down, its ball positive to the
// left, its turn rate in standard-rate turns of 3 degrees a second; the
// attitude unit reports its range exceeded beyond 60 degrees of bank or 30 of
// pitch.
Readings expected(double roll, double pitch, double heading, double turn, double ball, double g)
{
    Readings r;
    r.bank = static_cast<int32_t>(std::lround(-roll));
    r.pitch = static_cast<int32_t>(std::lround(pitch));
    r.slip = static_cast<int32_t>(std::clamp(std::lround(-ball * 10), -127L, 127L));
    r.gforce = static_cast<int32_t>(std::min(65535L, std::lround(std::fabs(g) * 256)));
    r.status = (std::fabs(roll) > 60 || std::fabs(pitch) > 30 ? 0x02 : 0) | (g < 0 ? 0x10 : 0);
    r.turn_rate = static_cast<int32_t>(std::lround(turn * 3.0 * 10.0));
    double h = std::fmod(heading, 360.0);
    if (h < 0)
        h += 360;
    r.heading = static_cast<int32_t>(std::lround(h) % 360);
    return r;
}

std::vector<Readings> recorded_flight(const std::string& path)
{
    std::ifstream in(path);
    std::vector<Readings> flight;
    std::vector<std::string> header;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string f; std::getline(split, f, ',');)
            fields.push_back(f);
        if (header.empty()) {
            header = fields;
            continue;
        }
        auto value = [&](const char* name) {
            const auto at = std::find(header.begin(), header.end(), name);
            return at == header.end() ? NAN : std::stod(fields.at(static_cast<size_t>(at - header.begin())));
        };
        flight.push_back(expected(value("roll-deg"), value("pitch-deg"), value("heading-magnetic-deg"),
                                  value("indicated-turn-rate"), value("indicated-slip-skid"), value("pilot-g")));
    }
    return flight;
}

Readings readings_now()
{
    return {bank, pitch, slip, gforce_raw, sensor_status, turn_rate, heading};
}

// One pass as it was drawn.
struct Pass {
    Readings readings;
    uint8_t page;
    uint8_t led_timer;
    uint8_t picture[sizeof frame_buffer];
};

class FlightReplay : public WindowOnLine {};

} // namespace

TEST_F(FlightReplay, ThePagesShowTheRecordedFlight)
{
    const char* source = std::getenv("TARNBY_SOURCE_DIR");
    ASSERT_TRUE(source);
    const std::string path = std::string(source) + FLIGHT;
    const std::vector<Readings> flight = recorded_flight(path);
    ASSERT_GT(flight.size(), 500u);

    ASSERT_TRUE(start_emulator({"--replay", path, "--speed", "8"}));
    open_window(emulator->device());
    click_connect();
    ASSERT_TRUE(form->ComPort1->Connected()) << errors_shown.join(" | ").toStdString();

    std::vector<Pass> passes;
    bool key_sent = false;
    bool off_pressed = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    {
        EachPass hook(host(), [&] {
            emulator->collect();
            const std::optional<EmulatorStatus> done = emulator->frames_done();
            if (!off_pressed && ((done && parser_tally().bytes >= done->bytes) ||
                                 std::chrono::steady_clock::now() > deadline)) {
                off_pressed = true;
                form->Button2->click();
            }
            // A pass that handled a knob turn drew the page before it.
            if (std::exchange(key_sent, false) || current_screen != main_screen || attitude_valid != 1 ||
                heading_valid != 1)
                return;
            Pass& p = passes.emplace_back();
            p.readings = readings_now();
            p.page = main_page;
            p.led_timer = led_timer;
            std::memcpy(p.picture, frame_buffer, sizeof frame_buffer);
            if (passes.size() % 7 == 0 && key_code == 0) {
                key_code = 2;  // the knob clockwise: the next page
                key_sent = true;
            }
        });
        form->Button1->click();  // ON; returns at OFF
    }
    ASSERT_TRUE(emulator->frames_done()) << "the replay did not end in time";
    ASSERT_EQ(parser_tally().poisoned, 0u);

    // In the order flown: each pass's readings are a sample at or after the
    // last pass's, the heading taken on its own (its frames come at their own
    // rate).
    size_t at = 0, heading_at = 0;
    int mismatches = 0;
    int per_page[3] = {};
    for (Pass& p : passes) {
        size_t i = at;
        while (i < flight.size() && !flight[i].attitude_equal(p.readings))
            ++i;
        size_t h = heading_at;
        while (h < flight.size() && flight[h].heading != p.readings.heading)
            ++h;
        if (i == flight.size() || h == flight.size()) {
            if (++mismatches <= 3)
                ADD_FAILURE() << "readings bank " << p.readings.bank << " pitch " << p.readings.pitch << " slip "
                              << p.readings.slip << " G " << p.readings.gforce << " status " << p.readings.status
                              << " turn " << p.readings.turn_rate << " heading " << p.readings.heading
                              << " are no recorded sample from " << at;
            continue;
        }
        at = i;
        heading_at = h;

        // The page drawn from the recorded values.
        const Readings& r = flight[i];
        bank = r.bank;
        pitch = r.pitch;
        slip = r.slip;
        gforce_raw = r.gforce;
        sensor_status = static_cast<uint8_t>(r.status);
        turn_rate = r.turn_rate;
        heading = flight[h].heading;
        led_timer = p.led_timer;
        lcd_clear();
        void (*const pages[])() = {attitude_page, compass_page, turn_bank_page};
        ASSERT_LT(p.page, 3);
        pages[p.page]();
        ++per_page[p.page];
        if (std::memcmp(frame_buffer, p.picture, sizeof frame_buffer) != 0 && ++mismatches <= 3) {
            const std::string drawn = lcd_dump();
            std::memcpy(frame_buffer, p.picture, sizeof frame_buffer);
            ADD_FAILURE() << "page " << int(p.page) << " differs from the one drawn from sample " << i
                          << "; expected\n" << drawn << "shown\n" << lcd_dump();
        }
    }
    std::printf("[ figures  ] %zu passes checked (%d, %d, %d of the three pages), up to sample %zu of %zu\n",
                passes.size(), per_page[0], per_page[1], per_page[2], at, flight.size());
    EXPECT_EQ(mismatches, 0);
    for (int n : per_page)
        EXPECT_GE(n, 10) << "every page seen";
    EXPECT_GE(at, flight.size() * 9 / 10) << "the whole flight seen";
    EXPECT_TRUE(errors_shown.isEmpty()) << errors_shown.join(" | ").toStdString();
}
