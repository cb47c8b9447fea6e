#include "sensor_unit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace emulator {

namespace {

constexpr uint8_t COMMAND_ACK = 10;
constexpr uint8_t COMMAND_COMPASS_HEADING = 50;
constexpr uint8_t COMMAND_COMPASS_DATA = 51;
constexpr uint8_t COMMAND_ATTITUDE = 55;
constexpr uint8_t TO_COMPASS = 0x34;
constexpr uint8_t TO_ATTITUDE = 0x35;

constexpr double PI = 3.14159265358979323846;

std::string format(const char* fmt, int a = 0, int b = 0)
{
    char text[128];
    std::snprintf(text, sizeof text, fmt, a, b);
    return text;
}

Answer acknowledged(std::string note)
{
    return {{acknowledgement_frame()}, std::move(note)};
}

Answer refused(std::string note)
{
    return {{}, std::move(note) + ": not accepted, no answer"};
}

uint16_t word_of(const Bytes& data, size_t i)
{
    return static_cast<uint16_t>(data[i] | (data[i + 1] << 8));
}

} // namespace

Bytes acknowledgement_frame()
{
    return encode_frame(ADDRESS_INSTRUMENT, COMMAND_ACK, {0x00});
}

SensorUnit::SensorUnit(UnitOptions opts, double start_heading) : options(opts), flight_(start_heading) {}

void SensorUnit::advance(double dt)
{
    flight_.advance(dt);
    // An acknowledged range alarm stays quiet until the next excursion.
    if (!flight().range_exceeded)
        alarm_acknowledged_ = false;
}

Bytes SensorUnit::attitude_frame() const
{
    const FlightSample& f = flight();
    const bool tenths = options.attitude_form == 5;
    const double scale = tenths ? 10.0 : 1.0;
    uint8_t status = 0;
    if (f.range_exceeded && !alarm_acknowledged_)
        status |= 0x02;
    if (f.g_load < 0)
        status |= 0x10;
    const auto heading = static_cast<uint16_t>(std::lround(f.heading * scale) % std::lround(360 * scale));

    Bytes d{options.attitude_form};
    put_word(d, signed_word(static_cast<int32_t>(std::lround(f.bank * scale))));
    put_word(d, signed_word(static_cast<int32_t>(std::lround(f.pitch * scale))));
    put_word(d, 0);  // d5, d6: not read by the instrument
    d.push_back(signed_byte(static_cast<int32_t>(std::lround(f.slip))));
    put_word(d, static_cast<uint16_t>(std::min(65535L, std::lround(std::fabs(f.g_load) * 256))));
    d.push_back(status);
    put_word(d, heading);
    put_word(d, 0);  // d13, d14: not read by the instrument
    if (options.turn_rate)
        put_word(d, signed_word(static_cast<int32_t>(std::lround(f.turn_rate * 10))));
    return encode_frame(ADDRESS_INSTRUMENT, COMMAND_ATTITUDE, d);
}

Bytes SensorUnit::compass_heading_frame() const
{
    Bytes d;
    put_word(d, static_cast<uint16_t>(std::lround(flight().heading) % 360));
    d.push_back(tilt_comp_);
    return encode_frame(ADDRESS_INSTRUMENT, COMMAND_COMPASS_HEADING, d);
}

Bytes SensorUnit::compass_data_frame()
{
    // The earth's field seen by a level magnetometer, around a mid-scale
    // offset so every value stays positive.
    const FlightSample& f = flight();
    const double h = f.heading * PI / 180.0;
    const auto ns = static_cast<int32_t>(std::lround(2048 + 700 * std::cos(h)));
    const auto ew = static_cast<int32_t>(std::lround(2048 - 700 * std::sin(h)));
    const auto z = static_cast<int32_t>(std::lround(2048 + 900 + 150 * std::sin(f.pitch * PI / 180.0)));
    if (!extremes_valid_) {
        extremes_ = {ew, ew, ns, ns, z, z};
        extremes_valid_ = true;
    }
    extremes_.ew_min = std::min(extremes_.ew_min, ew);
    extremes_.ew_max = std::max(extremes_.ew_max, ew);
    extremes_.ns_min = std::min(extremes_.ns_min, ns);
    extremes_.ns_max = std::max(extremes_.ns_max, ns);
    extremes_.z_min = std::min(extremes_.z_min, z);
    extremes_.z_max = std::max(extremes_.z_max, z);

    Bytes d;
    for (int32_t w : {extremes_.ew_max, extremes_.ew_min, extremes_.ns_max, extremes_.ns_min, ew, ns,
                      extremes_.z_max, extremes_.z_min, z})
        put_word(d, static_cast<uint16_t>(w));
    return encode_frame(ADDRESS_INSTRUMENT, COMMAND_COMPASS_DATA, d);
}

void SensorUnit::reset_extremes()
{
    extremes_valid_ = false;
}

Answer SensorUnit::answer(const Frame& command)
{
    Answer a;
    if (command.command == TO_COMPASS && (command.address == ADDRESS_COMPASS || command.address == ADDRESS_BROADCAST))
        a = compass_command(command);
    else if (command.command == TO_ATTITUDE &&
             (command.address == ADDRESS_ATTITUDE || command.address == ADDRESS_BROADCAST))
        a = attitude_command(command);
    else
        a = refused(format("frame to 0x%02X, command 0x%02X", command.address, command.command));
    if (!options.answer_commands && !a.frames.empty()) {
        a.frames.clear();
        a.note += " (answers are off)";
    }
    return a;
}

Answer SensorUnit::compass_command(const Frame& c)
{
    if (c.data.empty())
        return refused("compass command without a sub-command");
    const uint8_t sub = c.data[0];
    switch (sub) {
    case 0x01:
        reset_extremes();
        return acknowledged("compass: clear deviation calibration");
    case 0x02:
        // The deviation calibration starts from the current readings; the
        // data frame is the answer.
        reset_extremes();
        return {{compass_data_frame()}, "compass: start deviation calibration"};
    case 0x03:
    case 0x04:
        return {{compass_data_frame()}, format("compass: finish deviation calibration (command %d)", sub)};
    case 0x05:
        return acknowledged("compass: command 5");
    case 0x0A:
        if (c.data.size() < 2 || c.data[1] < 1 || c.data[1] > 3)
            return refused("compass: tilt compensation out of range");
        tilt_comp_ = c.data[1];
        return {{}, format("compass: tilt compensation %d (no answer expected)", tilt_comp_)};
    case 0x15: {
        static const char* const directions[] = {"north", "south", "east", "west"};
        if (c.data.size() < 2 || c.data[1] > 4)
            return refused("compass: alignment out of range");
        if (c.data[1] == 4)
            return acknowledged("compass: clear alignment");
        return acknowledged(std::string("compass: set alignment ") + directions[c.data[1]]);
    }
    case 0x32:
        reset_extremes();
        return acknowledged("compass: start in-flight calibration");
    case 0x33:
        return acknowledged("compass: stop in-flight calibration");
    default:
        return refused(format("compass: unknown command 0x%02X", sub));
    }
}

Answer SensorUnit::attitude_command(const Frame& c)
{
    if (c.data.empty())
        return refused("attitude command without a sub-command");
    const uint8_t sub = c.data[0];
    switch (sub) {
    case 0x09:
    case 0x10:
        if (c.data.size() < 3)
            return refused("attitude: factor without its value");
        return acknowledged(format(sub == 0x09 ? "attitude: bump factor %d" : "attitude: slew factor %d",
                                   word_of(c.data, 1)));
    case 0x0C:
        alarm_acknowledged_ = true;
        return acknowledged("attitude: command 12 (range alarm acknowledged)");
    case 0x11:
        if (c.data.size() < 2)
            return refused("attitude: command 17 without its value");
        return acknowledged(format("attitude: command 17 with %d", c.data[1]));
    case 0x06:
        if (c.data.size() < 3 || c.data[1] != c.data[2] || (c.data[1] != 0 && c.data[1] != 4))
            return refused("attitude: turn and bank source not understood");
        return acknowledged(c.data[1] == 4 ? "attitude: turn and bank from the gyro"
                                           : "attitude: turn and bank from the bank angle");
    default:
        return refused(format("attitude: unknown command 0x%02X", sub));
    }
}

} // namespace emulator
