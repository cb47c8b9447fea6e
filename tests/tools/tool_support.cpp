#include "tool_support.h"

#include <QDir>
#include <QProcess>

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "qt_application.h"

TARNBY_QT_TEST_APPLICATION;

namespace tools_test {

std::string program_path(const std::string& name)
{
    static const std::vector<std::pair<std::string, std::string>> built = {
#ifdef TARNBY_TOOL_TARNBY
        {"tarnby", TARNBY_TOOL_TARNBY},
#endif
#ifdef TARNBY_TOOL_SENSOR_EMULATOR
        {"sensor_emulator", TARNBY_TOOL_SENSOR_EMULATOR},
#endif
#ifdef TARNBY_TOOL_SCREENSHOT
        {"screenshot", TARNBY_TOOL_SCREENSHOT},
#endif
#ifdef TARNBY_TOOL_LCD_SHEETS
        {"lcd_sheets", TARNBY_TOOL_LCD_SHEETS},
#endif
#ifdef TARNBY_TOOL_PANEL_ART
        {"panel_art", TARNBY_TOOL_PANEL_ART},
#endif
        {"menu_walk.sh", source_dir() + "/tools/menu_walk.sh"},
    };
    for (const auto& [tool, path] : built)
        if (tool == name)
            return path;
    return {};
}

std::string source_dir()
{
    if (const char* dir = std::getenv("TARNBY_SOURCE_DIR"))
        return dir;
    return TARNBY_SOURCE_DIR_AT_BUILD;
}

Outcome run(const std::string& program, const QStringList& arguments, const QProcessEnvironment& environment,
        const QString& directory, int seconds)
{
    QProcess process;
    process.setProgram(QString::fromStdString(program));
    process.setArguments(arguments);
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    if (!directory.isEmpty())
        process.setWorkingDirectory(directory);
    process.start();
    Outcome r;
    if (!process.waitForStarted(seconds * 1000))
        return r;
    r.finished = process.waitForFinished(seconds * 1000);
    if (!r.finished) {
        process.kill();
        process.waitForFinished(-1);
    }
    r.exit_code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    r.out = process.readAllStandardOutput().toStdString();
    r.err = process.readAllStandardError().toStdString();
    return r;
}

QProcessEnvironment without_display()
{
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        e.remove(QString::fromLatin1(name));
    return e;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        result.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

std::vector<std::string> ScratchDir::entries() const
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path()))
        names.push_back(entry.path().filename().string());
    return names;
}

Bytes frame_bytes(uint8_t address, const Bytes& body)
{
    Bytes f{0x82, address, static_cast<uint8_t>(body.size())};
    uint8_t sum = 0xA5 ^ address ^ static_cast<uint8_t>(body.size());
    for (uint8_t b : body) {
        f.push_back(b);
        sum ^= b;
    }
    f.push_back(sum);
    f.push_back(0x83);
    return f;
}

std::vector<LinkFrame> frames_in(const Bytes& stream)
{
    std::vector<LinkFrame> found;
    size_t i = 0;
    while (i < stream.size()) {
        if (stream[i] != 0x82 || i + 2 >= stream.size()) {
            ++i;
            continue;
        }
        const uint8_t address = stream[i + 1];
        const uint8_t length = stream[i + 2];
        const size_t end = i + 4 + length;  // index of the end byte
        if (address < 0xE0 || length == 0 || end >= stream.size()) {
            ++i;
            continue;
        }
        uint8_t sum = 0xA5 ^ address ^ length;
        for (size_t k = i + 3; k < i + 3 + length; ++k)
            sum ^= stream[k];
        if (sum != stream[end - 1] || stream[end] != 0x83) {
            ++i;
            continue;
        }
        LinkFrame f;
        f.address = address;
        f.length = length;
        f.command = stream[i + 3];
        f.data.assign(stream.begin() + static_cast<std::ptrdiff_t>(i + 4),
                      stream.begin() + static_cast<std::ptrdiff_t>(i + 3 + length));
        found.push_back(std::move(f));
        i = end + 1;
    }
    return found;
}

int signed16(int w)
{
    return w > 32767 ? w - 65535 : w;
}

int signed8(int b)
{
    return b > 127 ? b - 255 : b;
}

} // namespace tools_test
