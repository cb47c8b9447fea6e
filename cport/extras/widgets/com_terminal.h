// A character terminal on a port: a screen of cells that the received text
// is written into (VT100 or VT52 control sequences applied through the
// escape-code parsers), typed characters and cursor keys sent to the port,
// and answers to the host's identification and cursor-position queries. It
// follows the port through a link, so received data reaches it without code
// in the port's handlers. TComTerminal adds nothing to TCustomComTerminal.
//
// Positions are 1-based: column 1..Columns, row 1..Rows. A cell holds one
// byte, shown as its Latin-1 character; 0 is an empty cell.
#pragma once

#include "tarnby/cport/cport.h"
#include "tarnby/cport/extras/escape_codes.h"
#include "tarnby/cport/extras/free_watch.h"

#include <QAbstractScrollArea>
#include <QColor>

#include <functional>
#include <memory>
#include <vector>

namespace tarnby {

enum TTermEmulation : uint8_t { teVT100orANSI, teVT52, teNone };
enum TTermCaret : uint8_t { tcBlock, tcUnderline, tcNone };
enum TArrowKeys : uint8_t { akTerminal, akWindows };
enum TAdvanceCaret : uint8_t { acChar, acReturn, acLineFeed, acReverseLineFeed, acTab, acBackspace };

struct TTermChar {
    char Ch = 0;
    QColor FrontColor;
    QColor BackColor;
    bool Underline = false;
};

class TCustomComTerminal;

class TARNBY_CPORT_EXPORT TComTermBuffer {
public:
    explicit TComTermBuffer(TCustomComTerminal* terminal) : terminal_(terminal) {}

    // Columns x Rows empty cells, tab stops at columns 1, 9, 17, ...
    void Init(int columns, int rows);
    int Columns() const { return columns_; }
    int Rows() const { return rows_; }
    // Positions outside the screen are ignored (read as an empty cell).
    void SetChar(int column, int row, const TTermChar& cell);
    TTermChar GetChar(int column, int row) const;
    // Rows 2..Rows up one, the last row emptied.
    void ScrollDown();
    // Rows 1..Rows-1 down one, row 1 emptied.
    void ScrollUp();
    // From (column, row) to the end of the row, or of the screen.
    void EraseLine(int column, int row);
    void EraseScreen(int column, int row);
    bool GetTab(int column) const;
    void SetTab(int column, bool on);
    // The first tab stop at or after column, or 0 when there is none.
    int NextTab(int column) const;
    void ClearAllTabs();
    // The last column holding a character, 0 for an empty row.
    int GetLineLength(int row) const;
    // The last row holding a character, 0 for an empty screen.
    int GetLastLine() const;

private:
    size_t Index(int column, int row) const
    {
        return static_cast<size_t>(row - 1) * static_cast<size_t>(columns_) + static_cast<size_t>(column - 1);
    }
    bool Inside(int column, int row) const { return column >= 1 && column <= columns_ && row >= 1 && row <= rows_; }

    TCustomComTerminal* terminal_;
    int columns_ = 0;
    int rows_ = 0;
    std::vector<TTermChar> cells_;
    std::vector<uint8_t> tabs_;
};

using TChScreenEvent = std::function<void(TCustomComTerminal* sender, char ch)>;
using TEscapeEvent = std::function<void(TCustomComTerminal* sender, std::unique_ptr<TEscapeCodes>& escape_codes)>;
using TStrRecvEvent = std::function<void(TCustomComTerminal* sender, std::string& str)>;
using TUnhandledEvent = std::function<void(TCustomComTerminal* sender, TEscapeCode code, const std::string& data)>;

class TARNBY_CPORT_EXPORT TCustomComTerminal : public QAbstractScrollArea {
public:
    explicit TCustomComTerminal(QWidget* parent = nullptr);
    ~TCustomComTerminal() override;

    // ---- properties
    TCustomComPort* ComPort() const { return port_; }
    void SetComPort(TCustomComPort* port);
    bool Connected() const { return port_ != nullptr && port_->Connected(); }
    void SetConnected(bool value);
    int Columns() const { return columns_; }
    // Limited to 2..256; clears the screen.
    void SetColumns(int value);
    int Rows() const { return rows_; }
    // Limited to 2..100; clears the screen.
    void SetRows(int value);
    TTermEmulation Emulation() const { return emulation_; }
    void SetEmulation(TTermEmulation value);
    TTermCaret Caret() const { return caret_; }
    void SetCaret(TTermCaret value);
    TArrowKeys ArrowKeys() const { return arrow_keys_; }
    void SetArrowKeys(TArrowKeys value) { arrow_keys_ = value; }
    bool LocalEcho() const { return local_echo_; }
    void SetLocalEcho(bool value) { local_echo_ = value; }
    bool SendLF() const { return send_lf_; }
    void SetSendLF(bool value) { send_lf_ = value; }
    bool AppendLF() const { return append_lf_; }
    void SetAppendLF(bool value) { append_lf_ = value; }
    // Received bytes lose their eighth bit.
    bool Force7Bit() const { return force_7bit_; }
    void SetForce7Bit(bool value) { force_7bit_ = value; }
    bool WrapLines() const { return wrap_lines_; }
    void SetWrapLines(bool value) { wrap_lines_ = value; }
    bool WantTab() const { return want_tab_; }
    void SetWantTab(bool value) { want_tab_ = value; }
    bool SmoothScroll() const { return smooth_scroll_; }
    void SetSmoothScroll(bool value);
    QColor AltColor() const { return alt_color_; }
    void SetAltColor(QColor value) { alt_color_ = value; }
    // The control's colour (background) and the font colour (text).
    QColor Color() const { return color_; }
    void SetColor(QColor value);
    QColor FontColor() const { return font_color_; }
    void SetFontColor(QColor value);
    // A font without fixed pitch is replaced by the default font's family;
    // underline is a cell attribute, so it is taken off the font.
    void SetTermFont(QFont font);
    static QFont DefaultFont();

    TChScreenEvent OnChar;
    TEscapeEvent OnGetEscapeCodes;
    TStrRecvEvent OnStrRecieved;
    TUnhandledEvent OnUnhandledCode;

    // ---- operations
    void ClearScreen();
    void MoveCaret(int column, int row);
    void Write(const void* buffer, int count);
    void WriteStr(const std::string& str);
    void WriteEscCode(TEscapeCode code, const TStrings* params);
    // Rows 1..GetLastLine, each up to its length (empty cells as blanks),
    // CR LF between rows; nothing for an empty screen.
    void SaveToStream(TStream& stream);
    // Every byte put on the screen as it is, control sequences not read.
    void LoadFromStream(TStream& stream);
    // The font dialog; the chosen font is taken when confirmed.
    void SelectFont();
    // The settings dialog; true when confirmed.
    bool ShowSetupDialog();
    void SendChar(char ch);
    void SendCode(TEscapeCode code, const TStrings* params);
    void SendCodeNoEcho(TEscapeCode code, const TStrings* params);
    void PutChar(char ch);
    bool PutEscapeCode(TEscapeCode code, const TStrings* params);
    void AdvanceCaret(TAdvanceCaret kind);

    // ---- state, for the program and tests
    TComTermBuffer& Buffer() { return buffer_; }
    int CaretColumn() const { return caret_column_; }
    int CaretRow() const { return caret_row_; }
    TEscapeCodes* EscapeCodes() const { return escape_codes_.get(); }
    bool AppCursorKeys() const { return app_cursor_keys_; }
    QSize CellSize() const { return {cell_width_, cell_height_}; }
    // The size that shows every cell without scroll bars.
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    struct Attributes {
        bool reverse = false, bold = false, underline = false;
        QColor front, back;
    };
    void Receive(const char* bytes, int count);
    void CreateEscapeCodes();
    void SetAttributes(const TStrings* params);
    void SetMode(const TStrings* params, bool on);
    void ResetAttributes();
    void SendText(const std::string& text);
    void UpdateScrollRanges();
    void InitBuffer();
    int LeftColumn() const;
    int TopRow() const;
    void Detach();

    TCustomComPort* port_ = nullptr;
    int columns_ = 80;
    int rows_ = 24;
    TTermEmulation emulation_ = teVT100orANSI;
    TTermCaret caret_ = tcBlock;
    TArrowKeys arrow_keys_ = akTerminal;
    bool local_echo_ = false;
    bool send_lf_ = false;
    bool append_lf_ = false;
    bool force_7bit_ = false;
    bool wrap_lines_ = false;
    bool want_tab_ = false;
    bool smooth_scroll_ = false;
    QColor alt_color_{166, 166, 166};
    QColor color_{Qt::black};
    QColor font_color_{Qt::white};

    std::unique_ptr<TEscapeCodes> escape_codes_;
    TComTermBuffer buffer_{this};
    TComLink link_;
    TFreeWatch watch_;
    int caret_column_ = 1, caret_row_ = 1;
    int saved_column_ = 1, saved_row_ = 1;
    int cell_width_ = 8, cell_height_ = 16;
    Attributes attributes_;
    Attributes saved_attributes_;
    bool app_cursor_keys_ = false;
    bool has_caret_ = false;
};

class TARNBY_CPORT_EXPORT TComTerminal : public TCustomComTerminal {
public:
    using TCustomComTerminal::TCustomComTerminal;
};

} // namespace tarnby
