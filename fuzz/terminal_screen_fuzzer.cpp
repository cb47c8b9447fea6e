// The whole terminal screen without a window (escape codes, cells, caret,
// modes, region, character sets) under arbitrary received text.
//
// Input: byte 0 the options (bit 0 WrapLines, bit 1 the VT52 set instead of
// the VT100 one), byte 1 the columns (2 + value mod 255), byte 2 the rows
// (2 + value mod 99); every further byte is one received character.
//
// After each character: the size stays within its limits, the caret and the
// scrolling region inside the screen, a pending wrap only at the last column
// with wrapping on, the parser's collected text within its limit, and the
// answers to the host no more than one per character. At the end, in the
// VT100 set, CAN abandons any sequence, so a printable character then lands
// where the caret was (or, with a pending wrap, at the start of a line).
#include "cport/extras/widgets/com_terminal_screen.h"
#include "fuzz_support.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

using namespace tarnby;

namespace {

[[noreturn]] void fail(const char* what, const TComTermScreen& s, size_t at)
{
    std::fprintf(stderr,
                 "terminal_screen_fuzzer: %s after byte %zu; screen %dx%d, caret (%d, %d), region %d..%d, "
                 "pending wrap %d\n",
                 what, at, s.Columns(), s.Rows(), s.CaretColumn(), s.CaretRow(), s.RegionTop(), s.RegionBottom(),
                 s.PendingWrap() ? 1 : 0);
    std::abort();
}

void check(TComTermScreen& s, size_t at, size_t replies)
{
    if (s.Columns() < 2 || s.Columns() > 256 || s.Rows() < 2 || s.Rows() > 100)
        fail("the size outside its limits", s, at);
    if (s.Buffer().Columns() != s.Columns() || s.Buffer().Rows() != s.Rows())
        fail("the buffer is not of the screen's size", s, at);
    if (s.CaretColumn() < 1 || s.CaretColumn() > s.Columns() || s.CaretRow() < 1 || s.CaretRow() > s.Rows())
        fail("the caret outside the screen", s, at);
    if (s.RegionTop() < 1 || s.RegionTop() >= s.RegionBottom() || s.RegionBottom() > s.Rows())
        fail("the scrolling region outside the screen", s, at);
    if (s.PendingWrap() && (!s.WrapLines() || s.CaretColumn() != s.Columns()))
        fail("a pending wrap away from the last column or without wrapping", s, at);
    if (s.EscapeCodes() && (s.EscapeCodes()->Data().size() > TEscapeCodes::kMaxSequenceLength ||
                            s.EscapeCodes()->Params().Count() > static_cast<int>(TEscapeCodes::kMaxSequenceLength)))
        fail("the parser holds more than a sequence", s, at);
    if (replies > at + 1)
        fail("more answers than characters", s, at);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    TComTermScreen screen;
    const bool vt52 = (data[0] & 2) != 0;
    screen.SetSize(2 + data[1] % 255, 2 + data[2] % 99);
    screen.SetWrapLines((data[0] & 1) != 0);
    if (vt52)
        screen.EscapeCodes() = std::make_unique<TEscapeCodesVT52>();
    else
        screen.EscapeCodes() = std::make_unique<TEscapeCodesVT100>();
    size_t replies = 0;
    screen.OnReply = [&replies](TEscapeCode, const TStrings*) { ++replies; };

    for (size_t i = 3; i < size; ++i) {
        screen.Write(&data[i], 1);
        check(screen, i, replies);
    }
    if (!vt52) {
        screen.Write("\x18", 1);
        const int column = screen.PendingWrap() ? 1 : screen.CaretColumn();
        const bool scrolls = screen.PendingWrap() && screen.CaretRow() == screen.RegionBottom();
        const int row = screen.PendingWrap() && !scrolls ? std::min(screen.CaretRow() + 1, screen.Rows())
                                                         : screen.CaretRow();
        screen.Write("Z", 1);
        if (screen.Buffer().GetChar(column, row).Ch != 'Z')
            fail("a character after CAN is not where the caret was", screen, size);
    }
    return 0;
}
