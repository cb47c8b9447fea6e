// FlightGear as the emulator's flight: its values turned into the sensor
// unit's frames (read back by the frame layouts), the lines it may send that
// are not what the protocol file says, and recorded flights on disk.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "flightgear.h"
#include "sensor_unit.h"
#include "tool_support.h"

using namespace tools_test;

namespace {

// What FlightGear sends, and what the instrument must receive.
struct ConversionCase {
    const char* what;
    const char* line;  // roll, pitch, magnetic heading, turn rate (standard rates), ball, G
    int bank;          // positive banked left
    int pitch;
    int heading;       // compass heading frame
    int turn_rate;     // tenths of a degree a second, positive right
    int slip;          // positive: ball to the right
    int gforce;        // 1/256 G, magnitude
    int status;        // range exceeded 0x02, G negative 0x10
};

const ConversionCase CONVERSIONS[] = {
    {"straight and level", "0,0,0,0,0,1", 0, 0, 0, 0, 0, 256, 0},
    {"banked right is negative bank", "30,2.4,90,1,0,1.15", -30, 2, 90, 30, 0, 294, 0},
    {"banked left, turning left", "-33.02,4.97,341.8,-2.497,0.209,1.067", 33, 5, 342, -75, -2, 273, 0},
    {"half a standard rate", "0,0,10,0.5,0,1", 0, 0, 10, 15, 0, 256, 0},
    {"heading just short of north wraps to 0", "0,0,359.6,0,0,1", 0, 0, 0, 0, 0, 256, 0},
    {"heading of 360 is north", "0,0,360,0,0,1", 0, 0, 0, 0, 0, 256, 0},
    {"heading below 0 wraps", "0,0,-10,0,0,1", 0, 0, 350, 0, 0, 256, 0},
    {"heading beyond a turn wraps", "0,0,725.2,0,0,1", 0, 0, 5, 0, 0, 256, 0},
    {"ball to the right", "0,0,0,0,-1.5,1", 0, 0, 0, 0, 15, 256, 0},
    {"ball beyond what a byte carries", "0,0,0,0,40,1", 0, 0, 0, 0, -127, 256, 0},
    {"negative G sets the sign bit", "0,-20,0,0,0,-0.5", 0, -20, 0, 0, 0, 128, 0x10},
    {"G beyond the word", "0,0,0,0,0,300", 0, 0, 0, 0, 0, 65535, 0},
    {"bank beyond the unit's range", "65,0,0,2.5,0,2.4", -65, 0, 0, 75, 0, 614, 0x02},
    {"pitch beyond the unit's range", "0,-31,0,0,0,1", 0, -31, 0, 0, 0, 256, 0x02},
    {"rolled over", "-179.6,0,0,0,0,1", 180, 0, 0, 0, 0, 256, 0x02},
};

} // namespace

TEST(FlightGearFlight, ValuesBecomeTheFramesOfTheSensorUnit)
{
    for (const ConversionCase& c : CONVERSIONS) {
        SCOPED_TRACE(c.what);
        const auto state = emulator::parse_flightgear_line(c.line);
        ASSERT_TRUE(state);
        emulator::SensorUnit unit({});
        unit.fly(emulator::flight_from_flightgear(*state));

        const std::vector<LinkFrame> attitude = frames_in(unit.attitude_frame());
        ASSERT_EQ(attitude.size(), 1u);
        const LinkFrame& a = attitude[0];
        ASSERT_EQ(a.length, 18);
        EXPECT_EQ(signed16(a.word(1)), c.bank);
        EXPECT_EQ(signed16(a.word(3)), c.pitch);
        EXPECT_EQ(signed8(a.data[7]), c.slip);
        EXPECT_EQ(a.word(8), c.gforce);
        EXPECT_EQ(a.data[10], c.status);
        EXPECT_EQ(a.word(11), c.heading);
        EXPECT_EQ(signed16(a.word(15)), c.turn_rate);

        const std::vector<LinkFrame> heading = frames_in(unit.compass_heading_frame());
        ASSERT_EQ(heading.size(), 1u);
        EXPECT_EQ(heading[0].word(0), c.heading);
    }
}

TEST(FlightGearFlight, TheTenthsFormKeepsTheSignsAndWrapsTheHeadingInTenths)
{
    emulator::SensorUnit unit({5, true, true});
    unit.fly(emulator::flight_from_flightgear(*emulator::parse_flightgear_line("12.34,-5.67,359.96,0,0,1")));
    const LinkFrame a = frames_in(unit.attitude_frame()).at(0);
    EXPECT_EQ(signed16(a.word(1)), -123);
    EXPECT_EQ(signed16(a.word(3)), -57);
    EXPECT_EQ(a.word(11), 0);
}

TEST(FlightGearFlight, OnlySixFiniteNumbersMakeALine)
{
    const struct {
        const char* line;
        bool taken;
    } cases[] = {
        {"1,2,3,4,5,6", true},
        {" 1.5 , -2,3e1,+4,5 ,6\r\n", true},
        {"", false},
        {"1,2,3,4,5", false},
        {"1,2,3,4,5,6,7", false},
        {"1,2,3,,5,6", false},
        {"1,2,3,4,5,six", false},
        {"1,2,3,4,5,6x", false},
        {"nan,2,3,4,5,6", false},
        {"1,inf,3,4,5,6", false},
        {"1,2,3,4,5,1e999", false},
        {"1;2;3;4;5;6", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::string why;
        EXPECT_EQ(emulator::parse_flightgear_line(c.line, &why).has_value(), c.taken);
        EXPECT_EQ(why.empty(), c.taken) << why;
    }
}

TEST(RecordedFlight, WhatIsRecordedReplaysAsItCame)
{
    ScratchDir dir;
    const std::string path = dir.path() + "/flight.csv";
    const char* const lines[] = {"-33.02,4.97,341.8,-2.497,0.209,1.067", "0.5,-1.25,0.01,0,-0.003,0.998",
                                 "179.99,89.9,359.99,2.5,10,-3.25"};
    {
        emulator::FlightRecorder recorder(path);
        double t = 0;
        for (const char* line : lines)
            ASSERT_TRUE(recorder.write(t += 0.1, *emulator::parse_flightgear_line(line)));
        EXPECT_EQ(recorder.samples(), 3u);
    }
    EXPECT_THROW(emulator::FlightRecorder again(path), std::runtime_error) << "a recording is never replaced";

    const emulator::RecordedFlight flight = emulator::RecordedFlight::load(path);
    ASSERT_EQ(flight.samples().size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const auto sent = *emulator::parse_flightgear_line(lines[i]);
        const emulator::FlightGearState& got = flight.samples()[i].state;
        EXPECT_NEAR(flight.samples()[i].time, 0.1 * (i + 1), 1e-9);
        EXPECT_EQ(got.roll_deg, sent.roll_deg);
        EXPECT_EQ(got.pitch_deg, sent.pitch_deg);
        EXPECT_EQ(got.heading_magnetic_deg, sent.heading_magnetic_deg);
        EXPECT_EQ(got.turn_rate, sent.turn_rate);
        EXPECT_EQ(got.slip_skid, sent.slip_skid);
        EXPECT_EQ(got.pilot_g, sent.pilot_g);
    }
    // The sample in force: the last at or before the time asked.
    EXPECT_EQ(&flight.at(0), &flight.samples()[0]);
    EXPECT_EQ(&flight.at(0.15), &flight.samples()[0]);
    EXPECT_EQ(&flight.at(0.2), &flight.samples()[1]);
    EXPECT_EQ(&flight.at(99), &flight.samples()[2]);
}

TEST(RecordedFlight, AFileThatIsNotOneIsRefusedWithWhereAndWhy)
{
    const char* const header = "time,roll-deg,pitch-deg,heading-magnetic-deg,indicated-turn-rate,"
                               "indicated-slip-skid,pilot-g\n";
    const struct {
        const char* what;
        std::string text;
        const char* error;  // empty: taken
    } cases[] = {
        {"notes, columns in another order and one more",
         "# flown by hand\npilot-g,time,extra,roll-deg,pitch-deg,heading-magnetic-deg,indicated-turn-rate,"
         "indicated-slip-skid\n1,0,x,0,0,0,0,0\n1,0.1,y,1,2,3,4,5\n",
         ""},
        {"a column missing", "time,roll-deg,pitch-deg\n0,0,0\n", ":1: the header names no column \"heading-magnetic-deg\""},
        {"too few values", std::string(header) + "0,0,0,0,0,0,1\n0.1,0,0\n", ":3: 3 values where the header names 7"},
        {"not a number", std::string(header) + "0,0,0,level,0,0,1\n", ":2: heading-magnetic-deg \"level\" is not a number"},
        {"time going back", std::string(header) + "1,0,0,0,0,0,1\n0.5,0,0,0,0,0,1\n", ":3: the time goes back"},
        {"a negative time", std::string(header) + "-1,0,0,0,0,0,1\n", ":2: the time \"-1\" is not a number of seconds"},
        {"no samples", header, ": no samples"},
        {"empty", "", ": no samples"},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.path() + "/f.csv";
        std::ofstream(path) << c.text;
        try {
            emulator::RecordedFlight::load(path);
            EXPECT_STREQ(c.error, "");
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), path + c.error);
        }
    }
    EXPECT_THROW(emulator::RecordedFlight::load(dir.path() + "/none.csv"), std::runtime_error);
}
