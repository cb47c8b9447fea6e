// What the tools tests share: running a built program as a person would, and
// reading the sensor link's frames by their layout (written here again, not
// taken from the emulator, so the emulator is checked against the layout).
#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>
#include <vector>

#include "scratch_folder.h"

namespace tools_test {

// Where the build put each program; empty when it was not built.
std::string program_path(const std::string& name);
// The source tree (for docs/images and tools/menu_walk.sh).
std::string source_dir();

struct Outcome {
    bool finished = false;  // within the deadline, by itself
    int exit_code = -1;
    std::string out;
    std::string err;
};

// Runs a program with standard input from /dev/null in `directory` (the
// current one when empty) and waits for its end, at most `seconds`.
Outcome run(const std::string& program, const QStringList& arguments, const QProcessEnvironment& environment,
        const QString& directory = {}, int seconds = 120);

// The environment of a person without a display: no DISPLAY, no Qt platform.
QProcessEnvironment without_display();

std::vector<std::string> lines(const std::string& text);

// A scratch folder of the test's own, removed with the object.
class ScratchDir : public ScratchFolder {
public:
    ScratchDir() : ScratchFolder("tarnby-tools") {}
    QString qpath() const { return QString::fromStdString(path()); }
    std::vector<std::string> entries() const;
};

// ---- the sensor link's frames ------------------------------------------------------

using Bytes = std::vector<uint8_t>;

struct LinkFrame {
    uint8_t address = 0;
    uint8_t length = 0;
    uint8_t command = 0;
    Bytes data;
    // d(i) + 256 d(i+1), unsigned
    int word(size_t i) const { return data.at(i) | (data.at(i + 1) << 8); }
};

// 0x82, address, length, body, 0xA5-seeded XOR checksum, 0x83; `body` is
// the command byte and its data.
Bytes frame_bytes(uint8_t address, const Bytes& body);

// Every well-formed frame in a byte stream, in order; bytes that do not
// begin one are skipped.
std::vector<LinkFrame> frames_in(const Bytes& stream);

// The link's one's complement sign rules.
int signed16(int w);
int signed8(int b);

} // namespace tools_test
