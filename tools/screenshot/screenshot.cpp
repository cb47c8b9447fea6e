// screenshot: draws one instrument screen for given readings and settings
// and writes it as a PNG, the way the window shows it (2 x 2 screen pixels per
// display pixel, black on the LCD's light grey). With --gallery it writes
// every registered scene and an index page.
//
// The firmware runs against a host of its own here: no window, no port; a
// message pump that only moves the 100 ms tick on, so that anything waiting
// for an answer gives up instead of hanging.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/firmware_loop.h"
#include "firmware/flight/flight.h"
#include "firmware/headless_host.h"
#include "firmware/instrument_state.h"
#include "firmware/lcd/lcd.h"
#include "firmware/link/link.h"
#include "png_writer.h"
#include "scenes.h"

namespace {

// A level, still aircraft with both sensors reporting, default settings and
// the main screen on its first page: what every scene starts from.
void base_state()
{
    reset_instrument_state();
    reset_link_state();
    load_defaults();
    heading_valid = 1;
    attitude_valid = 1;
    tilt_comp = 1;
    main_page = 0;
    current_screen = main_screen;
}

// ---- command line --------------------------------------------------------------

struct Variable {
    const char* name;
    uint8_t* byte;
    int32_t* int32;
    uint32_t* uint32;
    long long min;
    long long max;
};

// Everything --set may change, with the range the instrument can hold.
const Variable variables[] = {
    {"slip_display", &slip_display, nullptr, nullptr, 0, 1},
    {"slip_zero", nullptr, &slip_zero, nullptr, -127, 127},
    {"slip_sense_high", &slip_sense_high, nullptr, nullptr, 0, 1},
    {"pitch_trim", nullptr, &pitch_trim, nullptr, -32767, 32767},
    {"tb_two_min", &tb_two_min, nullptr, nullptr, 0, 1},
    {"tb_display", &tb_display, nullptr, nullptr, 0, 1},
    {"numeric_display", &numeric_display, nullptr, nullptr, 0, 1},
    {"icon_large", &icon_large, nullptr, nullptr, 0, 1},
    {"gforce_display", &gforce_display, nullptr, nullptr, 0, 1},
    {"compass_on", &compass_on, nullptr, nullptr, 0, 1},
    {"compass_cal_type", &compass_cal_type, nullptr, nullptr, 0, 1},
    {"compass_display", &compass_display, nullptr, nullptr, 0, 4},
    {"heading_true", &heading_true, nullptr, nullptr, 0, 1},
    {"variation", nullptr, &variation, nullptr, -99, 99},
    {"contrast", &contrast, nullptr, nullptr, 0, 255},
    {"backlight", &backlight, nullptr, nullptr, 0, 1},
    {"bump_index", &bump_index, nullptr, nullptr, 0, 4},
    {"slew_index", &slew_index, nullptr, nullptr, 0, 4},
    {"main_page", &main_page, nullptr, nullptr, 0, 2},
    {"heading_valid", &heading_valid, nullptr, nullptr, 0, 1},
    {"attitude_valid", &attitude_valid, nullptr, nullptr, 0, 1},
    {"turn_source", &turn_source, nullptr, nullptr, 0, 2},
    {"sensor_status", &sensor_status, nullptr, nullptr, 0, 255},
    {"tilt_comp", &tilt_comp, nullptr, nullptr, 0, 3},
    {"led_timer", &led_timer, nullptr, nullptr, 0, 255},
    {"heading_bug_on", &heading_bug_on, nullptr, nullptr, 0, 1},
    {"heading_bug", nullptr, &heading_bug, nullptr, 0, 359},
    {"reciprocal_shown", &reciprocal_shown, nullptr, nullptr, 0, 1},
    {"calibrating", &calibrating, nullptr, nullptr, 0, 1},
    {"calib_count", nullptr, &calib_count, nullptr, 0, 999999},
    {"calib_fit", nullptr, nullptr, &calib_fit, 0, 1000},
    {"menu_cursor", &menu_cursor, nullptr, nullptr, 0, 255},
    {"menu_edit", &menu_edit, nullptr, nullptr, 0, 1},
};

struct Reading {
    const char* option;
    int32_t* target;
    long long min;
    long long max;
};

// Readings, bounded to what the sliders or the sensor link can deliver.
const Reading readings[] = {
    {"--heading", &heading, 0, 359},
    {"--pitch", &pitch, -32767, 32767},
    {"--bank", &bank, -32767, 32767},
    {"--slip", &slip, -127, 127},
    {"--turn", &turn_rate, -32767, 32767},
    {"--g", &gforce_raw, 0, 65535},
};

struct Options {
    std::string out;
    std::string gallery;
    std::string scene;
    bool list = false;
    std::optional<uint8_t> page;
    std::vector<std::pair<const Reading*, int32_t>> readings;
    std::vector<std::pair<const Variable*, long long>> settings;
    std::optional<uint32_t> unlit;
};

void usage(std::FILE* to)
{
    std::fputs(
        "usage: screenshot --out FILE.png [--scene NAME] [--page attitude|compass|turn]\n"
        "                  [--heading DEG] [--pitch DEG] [--bank DEG] [--slip N] [--turn TENTHS]\n"
        "                  [--g RAW256] [--set NAME=VALUE]... [--unlit RRGGBB]\n"
        "       screenshot --gallery DIR     every registered scene, plus DIR/README.md\n"
        "       screenshot --list            names and captions of the scenes\n"
        "Starts from a level, still aircraft with default settings on the attitude page;\n"
        "--scene, then --page, the readings and --set are applied in that order.\n"
        "--turn also selects the turn rate as the turn source, as the turn slider does.\n",
        to);
}

struct UsageError {
    std::string message;
};

long long parse_number(std::string_view text, std::string_view what, long long min, long long max, int base = 10)
{
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || ec != std::errc() || ptr != end)
        throw UsageError{std::string(what) + ": not a number: '" + std::string(text) + "'"};
    if (value < min || value > max)
        throw UsageError{std::string(what) + ": " + std::string(text) + " is outside " + std::to_string(min) +
                         ".." + std::to_string(max)};
    return value;
}

Options parse(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> std::string_view {
            if (i + 1 >= argc)
                throw UsageError{std::string(arg) + " needs a value"};
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            std::exit(0);
        } else if (arg == "--out") {
            o.out = value();
        } else if (arg == "--gallery") {
            o.gallery = value();
        } else if (arg == "--scene") {
            o.scene = value();
        } else if (arg == "--list") {
            o.list = true;
        } else if (arg == "--page") {
            const std::string_view p = value();
            if (p == "attitude")
                o.page = 0;
            else if (p == "compass")
                o.page = 1;
            else if (p == "turn")
                o.page = 2;
            else
                throw UsageError{"--page: expected attitude, compass or turn, not '" + std::string(p) + "'"};
        } else if (arg == "--set") {
            const std::string_view s = value();
            const size_t eq = s.find('=');
            if (eq == std::string_view::npos)
                throw UsageError{"--set: expected NAME=VALUE, not '" + std::string(s) + "'"};
            const std::string_view name = s.substr(0, eq);
            const Variable* found = nullptr;
            for (const Variable& v : variables)
                if (name == v.name)
                    found = &v;
            if (!found)
                throw UsageError{"--set: no setting named '" + std::string(name) + "'"};
            o.settings.emplace_back(found, parse_number(s.substr(eq + 1), name, found->min, found->max));
        } else if (arg == "--unlit") {
            o.unlit = static_cast<uint32_t>(parse_number(value(), "--unlit", 0, 0xffffff, 16));
        } else {
            const Reading* found = nullptr;
            for (const Reading& r : readings)
                if (arg == r.option)
                    found = &r;
            if (!found)
                throw UsageError{"unknown option '" + std::string(arg) + "'"};
            o.readings.emplace_back(found, static_cast<int32_t>(parse_number(value(), arg, found->min, found->max)));
        }
    }
    if (!o.list && o.out.empty() && o.gallery.empty())
        throw UsageError{"nothing to do: give --out FILE, --gallery DIR or --list"};
    return o;
}

const Scene* find_scene(std::string_view name)
{
    for (const Scene& s : scene_registry())
        if (s.name == name)
            return &s;
    return nullptr;
}

// One pass of the current screen on a cleared panel, presented and saved.
std::string render(const std::string& path)
{
    lcd_clear();
    if (current_screen)
        current_screen();
    lcd_present();
    return write_png(path, &lcd_surface[0][0], 2 * LCD_WIDTH, 2 * LCD_HEIGHT, LCD_SURFACE_WIDTH);
}

int write_gallery(const std::string& dir)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        std::fprintf(stderr, "screenshot: cannot create %s: %s\n", dir.c_str(), ec.message().c_str());
        return 1;
    }
    const std::string index_path = (std::filesystem::path(dir) / "README.md").string();
    std::ofstream index(index_path, std::ios::trunc);
    index << "# Screens of the QR-7\n\n"
             "Every picture is drawn by the instrument's own firmware and written by\n"
             "`screenshot --gallery` (build target `gallery`); regenerate them after a change.\n\n"
             "| Screen | |\n|---|---|\n";
    for (const Scene& scene : scene_registry()) {
        base_state();
        if (scene.prepare)
            scene.prepare();
        const std::string file = scene.name + ".png";
        const std::string error = render((std::filesystem::path(dir) / file).string());
        if (!error.empty()) {
            std::fprintf(stderr, "screenshot: %s\n", error.c_str());
            return 1;
        }
        index << "| ![" << scene.name << "](" << file << ") | " << scene.caption << " |\n";
    }
    index.close();
    if (!index) {
        std::fprintf(stderr, "screenshot: cannot write %s\n", index_path.c_str());
        return 1;
    }
    std::printf("%zu scenes written to %s\n", scene_registry().size(), dir.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    try {
        options = parse(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "screenshot: %s\n", e.message.c_str());
        usage(stderr);
        return 2;
    }

    HeadlessHost host;
    if (options.unlit)
        host.unlit = 0xff000000u | *options.unlit;
    set_host(&host);

    if (options.list) {
        for (const Scene& s : scene_registry())
            std::printf("%-36s %s\n", s.name.c_str(), s.caption.c_str());
    }
    if (!options.gallery.empty()) {
        if (const int rc = write_gallery(options.gallery))
            return rc;
    }
    if (options.out.empty())
        return 0;

    base_state();
    if (!options.scene.empty()) {
        const Scene* scene = find_scene(options.scene);
        if (!scene) {
            std::fprintf(stderr, "screenshot: no scene named '%s' (see --list)\n", options.scene.c_str());
            return 2;
        }
        if (scene->prepare)
            scene->prepare();
    }
    if (options.page)
        main_page = *options.page;
    for (const auto& [reading, value] : options.readings) {
        *reading->target = value;
        if (reading->target == &turn_rate)
            turn_source = 2;
    }
    for (const auto& [variable, value] : options.settings) {
        if (variable->byte)
            *variable->byte = static_cast<uint8_t>(value);
        else if (variable->int32)
            *variable->int32 = static_cast<int32_t>(value);
        else
            *variable->uint32 = static_cast<uint32_t>(value);
    }
    const std::string error = render(options.out);
    if (!error.empty()) {
        std::fprintf(stderr, "screenshot: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
