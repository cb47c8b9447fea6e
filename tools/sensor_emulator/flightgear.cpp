#include "flightgear.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace emulator {

const char* const FLIGHTGEAR_COLUMNS[6] = {"roll-deg",           "pitch-deg",           "heading-magnetic-deg",
                                           "indicated-turn-rate", "indicated-slip-skid", "pilot-g"};

namespace {

constexpr size_t COLUMN_COUNT = std::size(FLIGHTGEAR_COLUMNS);

// The largest angle the tenths form carries, and the largest G the
// magnitude word does (just under 256 G).
constexpr double FRAME_ANGLE_LIMIT = 3276.7;
constexpr double FRAME_G_LIMIT = 65535.0 / 256;

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> fields_of(std::string_view line)
{
    std::vector<std::string_view> fields;
    for (;;) {
        const size_t comma = line.find(',');
        fields.push_back(trimmed(line.substr(0, comma)));
        if (comma == std::string_view::npos)
            return fields;
        line.remove_prefix(comma + 1);
    }
}

std::optional<double> number_of(std::string_view field)
{
    if (!field.empty() && field.front() == '+')
        field.remove_prefix(1);
    double v = 0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), v);
    if (field.empty() || error != std::errc() || end != field.data() + field.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::string quoted(std::string_view text)
{
    constexpr size_t SHOWN = 60;
    std::string out = "\"";
    for (char c : text.substr(0, SHOWN))
        out += (c >= 0x20 && c < 0x7F) ? c : '?';
    return out + (text.size() > SHOWN ? "...\"" : "\"");
}

double member(const FlightGearState& s, size_t column)
{
    const double values[] = {s.roll_deg, s.pitch_deg, s.heading_magnetic_deg, s.turn_rate, s.slip_skid, s.pilot_g};
    return values[column];
}

void set_member(FlightGearState& s, size_t column, double v)
{
    double* const members[] = {&s.roll_deg,  &s.pitch_deg, &s.heading_magnetic_deg,
                               &s.turn_rate, &s.slip_skid, &s.pilot_g};
    *members[column] = v;
}

} // namespace

std::optional<FlightGearState> parse_flightgear_line(std::string_view line, std::string* why)
{
    const std::vector<std::string_view> fields = fields_of(trimmed(line));
    auto fail = [&](const std::string& what) -> std::optional<FlightGearState> {
        if (why)
            *why = what + ": " + quoted(line);
        return std::nullopt;
    };
    if (fields.size() != COLUMN_COUNT)
        return fail("not " + std::to_string(COLUMN_COUNT) + " values");
    FlightGearState s;
    for (size_t i = 0; i < COLUMN_COUNT; ++i) {
        const std::optional<double> v = number_of(fields[i]);
        if (!v)
            return fail(std::string(FLIGHTGEAR_COLUMNS[i]) + " is not a number");
        set_member(s, i, *v);
    }
    return s;
}

FlightSample flight_from_flightgear(const FlightGearState& s)
{
    FlightSample f;
    f.bank = std::clamp(0.0 - s.roll_deg, -FRAME_ANGLE_LIMIT, FRAME_ANGLE_LIMIT);  // level is +0, not -0
    f.pitch = std::clamp(s.pitch_deg, -FRAME_ANGLE_LIMIT, FRAME_ANGLE_LIMIT);
    f.heading = std::fmod(s.heading_magnetic_deg, 360.0);
    if (f.heading < 0)
        f.heading += 360.0;
    f.turn_rate = std::clamp(s.turn_rate * STANDARD_RATE, -FRAME_ANGLE_LIMIT, FRAME_ANGLE_LIMIT);
    // FlightGear's ball value follows the lateral load, which pushes the
    // ball the other way: positive is the ball to the left.
    f.slip = std::clamp(-s.slip_skid * SLIP_PER_BALL_UNIT, -127.0, 127.0);
    f.g_load = std::clamp(s.pilot_g, -FRAME_G_LIMIT, FRAME_G_LIMIT);
    f.range_exceeded = std::fabs(f.bank) > ATTITUDE_RANGE_BANK || std::fabs(f.pitch) > ATTITUDE_RANGE_PITCH;
    f.manoeuvre = "FlightGear";
    return f;
}

// ---- the UDP port ----------------------------------------------------------------

FlightGearReceiver::FlightGearReceiver(int port) : port_(port)
{
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        throw std::runtime_error(std::string("cannot make a UDP socket: ") + std::strerror(errno));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        throw std::runtime_error("cannot listen for FlightGear on udp 127.0.0.1:" + std::to_string(port) + ": " +
                                 std::strerror(error));
    }
}

FlightGearReceiver::~FlightGearReceiver()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::vector<std::string> FlightGearReceiver::read_lines()
{
    std::vector<std::string> lines;
    char datagram[2048];
    // Bounded, so a flood cannot keep the emulator from its other work.
    for (int i = 0; i < 256; ++i) {
        const ssize_t got = ::recv(fd_, datagram, sizeof datagram, 0);
        if (got < 0)
            break;
        std::string_view text(datagram, static_cast<size_t>(got));
        // A datagram is one line as FlightGear sends it, but take several.
        while (!text.empty()) {
            const size_t end = text.find('\n');
            const std::string_view line = trimmed(text.substr(0, end));
            if (!line.empty())
                lines.emplace_back(line);
            if (end == std::string_view::npos)
                break;
            text.remove_prefix(end + 1);
        }
    }
    return lines;
}

// ---- recorded flights ------------------------------------------------------------

RecordedFlight RecordedFlight::load(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error(path + ": " + std::strerror(errno));
    RecordedFlight flight;
    std::string line;
    int number = 0;
    auto fail = [&](const std::string& what) {
        throw std::runtime_error(path + ":" + std::to_string(number) + ": " + what);
    };
    // Where each value is in a line; set by the header.
    std::vector<size_t> where;
    size_t time_at = 0;
    size_t field_count = 0;
    while (std::getline(in, line)) {
        ++number;
        const std::string_view text = trimmed(line);
        if (text.empty() || text.front() == '#')
            continue;
        const std::vector<std::string_view> fields = fields_of(text);
        if (where.empty()) {
            auto column = [&](const char* name) {
                const auto at = std::find(fields.begin(), fields.end(), name);
                if (at == fields.end())
                    fail(std::string("the header names no column \"") + name + "\"");
                return static_cast<size_t>(at - fields.begin());
            };
            time_at = column("time");
            for (const char* name : FLIGHTGEAR_COLUMNS)
                where.push_back(column(name));
            field_count = fields.size();
            continue;
        }
        if (fields.size() != field_count)
            fail(std::to_string(fields.size()) + " values where the header names " + std::to_string(field_count));
        RecordedSample sample;
        const std::optional<double> time = number_of(fields[time_at]);
        if (!time || *time < 0)
            fail("the time " + quoted(fields[time_at]) + " is not a number of seconds");
        sample.time = *time;
        if (!flight.samples_.empty() && sample.time < flight.samples_.back().time)
            fail("the time goes back");
        for (size_t i = 0; i < COLUMN_COUNT; ++i) {
            const std::optional<double> v = number_of(fields[where[i]]);
            if (!v)
                fail(std::string(FLIGHTGEAR_COLUMNS[i]) + " " + quoted(fields[where[i]]) + " is not a number");
            set_member(sample.state, i, *v);
        }
        flight.samples_.push_back(sample);
    }
    if (in.bad())
        throw std::runtime_error(path + ": " + std::strerror(errno));
    if (flight.samples_.empty())
        throw std::runtime_error(path + ": no samples");
    return flight;
}

const RecordedSample& RecordedFlight::at(double time) const
{
    auto after = std::upper_bound(samples_.begin(), samples_.end(), time,
                                  [](double t, const RecordedSample& s) { return t < s.time; });
    return after == samples_.begin() ? samples_.front() : *(after - 1);
}

FlightRecorder::FlightRecorder(const std::string& path) : path_(path)
{
    // "x": never over an existing recording.
    file_ = std::fopen(path.c_str(), "wx");
    if (!file_)
        throw std::runtime_error("cannot record to " + path + ": " +
                                 (errno == EEXIST ? std::string("it exists; not replaced") : std::strerror(errno)));
    std::string header = "time";
    for (const char* name : FLIGHTGEAR_COLUMNS)
        header += std::string(",") + name;
    if (std::fprintf(file_, "%s\n", header.c_str()) < 0 || std::fflush(file_) != 0)
        error_ = path_ + ": " + std::strerror(errno);
}

FlightRecorder::~FlightRecorder()
{
    if (file_)
        std::fclose(file_);
}

bool FlightRecorder::write(double time, const FlightGearState& s)
{
    if (!error_.empty())
        return false;
    char line[256];
    int n = std::snprintf(line, sizeof line, "%.3f", time);
    for (size_t i = 0; i < COLUMN_COUNT; ++i)
        n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), ",%.10g", member(s, i));
    if (std::fprintf(file_, "%s\n", line) < 0 || std::fflush(file_) != 0) {
        error_ = path_ + ": " + std::strerror(errno);
        return false;
    }
    ++samples_;
    return true;
}

} // namespace emulator
