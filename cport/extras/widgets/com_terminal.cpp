#include "tarnby/cport/extras/widgets/com_terminal.h"

#include "tarnby/cport/extras/widgets/com_terminal_setup.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace tarnby {

// ---- TComTermBuffer --------------------------------------------------------

void TComTermBuffer::Init(int columns, int rows)
{
    columns_ = columns;
    rows_ = rows;
    cells_.assign(static_cast<size_t>(columns) * static_cast<size_t>(rows), TTermChar{});
    tabs_.assign(static_cast<size_t>(columns), 0);
    for (int column = 1; column <= columns; column += 8)
        tabs_[static_cast<size_t>(column - 1)] = 1;
}

void TComTermBuffer::SetChar(int column, int row, const TTermChar& cell)
{
    if (Inside(column, row))
        cells_[Index(column, row)] = cell;
}

TTermChar TComTermBuffer::GetChar(int column, int row) const
{
    return Inside(column, row) ? cells_[Index(column, row)] : TTermChar{};
}

void TComTermBuffer::ScrollDown()
{
    if (rows_ < 1)
        return;
    std::move(cells_.begin() + columns_, cells_.end(), cells_.begin());
    std::fill(cells_.end() - columns_, cells_.end(), TTermChar{});
    if (terminal_ != nullptr)
        terminal_->viewport()->update();
}

void TComTermBuffer::ScrollUp()
{
    if (rows_ < 1)
        return;
    std::move_backward(cells_.begin(), cells_.end() - columns_, cells_.end());
    std::fill(cells_.begin(), cells_.begin() + columns_, TTermChar{});
    if (terminal_ != nullptr)
        terminal_->viewport()->update();
}

void TComTermBuffer::EraseLine(int column, int row)
{
    if (row < 1 || row > rows_)
        return;
    for (int c = std::max(column, 1); c <= columns_; ++c)
        cells_[Index(c, row)] = TTermChar{};
    if (terminal_ != nullptr)
        terminal_->viewport()->update();
}

void TComTermBuffer::EraseScreen(int column, int row)
{
    if (row < 1 || row > rows_)
        return;
    size_t from = Index(std::clamp(column, 1, columns_), row);
    std::fill(cells_.begin() + static_cast<std::ptrdiff_t>(from), cells_.end(), TTermChar{});
    if (terminal_ != nullptr)
        terminal_->viewport()->update();
}

bool TComTermBuffer::GetTab(int column) const
{
    return column >= 1 && column <= columns_ && tabs_[static_cast<size_t>(column - 1)] != 0;
}

void TComTermBuffer::SetTab(int column, bool on)
{
    if (column >= 1 && column <= columns_)
        tabs_[static_cast<size_t>(column - 1)] = on ? 1 : 0;
}

int TComTermBuffer::NextTab(int column) const
{
    for (int c = std::max(column, 1); c <= columns_; ++c)
        if (GetTab(c))
            return c;
    return 0;
}

void TComTermBuffer::ClearAllTabs() { std::fill(tabs_.begin(), tabs_.end(), 0); }

int TComTermBuffer::GetLineLength(int row) const
{
    if (row < 1 || row > rows_)
        return 0;
    for (int c = columns_; c >= 1; --c)
        if (cells_[Index(c, row)].Ch != 0)
            return c;
    return 0;
}

int TComTermBuffer::GetLastLine() const
{
    for (int r = rows_; r >= 1; --r)
        if (GetLineLength(r) > 0)
            return r;
    return 0;
}

// ---- TCustomComTerminal ----------------------------------------------------

QFont TCustomComTerminal::DefaultFont()
{
    // Debian's fonts-dejavu-core; any fixed-pitch font of the system else.
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPointSize(10);
    font.setStyleHint(QFont::TypeWriter);
    if (!QFontInfo(font).fixedPitch())
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    return font;
}

TCustomComTerminal::TCustomComTerminal(QWidget* parent) : QAbstractScrollArea(parent)
{
    setFrameShape(QFrame::Box);
    setFrameShadow(QFrame::Plain);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    viewport()->setAutoFillBackground(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    resize(400, 250);
    link_.OnRxBuf = [this](TObject*, const void* buffer, int32_t count) {
        Receive(static_cast<const char*>(buffer), count);
    };
    watch_.OnRemove = [this](TComponent* gone) {
        if (gone == port_)
            port_ = nullptr;
    };
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, viewport(), [this] { viewport()->update(); });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(), [this] { viewport()->update(); });
    SetSmoothScroll(false);
    ResetAttributes();
    SetTermFont(DefaultFont());
    InitBuffer();
    CreateEscapeCodes();
}

TCustomComTerminal::~TCustomComTerminal() { Detach(); }

void TCustomComTerminal::Detach()
{
    if (port_ == nullptr)
        return;
    port_->UnRegisterLink(&link_);
    watch_.Unwatch(port_);
    port_ = nullptr;
}

void TCustomComTerminal::SetComPort(TCustomComPort* port)
{
    if (port == port_)
        return;
    Detach();
    port_ = port;
    if (port_ != nullptr) {
        watch_.Watch(port_);
        port_->RegisterLink(&link_);
    }
}

void TCustomComTerminal::SetConnected(bool value)
{
    if (port_ != nullptr)
        port_->SetConnected(value);
}

void TCustomComTerminal::InitBuffer()
{
    buffer_.Init(columns_, rows_);
    MoveCaret(1, 1);
    UpdateScrollRanges();
    viewport()->update();
}

void TCustomComTerminal::SetColumns(int value)
{
    value = std::clamp(value, 2, 256);
    if (value == columns_)
        return;
    columns_ = value;
    InitBuffer();
    updateGeometry();
}

void TCustomComTerminal::SetRows(int value)
{
    value = std::clamp(value, 2, 100);
    if (value == rows_)
        return;
    rows_ = value;
    InitBuffer();
    updateGeometry();
}

void TCustomComTerminal::SetEmulation(TTermEmulation value)
{
    if (value == emulation_)
        return;
    emulation_ = value;
    CreateEscapeCodes();
}

void TCustomComTerminal::CreateEscapeCodes()
{
    escape_codes_.reset();
    switch (emulation_) {
    case teVT100orANSI: escape_codes_ = std::make_unique<TEscapeCodesVT100>(); break;
    case teVT52: escape_codes_ = std::make_unique<TEscapeCodesVT52>(); break;
    case teNone:
        if (OnGetEscapeCodes)
            OnGetEscapeCodes(this, escape_codes_);
        break;
    }
}

void TCustomComTerminal::SetCaret(TTermCaret value)
{
    caret_ = value;
    viewport()->update();
}

void TCustomComTerminal::SetSmoothScroll(bool value)
{
    smooth_scroll_ = value;
    horizontalScrollBar()->setTracking(value);
    verticalScrollBar()->setTracking(value);
}

void TCustomComTerminal::SetColor(QColor value)
{
    color_ = value;
    ResetAttributes();
    viewport()->update();
}

void TCustomComTerminal::SetFontColor(QColor value)
{
    font_color_ = value;
    ResetAttributes();
    viewport()->update();
}

void TCustomComTerminal::SetTermFont(QFont font)
{
    if (!QFontInfo(font).fixedPitch())
        font.setFamily(DefaultFont().family());
    font.setUnderline(false);
    setFont(font);
    QFontMetrics metrics(font);
    cell_height_ = std::max(1, metrics.height());
    // For a fixed-pitch font the average width is every character's, but
    // it is rounded: the advance of a real character never overlaps.
    cell_width_ = std::max({1, metrics.averageCharWidth(), metrics.horizontalAdvance(QLatin1Char('M'))});
    UpdateScrollRanges();
    updateGeometry();
    viewport()->update();
}

QSize TCustomComTerminal::sizeHint() const
{
    int frame = 2 * frameWidth();
    return {columns_ * cell_width_ + frame, rows_ * cell_height_ + frame};
}

int TCustomComTerminal::LeftColumn() const { return horizontalScrollBar()->value() + 1; }
int TCustomComTerminal::TopRow() const { return verticalScrollBar()->value() + 1; }

void TCustomComTerminal::UpdateScrollRanges()
{
    // Decided on the room there would be without scroll bars, or bars once
    // shown would keep themselves needed.
    const QSize room = maximumViewportSize();
    const bool fits = columns_ * cell_width_ <= room.width() && rows_ * cell_height_ <= room.height();
    const QSize view = fits ? room : viewport()->size();
    int visible_columns = std::max(1, view.width() / cell_width_);
    int visible_rows = std::max(1, view.height() / cell_height_);
    horizontalScrollBar()->setRange(0, std::max(0, columns_ - visible_columns));
    horizontalScrollBar()->setPageStep(visible_columns);
    verticalScrollBar()->setRange(0, std::max(0, rows_ - visible_rows));
    verticalScrollBar()->setPageStep(visible_rows);
}

void TCustomComTerminal::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollRanges();
}

void TCustomComTerminal::ClearScreen()
{
    buffer_.EraseScreen(1, 1);
    MoveCaret(1, 1);
}

void TCustomComTerminal::MoveCaret(int column, int row)
{
    caret_column_ = std::clamp(column, 1, columns_);
    caret_row_ = std::clamp(row, 1, rows_);
    if (has_caret_)
        viewport()->update();
}

void TCustomComTerminal::AdvanceCaret(TAdvanceCaret kind)
{
    switch (kind) {
    case acChar:
        if (caret_column_ < columns_) {
            MoveCaret(caret_column_ + 1, caret_row_);
        } else if (wrap_lines_) {
            if (caret_row_ < rows_) {
                MoveCaret(1, caret_row_ + 1);
            } else {
                buffer_.ScrollDown();
                MoveCaret(1, caret_row_);
            }
        }
        break;
    case acReturn: MoveCaret(1, caret_row_); break;
    case acLineFeed:
        if (caret_row_ < rows_)
            MoveCaret(caret_column_, caret_row_ + 1);
        else
            buffer_.ScrollDown();
        break;
    case acReverseLineFeed:
        if (caret_row_ > 1)
            MoveCaret(caret_column_, caret_row_ - 1);
        else
            buffer_.ScrollUp();
        break;
    case acTab:
        if (int next = buffer_.NextTab(caret_column_ + 1))
            MoveCaret(next, caret_row_);
        break;
    case acBackspace: MoveCaret(caret_column_ - 1, caret_row_); break;
    }
}

void TCustomComTerminal::ResetAttributes()
{
    attributes_ = Attributes{};
    attributes_.front = font_color_;
    attributes_.back = color_;
}

void TCustomComTerminal::PutChar(char ch)
{
    const unsigned code = static_cast<unsigned char>(ch);
    switch (code) {
    case 8: AdvanceCaret(acBackspace); break;
    case 9: AdvanceCaret(acTab); break;
    case 10:
    case 12: AdvanceCaret(acLineFeed); break;
    case 13: AdvanceCaret(acReturn); break;
    default:
        if (code >= 32) {
            TTermChar cell;
            cell.Ch = ch;
            cell.FrontColor = attributes_.bold      ? alt_color_
                              : attributes_.reverse ? attributes_.back
                                                    : attributes_.front;
            cell.BackColor = attributes_.reverse ? attributes_.front : attributes_.back;
            cell.Underline = attributes_.underline;
            buffer_.SetChar(caret_column_, caret_row_, cell);
            viewport()->update();
            AdvanceCaret(acChar);
        }
        break;
    }
    if (OnChar)
        OnChar(this, ch);
}

void TCustomComTerminal::Write(const void* buffer, int count)
{
    const char* bytes = static_cast<const char*>(buffer);
    for (int i = 0; i < count; ++i) {
        if (!escape_codes_) {
            PutChar(bytes[i]);
            continue;
        }
        // The object may be replaced by a handler below; hold it for this byte.
        TEscapeCodes* codes = escape_codes_.get();
        switch (codes->ProcessChar(bytes[i])) {
        case erChar: PutChar(codes->Character()); break;
        case erCode: {
            TEscapeCode code = codes->Code();
            std::string data = codes->Data();
            TStrings params;
            params.Assign(codes->Params());
            codes->Params().Clear();
            if (!PutEscapeCode(code, &params) && OnUnhandledCode)
                OnUnhandledCode(this, code, data);
            break;
        }
        case erNothing: break;
        }
    }
    viewport()->update();
}

void TCustomComTerminal::WriteStr(const std::string& str) { Write(str.data(), static_cast<int>(str.size())); }

void TCustomComTerminal::WriteEscCode(TEscapeCode code, const TStrings* params)
{
    if (escape_codes_)
        PutEscapeCode(code, params);
}

bool TCustomComTerminal::PutEscapeCode(TEscapeCode code, const TStrings* params)
{
    const int p1 = TEscapeCodes::GetParam(1, params);
    const int p2 = TEscapeCodes::GetParam(2, params);
    switch (code) {
    case ecCursorUp:
    case ecAppCursorUp: MoveCaret(caret_column_, caret_row_ - p1); break;
    // The other application cursor codes move like their plain ones, so a
    // locally echoed cursor key moves the caret whichever mode is on.
    case ecCursorDown:
    case ecAppCursorDown: MoveCaret(caret_column_, caret_row_ + p1); break;
    case ecCursorLeft:
    case ecAppCursorLeft: MoveCaret(caret_column_ - p1, caret_row_); break;
    case ecCursorRight:
    case ecAppCursorRight: MoveCaret(caret_column_ + p1, caret_row_); break;
    case ecCursorHome:
    case ecCursorMove: MoveCaret(p2, p1); break;
    case ecReverseLineFeed: AdvanceCaret(acReverseLineFeed); break;
    case ecEraseLineFrom: buffer_.EraseLine(caret_column_, caret_row_); break;
    case ecEraseScreenFrom: buffer_.EraseScreen(caret_column_, caret_row_); break;
    case ecEraseLine:
        buffer_.EraseLine(1, caret_row_);
        MoveCaret(1, caret_row_);
        break;
    case ecEraseScreen:
        buffer_.EraseScreen(1, 1);
        MoveCaret(1, 1);
        break;
    case ecSetTab: buffer_.SetTab(caret_column_, true); break;
    case ecClearTab: buffer_.SetTab(caret_column_, false); break;
    case ecClearAllTabs: buffer_.ClearAllTabs(); break;
    case ecIdentify: {
        TStrings reply;
        reply.Add("2");
        SendCodeNoEcho(ecIdentResponse, &reply);
        break;
    }
    case ecQueryDevice: SendCodeNoEcho(ecReportDeviceOK, nullptr); break;
    case ecQueryCursorPos: {
        TStrings reply;
        reply.Add(std::to_string(caret_row_));
        reply.Add(std::to_string(caret_column_));
        SendCodeNoEcho(ecReportCursorPos, &reply);
        break;
    }
    case ecAttributes: SetAttributes(params); break;
    case ecSetMode: SetMode(params, true); break;
    case ecResetMode: SetMode(params, false); break;
    case ecReset: {
        TStrings reset;
        reset.Add("0");
        SetAttributes(&reset);
        break;
    }
    case ecSaveCaretAndAttr:
        saved_column_ = caret_column_;
        saved_row_ = caret_row_;
        saved_attributes_ = attributes_;
        break;
    case ecRestoreCaretAndAttr:
        MoveCaret(saved_column_, saved_row_);
        attributes_ = saved_attributes_;
        break;
    case ecSaveCaret:
        saved_column_ = caret_column_;
        saved_row_ = caret_row_;
        break;
    case ecRestoreCaret: MoveCaret(saved_column_, saved_row_); break;
    case ecTest:
        for (int r = 1; r <= rows_; ++r)
            for (int c = 1; c <= columns_; ++c)
                buffer_.SetChar(c, r, TTermChar{'E', font_color_, color_, false});
        viewport()->update();
        break;
    default: return false;
    }
    return true;
}

void TCustomComTerminal::SetAttributes(const TStrings* params)
{
    if (params == nullptr || params->Count() == 0) {
        ResetAttributes();
        return;
    }
    for (int i = 0; i < params->Count(); ++i) {
        switch (TEscapeCodes::GetParam(i + 1, params)) {
        case 0: ResetAttributes(); break;
        case 1: attributes_.bold = true; break;
        case 4: attributes_.underline = true; break;
        case 7: attributes_.reverse = true; break;
        case 21: attributes_.bold = false; break;
        case 24: attributes_.underline = false; break;
        case 27: attributes_.reverse = false; break;
        default: break;
        }
    }
}

void TCustomComTerminal::SetMode(const TStrings* params, bool on)
{
    if (params == nullptr || params->Count() == 0)
        return;
    const std::string& mode = params->Strings(0);
    if (mode == "?1")
        app_cursor_keys_ = on;
    else if (mode == "?7")
        wrap_lines_ = on;
    else if (mode == "?3")
        SetColumns(on ? 132 : 80);
}

// ---- receiving and sending -------------------------------------------------

void TCustomComTerminal::Receive(const char* bytes, int count)
{
    std::string text;
    text.reserve(static_cast<size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
        char ch = bytes[i];
        if (force_7bit_)
            ch = static_cast<char>(ch & 0x7F);
        text += ch;
        if (append_lf_ && ch == '\r')
            text += '\n';
    }
    if (OnStrRecieved)
        OnStrRecieved(this, text);
    WriteStr(text);
}

void TCustomComTerminal::SendText(const std::string& text)
{
    if (!Connected() || text.empty())
        return;
    port_->WriteStr(text);
}

void TCustomComTerminal::SendChar(char ch)
{
    if (!Connected())
        return;
    SendText(std::string(1, ch));
    if (local_echo_)
        PutChar(ch);
    if (ch == '\r' && send_lf_)
        SendChar('\n');
}

void TCustomComTerminal::SendCode(TEscapeCode code, const TStrings* params)
{
    if (!Connected() || !escape_codes_)
        return;
    SendText(escape_codes_->EscCodeToStr(code, params));
    if (local_echo_)
        PutEscapeCode(code, params);
}

void TCustomComTerminal::SendCodeNoEcho(TEscapeCode code, const TStrings* params)
{
    if (!Connected() || !escape_codes_)
        return;
    SendText(escape_codes_->EscCodeToStr(code, params));
}

bool TCustomComTerminal::focusNextPrevChild(bool next)
{
    // With WantTab the tab key is typed into the terminal instead.
    if (want_tab_)
        return false;
    return QAbstractScrollArea::focusNextPrevChild(next);
}

void TCustomComTerminal::keyPressEvent(QKeyEvent* event)
{
    try {
        TEscapeCode code = ecUnknown;
        switch (event->key()) {
        case Qt::Key_Home: code = ecCursorHome; break;
        case Qt::Key_Left: code = ecCursorLeft; break;
        case Qt::Key_Up: code = ecCursorUp; break;
        case Qt::Key_Right: code = ecCursorRight; break;
        case Qt::Key_Down: code = ecCursorDown; break;
        default: break;
        }
        if (code != ecUnknown) {
            if (app_cursor_keys_) {
                switch (code) {
                case ecCursorUp: SendCode(ecAppCursorUp, nullptr); break;
                case ecCursorDown: SendCode(ecAppCursorDown, nullptr); break;
                case ecCursorLeft: SendCode(ecAppCursorLeft, nullptr); break;
                case ecCursorRight: SendCode(ecAppCursorRight, nullptr); break;
                default: break; // Home sends nothing here
                }
            } else if (arrow_keys_ == akWindows) {
                PutEscapeCode(code, nullptr);
            } else {
                SendCode(code, nullptr);
            }
            event->accept();
            return;
        }
        if (event->key() == Qt::Key_Tab && !want_tab_) {
            QAbstractScrollArea::keyPressEvent(event);
            return;
        }
        const QString text = event->text();
        if (text.isEmpty()) {
            QAbstractScrollArea::keyPressEvent(event);
            return;
        }
        for (QChar c : text) {
            if (c.unicode() < 256) {
                SendChar(static_cast<char>(c.unicode()));
            } else {
                for (char byte : QString(c).toUtf8())
                    SendChar(byte);
            }
        }
        event->accept();
    } catch (...) {
        // A port that fails while typing: the application shows it.
        ApplicationHandleException();
    }
}

void TCustomComTerminal::focusInEvent(QFocusEvent* event)
{
    has_caret_ = true;
    viewport()->update();
    QAbstractScrollArea::focusInEvent(event);
}

void TCustomComTerminal::focusOutEvent(QFocusEvent* event)
{
    has_caret_ = false;
    viewport()->update();
    QAbstractScrollArea::focusOutEvent(event);
}

// ---- painting, saving, dialogs ---------------------------------------------

void TCustomComTerminal::paintEvent(QPaintEvent*)
{
    QPainter p(viewport());
    p.fillRect(viewport()->rect(), color_);
    p.setFont(font());
    const QFontMetrics metrics(font());
    const int left = LeftColumn(), top = TopRow();
    const int last_column = std::min(columns_, left + viewport()->width() / cell_width_ + 1);
    const int last_row = std::min(rows_, top + viewport()->height() / cell_height_ + 1);
    for (int r = top; r <= last_row; ++r) {
        for (int c = left; c <= last_column; ++c) {
            const TTermChar cell = buffer_.GetChar(c, r);
            if (cell.Ch == 0)
                continue;
            const QRect box((c - left) * cell_width_, (r - top) * cell_height_, cell_width_, cell_height_);
            p.fillRect(box, cell.BackColor);
            p.setPen(cell.FrontColor);
            p.drawText(box.left(), box.top() + metrics.ascent(),
                       QString(QChar(static_cast<unsigned char>(cell.Ch))));
            if (cell.Underline)
                p.drawLine(box.left(), box.bottom(), box.right(), box.bottom());
        }
    }
    if (has_caret_ && caret_ != tcNone) {
        const int height = caret_ == tcBlock ? cell_height_ : std::max(1, cell_height_ / 8);
        const QRect box((caret_column_ - left) * cell_width_, (caret_row_ - top + 1) * cell_height_ - height,
                        cell_width_, height);
        // Inverted, so the character under a block caret stays readable.
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        p.fillRect(box, Qt::white);
    }
}

void TCustomComTerminal::SaveToStream(TStream& stream)
{
    const int last = buffer_.GetLastLine();
    for (int r = 1; r <= last; ++r) {
        std::string line;
        const int length = buffer_.GetLineLength(r);
        for (int c = 1; c <= length; ++c) {
            char ch = buffer_.GetChar(c, r).Ch;
            line += ch == 0 ? ' ' : ch;
        }
        if (r < last)
            line += "\r\n";
        stream.Write(line.data(), static_cast<int32_t>(line.size()));
    }
}

void TCustomComTerminal::LoadFromStream(TStream& stream)
{
    char ch = 0;
    while (stream.Read(&ch, 1) == 1)
        PutChar(ch);
}

void TCustomComTerminal::SelectFont()
{
    bool ok = false;
    QFont chosen = QFontDialog::getFont(&ok, font(), this, QStringLiteral("Font"), QFontDialog::MonospacedFonts);
    if (ok)
        SetTermFont(chosen);
}

bool TCustomComTerminal::ShowSetupDialog()
{
    TComTermSetupDialog dialog(this);
    dialog.Load(*this);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    dialog.Store(*this);
    return true;
}

} // namespace tarnby
