// screenshot: draws one instrument screen for given readings and settings
// and writes it as a PNG, the way the window shows it (a square of screen
// pixels per display pixel, black on the LCD's light grey). With --gallery it writes
// every registered scene (or those of one name prefix) and an index page.
//
// The firmware runs against a host of its own here: no window, no port; a
// message pump that only moves the 100 ms tick on, so that anything waiting
// for an answer gives up instead of hanging.
#include <QFile>
#include <QImage>
#include <QString>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
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
#include "firmware/setup/setup.h"
#include "command_line.h"
#include "scenes.h"

namespace {

// A level, still aircraft with both sensors reporting, default settings and
// the main screen on its first page: what every scene starts from.
void base_state()
{
    level_aircraft_state();
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
    {"compass_display", &compass_display, nullptr, nullptr, 0, COMPASS_STYLE_COUNT - 1},
    {"heading_true", &heading_true, nullptr, nullptr, 0, 1},
    {"variation", nullptr, &variation, nullptr, -99, 99},
    {"contrast", &contrast, nullptr, nullptr, 0, 255},
    {"backlight", &backlight, nullptr, nullptr, 0, 1},
    {"bump_index", &bump_index, nullptr, nullptr, 0, FACTOR_COUNT - 1},
    {"slew_index", &slew_index, nullptr, nullptr, 0, FACTOR_COUNT - 1},
    {"main_page", &main_page, nullptr, nullptr, 0, MAIN_PAGE_COUNT - 1},
    {"heading_valid", &heading_valid, nullptr, nullptr, 0, 1},
    {"attitude_valid", &attitude_valid, nullptr, nullptr, 0, 1},
    {"turn_source", &turn_source, nullptr, nullptr, 0, 2},
    {"sensor_status", &sensor_status, nullptr, nullptr, 0, 255},
    {"tilt_comp", &tilt_comp, nullptr, nullptr, 0, TILT_COMP_MODE_COUNT - 1},
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

// The names --page takes, one for every page of the main screen.
struct PageName {
    uint8_t page;
    const char* name;
};
constexpr PageName page_names[] = {
    {PAGE_ATTITUDE, "attitude"},
    {PAGE_COMPASS, "compass"},
    {PAGE_TURN_BANK, "turn"},
};
static_assert(std::size(page_names) == MAIN_PAGE_COUNT, "a name for every page");

// "attitude, compass or turn"
std::string page_choices()
{
    std::string text;
    for (size_t i = 0; i < std::size(page_names); ++i)
        text += std::string(i == 0 ? "" : i + 1 == std::size(page_names) ? " or " : ", ") + page_names[i].name;
    return text;
}

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
    std::string docs;
    bool list = false;
    std::optional<uint8_t> page;
    std::vector<std::pair<const Reading*, int32_t>> readings;
    std::vector<std::pair<const Variable*, long long>> settings;
    std::optional<uint32_t> unlit;
};

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

const Scene* find_scene(std::string_view name)
{
    for (const Scene& s : scene_registry())
        if (s.name == name)
            return &s;
    return nullptr;
}

QString settings_help()
{
    QString text = QStringLiteral("Names for --set, with the values each takes:\n");
    QString line = QStringLiteral(" ");
    for (const Variable& v : variables) {
        const QString entry = QStringLiteral(" %1 %2..%3").arg(QString::fromLatin1(v.name)).arg(v.min).arg(v.max);
        if (line.size() + entry.size() > 78) {
            text += line + QLatin1Char('\n');
            line = QStringLiteral(" ");
        }
        line += entry + QLatin1Char(';');
    }
    line.chop(1);
    return text + line + QLatin1Char('\n');
}

Options parse(int argc, char** argv)
{
    command_line::ToolCommandLine cli(
        QStringLiteral("screenshot"),
        QStringLiteral("Draws instrument screens with the firmware's own routines and writes them as PNG files,\n"
                       "the way the window shows the display (%1 x %1 screen pixels per display pixel).\n"
                       "Starts from a level, still aircraft with default settings on the attitude page;\n"
                       "--scene, then --page, the readings and --set are applied in that order.\n"
                       "Give --out, --gallery, --docs or --list.")
            .arg(LCD_PIXEL_SCALE));
    QCommandLineParser& p = cli.parser();
    auto option = [&p](const char* name, const char* help, const char* value = nullptr) {
        p.addOption(value ? QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(help),
                                               QString::fromLatin1(value))
                          : QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(help)));
    };
    option("out", "Write the screen to FILE (PNG).", "FILE");
    option("scene", "Start from the named scene (see --list).", "NAME");
    const std::string page_help = "Main page: " + page_choices() + ".";
    option("page", page_help.c_str(), "PAGE");
    option("heading", "Heading, 0..359 degrees.", "DEG");
    option("pitch", "Pitch in degrees, positive nose up.", "DEG");
    option("bank", "Bank in degrees, positive banked left.", "DEG");
    option("slip", "Slip, -127..127, positive moves the ball right.", "N");
    option("turn", "Turn rate in tenths of a degree per second, positive right; also selects the turn rate as "
                   "the turn source, as the turn slider does.",
           "TENTHS");
    option("g", "G load in 1/256 G, 0..65535.", "RAW");
    option("set", "Set an instrument variable (repeatable; names below).", "NAME=VALUE");
    option("unlit", "Colour of unlit pixels, hexadecimal RRGGBB.", "RRGGBB");
    option("gallery", "Write every scene and an index page, DIR/README.md.", "DIR");
    option("docs", "Write the README's pictures: every scene in DIR/screens, the setup menus again in DIR/menus "
                   "(build target gallery: DIR is docs/images).",
           "DIR");
    option("list", "List the scenes' names and captions.");
    cli.set_epilogue(settings_help() +
                     QStringLiteral("\nExamples:\n"
                                    "  screenshot --out=turn.png --page turn --turn 180 --set tb_two_min=1\n"
                                    "  screenshot --docs docs/images\n"));
    cli.parse(argc, argv);

    const auto text = [&p](const char* name) { return p.value(QString::fromLatin1(name)).toStdString(); };
    Options o;
    try {
        o.out = text("out");
        o.gallery = text("gallery");
        o.scene = text("scene");
        o.docs = text("docs");
        o.list = p.isSet(QStringLiteral("list"));
        if (p.isSet(QStringLiteral("page"))) {
            const std::string page = text("page");
            for (const PageName& named : page_names)
                if (page == named.name)
                    o.page = named.page;
            if (!o.page)
                throw UsageError{"--page: expected " + page_choices() + ", not '" + page + "'"};
        }
        for (const Reading& r : readings) {
            const QString name = QString::fromLatin1(r.option + 2);
            for (const QString& value : p.values(name))
                o.readings.emplace_back(
                    &r, static_cast<int32_t>(parse_number(value.toStdString(), r.option, r.min, r.max)));
        }
        for (const QString& value : p.values(QStringLiteral("set"))) {
            const std::string s = value.toStdString();
            const size_t eq = s.find('=');
            if (eq == std::string::npos)
                throw UsageError{"--set: expected NAME=VALUE, not '" + s + "'"};
            const std::string name = s.substr(0, eq);
            const Variable* found = nullptr;
            for (const Variable& v : variables)
                if (name == v.name)
                    found = &v;
            if (!found)
                throw UsageError{"--set: no setting named '" + name + "'"};
            o.settings.emplace_back(found, parse_number(s.substr(eq + 1), name, found->min, found->max));
        }
        if (p.isSet(QStringLiteral("unlit")))
            o.unlit = static_cast<uint32_t>(parse_number(text("unlit"), "--unlit", 0, 0xffffff, 16));
        if (!o.scene.empty() && !find_scene(o.scene))
            throw UsageError{"--scene: no scene named '" + o.scene + "'; --list names them"};
        if (!o.list && o.out.empty() && o.gallery.empty() && o.docs.empty())
            throw UsageError{"nothing to do: give --out FILE, --gallery DIR, --docs DIR or --list"};
    } catch (const UsageError& e) {
        cli.reject(QString::fromStdString(e.message));
    }
    return o;
}


bool in_selection(const Scene& scene, const std::string& only)
{
    return scene.name.compare(0, only.size(), only) == 0;
}

// One pass of the current screen on a cleared panel, presented and saved.
// Returns an error message, empty on success.
std::string render(const std::string& path)
{
    lcd_clear();
    if (current_screen)
        current_screen();
    lcd_present();
    const QImage surface(reinterpret_cast<const uchar*>(&lcd_surface[0][0]), LCD_PAINTED_WIDTH, LCD_PAINTED_HEIGHT,
                         static_cast<qsizetype>(LCD_SURFACE_WIDTH * sizeof(uint32_t)), QImage::Format_RGB32);
    // Opened here rather than by QImage::save, which would not say why.
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return "cannot write " + path + ": " + file.errorString().toStdString();
    if (!surface.save(&file, "PNG") || !file.flush())
        return "cannot write " + path + ": " + file.errorString().toStdString();
    return {};
}

// Every scene whose name begins with `only`, and an index page.
int write_gallery(const std::string& dir, const std::string& only, const std::string& title)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        std::fprintf(stderr, "screenshot: cannot create %s: %s\n", dir.c_str(), ec.message().c_str());
        return 1;
    }
    const std::string index_path = (std::filesystem::path(dir) / "README.md").string();
    std::ofstream index(index_path, std::ios::trunc);
    index << "# " << title << "\n\n"
             "Every picture is drawn by the instrument's own firmware. The build target\n"
             "`gallery` (`screenshot --docs docs/images`) draws them again; the tools test\n"
             "suite fails while they differ from what the firmware draws.\n\n"
             "| Screen | What it shows |\n|---|---|\n";
    size_t written = 0;
    for (const Scene& scene : scene_registry()) {
        if (!in_selection(scene, only))
            continue;
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
        ++written;
    }
    index.close();
    if (!index) {
        std::fprintf(stderr, "screenshot: cannot write %s\n", index_path.c_str());
        return 1;
    }
    if (written == 0) {
        std::fprintf(stderr, "screenshot: no scene's name begins with '%s' (see --list)\n", only.c_str());
        return 1;
    }
    std::printf("%zu scenes written to %s\n", written, dir.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const Options options = parse(argc, argv);

    HeadlessHost host;
    if (options.unlit)
        host.unlit = 0xff000000u | *options.unlit;
    set_host(&host);

    if (options.list) {
        for (const Scene& s : scene_registry())
            std::printf("%-36s %s\n", s.name.c_str(), s.caption.c_str());
    }
    if (!options.gallery.empty()) {
        if (const int rc = write_gallery(options.gallery, "", "Screens of the QR-7"))
            return rc;
    }
    if (!options.docs.empty()) {
        const std::filesystem::path docs(options.docs);
        if (const int rc = write_gallery((docs / "screens").string(), "", "Screens of the QR-7"))
            return rc;
        if (const int rc = write_gallery((docs / "menus").string(), "menu_", "Setup menu screens"))
            return rc;
    }
    if (options.out.empty())
        return 0;

    base_state();
    if (!options.scene.empty()) {
        const Scene* scene = find_scene(options.scene);
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
