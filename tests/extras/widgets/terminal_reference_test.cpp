// The terminal's screen held against a reference VT100 (libvterm's screen
// layer): the same bytes to both, 80 x 24, wrapping on as the terminal
// program has it, then every cell compared: its character and whether it is
// bold, reversed or underlined. One row per capability a vt100 program
// relies on, then the programs recorded by captures/record.py.
#ifdef TARNBY_HAVE_VTERM
#include "tarnby/cport/extras/widgets/com_terminal_screen.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>

#include <vterm.h>

using namespace tarnby;

namespace {

constexpr int kColumns = 80, kRows = 24;

struct Look {
    char16_t ch = ' ';
    bool bold = false, reverse = false, underline = false;
    bool operator==(const Look&) const = default;
};

std::string Show(const Look& l)
{
    std::ostringstream text;
    if (l.ch >= 32 && l.ch < 127)
        text << '\'' << static_cast<char>(l.ch) << '\'';
    else
        text << "U+" << std::hex << static_cast<int>(l.ch) << std::dec;
    text << (l.bold ? " bold" : "") << (l.reverse ? " reverse" : "") << (l.underline ? " underline" : "");
    return text.str();
}

// A blank shows no attribute but reverse (a reversed blank is a filled cell).
// The graphics set's "less or equal" and "greater or equal" are the same
// glyphs whichever of Unicode's two forms stands for them.
Look Normal(Look l)
{
    if (l.ch == 0 || l.ch == 0xA0)
        l.ch = ' ';
    if (l.ch == 0x2A7D || l.ch == 0x2A7E)
        l.ch = l.ch == 0x2A7D ? 0x2264 : 0x2265;
    if (l.ch == ' ')
        l.bold = l.underline = false;
    return l;
}

// The terminal's screen and the reference, fed alike.
class Pair {
public:
    Pair()
    {
        ours_.SetSize(kColumns, kRows);
        ours_.SetWrapLines(true);
        ours_.EscapeCodes() = std::make_unique<TEscapeCodesVT100>();
        vterm_set_utf8(vt_, 0);
        vterm_screen_reset(screen_, 1);
    }
    ~Pair() { vterm_free(vt_); }
    Pair(const Pair&) = delete;
    Pair& operator=(const Pair&) = delete;

    // The reference has no 132-column mode: where the screen switches its
    // width, which on a VT100 clears it, homes the caret and resets the
    // region, the reference is told to do the same.
    void Feed(std::string_view bytes)
    {
        size_t from = 0;
        for (size_t i = 0; i < bytes.size(); ++i) {
            const int columns = ours_.Columns();
            if (bytes[i] == '\t' && ours_.CaretColumn() < columns && ours_.Buffer().NextTab(ours_.CaretColumn() + 1) == 0)
                tab_past_last_stop_ = true;
            ours_.Write(&bytes[i], 1);
            if (tab_past_last_stop_ && ours_.Buffer().GetLastLine() == 0)
                tab_past_last_stop_ = false;
            if (ours_.Columns() != columns) {
                vterm_input_write(vt_, bytes.data() + from, i + 1 - from);
                const std::string clear = "\x1b[r\x1b[2J\x1b[H";
                vterm_input_write(vt_, clear.data(), clear.size());
                from = i + 1;
            }
        }
        vterm_input_write(vt_, bytes.data() + from, bytes.size() - from);
    }
    // A 132-column screen has no counterpart: the reference keeps 80. A tab
    // with no stop after the caret leaves it where it is, where a VT100 goes
    // to the last column: the screens are compared again once it is cleared.
    bool Comparable() const { return ours_.Columns() == kColumns && !tab_past_last_stop_; }

    // The cells that differ, the first few of them described.
    int Differences(std::string& report)
    {
        int count = 0;
        for (int r = 1; r <= kRows; ++r)
            for (int c = 1; c <= kColumns; ++c) {
                const TTermChar cell = ours_.Buffer().GetChar(c, r);
                const Look ours = Normal({TermCharToUnicode(cell), cell.Bold, cell.Reverse, cell.Underline});
                VTermScreenCell ref{};
                vterm_screen_get_cell(screen_, VTermPos{r - 1, c - 1}, &ref);
                const Look reference = Normal({static_cast<char16_t>(ref.chars[0]), ref.attrs.bold != 0,
                                               ref.attrs.reverse != 0, ref.attrs.underline != 0});
                if (ours == reference)
                    continue;
                if (++count <= 8)
                    report += "row " + std::to_string(r) + " column " + std::to_string(c) + ": " + Show(ours) +
                              ", reference " + Show(reference) + "\n";
            }
        return count;
    }

private:
    TComTermScreen ours_;
    VTerm* vt_ = vterm_new(kRows, kColumns);
    VTermScreen* screen_ = vterm_obtain_screen(vt_);
    bool tab_past_last_stop_ = false;
};

int Differences(const std::string& bytes, std::string& report)
{
    Pair pair;
    pair.Feed(bytes);
    return pair.Differences(report);
}

std::string E(const std::string& rest) { return "\x1b" + rest; }

TEST(TerminalReference, EachCapabilityAsAVt100Does)
{
    const std::string five = "1\r\n2\r\n3\r\n4\r\n5";
    const std::string eighty(80, 'x');
    std::string filled;
    for (int r = 0; r < kRows; ++r)
        filled += (r ? "\r\n" : "") + std::string(kColumns, static_cast<char>('a' + r % 26));
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"csr: line feed at the region's bottom", five + E("[2;4r") + E("[4;1H") + "\nX\nY"},
        {"csr: homes the caret", five + E("[2;4r") + "H"},
        {"csr: ESC [ r resets", five + E("[2;4r") + E("[r") + E("[24;1H") + "\n\nZ"},
        {"ri at the region's top", five + E("[2;4r") + E("[2;1H") + E("M") + "R"},
        {"ri in row 1", "top" + E("M") + E("M") + "R"},
        {"ind and nel", "ab" + E("D") + "c" + E("E") + "d"},
        {"am+xenl: a full line then CR LF", eighty + "\r\ny"},
        {"am+xenl: the next character wraps", eighty + "y"},
        {"am+xenl: in the last row", filled + "Q"},
        {"am+xenl: a move cancels the wrap", eighty + E("[D") + "y"},
        {"decawm off", E("[?7l") + eighty + "yz"},
        {"smacs/rmacs: SO and SI with G1 graphics", E(")0") + "a\x0elqqk\x0fq\x0ex\x0f"},
        {"acsc: G0 graphics and back", E("(0") + "`afgjklmnopqrstuvwxyz{|}~" + E("(B") + "q"},
        {"enacs and rs2", E("(B") + E(")0") + E("<") + E(">") + E("[?3;4;5l") + E("[?7;8h") + E("[r") + "ok"},
        {"el1", "abcdefgh" + E("[1;4H") + E("[1K")},
        {"ed1", filled + E("[12;40H") + E("[1J")},
        {"ed and el from the caret", filled + E("[12;40H") + E("[K") + E("[20;1H") + E("[J")},
        {"decom: addresses in the region", E("[5;10r") + E("[?6h") + E("[1;1HA") + E("[30;3HB") + E("[?6l") + "C"},
        {"cuu and cud inside the screen", E("[7;7H") + E("[20A") + "U" + E("[30B") + "D" + E("[90C") + "R"},
        {"cup with empty parameters", E("[;5H") + "a" + E("[3;H") + "b"},
        {"a count of 0 moves by one", E("[5;5H") + E("[0A") + "a" + E("[0C") + "b"},
        {"CAN and SUB abandon", E("[5") + "\x18" "H" + E("[3") + "\x1a" "J"},
        {"ESC restarts a sequence", E("[12") + E("[2;3H") + "x"},
        {"an unknown final eats nothing", E("[2y") + "a" + E("[3~") + "b" + E("[4}") + "c"},
        {"DEL is ignored", "a\x7f" "b" + E("[1\x7f" ";5H") + "c"},
        {"a control character inside a sequence", "A" + E("[2\bC") + "B" + E("[\r3C") + "C"},
        {"sgr: bold, reverse, underline, reset", "a" + E("[1mb") + E("[7mc") + E("[4md") + E("[0me") + E("[1;4;7mf") +
                                                     E("[mg") + E("[7;mh")},
        {"save and restore caret and attributes", E("[1m") + "a" + E("7") + E("[m") + E("[5;5H") + "b" + E("8") + "c"},
        {"tabs: set and clear", "\tA" + E("[1;5H") + E("H") + "\r\tB" + E("[g") + "\r\tC" + E("[1;9H") + E("[0g") + "\r\t\tD"},
        {"backspace and carriage return", "abc\b\bX\rY"},
    };
    for (const Case& c : cases) {
        std::string report;
        EXPECT_EQ(Differences(c.bytes, report), 0) << c.what << "\n" << report;
    }
}

std::string Capture(const std::string& name)
{
    std::ifstream file(std::string(TARNBY_CAPTURES) + "/" + name + ".vt", std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// Compared at every 256 bytes, so the screens on the way count too.
TEST(TerminalReference, RecordedProgramsAsAVt100Shows)
{
    for (const char* name : {"vim", "less", "top", "dialog", "vttest"}) {
        const std::string bytes = Capture(name);
        ASSERT_GT(bytes.size(), 500u) << name;
        Pair pair;
        int compared = 0;
        for (size_t at = 0; at < bytes.size(); at += 256) {
            pair.Feed(std::string_view(bytes).substr(at, 256));
            if (!pair.Comparable())
                continue;
            ++compared;
            std::string report;
            ASSERT_EQ(pair.Differences(report), 0) << name << " after " << std::min(at + 256, bytes.size())
                                                   << " bytes\n" << report;
        }
        EXPECT_GT(compared, 2) << name;
    }
}

} // namespace
#endif
