// The VT52 and VT100 escape-code parsers under arbitrary received text.
//
// Input: byte 0 chooses the set (bit 0 clear: VT52, set: VT100); every
// further byte is one received character.
//
// Each character must leave the parser where its rules say: outside a
// sequence a plain character comes back as erChar and ESC starts a sequence;
// inside, the character is collected and ends either in erNothing or in a
// complete code (in the VT100 set a control character inside a sequence
// comes back as erChar, ESC starts over, CAN and SUB abandon, DEL is
// ignored). The collected text never outgrows the sequence limit. After
// every complete code the parser is outside a sequence again (a plain
// character gives erChar), and the sequence EscCodeToStr writes for that code
// with its parameters reads back as the same code, with the same cursor
// position where the sequence carries one.
#include "cport/extras/escape_codes.h"
#include "fuzz_support.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

using namespace tarnby;

namespace {

[[noreturn]] void fail(const char* what, const std::string& sequence, TEscapeCode code)
{
    std::fprintf(stderr, "escape_codes_fuzzer: %s; sequence after ESC \"%s\", code %s\n", what,
                 printable(sequence).c_str(), EscapeCodeName(code));
    std::abort();
}

std::unique_ptr<TEscapeCodes> make_parser(bool vt100)
{
    if (vt100)
        return std::make_unique<TEscapeCodesVT100>();
    return std::make_unique<TEscapeCodesVT52>();
}

bool same_params(const TStrings& a, const TStrings& b)
{
    if (a.Count() != b.Count())
        return false;
    for (int i = 0; i < a.Count(); ++i)
        if (a.Strings(i) != b.Strings(i))
            return false;
    return true;
}

// The codes whose written sequence carries the cursor position (parameters
// 1 and 2) in this set.
bool carries_position(bool vt100, TEscapeCode code)
{
    return code == ecCursorMove || (vt100 && code == ecReportCursorPos);
}

// Writes code with params and reads it back with a fresh parser.
void check_round_trip(bool vt100, TEscapeCode code, const TStrings& params, const std::string& sequence)
{
    auto writer = make_parser(vt100);
    const std::string written = writer->EscCodeToStr(code, &params);
    if (code == ecUnknown || code == ecNotCompleted) {
        if (!written.empty())
            fail("a sequence written for a code that is none", sequence, code);
        return;
    }
    if (written.empty())
        return; // a code this set cannot express
    if (written[0] != kEsc)
        fail("a written sequence that does not start with ESC", sequence, code);

    auto reader = make_parser(vt100);
    for (size_t i = 0; i < written.size(); ++i) {
        const TEscapeResult result = reader->ProcessChar(written[i]);
        const bool last = i + 1 == written.size();
        if (result != (last ? erCode : erNothing))
            fail(("written sequence \"" + printable(written) + "\" does not read back as one code").c_str(),
                 sequence, code);
    }
    if (reader->Code() != code)
        fail(("written sequence \"" + printable(written) + "\" reads back as another code").c_str(), sequence,
             code);
    if (carries_position(vt100, code)) {
        for (int index : {1, 2})
            if (TEscapeCodes::GetParam(index, &reader->Params()) != TEscapeCodes::GetParam(index, &params))
                fail(("written sequence \"" + printable(written) + "\" moves the cursor elsewhere").c_str(),
                     sequence, code);
        // VT52 positions are single characters: the parameters come back as they were.
        if (!vt100 && !same_params(reader->Params(), params))
            fail("VT52 cursor position read back differently", sequence, code);
    }
}

void check_code(bool vt100, TEscapeCodes& parser, const std::string& sequence)
{
    const TEscapeCode code = parser.Code();
    if (code == ecNotCompleted || code >= ecCodeCount)
        fail("erCode without a complete code", sequence, code);
    const TStrings& params = parser.Params();
    if (!vt100) {
        // Only the cursor address has parameters: row and column, each a
        // character code minus 31.
        if (code == ecCursorMove) {
            if (sequence.size() != 3 || params.Count() != 2)
                fail("VT52 cursor address not of two parameters", sequence, code);
            for (int i = 0; i < 2; ++i)
                if (params.Strings(i) != std::to_string(static_cast<unsigned char>(sequence[1 + i]) - 31))
                    fail("VT52 cursor address parameter", sequence, code);
        } else if (params.Count() != 0) {
            fail("VT52 parameters for a code without any", sequence, code);
        }
    }
    // Indexes outside the list read as 1.
    if (TEscapeCodes::GetParam(0, &params) != 1 || TEscapeCodes::GetParam(params.Count() + 1, &params) != 1 ||
        TEscapeCodes::GetParam(1, nullptr) != 1)
        fail("GetParam outside the list", sequence, code);

    // Back outside a sequence: a plain character passes straight through.
    // Probed on a copy, so the input goes on from the parser's own state.
    std::unique_ptr<TEscapeCodes> probe;
    if (vt100)
        probe = std::make_unique<TEscapeCodesVT100>(static_cast<TEscapeCodesVT100&>(parser));
    else
        probe = std::make_unique<TEscapeCodesVT52>(static_cast<TEscapeCodesVT52&>(parser));
    if (probe->ProcessChar('x') != erChar || probe->Character() != 'x')
        fail("a plain character after a complete code is not passed through", sequence, code);

    check_round_trip(vt100, code, params, sequence);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const bool vt100 = (data[0] & 1) != 0;
    auto parser = make_parser(vt100);
    bool inside = false;
    std::string collected; // what the parser should hold as the sequence text

    for (size_t i = 1; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        const TEscapeResult result = parser->ProcessChar(c);
        if (!inside) {
            if (c != kEsc) {
                if (result != erChar || parser->Character() != c)
                    fail("a plain character outside a sequence is not passed through", collected, ecUnknown);
                continue;
            }
            if (result != erNothing || !parser->Data().empty())
                fail("ESC does not start an empty sequence", collected, ecUnknown);
            inside = true;
            collected.clear();
            continue;
        }
        if (vt100 && static_cast<unsigned char>(c) < 0x20 && c != kEsc && c != 0x18 && c != 0x1A) {
            // A control character acts and the sequence goes on.
            if (result != erChar || parser->Character() != c)
                fail("a control character inside a sequence is not passed through", collected, ecUnknown);
            continue;
        }
        if (vt100 && (c == kEsc || c == 0x18 || c == 0x1A || c == 0x7F)) {
            // ESC starts over, CAN and SUB abandon, DEL is ignored.
            if (result != erNothing)
                fail("ESC, CAN, SUB or DEL inside a sequence is not taken in", collected, ecUnknown);
            if (c == kEsc)
                collected.clear();
            inside = c == kEsc || c == 0x7F;
            continue;
        }
        collected += c;
        if (parser->Data() != collected)
            fail("the collected text is not the characters after ESC", collected, ecUnknown);
        if (parser->Data().size() > TEscapeCodes::kMaxSequenceLength)
            fail("the collected text outgrows its limit", collected, ecUnknown);
        if (result == erNothing)
            continue;
        if (result != erCode)
            fail("erChar inside a sequence", collected, ecUnknown);
        inside = false;
        check_code(vt100, *parser, collected);
        // The caller empties the parameters after handling each code.
        parser->Params().Clear();
    }
    return 0;
}
