// The text forms of the port settings under arbitrary text.
//
// Input: the text itself, any bytes (a zero byte included).
//
// Every conversion from text must give a value of its type, the first whose
// text matches case-free or else the type's default; the value's own text
// must convert back to it; and a character read from text must survive its
// way to text and back. The whole value range is checked once at start.
#include "cport/internal.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace tarnby;

using namespace tarnby::detail;

namespace {

[[noreturn]] void fail(const char* what, const std::string& text)
{
    std::fprintf(stderr, "cport_names_fuzzer: %s, text of %zu bytes: \"", what, text.size());
    for (unsigned char c : text)
        std::fprintf(stderr, c >= 32 && c < 127 && c != '"' && c != '\\' ? "%c" : "\\x%02x", c);
    std::fprintf(stderr, "\"\n");
    std::abort();
}

std::string upper_ascii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// One pair of conversions over a type with `count` values.
template <typename E>
struct Names {
    const char* name;
    int count;
    E fallback;
    std::string (*to_text)(E);
    E (*from_text)(const std::string&);
};

const auto kBaudRate = Names<TBaudRate>{"baud rate", br256000 + 1, br9600, BaudRateToStr, StrToBaudRate};
const auto kStopBits = Names<TStopBits>{"stop bits", sbTwoStopBits + 1, sbOneStopBit, StopBitsToStr, StrToStopBits};
const auto kDataBits = Names<TDataBits>{"data bits", dbEight + 1, dbEight, DataBitsToStr, StrToDataBits};
const auto kParity = Names<TParityBits>{"parity", prSpace + 1, prNone, ParityToStr, StrToParity};
const auto kFlowControl =
    Names<TFlowControl>{"flow control", fcCustom + 1, fcCustom, FlowControlToStr, StrToFlowControl};
const auto kDtrControl =
    Names<TDTRFlowControl>{"DTR control", dtrHandshake + 1, dtrDisable, DtrControlToText, TextToDtrControl};
const auto kRtsControl =
    Names<TRTSFlowControl>{"RTS control", rtsToggle + 1, rtsDisable, RtsControlToText, TextToRtsControl};

template <typename E>
void check_values(const Names<E>& names)
{
    for (int i = 0; i < names.count; ++i) {
        const std::string text = names.to_text(static_cast<E>(i));
        if (text.empty())
            fail(names.name, "value without a text");
        if (names.from_text(text) != i || names.from_text(upper_ascii(text)) != i)
            fail(names.name, text);
    }
}

template <typename E>
void check_text(const Names<E>& names, const std::string& text)
{
    const E value = names.from_text(text);
    if (static_cast<int>(value) >= names.count)
        fail(names.name, text);
    E expected = names.fallback;
    const std::string wanted = upper_ascii(text);
    for (int i = 0; i < names.count; ++i)
        if (upper_ascii(names.to_text(static_cast<E>(i))) == wanted) {
            expected = static_cast<E>(i);
            break;
        }
    if (value != expected)
        fail(names.name, text);
}

// "#" and a decimal number (an optional sign, digits and nothing else) is
// that number modulo 256, 0 when it is no number; otherwise the first
// character. Numbers beyond 32 bits count as no number.
unsigned char expected_char(const std::string& text)
{
    if (text.empty())
        return 0;
    if (text[0] != '#' || text.size() == 1)
        return static_cast<unsigned char>(text[0]);
    size_t i = 1;
    const bool negative = text[i] == '-';
    if (text[i] == '+' || text[i] == '-')
        ++i;
    if (i == text.size())
        return 0;
    unsigned long long magnitude = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return 0;
        const unsigned digit = static_cast<unsigned>(text[i] - '0');
        const unsigned long long limit = negative ? 2147483648ULL : 2147483647ULL;
        if (magnitude > (limit - digit) / 10)
            return 0;
        magnitude = magnitude * 10 + digit;
    }
    const unsigned low = static_cast<unsigned>(magnitude % 256);
    return static_cast<unsigned char>(negative ? (256 - low) % 256 : low);
}

void check_all_values()
{
    check_values(kBaudRate);
    check_values(kStopBits);
    check_values(kDataBits);
    check_values(kParity);
    check_values(kFlowControl);
    check_values(kDtrControl);
    check_values(kRtsControl);
    if (BoolToText(false) != "No" || BoolToText(true) != "Yes" || TextToBool(BoolToText(false)) ||
        !TextToBool(BoolToText(true)))
        fail("Boolean", "");
    for (int c = 0; c < 256; ++c) {
        const std::string text = CharToText(static_cast<char>(c));
        if (static_cast<unsigned char>(TextToChar(text)) != c)
            fail("character", text);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    check_all_values();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    check_text(kBaudRate, text);
    check_text(kStopBits, text);
    check_text(kDataBits, text);
    check_text(kParity, text);
    check_text(kFlowControl, text);
    check_text(kDtrControl, text);
    check_text(kRtsControl, text);

    if (TextToBool(text) != (upper_ascii(text) == "YES"))
        fail("Boolean", text);

    const char c = TextToChar(text);
    if (static_cast<unsigned char>(c) != expected_char(text))
        fail("TextToChar", text);
    const std::string written = CharToText(c);
    if (TextToChar(written) != c)
        fail("character written and read back", written);
    return 0;
}
