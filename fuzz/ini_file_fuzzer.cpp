// The INI reader and writer under an arbitrary settings file and an
// arbitrary write.
//
// Input: bytes 0-2 the lengths of a section name (0-31), a key name (0-31)
// and a value (0-63), then those three texts, then the file's text.
//
// Checks:
//  - A file reads and writes back byte for byte when nothing is changed.
//  - A write that is refused leaves the text as it was. A write that is taken
//    reads back exactly, in the document and in its text parsed again; every
//    other key of every section reads as before; the section still exists;
//    and the text changes only by the written key's line (changed in place or
//    added, with a new section's header and blank line), so comments and
//    lines the reader ignores stay as they were.
//  - ParseIniInteger takes the value text exactly when it is a decimal with
//    one optional sign, or "0x" and one to eight hexadecimal digits.
#include "cport/extras/ini_file.h"
#include "fuzz_support.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using namespace tarnby;

namespace {

struct Input {
    std::string section, key, value, text;
};

[[noreturn]] void fail(const std::string& what, const Input& in)
{
    std::fprintf(stderr, "ini_file_fuzzer: %s\n  [%s] %s=%s\n  text \"%s\"\n", what.c_str(),
                 printable(in.section).c_str(), printable(in.key).c_str(), printable(in.value).c_str(),
                 printable(in.text).c_str());
    std::abort();
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_name(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

struct Line {
    std::string text, eol;
    bool operator==(const Line&) const = default;
};

// The text's lines, each with the line end it had ("\n", "\r\n" or none).
std::vector<Line> lines_of(std::string_view text)
{
    std::vector<Line> lines;
    while (!text.empty()) {
        size_t nl = text.find('\n');
        if (nl == std::string_view::npos) {
            lines.push_back({std::string(text), ""});
            break;
        }
        const bool crlf = nl > 0 && text[nl - 1] == '\r';
        lines.push_back({std::string(text.substr(0, crlf ? nl - 1 : nl)), crlf ? "\r\n" : "\n"});
        text.remove_prefix(nl + 1);
    }
    return lines;
}

// Names that may be sections: the written one, then what follows "[" on each
// line, up to "]", each name once, at most kMaxSections (every section is
// read whole, before and after the write, so many would make each run slow).
// A name the reader does not see as a section only reads nothing, before and
// after alike.
constexpr size_t kMaxSections = 16;

std::vector<std::string> section_names(std::string_view text, const std::string& written)
{
    std::vector<std::string> names{written};
    for (const Line& line : lines_of(text)) {
        if (names.size() == kMaxSections)
            break;
        std::string_view t = line.text;
        while (!t.empty() && (t.front() == ' ' || t.front() == '\t'))
            t.remove_prefix(1);
        if (t.empty() || t.front() != '[')
            continue;
        t.remove_prefix(1);
        t = t.substr(0, t.find(']'));
        while (!t.empty() && (t.front() == ' ' || t.front() == '\t'))
            t.remove_prefix(1);
        while (!t.empty() && (t.back() == ' ' || t.back() == '\t'))
            t.remove_suffix(1);
        bool known = false;
        for (const std::string& name : names)
            known = known || same_name(name, t);
        if (!known)
            names.emplace_back(t);
    }
    return names;
}

struct Setting {
    std::string section, key, value;
};

std::vector<Setting> settings_of(const TIniDocument& document, const std::vector<std::string>& sections)
{
    std::vector<Setting> settings;
    for (const std::string& section : sections)
        for (const std::string& key : document.ReadSection(section))
            settings.push_back({section, key, document.ReadString(section, key, "\x01missing")});
    return settings;
}

// The written text differs from the old one only by the written key's line:
// the same number of lines with one changed, or one to three lines added in
// one place (key, or blank line, header and key), where the old last line may
// have gained a line end.
bool only_added_lines(const std::vector<Line>& before, const std::vector<Line>& after)
{
    const size_t added = after.size() - before.size();
    size_t i = 0;
    while (i < before.size() && before[i] == after[i])
        ++i;
    for (size_t j = i; j < before.size(); ++j)
        if (!(before[j] == after[j + added]))
            return false;
    return true;
}

bool only_the_written_lines(const std::vector<Line>& before, const std::vector<Line>& after)
{
    if (after.size() == before.size()) {
        size_t changed = 0;
        for (size_t i = 0; i < before.size(); ++i)
            if (!(before[i] == after[i]))
                ++changed;
        return changed <= 1;
    }
    if (after.size() < before.size() || after.size() > before.size() + 3)
        return false;
    if (only_added_lines(before, after))
        return true;
    // Lines added at the end: the old last line has gained a line end.
    if (before.empty() || !before.back().eol.empty())
        return false;
    std::vector<Line> ended = before;
    ended.back().eol = after[before.size() - 1].eol;
    return !ended.back().eol.empty() && only_added_lines(ended, after);
}

// Decimal with at most one sign, or "0x"/"0X" and one to eight hex digits.
bool integer_expected(std::string_view text, int32_t& value)
{
    auto hex_digit = [](char c) {
        return (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
    };
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        if (text.size() > 10)
            return false;
        uint32_t pattern = 0;
        for (char c : text.substr(2)) {
            if (hex_digit(c) < 0)
                return false;
            pattern = pattern * 16 + static_cast<uint32_t>(hex_digit(c));
        }
        value = static_cast<int32_t>(pattern);
        return true;
    }
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return false;
    int64_t magnitude = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > int64_t{1} << 31)
            return false;
    }
    const int64_t signed_value = negative ? -magnitude : magnitude;
    if (signed_value > INT32_MAX || signed_value < INT32_MIN)
        return false;
    value = static_cast<int32_t>(signed_value);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return -1;
    const size_t lengths[3] = {data[0] & 31u, data[1] & 31u, data[2] & 63u};
    if (size < 3 + lengths[0] + lengths[1] + lengths[2])
        return -1;
    const char* at = reinterpret_cast<const char*>(data) + 3;
    Input in;
    in.section.assign(at, lengths[0]);
    at += lengths[0];
    in.key.assign(at, lengths[1]);
    at += lengths[1];
    in.value.assign(at, lengths[2]);
    at += lengths[2];
    in.text.assign(at, reinterpret_cast<const char*>(data) + size);

    int32_t parsed = 0;
    int32_t expected = 0;
    const bool parses = ParseIniInteger(in.value, parsed);
    if (parses != integer_expected(in.value, expected) || (parses && parsed != expected))
        fail("ParseIniInteger", in);

    TIniDocument document(in.text);
    if (document.Text() != in.text)
        fail("the text does not write back as it was read", in);
    const std::vector<std::string> sections = section_names(in.text, in.section);
    const std::vector<Setting> before = settings_of(document, sections);

    try {
        document.WriteString(in.section, in.key, in.value);
    } catch (const EIniError&) {
        if (document.Text() != in.text)
            fail("a refused write changed the text", in);
        return 0;
    }
    const std::string written = document.Text();
    if (IniWriteString(in.text, in.section, in.key, in.value) != written)
        fail("IniWriteString writes another text than the document", in);

    const TIniDocument again(written);
    if (again.Text() != written)
        fail("the written text does not parse again as itself", in);
    for (const TIniDocument* d : {static_cast<const TIniDocument*>(&document), &again}) {
        std::string value;
        if (!d->Find(in.section, in.key, value) || value != in.value)
            fail(d == &document ? "the written value does not read back" :
                                  "the written value does not read back from the written text",
                 in);
        if (!d->SectionExists(in.section) || !d->ValueExists(in.section, in.key))
            fail("the written section or key does not exist", in);
    }
    if (IniReadString(written, in.section, in.key, "\x01missing") != in.value)
        fail("IniReadString does not read the written value", in);

    for (const Setting& s : before) {
        if (same_name(s.section, in.section) && same_name(s.key, in.key))
            continue;
        if (again.ReadString(s.section, s.key, "\x01missing") != s.value)
            fail("[" + printable(s.section) + "] " + printable(s.key) + " reads otherwise after the write", in);
        if (!again.SectionExists(s.section))
            fail("[" + printable(s.section) + "] is gone after the write", in);
    }
    // A byte-order mark stays in front, of no line.
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    std::string_view old_lines = in.text;
    std::string_view new_lines = written;
    if (old_lines.starts_with(kBom)) {
        if (!new_lines.starts_with(kBom))
            fail("the write lost the byte-order mark", in);
        old_lines.remove_prefix(kBom.size());
        new_lines.remove_prefix(kBom.size());
    }
    if (!only_the_written_lines(lines_of(old_lines), lines_of(new_lines)))
        fail("the write changed other lines", in);
    return 0;
}
