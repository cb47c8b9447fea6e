// The terminal's screen without a window: cells, caret, attributes, modes,
// scrolling region, character sets and the pending wrap, changed by received
// bytes through the escape-code parsers. The terminal control paints it; the
// tests, the fuzzer and the benchmarks drive it on its own.
//
// Positions are 1-based: column 1..Columns, row 1..Rows. A cell holds one
// byte, shown as its Latin-1 character (or, from the DEC special graphics
// set, the line or symbol it stands for); 0 is an empty cell.
#pragma once

#include "tarnby/cport/extras/escape_codes.h"

#include <QColor>

#include <functional>
#include <memory>
#include <type_traits>
#include <vector>

namespace tarnby {

enum TAdvanceCaret : uint8_t { acChar, acReturn, acLineFeed, acReverseLineFeed, acTab, acBackspace };

// Trivially copyable (QColor is), so rows are copied and cleared as bytes.
struct TTermChar {
    char Ch = 0;
    QColor FrontColor;
    QColor BackColor;
    bool Underline = false;
    bool Bold = false;
    bool Reverse = false;
    // Written while the DEC special graphics set was in use: Ch is drawn as
    // the line or symbol it stands for there.
    bool Graphics = false;
};
static_assert(std::is_trivially_copyable_v<TTermChar>);

// The character a cell shows: its byte as Latin-1, or for a graphics cell
// the box-drawing or symbol character of the DEC special graphics set.
TARNBY_CPORT_EXPORT char16_t TermCharToUnicode(const TTermChar& cell);

class TCustomComTerminal;

class TARNBY_CPORT_EXPORT TComTermBuffer {
public:
    TComTermBuffer() = default;
    explicit TComTermBuffer(TCustomComTerminal*) {}

    // Columns x Rows empty cells, tab stops at columns 1, 9, 17, ...
    void Init(int columns, int rows);
    int Columns() const { return columns_; }
    int Rows() const { return rows_; }
    // Positions outside the screen are ignored (read as an empty cell).
    void SetChar(int column, int row, const TTermChar& cell)
    {
        if (!Inside(column, row))
            return;
        cells_[Index(column, row)] = cell;
        DamageRow(row);
    }
    TTermChar GetChar(int column, int row) const;
    // The cell to write at (column, row), its row marked changed; nullptr
    // outside the screen.
    TTermChar* Cell(int column, int row)
    {
        if (!Inside(column, row))
            return nullptr;
        DamageRow(row);
        return &cells_[Index(column, row)];
    }
    const TTermChar* Row(int row) const { return &cells_[Index(1, row)]; }
    // Rows 2..Rows up one, the last row emptied.
    void ScrollDown() { ScrollDown(1, rows_); }
    // Rows 1..Rows-1 down one, row 1 emptied.
    void ScrollUp() { ScrollUp(1, rows_); }
    // The same within rows top..bottom only.
    void ScrollDown(int top, int bottom);
    void ScrollUp(int top, int bottom);
    // From (column, row) to the end of the row, or of the screen.
    void EraseLine(int column, int row);
    void EraseScreen(int column, int row);
    // From the start of the row, or of the screen, to (column, row).
    void EraseLineTo(int column, int row);
    void EraseScreenTo(int column, int row);
    bool GetTab(int column) const;
    void SetTab(int column, bool on);
    // The first tab stop at or after column, or 0 when there is none.
    int NextTab(int column) const;
    void ClearAllTabs();
    // The last column holding a character, 0 for an empty row.
    int GetLineLength(int row) const;
    // The last row holding a character, 0 for an empty screen.
    int GetLastLine() const;

    // Rows changed since the damage was last taken; OnDamage is called when
    // the first row of a clean screen changes (to ask for a frame).
    bool RowDamaged(int row) const { return row >= 1 && row <= rows_ && dirty_[static_cast<size_t>(row - 1)] != 0; }
    bool Damaged() const { return damaged_; }
    void Damage(int first_row, int last_row);
    void ClearDamage();
    std::function<void()> OnDamage;

private:
    // Rows are placed through lines_, so scrolling moves row numbers, not cells.
    size_t Index(int column, int row) const
    {
        return static_cast<size_t>(lines_[static_cast<size_t>(row - 1)]) * static_cast<size_t>(columns_) +
               static_cast<size_t>(column - 1);
    }
    void ClearCells(int row, int first_column, int last_column);
    bool Inside(int column, int row) const { return column >= 1 && column <= columns_ && row >= 1 && row <= rows_; }
    void DamageRow(int row)
    {
        if (dirty_[static_cast<size_t>(row - 1)] != 0)
            return;
        dirty_[static_cast<size_t>(row - 1)] = 1;
        if (!damaged_) {
            damaged_ = true;
            if (OnDamage)
                OnDamage();
        }
    }

    int columns_ = 0;
    int rows_ = 0;
    std::vector<TTermChar> cells_;
    std::vector<TTermChar> blank_; // one empty row
    std::vector<int> lines_;
    std::vector<uint8_t> tabs_;
    std::vector<uint8_t> dirty_;
    bool damaged_ = false;
};

class TARNBY_CPORT_EXPORT TComTermScreen {
public:
    TComTermScreen();

    // Both clear the screen, home the caret and reset the scrolling region,
    // also when the size does not change. Limited to 2..256 and 2..100.
    void SetSize(int columns, int rows);
    int Columns() const { return buffer_.Columns(); }
    int Rows() const { return buffer_.Rows(); }
    bool WrapLines() const { return wrap_lines_; }
    void SetWrapLines(bool value);
    // Colours of new cells: AltColor for bold text, Color the background,
    // FontColor the text.
    QColor AltColor() const { return alt_color_; }
    void SetAltColor(QColor value)
    {
        alt_color_ = value;
        ResetAttributes();
    }
    QColor Color() const { return color_; }
    QColor FontColor() const { return font_color_; }
    void SetColors(QColor font, QColor back);

    // The parser received bytes go through; none: every byte is a character.
    std::unique_ptr<TEscapeCodes>& EscapeCodes() { return escape_codes_; }

    void ClearScreen();
    void MoveCaret(int column, int row);
    void Write(const void* buffer, int count);
    void PutChar(char ch);
    bool PutEscapeCode(TEscapeCode code, const TStrings* params);
    void AdvanceCaret(TAdvanceCaret kind);

    TComTermBuffer& Buffer() { return buffer_; }
    const TComTermBuffer& Buffer() const { return buffer_; }
    int CaretColumn() const { return caret_column_; }
    int CaretRow() const { return caret_row_; }
    // Scrolling region, 1-based rows top < bottom.
    int RegionTop() const { return top_; }
    int RegionBottom() const { return bottom_; }
    bool OriginMode() const { return origin_; }
    // A character written into the last column with WrapLines on: the next
    // printable character goes to the next line first.
    bool PendingWrap() const { return pending_wrap_; }
    bool AppCursorKeys() const { return app_cursor_keys_; }

    // A character was handled (every one PutChar sees).
    std::function<void(char ch)> OnChar;
    // A code the screen does not act on, with the collected sequence text.
    std::function<void(TEscapeCode code, const std::string& data)> OnUnhandledCode;
    // An answer to the host (identification, status, caret position).
    std::function<void(TEscapeCode code, const TStrings* params)> OnReply;
    // The size changed through a mode (ESC [ ? 3 h/l).
    std::function<void()> OnResize;

private:
    struct Attributes {
        bool reverse = false, bold = false, underline = false;
        QColor front, back;
    };
    struct Saved {
        int column = 1, row = 1;
        Attributes attributes;
        bool origin = false;
        bool graphics[2] = {false, false};
        int shift = 0;
    };
    void ResetAttributes();
    void UpdatePen();
    void ResetModes();
    void SetAttributes(const TStrings* params);
    void SetMode(const TStrings* params, bool on);
    void CursorHome(int row, int column);
    // A run of plain characters (no control character, no DEL): each as
    // PutChar puts it.
    void PutPlain(const char* text, int count);
    void Reply(TEscapeCode code, const TStrings* params);

    TComTermBuffer buffer_;
    std::unique_ptr<TEscapeCodes> escape_codes_;
    bool wrap_lines_ = false;
    QColor alt_color_{166, 166, 166};
    QColor color_{Qt::black};
    QColor font_color_{Qt::white};
    int caret_column_ = 1, caret_row_ = 1;
    bool pending_wrap_ = false;
    int top_ = 1, bottom_ = 1;
    bool origin_ = false;
    bool graphics_[2] = {false, false}; // G0, G1 hold the DEC special graphics set
    int shift_ = 0;                     // 0: G0 in use (SI), 1: G1 (SO)
    bool app_cursor_keys_ = false;
    Attributes attributes_;
    TTermChar pen_; // a cell as the attributes make it, but for its character
    Saved saved_; // ESC 7 saves all of it, ESC [ s the caret only
};

} // namespace tarnby
