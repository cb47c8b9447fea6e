// A character terminal on a port: a screen of cells that the received text
// is written into (VT100 or VT52 control sequences applied through the
// escape-code parsers), typed characters and cursor keys sent to the port,
// and answers to the host's identification and cursor-position queries. It
// follows the port through a link, so received data reaches it without code
// in the port's handlers. TComTerminal adds nothing to TCustomComTerminal.
//
// The screen itself (cells, caret, modes) is a TComTermScreen, which works
// without a window. Received bytes change it at once; the control repaints
// at most once per display frame, only the rows that changed.
#pragma once

#include "tarnby/cport/cport.h"
#include "tarnby/cport/extras/escape_codes.h"
#include "tarnby/cport/extras/free_watch.h"
#include "tarnby/cport/extras/widgets/com_terminal_screen.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QTimer>

class QPainter;

#include <functional>
#include <memory>
#include <vector>

namespace tarnby {

enum TTermEmulation : uint8_t { teVT100orANSI, teVT52, teNone };
enum TTermCaret : uint8_t { tcBlock, tcUnderline, tcNone };
enum TArrowKeys : uint8_t { akTerminal, akWindows };

using TChScreenEvent = std::function<void(TCustomComTerminal* sender, char ch)>;
using TEscapeEvent = std::function<void(TCustomComTerminal* sender, std::unique_ptr<TEscapeCodes>& escape_codes)>;
using TStrRecvEvent = std::function<void(TCustomComTerminal* sender, std::string& str)>;
using TUnhandledEvent = std::function<void(TCustomComTerminal* sender, TEscapeCode code, const std::string& data)>;

class TARNBY_CPORT_EXPORT TCustomComTerminal : public QAbstractScrollArea {
public:
    explicit TCustomComTerminal(QWidget* parent = nullptr);
    ~TCustomComTerminal() override;

    // ---- properties
    TCustomComPort* ComPort() const { return port_.Port(); }
    void SetComPort(TCustomComPort* port);
    bool Connected() const { return port_.Port() != nullptr && port_.Port()->Connected(); }
    void SetConnected(bool value);
    int Columns() const { return screen_.Columns(); }
    // Limited to 2..256; clears the screen, also when unchanged.
    void SetColumns(int value);
    int Rows() const { return screen_.Rows(); }
    // Limited to 2..100; clears the screen, also when unchanged.
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
    // A VT100's auto wrap: a character written into the last column leaves
    // the caret there until the next printable character, which wraps first.
    bool WrapLines() const { return screen_.WrapLines(); }
    void SetWrapLines(bool value) { screen_.SetWrapLines(value); }
    bool WantTab() const { return want_tab_; }
    void SetWantTab(bool value) { want_tab_ = value; }
    bool SmoothScroll() const { return smooth_scroll_; }
    void SetSmoothScroll(bool value);
    // Bold text is drawn in this colour and in the bold weight of the font.
    QColor AltColor() const { return screen_.AltColor(); }
    void SetAltColor(QColor value) { screen_.SetAltColor(value); }
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
    TComTermBuffer& Buffer() { return screen_.Buffer(); }
    TComTermScreen& Screen() { return screen_; }
    int CaretColumn() const { return screen_.CaretColumn(); }
    int CaretRow() const { return screen_.CaretRow(); }
    TEscapeCodes* EscapeCodes() { return screen_.EscapeCodes().get(); }
    bool AppCursorKeys() const { return screen_.AppCursorKeys(); }
    // Frames painted so far: one per display frame at most, however fast
    // bytes arrive.
    int FramesRequested() const { return frames_; }
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
    void Receive(const char* bytes, int count);
    void CreateEscapeCodes();
    void SendText(const std::string& text);
    void UpdateScrollRanges();
    void SizeChanged();
    int LeftColumn() const;
    int TopRow() const;
    void ScheduleFrame();
    void BindOnChar();
    void Frame();
    QRect RowRect(int row) const;
    void PaintRow(QPainter& p, int row, int left, int last_column, int y);

    TTermEmulation emulation_ = teVT100orANSI;
    TTermCaret caret_ = tcBlock;
    TArrowKeys arrow_keys_ = akTerminal;
    bool local_echo_ = false;
    bool send_lf_ = false;
    bool append_lf_ = false;
    bool force_7bit_ = false;
    bool want_tab_ = false;
    bool smooth_scroll_ = false;
    QColor color_{Qt::black};
    QColor font_color_{Qt::white};

    TComTermScreen screen_;
    TComLink link_;
    TPortFollower port_{link_};
    int cell_width_ = 8, cell_height_ = 16;
    QFont bold_font_;
    int ascent_ = 12;
    bool painting_bold_ = false;
    bool has_caret_ = false;
    bool size_changed_ = false;
    QTimer frame_timer_;
    int frames_ = 0;
    int painted_caret_column_ = 0, painted_caret_row_ = 0;
};

class TARNBY_CPORT_EXPORT TComTerminal : public TCustomComTerminal {
public:
    using TCustomComTerminal::TCustomComTerminal;
};

} // namespace tarnby
