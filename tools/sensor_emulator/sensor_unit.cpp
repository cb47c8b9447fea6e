#include "sensor_unit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace emulator {

namespace {

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

} // namespace

Bytes acknowledgement_frame()
{
    return link_frame(LINK_INSTRUMENT, FRAME_ACK, {0x00});
}

SensorUnit::SensorUnit(UnitOptions opts, double start_heading) : options(opts), flight_(start_heading) {}

void SensorUnit::advance(double dt)
{
    if (flown_)
        return;
    flight_.advance(dt);
    // An acknowledged range alarm stays quiet until the next excursion.
    if (!flight().range_exceeded)
        alarm_acknowledged_ = false;
}

void SensorUnit::fly(const FlightSample& sample)
{
    flown_ = sample;
    // An acknowledged range alarm stays quiet until the next excursion.
    if (!flight().range_exceeded)
        alarm_acknowledged_ = false;
}

Bytes SensorUnit::attitude_frame() const
{
    const FlightSample& f = flight();
    const bool tenths = options.attitude_form == ATTITUDE_FORM_TENTHS;
    const double scale = tenths ? 10.0 : 1.0;
    AttitudeData a;
    a.form = options.attitude_form;
    if (f.range_exceeded && !alarm_acknowledged_)
        a.status |= STATUS_RANGE_EXCEEDED;
    if (f.g_load < 0)
        a.status |= STATUS_G_NEGATIVE;
    a.heading = static_cast<uint16_t>(std::lround(f.heading * scale) % std::lround(360 * scale));
    a.bank = to_signed_word(static_cast<int32_t>(std::lround(f.bank * scale)));
    a.pitch = to_signed_word(static_cast<int32_t>(std::lround(f.pitch * scale)));
    a.slip = to_signed_byte(static_cast<int32_t>(std::lround(f.slip)));
    a.gforce = static_cast<uint16_t>(std::min(65535L, std::lround(std::fabs(f.g_load) * 256)));
    a.with_turn_rate = options.turn_rate;
    a.turn_rate = to_signed_word(static_cast<int32_t>(std::lround(f.turn_rate * 10)));
    return link_frame(LINK_INSTRUMENT, FRAME_ATTITUDE, attitude_data(a));
}

Bytes SensorUnit::compass_heading_frame() const
{
    const CompassHeadingData c{static_cast<uint16_t>(std::lround(flight().heading) % 360), tilt_comp_};
    return link_frame(LINK_INSTRUMENT, FRAME_COMPASS_HEADING, compass_heading_data(c));
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

    CompassData c;
    c.ew_max = static_cast<uint16_t>(extremes_.ew_max);
    c.ew_min = static_cast<uint16_t>(extremes_.ew_min);
    c.ns_max = static_cast<uint16_t>(extremes_.ns_max);
    c.ns_min = static_cast<uint16_t>(extremes_.ns_min);
    c.ew = static_cast<uint16_t>(ew);
    c.ns = static_cast<uint16_t>(ns);
    c.z_max = static_cast<uint16_t>(extremes_.z_max);
    c.z_min = static_cast<uint16_t>(extremes_.z_min);
    c.z = static_cast<uint16_t>(z);
    return link_frame(LINK_INSTRUMENT, FRAME_COMPASS_DATA, compass_data(c));
}

void SensorUnit::reset_extremes()
{
    extremes_valid_ = false;
}

Answer SensorUnit::answer(const LinkMessage& command)
{
    Answer a;
    if (command.command == TO_COMPASS_UNIT &&
        (command.address == LINK_COMPASS_UNIT || command.address == LINK_BROADCAST))
        a = compass_command(command);
    else if (command.command == TO_ATTITUDE_UNIT &&
             (command.address == LINK_ATTITUDE_UNIT || command.address == LINK_BROADCAST))
        a = attitude_command(command);
    else
        a = refused(format("frame to 0x%02X, command 0x%02X", command.address, command.command));
    if (!options.answer_commands && !a.frames.empty()) {
        a.frames.clear();
        a.note += " (answers are off)";
    }
    return a;
}

Answer SensorUnit::compass_command(const LinkMessage& c)
{
    if (c.data.empty())
        return refused("compass command without a sub-command");
    const uint8_t sub = c.data[0];
    switch (sub) {
    case COMPASS_CLEAR_DEV_CAL:
        reset_extremes();
        return acknowledged("compass: clear deviation calibration");
    case COMPASS_START_DEV_CAL:
        // The deviation calibration starts from the current readings; the
        // data frame is the answer.
        reset_extremes();
        return {{compass_data_frame()}, "compass: start deviation calibration"};
    case COMPASS_FINISH_DEV_CAL_DONE:
    case COMPASS_FINISH_DEV_CAL_KNOB:
        return {{compass_data_frame()}, format("compass: finish deviation calibration (command %d)", sub)};
    case COMPASS_COMMAND_5:
        return acknowledged("compass: command 5");
    case COMPASS_TILT_COMP:
        if (c.data.size() < 2 || c.data[1] < TILT_COMP_2D || c.data[1] > TILT_COMP_3D_G)
            return refused("compass: tilt compensation out of range");
        tilt_comp_ = c.data[1];
        return {{}, format("compass: tilt compensation %d (no answer expected)", tilt_comp_)};
    case COMPASS_ALIGNMENT: {
        static const char* const directions[] = {"north", "south", "east", "west"};
        if (c.data.size() < 2 || c.data[1] > ALIGN_CLEAR)
            return refused("compass: alignment out of range");
        if (c.data[1] == ALIGN_CLEAR)
            return acknowledged("compass: clear alignment");
        return acknowledged(std::string("compass: set alignment ") + directions[c.data[1]]);
    }
    case COMPASS_START_CALIBRATION:
        reset_extremes();
        return acknowledged("compass: start in-flight calibration");
    case COMPASS_STOP_CALIBRATION:
        return acknowledged("compass: stop in-flight calibration");
    default:
        return refused(format("compass: unknown command 0x%02X", sub));
    }
}

Answer SensorUnit::attitude_command(const LinkMessage& c)
{
    if (c.data.empty())
        return refused("attitude command without a sub-command");
    const uint8_t sub = c.data[0];
    switch (sub) {
    case ATTITUDE_BUMP_FACTOR:
    case ATTITUDE_SLEW_FACTOR:
        if (c.data.size() < 3)
            return refused("attitude: factor without its value");
        return acknowledged(format(sub == ATTITUDE_BUMP_FACTOR ? "attitude: bump factor %d" : "attitude: slew factor %d",
                                   link_word(c.data.data(), 1)));
    case ATTITUDE_COMMAND_12:
        alarm_acknowledged_ = true;
        return acknowledged("attitude: command 12 (range alarm acknowledged)");
    case ATTITUDE_COMMAND_17:
        if (c.data.size() < 2)
            return refused("attitude: command 17 without its value");
        return acknowledged(format("attitude: command 17 with %d", c.data[1]));
    case ATTITUDE_TB_SOURCE:
        if (c.data.size() < 3 || c.data[1] != c.data[2] ||
            (c.data[1] != TB_SOURCE_BANK && c.data[1] != TB_SOURCE_GYRO))
            return refused("attitude: turn and bank source not understood");
        return acknowledged(c.data[1] == TB_SOURCE_GYRO ? "attitude: turn and bank from the gyro"
                                           : "attitude: turn and bank from the bank angle");
    default:
        return refused(format("attitude: unknown command 0x%02X", sub));
    }
}

} // namespace emulator
