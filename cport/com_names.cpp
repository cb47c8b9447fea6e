// Text forms of the port settings, and the list of ports the machine has.
#include "cport/internal.h"

#include <charconv>

namespace tarnby {

namespace {
const char* const kBaudRateTexts[] = {"Custom", "110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",
                                      "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
const char* const kStopBitsTexts[] = {"1", "1.5", "2"};
const char* const kDataBitsTexts[] = {"5", "6", "7", "8"};
const char* const kParityTexts[] = {"None", "Odd", "Even", "Mark", "Space"};
const char* const kFlowControlTexts[] = {"Hardware", "Software", "None", "Custom"};
const char* const kDtrControlTexts[] = {"Disable", "Enable", "Handshake"};
const char* const kRtsControlTexts[] = {"Disable", "Enable", "Handshake", "Toggle"};

// Letters a to z only, so the match does not depend on the locale.
std::string UpperAscii(const std::string& text)
{
    std::string upper = text;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

template <typename E, size_t N>
std::string ToText(const char* const (&texts)[N], E value)
{
    size_t index = static_cast<size_t>(value);
    return index < N ? texts[index] : std::string();
}

template <typename E, size_t N>
E FromText(const char* const (&texts)[N], const std::string& text, E fallback)
{
    const std::string wanted = UpperAscii(text);
    for (size_t i = 0; i < N; ++i)
        if (UpperAscii(texts[i]) == wanted)
            return static_cast<E>(i);
    return fallback;
}
}

std::string BaudRateToStr(TBaudRate value) { return ToText(kBaudRateTexts, value); }
std::string StopBitsToStr(TStopBits value) { return ToText(kStopBitsTexts, value); }
std::string DataBitsToStr(TDataBits value) { return ToText(kDataBitsTexts, value); }
std::string ParityToStr(TParityBits value) { return ToText(kParityTexts, value); }
std::string FlowControlToStr(TFlowControl value) { return ToText(kFlowControlTexts, value); }

TBaudRate StrToBaudRate(const std::string& text) { return FromText(kBaudRateTexts, text, br9600); }
TStopBits StrToStopBits(const std::string& text) { return FromText(kStopBitsTexts, text, sbOneStopBit); }
TDataBits StrToDataBits(const std::string& text) { return FromText(kDataBitsTexts, text, dbEight); }
TParityBits StrToParity(const std::string& text) { return FromText(kParityTexts, text, prNone); }
TFlowControl StrToFlowControl(const std::string& text) { return FromText(kFlowControlTexts, text, fcCustom); }

namespace detail {

std::string DtrControlToText(TDTRFlowControl value) { return ToText(kDtrControlTexts, value); }
TDTRFlowControl TextToDtrControl(const std::string& text) { return FromText(kDtrControlTexts, text, dtrDisable); }
std::string RtsControlToText(TRTSFlowControl value) { return ToText(kRtsControlTexts, value); }
TRTSFlowControl TextToRtsControl(const std::string& text) { return FromText(kRtsControlTexts, text, rtsDisable); }
std::string BoolToText(bool value) { return value ? "Yes" : "No"; }
bool TextToBool(const std::string& text) { return UpperAscii(text) == "YES"; }

std::string CharToText(char value)
{
    unsigned code = static_cast<unsigned char>(value);
    if (code >= 33 && code <= 127)
        return std::string(1, value);
    std::string text = "#";
    text += std::to_string(code); // not "#" + ...: g++ 12 warns wrongly on it when optimising fully
    return text;
}

char TextToChar(const std::string& text)
{
    if (text.empty())
        return 0;
    if (text[0] == '#' && text.size() > 1) {
        // A 32-bit integer in decimal: one optional sign, then digits and
        // nothing else. Anything else (also a number out of range) is 0.
        const char* first = text.data() + 1;
        const char* last = text.data() + text.size();
        if (*first == '+') {
            ++first;
            if (first == last || *first < '0' || *first > '9')
                return 0;
        }
        int32_t number = 0;
        auto [end, error] = std::from_chars(first, last, number);
        if (error != std::errc() || end != last)
            return 0;
        int32_t code = number % 256;
        if (code < 0)
            code += 256;
        return static_cast<char>(static_cast<unsigned char>(code));
    }
    return text[0];
}

} // namespace detail

void EnumComPorts(TStrings& ports)
{
    std::vector<std::string> paths;
    if (int error = comm::EnumSerialDevices(paths))
        throw EComPort(errRegistry, error);
    TStringList found;
    for (const std::string& path : paths)
        found.Add(path);
    found.Sort();
    ports.Assign(found);
}

} // namespace tarnby
