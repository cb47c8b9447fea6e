#include "tarnby/cport/extras/escape_codes.h"

#include <charconv>
#include <cstdio>
#include <iterator>
#include <string_view>

namespace tarnby {

namespace {

// One row per code: what each set reads after ESC and what it writes.
//
// Read patterns: a bracket sequence is "[" and its final character, chosen
// further by its first parameter (`first`: alternatives split by "|", ""
// for none or empty, "x*" for one starting with x, else the exact text) and
// by how many parameters it has; `keep` says whether the parameters stay
// with the code. Any other pattern is the exact text after ESC, where "."
// stands for any final character and "%" for a VT52 position character
// (its code minus 31 becomes a parameter). The first matching row wins.
//
// Write formats: the text after ESC, "%d" a parameter in decimal, "%c" a
// VT52 position character (parameter plus 31); parameters in order, through
// GetParam. nullptr: the set cannot read or write the code.
struct CodeRow {
    TEscapeCode code;
    const char* name;
    const char* vt100_read;
    const char* first;
    uint8_t min_params, max_params;
    bool keep;
    const char* vt100_write;
    const char* vt52_read;
    const char* vt52_write;
};

constexpr uint8_t kAny = 255;

constexpr CodeRow kCodes[] = {
    {ecUnknown, "ecUnknown", nullptr, nullptr, 0, kAny, true, nullptr, nullptr, nullptr},
    {ecNotCompleted, "ecNotCompleted", nullptr, nullptr, 0, kAny, true, nullptr, nullptr, nullptr},
    {ecCursorUp, "ecCursorUp", "[A", nullptr, 0, kAny, true, "[A", "A", "A"},
    {ecCursorDown, "ecCursorDown", "[B", nullptr, 0, kAny, true, "[B", "B", "B"},
    {ecCursorLeft, "ecCursorLeft", "[D", nullptr, 0, kAny, true, "[D", "D", "D"},
    {ecCursorRight, "ecCursorRight", "[C", nullptr, 0, kAny, true, "[C", "C", "C"},
    {ecCursorHome, "ecCursorHome", "[H", nullptr, 0, kAny, true, "[H", "H", "H"},
    {ecCursorMove, "ecCursorMove", "[f", nullptr, 0, kAny, true, "[%d;%df", "Y%%", "Y%c%c"},
    {ecReverseLineFeed, "ecReverseLineFeed", nullptr, nullptr, 0, kAny, true, nullptr, "I", "I"},
    {ecAppCursorLeft, "ecAppCursorLeft", "OD", nullptr, 0, kAny, true, "OD", nullptr, nullptr},
    {ecAppCursorRight, "ecAppCursorRight", "OC", nullptr, 0, kAny, true, "OC", nullptr, nullptr},
    {ecAppCursorUp, "ecAppCursorUp", "OA", nullptr, 0, kAny, true, "OA", nullptr, nullptr},
    {ecAppCursorDown, "ecAppCursorDown", "OB", nullptr, 0, kAny, true, "OB", nullptr, nullptr},
    {ecEraseLineFrom, "ecEraseLineFrom", "[K", "|0", 0, kAny, false, "[K", "K", "K"},
    {ecEraseScreenFrom, "ecEraseScreenFrom", "[J", "|0*", 0, kAny, false, "[J", "J", "J"},
    {ecEraseLine, "ecEraseLine", "[K", "2", 0, kAny, false, "[2K", nullptr, nullptr},
    {ecEraseScreen, "ecEraseScreen", "[J", "2*", 0, kAny, false, "[2J", nullptr, nullptr},
    {ecSetTab, "ecSetTab", "H", nullptr, 0, kAny, true, "H", nullptr, nullptr},
    {ecClearTab, "ecClearTab", "[g", "|0", 0, kAny, false, "[g", nullptr, nullptr},
    {ecClearAllTabs, "ecClearAllTabs", "[g", "3", 0, kAny, false, "[3g", nullptr, nullptr},
    {ecIdentify, "ecIdentify", "[c", "|0", 0, 1, true, "[c", "Z", "Z"},
    {ecIdentResponse, "ecIdentResponse", "[c", "?1", 2, 2, true, "[?1;%dc", "/Z", "/Z"},
    {ecQueryDevice, "ecQueryDevice", "[n", "5*", 0, kAny, false, "[5n", nullptr, nullptr},
    {ecReportDeviceOK, "ecReportDeviceOK", "[n", "0*", 0, kAny, false, "[0n", nullptr, nullptr},
    {ecReportDeviceFailure, "ecReportDeviceFailure", "[n", "3*", 0, kAny, false, "[3n", nullptr, nullptr},
    {ecQueryCursorPos, "ecQueryCursorPos", "[n", "6*", 0, kAny, false, "[6n", nullptr, nullptr},
    {ecReportCursorPos, "ecReportCursorPos", "[R", nullptr, 0, kAny, true, "[%d;%dR", nullptr, nullptr},
    {ecAttributes, "ecAttributes", "[m", nullptr, 0, kAny, true, "[m", nullptr, nullptr},
    {ecSetMode, "ecSetMode", "[h", nullptr, 0, kAny, true, "[h", nullptr, nullptr},
    {ecResetMode, "ecResetMode", "[l", nullptr, 0, kAny, true, "[l", nullptr, nullptr},
    {ecReset, "ecReset", "c", nullptr, 0, kAny, true, "c", nullptr, nullptr},
    {ecSaveCaretAndAttr, "ecSaveCaretAndAttr", "7", nullptr, 0, kAny, true, "7", nullptr, nullptr},
    {ecRestoreCaretAndAttr, "ecRestoreCaretAndAttr", "8", nullptr, 0, kAny, true, "8", nullptr, nullptr},
    {ecSaveCaret, "ecSaveCaret", "[s", nullptr, 0, kAny, true, "[s", nullptr, nullptr},
    {ecRestoreCaret, "ecRestoreCaret", "[u", nullptr, 0, kAny, true, "[u", nullptr, nullptr},
    {ecTest, "ecTest", "#8", nullptr, 0, kAny, true, "#8", nullptr, nullptr},
    {ecSetScrollRegion, "ecSetScrollRegion", "[r", nullptr, 0, kAny, true, "[%d;%dr", nullptr, nullptr},
    {ecIndex, "ecIndex", "D", nullptr, 0, kAny, true, "D", nullptr, nullptr},
    {ecNextLine, "ecNextLine", "E", nullptr, 0, kAny, true, "E", nullptr, nullptr},
    {ecReverseIndex, "ecReverseIndex", "M", nullptr, 0, kAny, true, "M", nullptr, nullptr},
    {ecEraseLineTo, "ecEraseLineTo", "[K", "1", 0, kAny, false, "[1K", nullptr, nullptr},
    {ecEraseScreenTo, "ecEraseScreenTo", "[J", "1*", 0, kAny, false, "[1J", nullptr, nullptr},
    {ecCharsetG0Graphics, "ecCharsetG0Graphics", "(0", nullptr, 0, kAny, true, "(0", nullptr, nullptr},
    {ecCharsetG0Ascii, "ecCharsetG0Ascii", "(.", nullptr, 0, kAny, true, "(B", nullptr, nullptr},
    {ecCharsetG1Graphics, "ecCharsetG1Graphics", ")0", nullptr, 0, kAny, true, ")0", nullptr, nullptr},
    {ecCharsetG1Ascii, "ecCharsetG1Ascii", ").", nullptr, 0, kAny, true, ")B", nullptr, nullptr},
};

constexpr bool RowsInCodeOrder()
{
    for (size_t i = 0; i < std::size(kCodes); ++i)
        if (kCodes[i].code != i)
            return false;
    return true;
}
static_assert(std::size(kCodes) == ecCodeCount, "one row per escape code");
static_assert(RowsInCodeOrder(), "the rows in the order of TEscapeCode");

bool IsFinal(char c) { return c >= 0x40 && c <= 0x7E; }
bool IsIntermediate(char c) { return c >= 0x20 && c <= 0x2F; }

// Matches text against an exact-text pattern: 1 a match, 0 a proper prefix
// of one, -1 neither.
int MatchText(const char* pattern, const std::string& text)
{
    size_t i = 0;
    for (; i < text.size(); ++i) {
        const char p = pattern[i];
        if (p == 0)
            return -1;
        if (p == '.' ? !(text[i] >= 0x30 && text[i] <= 0x7E) : p != '%' && p != text[i])
            return -1;
    }
    return pattern[i] == 0 ? 1 : 0;
}

// The row whose exact-text pattern text matches, in the given set; else
// ecNotCompleted while text is the beginning of one, or ecUnknown.
TEscapeCode MatchEscape(const std::string& text, bool vt100)
{
    bool prefix = false;
    for (const CodeRow& row : kCodes) {
        const char* pattern = vt100 ? row.vt100_read : row.vt52_read;
        if (pattern == nullptr || (vt100 && pattern[0] == '['))
            continue;
        const int match = MatchText(pattern, text);
        if (match > 0)
            return row.code;
        prefix = prefix || match == 0;
    }
    return prefix ? ecNotCompleted : ecUnknown;
}

bool FirstMatches(const char* alternatives, const TStrings& params)
{
    if (alternatives == nullptr)
        return true;
    static const std::string kNone;
    const std::string& first = params.Count() > 0 ? params.Strings(0) : kNone;
    std::string_view rest(alternatives);
    for (;;) {
        const size_t bar = rest.find('|');
        const std::string_view alt = rest.substr(0, bar);
        if (!alt.empty() && alt.back() == '*') {
            if (!first.empty() && std::string_view(first).substr(0, alt.size() - 1) == alt.substr(0, alt.size() - 1))
                return true;
        } else if (first == alt) {
            return true;
        }
        if (bar == std::string_view::npos)
            return false;
        rest.remove_prefix(bar + 1);
    }
}

// The first row read as a bracket sequence with each final character, so a
// sequence is looked up among the few rows of its final character.
struct FinalIndex {
    int8_t first[128];
    constexpr FinalIndex() : first()
    {
        for (int8_t& f : first)
            f = -1;
        for (size_t i = std::size(kCodes); i-- > 0;) {
            const char* read = kCodes[i].vt100_read;
            if (read != nullptr && read[0] == '[')
                first[static_cast<unsigned char>(read[1])] = static_cast<int8_t>(i);
        }
    }
};
constexpr FinalIndex kFinalIndex;

std::string Write(const char* format, const TStrings* params)
{
    if (format == nullptr)
        return {};
    std::string text(1, kEsc);
    int next = 1;
    for (const char* f = format; *f != 0; ++f) {
        if (f[0] == '%' && f[1] == 'd') {
            text += std::to_string(TEscapeCodes::GetParam(next++, params));
            ++f;
        } else if (f[0] == '%' && f[1] == 'c') {
            text += static_cast<char>(TEscapeCodes::GetParam(next++, params) + 31);
            ++f;
        } else {
            text += *f;
        }
    }
    return text;
}

} // namespace

const char* EscapeCodeName(TEscapeCode code)
{
    return code < std::size(kCodes) ? kCodes[code].name : "?";
}

int32_t TEscapeCodes::GetParam(int index, const TStrings* params)
{
    if (params == nullptr || index < 1 || params->Count() < index)
        return 1;
    const std::string& text = params->Strings(index - 1);
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+')
        ++first;
    int32_t value = 0;
    auto [end, error] = std::from_chars(first, last, value);
    if (first == last || error != std::errc() || end != last)
        return 1;
    return value;
}

// ---- VT52 ------------------------------------------------------------------
//
// ESC A/B/C/D cursor up/down/right/left, ESC H home, ESC I reverse line feed,
// ESC J / ESC K erase to end of screen / line, ESC Z identify (answer
// ESC / Z), ESC Y row column with both as character code minus 31.

TEscapeResult TEscapeCodesVT52::ProcessChar(char ch)
{
    if (!in_sequence_) {
        if (ch != kEsc) {
            character_ = ch;
            return erChar;
        }
        data_.clear();
        in_sequence_ = true;
        return erNothing;
    }
    data_ += ch;
    TEscapeCode code = DetectCode(data_);
    if (code == ecNotCompleted && data_.size() >= kMaxSequenceLength)
        code = ecUnknown;
    if (code == ecNotCompleted)
        return erNothing;
    code_ = code;
    in_sequence_ = false;
    return erCode;
}

TEscapeCode TEscapeCodesVT52::DetectCode(const std::string& str)
{
    if (str.empty())
        return ecNotCompleted;
    const TEscapeCode code = MatchEscape(str, false);
    if (code == ecCursorMove) {
        params_.Add(std::to_string(static_cast<unsigned char>(str[1]) - 31));
        params_.Add(std::to_string(static_cast<unsigned char>(str[2]) - 31));
    }
    return code;
}

std::string TEscapeCodesVT52::EscCodeToStr(TEscapeCode code, const TStrings* params)
{
    return code < ecCodeCount ? Write(kCodes[code].vt52_write, params) : std::string();
}

// ---- VT100 -----------------------------------------------------------------

TEscapeResult TEscapeCodesVT100::ProcessChar(char ch)
{
    if (!in_sequence_) {
        if (ch != kEsc) {
            character_ = ch;
            return erChar;
        }
        data_.clear();
        in_sequence_ = true;
        return erNothing;
    }
    switch (ch) {
    case kEsc: // a new sequence in place of the unfinished one
        data_.clear();
        in_ext_sequence_ = false;
        return erNothing;
    case 0x18: // CAN and SUB: the sequence is abandoned
    case 0x1A:
        in_sequence_ = false;
        in_ext_sequence_ = false;
        return erNothing;
    case 0x7F: return erNothing;
    default: break;
    }
    if (static_cast<unsigned char>(ch) < 0x20) {
        character_ = ch;
        return erChar;
    }
    data_ += ch;
    // Parameters and intermediates of a bracket sequence: read at its end.
    if (in_ext_sequence_ && static_cast<unsigned char>(ch) <= 0x3F && data_.size() < kMaxSequenceLength)
        return erNothing;
    TEscapeCode code;
    if (in_ext_sequence_) {
        code = DetectExtCode(data_);
    } else if (data_.size() == 1 && data_[0] == '[') {
        in_ext_sequence_ = true;
        code = ecNotCompleted;
    } else {
        code = DetectCode(data_);
    }
    if (code == ecNotCompleted && data_.size() >= kMaxSequenceLength)
        code = ecUnknown;
    if (code == ecNotCompleted)
        return erNothing;
    code_ = code;
    in_sequence_ = false;
    in_ext_sequence_ = false;
    return erCode;
}

TEscapeCode TEscapeCodesVT100::DetectCode(const std::string& str)
{
    if (str.empty())
        return ecNotCompleted;
    const TEscapeCode code = MatchEscape(str, true);
    // An intermediate character that begins no known sequence still waits
    // for its final character, so that character is not shown.
    if (code == ecUnknown && IsIntermediate(str.back()))
        return ecNotCompleted;
    return code;
}

TEscapeCode TEscapeCodesVT100::DetectExtCode(const std::string& str)
{
    if (str.size() < 2)
        return ecNotCompleted;
    const char final = str.back();
    if (!IsFinal(final)) {
        // Parameters and intermediates go on; anything else breaks it off.
        const unsigned char c = static_cast<unsigned char>(final);
        return c >= 0x20 && c <= 0x3F ? ecNotCompleted : ecUnknown;
    }

    // Parameters straight into the list, which keeps its room from one
    // sequence to the next.
    params_.Clear();
    bool intermediate = false;
    if (str.size() > 2) {
        size_t start = 1;
        for (size_t i = 1; i + 1 <= str.size() - 1; ++i) {
            if (str[i] == ';') {
                params_.Add(str.substr(start, i - start));
                start = i + 1;
            } else if (IsIntermediate(str[i])) {
                intermediate = true;
            }
        }
        params_.Add(str.substr(start, str.size() - 1 - start));
    }

    TEscapeCode code = ecUnknown;
    const int first_row = kFinalIndex.first[static_cast<unsigned char>(final)];
    bool keep = first_row < 0 || kCodes[first_row].keep;
    if (!intermediate && first_row >= 0) {
        for (size_t i = static_cast<size_t>(first_row); i < std::size(kCodes); ++i) {
            const CodeRow& row = kCodes[i];
            if (row.vt100_read == nullptr || row.vt100_read[0] != '[' || row.vt100_read[1] != final)
                continue;
            if (params_.Count() >= row.min_params && params_.Count() <= row.max_params &&
                FirstMatches(row.first, params_)) {
                code = row.code;
                keep = row.keep;
                break;
            }
        }
    }
    if (!keep)
        params_.Clear();
    return code;
}

std::string TEscapeCodesVT100::EscCodeToStr(TEscapeCode code, const TStrings* params)
{
    return code < ecCodeCount ? Write(kCodes[code].vt100_write, params) : std::string();
}

} // namespace tarnby
