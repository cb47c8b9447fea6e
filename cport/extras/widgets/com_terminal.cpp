#include "tarnby/cport/extras/widgets/com_terminal.h"

#include "tarnby/cport/extras/widgets/com_terminal_setup.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QKeyEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QScrollBar>

#include <algorithm>

namespace tarnby {

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
    screen_.OnUnhandledCode = [this](TEscapeCode code, const std::string& data) {
        if (OnUnhandledCode)
            OnUnhandledCode(this, code, data);
    };
    screen_.OnReply = [this](TEscapeCode code, const TStrings* params) { SendCodeNoEcho(code, params); };
    // A width switched by the host (ESC [ ? 3 h/l) may come many times a
    // second: the scroll bars and the layout follow at the next frame.
    screen_.OnResize = [this] {
        size_changed_ = true;
        ScheduleFrame();
    };
    screen_.Buffer().OnDamage = [this] { ScheduleFrame(); };
    // One repaint per display frame, however many blocks arrive in it.
    frame_timer_.setSingleShot(true);
    frame_timer_.setInterval(16);
    frame_timer_.setTimerType(Qt::PreciseTimer);
    connect(&frame_timer_, &QTimer::timeout, this, [this] { Frame(); });
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, viewport(), [this] { viewport()->update(); });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(), [this] { viewport()->update(); });
    SetSmoothScroll(false);
    screen_.SetColors(font_color_, color_);
    SetTermFont(DefaultFont());
    SizeChanged();
    CreateEscapeCodes();
}

TCustomComTerminal::~TCustomComTerminal() { port_.Follow(nullptr); }

void TCustomComTerminal::SetComPort(TCustomComPort* port) { port_.Follow(port); }

void TCustomComTerminal::SetConnected(bool value)
{
    if (port_.Port() != nullptr)
        port_.Port()->SetConnected(value);
}

void TCustomComTerminal::SizeChanged()
{
    size_changed_ = false;
    UpdateScrollRanges();
    updateGeometry();
    viewport()->update();
}

void TCustomComTerminal::SetColumns(int value)
{
    screen_.SetSize(value, Rows());
    SizeChanged();
}

void TCustomComTerminal::SetRows(int value)
{
    screen_.SetSize(Columns(), value);
    SizeChanged();
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
    std::unique_ptr<TEscapeCodes>& escape_codes = screen_.EscapeCodes();
    escape_codes.reset();
    switch (emulation_) {
    case teVT100orANSI: escape_codes = std::make_unique<TEscapeCodesVT100>(); break;
    case teVT52: escape_codes = std::make_unique<TEscapeCodesVT52>(); break;
    case teNone:
        if (OnGetEscapeCodes)
            OnGetEscapeCodes(this, escape_codes);
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
    screen_.SetColors(font_color_, color_);
    viewport()->update();
}

void TCustomComTerminal::SetFontColor(QColor value)
{
    font_color_ = value;
    screen_.SetColors(font_color_, color_);
    viewport()->update();
}

void TCustomComTerminal::SetTermFont(QFont font)
{
    if (!QFontInfo(font).fixedPitch())
        font.setFamily(DefaultFont().family());
    font.setUnderline(false);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0);
    // One glyph per cell, never joined: no text shaping needed.
    font.setStyleStrategy(QFont::PreferNoShaping);
    QFontMetrics metrics(font);
    cell_height_ = std::max(1, metrics.height());
    // For a fixed-pitch font the average width is every character's, but
    // it is rounded: the advance of a real character never overlaps.
    cell_width_ = std::max({1, metrics.averageCharWidth(), metrics.horizontalAdvance(QLatin1Char('M'))});
    // Runs of cells are drawn as one text, so each character must advance
    // by exactly one cell: the spacing takes up the rounding.
    const qreal advance = QFontMetricsF(font).horizontalAdvance(QLatin1Char('M'));
    font.setLetterSpacing(QFont::AbsoluteSpacing, cell_width_ - advance);
    setFont(font);
    bold_font_ = font;
    bold_font_.setBold(true);
    ascent_ = QFontMetrics(font).ascent();
    UpdateScrollRanges();
    updateGeometry();
    viewport()->update();
}

QSize TCustomComTerminal::sizeHint() const
{
    int frame = 2 * frameWidth();
    return {Columns() * cell_width_ + frame, Rows() * cell_height_ + frame};
}

int TCustomComTerminal::LeftColumn() const { return horizontalScrollBar()->value() + 1; }
int TCustomComTerminal::TopRow() const { return verticalScrollBar()->value() + 1; }

void TCustomComTerminal::UpdateScrollRanges()
{
    // Decided on the room there would be without scroll bars, or bars once
    // shown would keep themselves needed.
    const QSize room = maximumViewportSize();
    const int columns = Columns(), rows = Rows();
    const bool fits = columns * cell_width_ <= room.width() && rows * cell_height_ <= room.height();
    const QSize view = fits ? room : viewport()->size();
    int visible_columns = std::max(1, view.width() / cell_width_);
    int visible_rows = std::max(1, view.height() / cell_height_);
    horizontalScrollBar()->setRange(0, std::max(0, columns - visible_columns));
    horizontalScrollBar()->setPageStep(visible_columns);
    verticalScrollBar()->setRange(0, std::max(0, rows - visible_rows));
    verticalScrollBar()->setPageStep(visible_rows);
}

void TCustomComTerminal::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollRanges();
}

// The screen calls OnChar for every character; bound only while the
// terminal has a handler, so plain text costs no call per character.
void TCustomComTerminal::BindOnChar()
{
    if (OnChar && !screen_.OnChar)
        screen_.OnChar = [this](char ch) {
            if (OnChar)
                OnChar(this, ch);
        };
    else if (!OnChar && screen_.OnChar)
        screen_.OnChar = nullptr;
}

void TCustomComTerminal::ClearScreen()
{
    screen_.ClearScreen();
    ScheduleFrame();
}

void TCustomComTerminal::MoveCaret(int column, int row)
{
    screen_.MoveCaret(column, row);
    ScheduleFrame();
}

void TCustomComTerminal::AdvanceCaret(TAdvanceCaret kind)
{
    screen_.AdvanceCaret(kind);
    ScheduleFrame();
}

void TCustomComTerminal::PutChar(char ch)
{
    BindOnChar();
    screen_.PutChar(ch);
    ScheduleFrame();
}

void TCustomComTerminal::Write(const void* buffer, int count)
{
    // Scheduled first, so a frame follows even when a handler throws.
    ScheduleFrame();
    BindOnChar();
    screen_.Write(buffer, count);
}

void TCustomComTerminal::WriteStr(const std::string& str) { Write(str.data(), static_cast<int>(str.size())); }

void TCustomComTerminal::WriteEscCode(TEscapeCode code, const TStrings* params)
{
    if (screen_.EscapeCodes())
        PutEscapeCode(code, params);
}

bool TCustomComTerminal::PutEscapeCode(TEscapeCode code, const TStrings* params)
{
    ScheduleFrame();
    return screen_.PutEscapeCode(code, params);
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
    port_.Port()->WriteStr(text);
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
    if (!Connected() || !screen_.EscapeCodes())
        return;
    SendText(screen_.EscapeCodes()->EscCodeToStr(code, params));
    if (local_echo_)
        PutEscapeCode(code, params);
}

void TCustomComTerminal::SendCodeNoEcho(TEscapeCode code, const TStrings* params)
{
    if (!Connected() || !screen_.EscapeCodes())
        return;
    SendText(screen_.EscapeCodes()->EscCodeToStr(code, params));
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
            if (screen_.AppCursorKeys()) {
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
    ScheduleFrame();
    QAbstractScrollArea::focusInEvent(event);
}

void TCustomComTerminal::focusOutEvent(QFocusEvent* event)
{
    has_caret_ = false;
    ScheduleFrame();
    QAbstractScrollArea::focusOutEvent(event);
}

// ---- painting, saving, dialogs ---------------------------------------------

void TCustomComTerminal::ScheduleFrame()
{
    if (!frame_timer_.isActive())
        frame_timer_.start();
}

QRect TCustomComTerminal::RowRect(int row) const
{
    return {0, (row - TopRow()) * cell_height_, viewport()->width(), cell_height_};
}

// Asks for the rows changed since the last frame, and those the caret left
// or entered, to be painted.
void TCustomComTerminal::Frame()
{
    if (size_changed_)
        SizeChanged();
    TComTermBuffer& buffer = screen_.Buffer();
    QRegion dirty;
    if (buffer.Damaged()) {
        for (int r = 1; r <= Rows(); ++r)
            if (buffer.RowDamaged(r))
                dirty += RowRect(r);
        buffer.ClearDamage();
    }
    const bool caret_shown = has_caret_ && caret_ != tcNone;
    if (!caret_shown || CaretColumn() != painted_caret_column_ || CaretRow() != painted_caret_row_) {
        if (painted_caret_row_ > 0)
            dirty += RowRect(painted_caret_row_);
        if (caret_shown)
            dirty += RowRect(CaretRow());
    }
    if (!dirty.isEmpty()) {
        ++frames_;
        viewport()->update(dirty);
    }
}

// Cells of one look side by side are drawn as one text.
void TCustomComTerminal::PaintRow(QPainter& p, int row, int left, int last_column, int y)
{
    const TTermChar* cells = screen_.Buffer().Row(row);
    QString text;
    int c = left;
    while (c <= last_column) {
        const TTermChar& first = cells[c - 1];
        if (first.Ch == 0) {
            ++c;
            continue;
        }
        int end = c + 1;
        while (end <= last_column) {
            const TTermChar& next = cells[end - 1];
            if (next.Ch == 0 || next.FrontColor != first.FrontColor || next.BackColor != first.BackColor ||
                next.Underline != first.Underline || next.Bold != first.Bold)
                break;
            ++end;
        }
        text.resize(end - c);
        for (int i = c; i < end; ++i)
            text[i - c] = QChar(TermCharToUnicode(cells[i - 1]));
        const QRect box((c - left) * cell_width_, y, (end - c) * cell_width_, cell_height_);
        if (first.BackColor != color_)
            p.fillRect(box, first.BackColor);
        // The painter's state is changed only when a run needs another.
        if (first.FrontColor != p.pen().color())
            p.setPen(first.FrontColor);
        if (first.Bold != painting_bold_) {
            painting_bold_ = first.Bold;
            p.setFont(first.Bold ? bold_font_ : font());
        }
        p.drawText(box.left(), y + ascent_, text);
        if (first.Underline)
            p.drawLine(box.left(), box.bottom(), box.right(), box.bottom());
        c = end;
    }
}

void TCustomComTerminal::paintEvent(QPaintEvent* event)
{
    QPainter p(viewport());
    const QRect area = event->rect();
    p.fillRect(area, color_);
    const int left = LeftColumn(), top = TopRow();
    const int last_column = std::min(Columns(), left + viewport()->width() / cell_width_ + 1);
    const int first_row = std::max(1, top + area.top() / cell_height_);
    const int last_row = std::min(Rows(), top + area.bottom() / cell_height_);
    p.setFont(font());
    painting_bold_ = false;
    for (int r = first_row; r <= last_row; ++r)
        PaintRow(p, r, left, last_column, (r - top) * cell_height_);
    painted_caret_column_ = CaretColumn();
    painted_caret_row_ = CaretRow();
    if (has_caret_ && caret_ != tcNone) {
        const int height = caret_ == tcBlock ? cell_height_ : std::max(1, cell_height_ / 8);
        const QRect box((CaretColumn() - left) * cell_width_, (CaretRow() - top + 1) * cell_height_ - height,
                        cell_width_, height);
        // Inverted, so the character under a block caret stays readable.
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        p.fillRect(box, Qt::white);
    }
}

void TCustomComTerminal::SaveToStream(TStream& stream)
{
    const TComTermBuffer& buffer = screen_.Buffer();
    const int last = buffer.GetLastLine();
    for (int r = 1; r <= last; ++r) {
        std::string line;
        const int length = buffer.GetLineLength(r);
        for (int c = 1; c <= length; ++c) {
            char ch = buffer.GetChar(c, r).Ch;
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
