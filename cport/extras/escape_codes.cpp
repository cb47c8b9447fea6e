#include "tarnby/cport/extras/escape_codes.h"

#include <charconv>
#include <cstdio>
#include <iterator>

namespace tarnby {

namespace {

const char* const kCodeNames[] = {
    "ecUnknown",          "ecNotCompleted",     "ecCursorUp",         "ecCursorDown",
    "ecCursorLeft",       "ecCursorRight",      "ecCursorHome",       "ecCursorMove",
    "ecReverseLineFeed",  "ecAppCursorLeft",    "ecAppCursorRight",   "ecAppCursorUp",
    "ecAppCursorDown",    "ecEraseLineFrom",    "ecEraseScreenFrom",  "ecEraseLine",
    "ecEraseScreen",      "ecSetTab",           "ecClearTab",         "ecClearAllTabs",
    "ecIdentify",         "ecIdentResponse",    "ecQueryDevice",      "ecReportDeviceOK",
    "ecReportDeviceFailure", "ecQueryCursorPos", "ecReportCursorPos", "ecAttributes",
    "ecSetMode",          "ecResetMode",        "ecReset",            "ecSaveCaretAndAttr",
    "ecRestoreCaretAndAttr", "ecSaveCaret",     "ecRestoreCaret",     "ecTest",
};
static_assert(std::size(kCodeNames) == ecTest + 1);

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string Esc(const char* rest) { return std::string(1, kEsc) + rest; }

std::string Format(const char* format, int32_t a, int32_t b = 0)
{
    char text[48];
    std::snprintf(text, sizeof text, format, a, b);
    return Esc(text);
}

} // namespace

const char* EscapeCodeName(TEscapeCode code)
{
    return code < std::size(kCodeNames) ? kCodeNames[code] : "?";
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
    switch (str[0]) {
    case 'A': return ecCursorUp;
    case 'B': return ecCursorDown;
    case 'C': return ecCursorRight;
    case 'D': return ecCursorLeft;
    case 'H': return ecCursorHome;
    case 'I': return ecReverseLineFeed;
    case 'J': return ecEraseScreenFrom;
    case 'K': return ecEraseLineFrom;
    case 'Z': return ecIdentify;
    case '/': // identify answer
        if (str.size() < 2)
            return ecNotCompleted;
        return str[1] == 'Z' ? ecIdentResponse : ecUnknown;
    case 'Y': // direct cursor address
        if (str.size() < 3)
            return ecNotCompleted;
        params_.Add(std::to_string(static_cast<unsigned char>(str[1]) - 31));
        params_.Add(std::to_string(static_cast<unsigned char>(str[2]) - 31));
        return ecCursorMove;
    default: return ecUnknown;
    }
}

std::string TEscapeCodesVT52::EscCodeToStr(TEscapeCode code, const TStrings* params)
{
    switch (code) {
    case ecCursorUp: return Esc("A");
    case ecCursorDown: return Esc("B");
    case ecCursorLeft: return Esc("D");
    case ecCursorRight: return Esc("C");
    case ecCursorHome: return Esc("H");
    case ecCursorMove:
        return Esc("Y") + static_cast<char>(GetParam(1, params) + 31) + static_cast<char>(GetParam(2, params) + 31);
    case ecReverseLineFeed: return Esc("I");
    case ecEraseLineFrom: return Esc("K");
    case ecEraseScreenFrom: return Esc("J");
    case ecIdentify: return Esc("Z");
    case ecIdentResponse: return Esc("/Z");
    default: return {};
    }
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
    data_ += ch;
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
    if (str.size() == 1) {
        switch (str[0]) {
        case '#': // DECALN follows
        case 'O': // SS3 application cursor key follows
            return ecNotCompleted;
        case '7': return ecSaveCaretAndAttr;    // DECSC
        case '8': return ecRestoreCaretAndAttr; // DECRC
        case 'H': return ecSetTab;              // HTS
        case 'c': return ecReset;               // RIS
        default: return ecUnknown;
        }
    }
    if (str.size() == 2) {
        if (str == "#8") // DECALN
            return ecTest;
        if (str[0] == 'O') {
            switch (str[1]) {
            case 'A': return ecAppCursorUp;
            case 'B': return ecAppCursorDown;
            case 'C': return ecAppCursorRight;
            case 'D': return ecAppCursorLeft;
            default: break;
            }
        }
    }
    return ecUnknown;
}

TEscapeCode TEscapeCodesVT100::DetectExtCode(const std::string& str)
{
    if (str.size() < 2 || !IsLetter(str.back()))
        return ecNotCompleted;

    // Split at ";", where a ";" that would begin a parameter is part of it.
    TStrings found;
    std::string current;
    for (size_t i = 1; i + 1 < str.size(); ++i) {
        if (str[i] == ';' && !current.empty()) {
            found.Add(current);
            current.clear();
        } else {
            current += str[i];
        }
    }
    if (!current.empty())
        found.Add(current);

    auto first = [&found]() -> std::string { return found.Count() > 0 ? found.Strings(0) : std::string(); };
    auto first_char = [&found]() { return found.Count() > 0 && !found.Strings(0).empty() ? found.Strings(0)[0] : '\0'; };
    bool none = found.Count() == 0;

    TEscapeCode code = ecUnknown;
    bool keep_params = true;
    switch (str.back()) {
    case 'A': code = ecCursorUp; break;    // CUU
    case 'B': code = ecCursorDown; break;  // CUD
    case 'C': code = ecCursorRight; break; // CUF
    case 'D': code = ecCursorLeft; break;  // CUB
    case 'H': code = ecCursorHome; break;  // CUP
    case 'f': code = ecCursorMove; break;  // HVP
    case 'J':                              // ED
        keep_params = false;
        if (none || first_char() == '0')
            code = ecEraseScreenFrom;
        else if (first_char() == '2')
            code = ecEraseScreen;
        break;
    case 'K': // EL
        keep_params = false;
        if (none || first() == "0")
            code = ecEraseLineFrom;
        else if (first() == "2")
            code = ecEraseLine;
        break;
    case 'g': // TBC
        keep_params = false;
        if (none || first() == "0")
            code = ecClearTab;
        else if (first() == "3")
            code = ecClearAllTabs;
        break;
    case 'n': // DSR
        keep_params = false;
        switch (first_char()) {
        case '0': code = ecReportDeviceOK; break;
        case '3': code = ecReportDeviceFailure; break;
        case '5': code = ecQueryDevice; break;
        case '6': code = ecQueryCursorPos; break;
        default: break;
        }
        break;
    case 'c': // DA
        if (none || (found.Count() == 1 && first() == "0"))
            code = ecIdentify;
        else if (found.Count() == 2 && first() == "?1")
            code = ecIdentResponse;
        break;
    case 'R': code = ecReportCursorPos; break; // CPR
    case 'h': code = ecSetMode; break;         // SM
    case 'l': code = ecResetMode; break;       // RM
    case 'm': code = ecAttributes; break;      // SGR
    case 's': code = ecSaveCaret; break;
    case 'u': code = ecRestoreCaret; break;
    default: break;
    }
    if (keep_params)
        params_.Assign(found);
    else
        params_.Clear();
    return code;
}

std::string TEscapeCodesVT100::EscCodeToStr(TEscapeCode code, const TStrings* params)
{
    switch (code) {
    case ecCursorUp: return Esc("[A");
    case ecCursorDown: return Esc("[B");
    case ecCursorLeft: return Esc("[D");
    case ecCursorRight: return Esc("[C");
    case ecCursorHome: return Esc("[H");
    case ecCursorMove: return Format("[%d;%df", GetParam(1, params), GetParam(2, params));
    case ecAppCursorLeft: return Esc("OD");
    case ecAppCursorRight: return Esc("OC");
    case ecAppCursorUp: return Esc("OA");
    case ecAppCursorDown: return Esc("OB");
    case ecEraseLineFrom: return Esc("[K");
    case ecEraseScreenFrom: return Esc("[J");
    case ecEraseLine: return Esc("[2K");
    case ecEraseScreen: return Esc("[2J");
    case ecSetTab: return Esc("H");
    case ecClearTab: return Esc("[g");
    case ecClearAllTabs: return Esc("[3g");
    case ecIdentify: return Esc("[c");
    case ecIdentResponse: return Format("[?1;%dc", GetParam(1, params));
    case ecQueryDevice: return Esc("[5n");
    case ecReportDeviceOK: return Esc("[0n");
    case ecReportDeviceFailure: return Esc("[3n");
    case ecQueryCursorPos: return Esc("[6n");
    case ecReportCursorPos: return Format("[%d;%dR", GetParam(1, params), GetParam(2, params));
    case ecAttributes: return Esc("[m");
    case ecSetMode: return Esc("[h");
    case ecResetMode: return Esc("[l");
    case ecReset: return Esc("c");
    case ecSaveCaretAndAttr: return Esc("7");
    case ecRestoreCaretAndAttr: return Esc("8");
    case ecSaveCaret: return Esc("[s");
    case ecRestoreCaret: return Esc("[u");
    case ecTest: return Esc("#8");
    default: return {};
    }
}

} // namespace tarnby
