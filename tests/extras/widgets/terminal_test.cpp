// The terminal control: received bytes in, screen cells and caret out; keys
// in, bytes to the port out; what it paints; and a real shell behind a
// pseudo-terminal.
#include "tarnby/cport/extras/widgets/com_terminal.h"
#include "tarnby/cport/extras/widgets/com_terminal_setup.h"
#include "tarnby/cport/extras/free_watch.h"
#include "extras_support.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarnby;

namespace {

std::string Row(TCustomComTerminal& t, int row)
{
    std::string text;
    for (int c = 1; c <= t.Columns(); ++c) {
        char ch = t.Buffer().GetChar(c, row).Ch;
        text += ch == 0 ? ' ' : ch;
    }
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

// The screen as "row|row|row", trailing empty rows left out.
std::string Screen(TCustomComTerminal& t)
{
    std::string screen;
    const int last = t.Buffer().GetLastLine();
    for (int r = 1; r <= last; ++r) {
        if (r > 1)
            screen += '|';
        screen += Row(t, r);
    }
    return screen;
}

std::string E(const std::string& rest) { return "\x1b" + rest; }

TEST(Terminal, WritingPutsCellsAndMovesTheCaret)
{
    struct Case {
        const char* what;
        int columns, rows;
        bool wrap;
        std::string input;
        std::string screen;
        int caret_column, caret_row;
    };
    const std::string eighty(80, 'x');
    const Case cases[] = {
        {"CR LF", 80, 24, false, "AB\r\n", "AB", 1, 2},
        {"81 characters without wrap overwrite the last column", 80, 24, false, eighty + "y", std::string(79, 'x') + "y",
         80, 1},
        {"81 characters with wrap", 80, 24, true, eighty + "y", eighty + "|y", 2, 2},
        {"wrap in the last row scrolls", 4, 2, true, "abcdefghi", "efgh|i", 2, 2},
        {"line feed in the last row scrolls", 10, 3, false, "1\r\n2\r\n3\n", "2|3", 2, 3},
        {"form feed is a line feed", 10, 3, false, "a\fb", "a| b", 3, 2},
        {"tab stops every eight columns", 20, 2, false, "\tX\tY", "        X       Y", 18, 1},
        {"backspace moves back and erases nothing", 10, 2, false, "ab\bc\b\b\b\b", "ac", 1, 1},
        {"control characters are not shown", 10, 2, false, std::string("a\x01\x07\x1f", 4) + "b", "ab", 3, 1},
        {"CUP row;column", 20, 10, false, E("[5;10H") + "*", "||||         *", 11, 5},
        {"CUP without parameters is home", 20, 10, false, "abc" + E("[H") + "X", "Xbc", 2, 1},
        {"cursor moves are limited to the screen", 10, 5, false, E("[99B") + E("[99C") + "Z" + E("[99A") + E("[99D") + "A",
         "A||||         Z", 2, 1},
        {"ED from the caret", 10, 3, false, "aaaa\r\nbbbb\r\ncccc" + E("[2;3H") + E("[J"), "aaaa|bb", 3, 2},
        {"ED whole screen homes", 10, 3, false, "aaaa\r\nbbbb" + E("[2J"), "", 1, 1},
        {"EL from the caret and whole", 10, 3, false, "abcd" + E("[1;3H") + E("[K") + "\r\nefgh" + E("[2K"), "ab", 1, 2},
        {"save and restore the caret", 10, 3, false, "ab" + E("7") + "\r\ncd" + E("8") + "Z", "abZ|cd", 4, 1},
        {"reverse index in row 1 scrolls down", 10, 3, false, "top" + E("M"), "|top", 4, 1},
        {"DECALN fills with E", 3, 2, false, E("#8"), "EEE|EEE", 1, 1},
        {"DECAWM on by a mode", 4, 3, false, E("[?7h") + "abcde", "abcd|e", 2, 2},
        {"132 columns by a mode clears", 10, 3, false, "abc" + E("[?3h"), "", 1, 1},
        {"a tab stop set and all cleared", 20, 2, false, E("[1;5H") + E("H") + "\r\tA" + E("[3g") + "\r\tB", "B   A", 2, 1},
        // As a VT100 does.
        {"a full line then CR LF leaves no blank line", 80, 24, true, eighty + "\r\ny", eighty + "|y", 2, 2},
        {"the wrap waits at the last column", 4, 2, true, "abcd", "abcd", 4, 1},
        {"CR cancels the pending wrap", 4, 2, true, "abcd\rX", "Xbcd", 2, 1},
        {"a cursor move cancels the pending wrap", 4, 2, true, "abcd" + E("[D") + "X", "abXd", 4, 1},
        {"DECAWM off", 4, 3, true, E("[?7l") + "abcde", "abce", 4, 1},
        {"line feed scrolls only the region", 10, 5, false, "1\r\n2\r\n3\r\n4\r\n5" + E("[2;4r") + E("[4;1H") + "\nX",
         "1|3|4|X|5", 2, 4},
        {"reverse index at the region's top", 10, 5, false, "1\r\n2\r\n3\r\n4\r\n5" + E("[2;4r") + E("[2;1H") + E("M"),
         "1||2|3|5", 1, 2},
        {"setting the region homes the caret", 10, 5, false, "ab" + E("[2;4r"), "ab", 1, 1},
        {"a region of one row is refused", 10, 5, false, E("[3;3r") + E("[5;1H") + "\n", "", 1, 5},
        {"origin mode counts rows in the region", 10, 5, false, E("[2;4r") + E("[?6h") + E("[1;1H") + "X" + E("[9;1H") + "Y",
         "|X||Y", 2, 4},
        {"cursor up and down stop at the region's margins", 10, 12, false,
         E("[5;10r") + E("[7;7H") + E("[20A") + "U" + E("[20B") + "D", "||||      U|||||       D", 9, 10},
        {"IND and NEL", 10, 3, false, "ab" + E("D") + "c" + E("E") + "d", "ab|  c|d", 2, 3},
        {"erase to the caret in the line", 10, 2, false, "abcdef" + E("[1;3H") + E("[1K"), "   def", 3, 1},
        {"erase to the caret on the screen", 10, 3, false, "aaaa\r\nbbbb\r\ncccc" + E("[2;2H") + E("[1J"), "|  bb|cccc", 2, 2},
        {"an empty parameter takes its default", 10, 2, false, E("[;5H") + "*", "    *", 6, 1},
        {"a count of 0 moves by one", 10, 3, false, E("[2;2H") + E("[0A") + "*", " *", 3, 1},
        {"DEC graphics by designator and by SO/SI keep the byte", 10, 2, false,
         E("(0") + "lqk" + E("(B") + "q" + E(")0") + "\x0ex\x0fx", "lqkqxx", 7, 1},
        {"DEL is not shown", 10, 2, false, "a\x7f" "b", "ab", 3, 1},
        {"CAN abandons a sequence", 10, 2, false, E("[5") + "\x18" "H", "H", 2, 1},
        {"a control character inside a sequence acts", 10, 3, false, "ab" + E("[\n2C") + "x", "ab|    x", 6, 2},
        {"an unknown final byte eats nothing", 10, 2, false, E("[2~") + "x", "x", 2, 1},
    };
    for (const Case& c : cases) {
        TComTerminal t;
        t.SetColumns(c.columns);
        t.SetRows(c.rows);
        t.SetWrapLines(c.wrap);
        t.WriteStr(c.input);
        EXPECT_EQ(Screen(t), c.screen) << c.what;
        EXPECT_EQ(t.CaretColumn(), c.caret_column) << c.what;
        EXPECT_EQ(t.CaretRow(), c.caret_row) << c.what;
    }
    // ESC [ ? 3 h switched to 132 columns.
    TComTerminal wide;
    wide.WriteStr(E("[?3h"));
    EXPECT_EQ(wide.Columns(), 132);
}

TEST(Terminal, Vt52CursorAddressAndUnhandledCodes)
{
    TComTerminal t;
    t.SetEmulation(teVT52);
    std::vector<std::string> unhandled;
    t.OnUnhandledCode = [&](TCustomComTerminal*, TEscapeCode code, const std::string& data) {
        unhandled.push_back(std::string(EscapeCodeName(code)) + " " + data);
    };
    t.WriteStr(E("Y\x2b\x47") + "v" + E("Q"));
    EXPECT_EQ(t.Buffer().GetChar(40, 12).Ch, 'v');
    EXPECT_EQ(unhandled, std::vector<std::string>{"ecUnknown Q"});
}

TEST(Terminal, AttributesChooseTheCellColours)
{
    TComTerminal t;
    t.WriteStr("a" + E("[1;7m") + "b" + E("[0m") + "c" + E("[4m") + "d" + E("[24m") + E("[7m") + "e" + E("[27m") + "f");
    const QColor font = t.FontColor(), back = t.Color();
    struct Expect {
        int column;
        QColor front, back;
        bool underline;
    };
    const Expect expected[] = {
        {1, font, back, false}, {2, t.AltColor(), font, false}, {3, font, back, false},
        {4, font, back, true},  {5, back, font, false},         {6, font, back, false},
    };
    for (const Expect& e : expected) {
        TTermChar cell = t.Buffer().GetChar(e.column, 1);
        EXPECT_EQ(cell.FrontColor, e.front) << e.column;
        EXPECT_EQ(cell.BackColor, e.back) << e.column;
        EXPECT_EQ(cell.Underline, e.underline) << e.column;
        EXPECT_EQ(cell.Bold, e.column == 2) << e.column;
        EXPECT_EQ(cell.Reverse, e.column == 2 || e.column == 5) << e.column;
    }
    // An empty parameter is 0: ESC [ ; 1 m resets, then sets bold.
    t.WriteStr(E("[4;7m") + E("[;1m") + "g");
    const TTermChar g = t.Buffer().GetChar(7, 1);
    EXPECT_TRUE(g.Bold && !g.Underline && !g.Reverse);
}

TEST(Terminal, GraphicsCellsShowTheirLines)
{
    TComTerminal t;
    t.WriteStr(E("(0") + "lqkx~_" + E("(B") + "q");
    const std::u16string expected = u"\u250C\u2500\u2510\u2502\u00B7\u00A0q";
    for (int c = 1; c <= 7; ++c)
        EXPECT_EQ(TermCharToUnicode(t.Buffer().GetChar(c, 1)), expected[static_cast<size_t>(c - 1)]) << c;
}

TEST(Terminal, SavesRowsUpToTheLastAndLoadsBytesAsTheyAre)
{
    TComTerminal t;
    TStringStream empty;
    t.SaveToStream(empty);
    EXPECT_EQ(empty.DataString(), "");

    t.WriteStr(E("[3;2H") + "abc");
    TStringStream third;
    t.SaveToStream(third);
    EXPECT_EQ(third.DataString(), "\r\n\r\n abc");

    TComTerminal loaded;
    TStringStream in("x" + E("[2J") + "y");
    loaded.LoadFromStream(in);
    EXPECT_EQ(Screen(loaded), "x[2Jy"); // ESC itself is not shown, nothing interpreted
}

TEST(Terminal, ColumnsAndRowsAreLimited)
{
    TComTerminal t;
    const std::pair<int, int> columns[] = {{300, 256}, {1, 2}, {132, 132}};
    for (auto [set, got] : columns) {
        t.SetColumns(set);
        EXPECT_EQ(t.Columns(), got);
    }
    const std::pair<int, int> rows[] = {{1, 2}, {300, 100}, {50, 50}};
    for (auto [set, got] : rows) {
        t.SetRows(set);
        EXPECT_EQ(t.Rows(), got);
    }
    // Setting the size clears the screen also when it does not change.
    const std::function<void(TComTerminal&)> same_size[] = {
        [](TComTerminal& u) { u.SetColumns(u.Columns()); },
        [](TComTerminal& u) { u.SetRows(u.Rows()); },
        [](TComTerminal& u) { u.WriteStr(E("[?3l")); },
    };
    for (const auto& set : same_size) {
        TComTerminal u;
        u.WriteStr("abc\r\ndef");
        set(u);
        EXPECT_EQ(u.Buffer().GetLastLine(), 0);
        EXPECT_EQ(u.CaretRow(), 1);
        EXPECT_EQ(u.Columns(), 80);
    }
}

// However fast the bytes come, the control asks for one paint per display
// frame at most (about 60 a second), and the screen is up to date at once.
TEST(Terminal, RepaintsAtMostOncePerFrame)
{
    TComTerminal t;
    t.resize(t.sizeHint());
    t.show();
    QElapsedTimer clock;
    clock.start();
    int pieces = 0;
    while (clock.elapsed() < 300) {
        t.WriteStr("line " + std::to_string(++pieces) + "\r\n");
        QCoreApplication::processEvents();
    }
    const qint64 elapsed = clock.elapsed();
    EXPECT_EQ(Row(t, 23), "line " + std::to_string(pieces));
    EXPECT_GT(pieces, 50);
    EXPECT_LE(t.FramesRequested(), elapsed / 16 + 2);
    EXPECT_GE(t.FramesRequested(), 1);
}

// Paints the terminal off screen and reads the cells back from the picture.
TEST(Terminal, PaintsEachCellInItsColours)
{
    TComTerminal t;
    t.SetColumns(10);
    t.SetRows(3);
    t.resize(t.sizeHint());
    t.WriteStr("#" + E("[7m") + "#" + E("[0m") + "\r\n" + E("[1m") + "#");
    QImage picture = t.viewport()->grab().toImage();
    if (const char* keep = std::getenv("TARNBY_KEEP_PICTURES"))
        picture.save(QString::fromLocal8Bit(keep) + "/terminal_cells.png");
    const QSize cell = t.CellSize();
    // Glyphs are smoothed, so their ink is judged by its brightest and
    // darkest pixels; backgrounds are solid.
    struct Cell {
        int background = 0, lightest = 0, darkest = 255;
    };
    auto cell_at = [&](int column, int row, QColor back) {
        Cell c;
        for (int y = (row - 1) * cell.height(); y < row * cell.height(); ++y)
            for (int x = (column - 1) * cell.width(); x < column * cell.width(); ++x) {
                QColor p = picture.pixelColor(x, y);
                c.background += p == back;
                c.lightest = std::max(c.lightest, p.lightness());
                c.darkest = std::min(c.darkest, p.lightness());
            }
        return c;
    };
    const int area = cell.width() * cell.height();
    // A plain "#": mostly background, ink up to the font colour (white).
    Cell plain = cell_at(1, 1, t.Color());
    EXPECT_GT(plain.background, area / 2);
    EXPECT_NEAR(plain.lightest, t.FontColor().lightness(), 3);
    // Reversed: filled with the font colour, the glyph in the background's.
    Cell reversed = cell_at(2, 1, t.FontColor());
    EXPECT_GT(reversed.background, area / 2);
    EXPECT_NEAR(reversed.darkest, t.Color().lightness(), 3);
    // Bold: ink in AltColor, never brighter, but heavier: more of the cell inked.
    Cell bold = cell_at(1, 2, t.Color());
    EXPECT_NEAR(bold.lightest, t.AltColor().lightness(), 3);
    EXPECT_LT(bold.background, plain.background);
    // An empty cell is all background.
    EXPECT_EQ(cell_at(5, 2, t.Color()).background, area);
}

// A full-screen program as the terminal program shows it: dialog's check
// list (recorded on an 80 x 24 vt100), its frame drawn in lines. With
// TARNBY_KEEP_PICTURES set, the picture is kept as terminal_dialog.png.
TEST(Terminal, PaintsAFullScreenProgramWithItsLines)
{
    std::ifstream file(std::string(TARNBY_CAPTURES) + "/dialog.vt", std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    ASSERT_FALSE(bytes.empty());
    TComTerminal t;
    t.SetWrapLines(true);
    t.resize(t.sizeHint());
    t.WriteStr(bytes);
    QImage picture = t.viewport()->grab().toImage();
    if (const char* keep = std::getenv("TARNBY_KEEP_PICTURES"))
        picture.save(QString::fromLocal8Bit(keep) + "/terminal_dialog.png");
    // The first horizontal line of the frame: a "q" of the graphics set.
    int column = 0, row = 0;
    for (int r = 1; r <= t.Rows() && row == 0; ++r)
        for (int c = 1; c <= t.Columns() && row == 0; ++c) {
            const TTermChar cell = t.Buffer().GetChar(c, r);
            if (cell.Graphics && cell.Ch == 'q')
                column = c, row = r;
        }
    ASSERT_GT(row, 0);
    // Drawn as a line across the whole cell: some pixel row of the cell is
    // ink from its left edge to its right, which no letter "q" is.
    const QSize cell = t.CellSize();
    const QColor back = picture.pixelColor((column - 1) * cell.width(), (row - 1) * cell.height() + 1);
    bool line = false;
    for (int y = (row - 1) * cell.height(); y < row * cell.height() && !line; ++y) {
        line = true;
        for (int x = (column - 1) * cell.width(); x < column * cell.width(); ++x)
            line = line && picture.pixelColor(x, y) != back;
    }
    EXPECT_TRUE(line);
}

class TerminalOnPort : public testing::Test {
protected:
    void SetUp() override
    {
        port.SetPort(far.Path());
        terminal.SetComPort(&port);
        port.Open();
    }
    void TearDown() override
    {
        terminal.SetComPort(nullptr);
        port.Close();
    }
    void Key(int key, const QString& text = {}, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
        QApplication::sendEvent(&terminal, &press);
        QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
        QApplication::sendEvent(&terminal, &release);
    }
    void Type(const std::string& text)
    {
        for (char c : text)
            Key(c == '\r' ? Qt::Key_Return : Qt::Key_unknown, QString(QChar(static_cast<unsigned char>(c))));
    }
    FarEnd far;
    TComPort port{nullptr};
    TComTerminal terminal;
};

TEST_F(TerminalOnPort, ReceivedTextIsShownAndQueriesAnswered)
{
    far.Send("hello\r\nworld" + E("[6n"));
    EXPECT_EQ(far.Receive(6), E("[2;6R"));
    EXPECT_EQ(Screen(terminal), "hello|world");
    far.Send(E("[c") + E("[5n") + E("[0c"));
    EXPECT_EQ(far.Receive(13), E("[?1;2c") + E("[0n") + E("[?1;2c"));
}

TEST_F(TerminalOnPort, ReceivingOptions)
{
    terminal.SetAppendLF(true);
    terminal.SetForce7Bit(true);
    std::string seen;
    terminal.OnStrRecieved = [&seen](TCustomComTerminal*, std::string& s) {
        seen += s;
        for (char& c : s)
            if (c == 'z')
                c = 'Z';
    };
    far.Send("a\rz\xE1");
    ASSERT_TRUE(PumpUntil([&] { return seen.size() == 5; }));
    EXPECT_EQ(seen, "a\r\nza");
    EXPECT_EQ(Screen(terminal), "a|Za");
}

TEST_F(TerminalOnPort, TypedKeysGoToThePort)
{
    Type("ls\r");
    EXPECT_EQ(far.Receive(3), "ls\r");
    Key(Qt::Key_Backspace, QStringLiteral("\b"));
    Key(Qt::Key_C, QStringLiteral("\x03"), Qt::ControlModifier);
    EXPECT_EQ(far.Receive(2), "\b\x03");

    terminal.SetSendLF(true);
    terminal.SetLocalEcho(true);
    Type("ok\r");
    EXPECT_EQ(far.Receive(4), "ok\r\n");
    EXPECT_EQ(Screen(terminal), "ok");
    EXPECT_EQ(terminal.CaretRow(), 2);
    terminal.SetLocalEcho(false);

    // Cursor keys: terminal codes, application codes once the host asks, or
    // only the local caret.
    Key(Qt::Key_Up);
    Key(Qt::Key_Home);
    EXPECT_EQ(far.Receive(6), E("[A") + E("[H"));
    far.Send(E("[?1h"));
    ASSERT_TRUE(PumpUntil([&] { return terminal.AppCursorKeys(); }));
    Key(Qt::Key_Left);
    Key(Qt::Key_Home); // nothing in this mode
    Key(Qt::Key_Down);
    EXPECT_EQ(far.Receive(6), E("OD") + E("OB"));
    far.Send(E("[?1l"));
    ASSERT_TRUE(PumpUntil([&] { return !terminal.AppCursorKeys(); }));
    terminal.SetArrowKeys(akWindows);
    terminal.MoveCaret(5, 5);
    Key(Qt::Key_Right);
    Key(Qt::Key_Up);
    EXPECT_EQ(terminal.CaretColumn(), 6);
    EXPECT_EQ(terminal.CaretRow(), 4);
    EXPECT_EQ(far.Receive(1, 300), "");
}

TEST_F(TerminalOnPort, TabMovesTheFocusUnlessWanted)
{
    terminal.SetWantTab(true);
    Key(Qt::Key_Tab, QStringLiteral("\t"));
    EXPECT_EQ(far.Receive(1), "\t");
    terminal.SetWantTab(false);
    Key(Qt::Key_Tab, QStringLiteral("\t"));
    EXPECT_EQ(far.Receive(1, 300), "");
}

TEST_F(TerminalOnPort, NothingIsSentWhileClosedAndADestroyedPortIsLetGo)
{
    port.Close();
    Type("x");
    EXPECT_EQ(far.Receive(1, 300), "");
    auto other = std::make_unique<TComPort>(nullptr);
    terminal.SetComPort(other.get());
    other.reset();
    EXPECT_EQ(terminal.ComPort(), nullptr);
    EXPECT_FALSE(terminal.Connected());
}

TEST(TerminalSetup, FieldsGoBackInOrderAndBadNumbersGiveDefaults)
{
    TComTerminal t;
    TComTermSetupDialog dialog;
    dialog.Load(t);
    EXPECT_EQ(dialog.Columns()->text(), "80");
    EXPECT_EQ(dialog.Emulation()->currentText(), "ANSI/VT100");
    dialog.LocalEcho()->setChecked(true);
    dialog.AppendLF()->setChecked(true);
    dialog.Caret()->setCurrentIndex(tcUnderline);
    dialog.Emulation()->setCurrentIndex(teVT52);
    dialog.Columns()->setText("forty");
    dialog.Rows()->setText("30");
    dialog.CursorKeys()->setCurrentIndex(akWindows);
    t.SetColumns(40);
    dialog.Store(t);
    EXPECT_TRUE(t.LocalEcho());
    EXPECT_TRUE(t.AppendLF());
    EXPECT_FALSE(t.SendLF());
    EXPECT_EQ(t.Caret(), tcUnderline);
    EXPECT_EQ(t.Emulation(), teVT52);
    EXPECT_NE(dynamic_cast<TEscapeCodesVT52*>(t.EscapeCodes()), nullptr);
    EXPECT_EQ(t.Columns(), 80);
    EXPECT_EQ(t.Rows(), 30);
    EXPECT_EQ(t.ArrowKeys(), akWindows);
}

// The modal dialog, answered by a click as a person would.
bool RunTerminalDialog(TComTerminal& t, QDialogButtonBox::StandardButton button,
                       const std::function<void(TComTermSetupDialog&)>& edit)
{
    QTimer::singleShot(0, [&] {
        auto* dialog = dynamic_cast<TComTermSetupDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), "Setup");
        edit(*dialog);
        if (const char* keep = std::getenv("TARNBY_KEEP_PICTURES"))
            dialog->grab().save(QString::fromLocal8Bit(keep) + "/terminal_settings.png");
        dialog->Buttons()->button(button)->click();
    });
    return t.ShowSetupDialog();
}

TEST(TerminalSetup, OkWritesAndCancelChangesNothing)
{
    TComTerminal t;
    EXPECT_FALSE(RunTerminalDialog(t, QDialogButtonBox::Cancel, [](TComTermSetupDialog& d) {
        d.WrapLines()->setChecked(true);
        d.Rows()->setText("10");
    }));
    EXPECT_FALSE(t.WrapLines());
    EXPECT_EQ(t.Rows(), 24);
    EXPECT_TRUE(RunTerminalDialog(t, QDialogButtonBox::Ok, [](TComTermSetupDialog& d) {
        d.WrapLines()->setChecked(true);
        d.Rows()->setText("10");
    }));
    EXPECT_TRUE(t.WrapLines());
    EXPECT_EQ(t.Rows(), 10);
}

// A real shell with TERM=vt100 behind a pseudo-terminal.
class ShellSession : public testing::Test {
protected:
    void SetUp() override
    {
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        shell_ = ::fork();
        ASSERT_GE(shell_, 0);
        if (shell_ == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::close(out[1]);
            ::setenv("PS1", "$ ", 1);
            ::execl(TARNBY_PTY_SHELL, TARNBY_PTY_SHELL, "--shell", "/bin/sh", "--term", "vt100", nullptr);
            ::_exit(127);
        }
        ::close(out[1]);
        char line[256] = {};
        FILE* from = ::fdopen(out[0], "r");
        ASSERT_NE(std::fgets(line, sizeof line, from), nullptr);
        std::fclose(from);
        std::string device = line;
        device.erase(device.find_last_not_of('\n') + 1);
        port.SetPort(device);
        terminal.SetWrapLines(true);
        terminal.SetComPort(&port);
        port.Open();
    }
    void TearDown() override
    {
        terminal.SetComPort(nullptr);
        port.Close();
        if (shell_ > 0) {
            ::kill(shell_, SIGTERM);
            ::waitpid(shell_, nullptr, 0);
        }
    }
    void Type(const std::string& text)
    {
        for (char c : text) {
            QKeyEvent press(QEvent::KeyPress, c == '\r' ? Qt::Key_Return : Qt::Key_unknown, Qt::NoModifier,
                            QString(QChar(c)));
            QApplication::sendEvent(&terminal, &press);
        }
    }
    bool ScreenHas(const std::string& text)
    {
        return PumpUntil([&] { return Screen(terminal).find(text) != std::string::npos; });
    }
    pid_t shell_ = -1;
    TComPort port{nullptr};
    TComTerminal terminal;
};

TEST_F(ShellSession, CommandsCursorAddressingAndClear)
{
    Type("echo one; echo two\r");
    ASSERT_TRUE(ScreenHas("one|two")) << Screen(terminal);
    Type("tput cup 9 30; echo here\r");
    ASSERT_TRUE(PumpUntil([&] { return Row(terminal, 10).find("here") == 30; })) << Screen(terminal);
    Type("printf 'ab\\bX\\n'\r");
    ASSERT_TRUE(ScreenHas("aX")) << Screen(terminal);
    Type("clear; echo cleared\r");
    ASSERT_TRUE(PumpUntil([&] { return Row(terminal, 1) == "cleared"; })) << Screen(terminal);
    EXPECT_EQ(Screen(terminal).find("one"), std::string::npos);
}

} // namespace
