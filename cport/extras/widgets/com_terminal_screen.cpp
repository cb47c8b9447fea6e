#include "tarnby/cport/extras/widgets/com_terminal_screen.h"

#include <algorithm>

namespace tarnby {

namespace {

// The DEC special graphics set replaces 0x5F..0x7E with these.
constexpr char16_t kDecGraphics[] = {
    0x00A0, 0x25C6, 0x2592, 0x2409, 0x240C, 0x240D, 0x240A, 0x00B0, 0x00B1, 0x2424, 0x240B,
    0x2518, 0x2510, 0x250C, 0x2514, 0x253C, 0x23BA, 0x23BB, 0x2500, 0x23BC, 0x23BD, 0x251C,
    0x2524, 0x2534, 0x252C, 0x2502, 0x2264, 0x2265, 0x03C0, 0x2260, 0x00A3, 0x00B7,
};
static_assert(std::size(kDecGraphics) == 0x7F - 0x5F);

bool InGraphicsRange(unsigned char c) { return c >= 0x5F && c <= 0x7E; }

} // namespace

char16_t TermCharToUnicode(const TTermChar& cell)
{
    const auto c = static_cast<unsigned char>(cell.Ch);
    if (cell.Graphics && InGraphicsRange(c))
        return kDecGraphics[c - 0x5F];
    return c;
}

// ---- TComTermBuffer --------------------------------------------------------

void TComTermBuffer::Init(int columns, int rows)
{
    columns_ = columns;
    rows_ = rows;
    blank_.assign(static_cast<size_t>(columns), TTermChar{});
    cells_.resize(static_cast<size_t>(columns) * static_cast<size_t>(rows));
    for (size_t at = 0; at < cells_.size(); at += static_cast<size_t>(columns))
        std::copy_n(blank_.data(), columns, &cells_[at]);
    lines_.resize(static_cast<size_t>(rows));
    for (int r = 0; r < rows; ++r)
        lines_[static_cast<size_t>(r)] = r;
    tabs_.assign(static_cast<size_t>(columns), 0);
    for (int column = 1; column <= columns; column += 8)
        tabs_[static_cast<size_t>(column - 1)] = 1;
    dirty_.assign(static_cast<size_t>(rows), 0);
    damaged_ = false;
    Damage(1, rows);
}

void TComTermBuffer::Damage(int first_row, int last_row)
{
    for (int r = std::max(first_row, 1); r <= std::min(last_row, rows_); ++r)
        DamageRow(r);
}

void TComTermBuffer::ClearDamage()
{
    std::fill(dirty_.begin(), dirty_.end(), 0);
    damaged_ = false;
}

void TComTermBuffer::ClearCells(int row, int first_column, int last_column)
{
    first_column = std::max(first_column, 1);
    last_column = std::min(last_column, columns_);
    if (first_column > last_column)
        return;
    // Copied from a blank row: a plain copy of bytes, where filling with a
    // value goes cell by cell.
    std::copy_n(blank_.data(), last_column - first_column + 1, &cells_[Index(first_column, row)]);
    DamageRow(row);
}

TTermChar TComTermBuffer::GetChar(int column, int row) const
{
    return Inside(column, row) ? cells_[Index(column, row)] : TTermChar{};
}

void TComTermBuffer::ScrollDown(int top, int bottom)
{
    top = std::max(top, 1);
    bottom = std::min(bottom, rows_);
    if (top > bottom)
        return;
    const auto first = lines_.begin() + (top - 1);
    std::rotate(first, first + 1, lines_.begin() + bottom);
    ClearCells(bottom, 1, columns_);
    Damage(top, bottom);
}

void TComTermBuffer::ScrollUp(int top, int bottom)
{
    top = std::max(top, 1);
    bottom = std::min(bottom, rows_);
    if (top > bottom)
        return;
    const auto first = lines_.begin() + (top - 1);
    std::rotate(first, lines_.begin() + (bottom - 1), lines_.begin() + bottom);
    ClearCells(top, 1, columns_);
    Damage(top, bottom);
}

void TComTermBuffer::EraseLine(int column, int row)
{
    if (row >= 1 && row <= rows_)
        ClearCells(row, column, columns_);
}

void TComTermBuffer::EraseScreen(int column, int row)
{
    if (row < 1 || row > rows_)
        return;
    ClearCells(row, std::clamp(column, 1, columns_), columns_);
    for (int r = row + 1; r <= rows_; ++r)
        ClearCells(r, 1, columns_);
}

void TComTermBuffer::EraseLineTo(int column, int row)
{
    if (row >= 1 && row <= rows_)
        ClearCells(row, 1, column);
}

void TComTermBuffer::EraseScreenTo(int column, int row)
{
    if (row < 1 || row > rows_)
        return;
    for (int r = 1; r < row; ++r)
        ClearCells(r, 1, columns_);
    ClearCells(row, 1, std::clamp(column, 1, columns_));
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

// ---- TComTermScreen --------------------------------------------------------

TComTermScreen::TComTermScreen()
{
    ResetAttributes();
    SetSize(80, 24);
}

void TComTermScreen::SetSize(int columns, int rows)
{
    buffer_.Init(std::clamp(columns, 2, 256), std::clamp(rows, 2, 100));
    top_ = 1;
    bottom_ = Rows();
    origin_ = false;
    MoveCaret(1, 1);
}

void TComTermScreen::SetWrapLines(bool value)
{
    wrap_lines_ = value;
    pending_wrap_ = false;
}

void TComTermScreen::SetColors(QColor font, QColor back)
{
    font_color_ = font;
    color_ = back;
    ResetAttributes();
}

void TComTermScreen::ResetAttributes()
{
    attributes_ = Attributes{};
    attributes_.front = font_color_;
    attributes_.back = color_;
    UpdatePen();
}

void TComTermScreen::UpdatePen()
{
    pen_.FrontColor = attributes_.bold      ? alt_color_
                      : attributes_.reverse ? attributes_.back
                                            : attributes_.front;
    pen_.BackColor = attributes_.reverse ? attributes_.front : attributes_.back;
    pen_.Underline = attributes_.underline;
    pen_.Bold = attributes_.bold;
    pen_.Reverse = attributes_.reverse;
}

void TComTermScreen::ResetModes()
{
    top_ = 1;
    bottom_ = Rows();
    origin_ = false;
    graphics_[0] = graphics_[1] = false;
    shift_ = 0;
    pending_wrap_ = false;
}

void TComTermScreen::ClearScreen()
{
    buffer_.EraseScreen(1, 1);
    MoveCaret(1, 1);
}

void TComTermScreen::MoveCaret(int column, int row)
{
    caret_column_ = std::clamp(column, 1, Columns());
    caret_row_ = std::clamp(row, 1, Rows());
    pending_wrap_ = false;
}

// Row and column counted from the region's top in origin mode, and kept in it.
void TComTermScreen::CursorHome(int row, int column)
{
    row = std::max(row, 1);
    if (origin_)
        MoveCaret(column, std::min(top_ + row - 1, bottom_));
    else
        MoveCaret(column, row);
}

void TComTermScreen::AdvanceCaret(TAdvanceCaret kind)
{
    switch (kind) {
    case acChar:
        if (caret_column_ < Columns())
            ++caret_column_;
        else if (wrap_lines_)
            pending_wrap_ = true;
        break;
    case acReturn: MoveCaret(1, caret_row_); break;
    case acLineFeed:
        // Inside the region the bottom line scrolls the region; below it
        // the caret stops at the last row.
        pending_wrap_ = false;
        if (caret_row_ == bottom_)
            buffer_.ScrollDown(top_, bottom_);
        else if (caret_row_ < Rows())
            ++caret_row_;
        break;
    case acReverseLineFeed:
        pending_wrap_ = false;
        if (caret_row_ == top_)
            buffer_.ScrollUp(top_, bottom_);
        else if (caret_row_ > 1)
            --caret_row_;
        break;
    case acTab:
        if (int next = buffer_.NextTab(caret_column_ + 1))
            MoveCaret(next, caret_row_);
        break;
    case acBackspace: MoveCaret(caret_column_ - 1, caret_row_); break;
    }
}

void TComTermScreen::PutChar(char ch)
{
    const unsigned code = static_cast<unsigned char>(ch);
    switch (code) {
    case 8: AdvanceCaret(acBackspace); break;
    case 9: AdvanceCaret(acTab); break;
    case 10:
    case 11:
    case 12: AdvanceCaret(acLineFeed); break;
    case 13: AdvanceCaret(acReturn); break;
    case 14: shift_ = 1; break; // SO
    case 15: shift_ = 0; break; // SI
    case 127: break;            // DEL is fill, never shown
    default:
        if (code >= 32) {
            PutPlain(&ch, 1);
            return; // PutPlain has called OnChar
        }
        break;
    }
    if (OnChar)
        OnChar(ch);
}

void TComTermScreen::PutPlain(const char* text, int count)
{
    for (int i = 0; i < count; ++i) {
        const auto code = static_cast<unsigned char>(text[i]);
        if (pending_wrap_) {
            AdvanceCaret(acReturn);
            AdvanceCaret(acLineFeed);
        }
        // The pen is copied whole and the character set in the cell: set in
        // the pen first, its bytes would be read back before they settle.
        if (TTermChar* cell = buffer_.Cell(caret_column_, caret_row_)) {
            *cell = pen_;
            cell->Ch = text[i];
            cell->Graphics = graphics_[shift_] && InGraphicsRange(code);
        }
        if (caret_column_ < Columns())
            ++caret_column_;
        else if (wrap_lines_)
            pending_wrap_ = true;
        if (OnChar)
            OnChar(text[i]);
    }
}

namespace {
bool Plain(char c) { return static_cast<unsigned char>(c) >= 0x20 && c != 0x7F && c != kEsc; }
} // namespace

void TComTermScreen::Write(const void* buffer, int count)
{
    const char* bytes = static_cast<const char*>(buffer);
    for (int i = 0; i < count; ++i) {
        if (!escape_codes_) {
            PutChar(bytes[i]);
            continue;
        }
        // Plain text outside a sequence needs no parsing: taken as a run.
        if (Plain(bytes[i]) && !escape_codes_->InSequence()) {
            int end = i + 1;
            while (end < count && Plain(bytes[end]))
                ++end;
            PutPlain(bytes + i, end - i);
            i = end - 1;
            continue;
        }
        // The object may be replaced by a handler below; hold it for this byte.
        TEscapeCodes* codes = escape_codes_.get();
        switch (codes->ProcessChar(bytes[i])) {
        case erChar: PutChar(codes->Character()); break;
        case erCode: {
            // The parameters are emptied also when an answer to the host
            // fails, so the next code starts without them. A handler of an
            // unhandled code may replace the parser: its text is taken first.
            bool handled = false;
            try {
                handled = PutEscapeCode(codes->Code(), &codes->Params());
            } catch (...) {
                codes->Params().Clear();
                throw;
            }
            codes->Params().Clear();
            if (!handled && OnUnhandledCode) {
                const std::string data = codes->Data();
                OnUnhandledCode(codes->Code(), data);
            }
            break;
        }
        case erNothing: break;
        }
    }
}

void TComTermScreen::Reply(TEscapeCode code, const TStrings* params)
{
    if (OnReply)
        OnReply(code, params);
}

bool TComTermScreen::PutEscapeCode(TEscapeCode code, const TStrings* params)
{
    // Read only by the codes that have them: most codes on the line are
    // attributes, which read their own.
    auto p1 = [params] { return TEscapeCodes::GetParam(1, params); };
    auto p2 = [params] { return TEscapeCodes::GetParam(2, params); };
    // A count of 0 moves as far as 1 does.
    auto n = [&p1] { return std::max(p1(), 1); };
    switch (code) {
    // Up and down stop at the region's margins when the caret is inside it.
    case ecCursorUp:
    case ecAppCursorUp: MoveCaret(caret_column_, std::max(caret_row_ - n(), caret_row_ >= top_ ? top_ : 1)); break;
    // The other application cursor codes move like their plain ones, so a
    // locally echoed cursor key moves the caret whichever mode is on.
    case ecCursorDown:
    case ecAppCursorDown:
        MoveCaret(caret_column_, std::min(caret_row_ + n(), caret_row_ <= bottom_ ? bottom_ : Rows()));
        break;
    case ecCursorLeft:
    case ecAppCursorLeft: MoveCaret(caret_column_ - n(), caret_row_); break;
    case ecCursorRight:
    case ecAppCursorRight: MoveCaret(caret_column_ + n(), caret_row_); break;
    case ecCursorHome:
    case ecCursorMove: CursorHome(p1(), p2()); break;
    case ecReverseLineFeed:
    case ecReverseIndex: AdvanceCaret(acReverseLineFeed); break;
    case ecIndex: AdvanceCaret(acLineFeed); break;
    case ecNextLine:
        AdvanceCaret(acReturn);
        AdvanceCaret(acLineFeed);
        break;
    case ecEraseLineFrom: buffer_.EraseLine(caret_column_, caret_row_); break;
    case ecEraseScreenFrom: buffer_.EraseScreen(caret_column_, caret_row_); break;
    case ecEraseLineTo: buffer_.EraseLineTo(caret_column_, caret_row_); break;
    case ecEraseScreenTo: buffer_.EraseScreenTo(caret_column_, caret_row_); break;
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
        Reply(ecIdentResponse, &reply);
        break;
    }
    case ecQueryDevice: Reply(ecReportDeviceOK, nullptr); break;
    case ecQueryCursorPos: {
        TStrings reply;
        reply.Add(std::to_string(origin_ ? caret_row_ - top_ + 1 : caret_row_));
        reply.Add(std::to_string(caret_column_));
        Reply(ecReportCursorPos, &reply);
        break;
    }
    case ecAttributes: SetAttributes(params); break;
    case ecSetMode: SetMode(params, true); break;
    case ecResetMode: SetMode(params, false); break;
    case ecReset:
        ResetAttributes();
        ResetModes();
        break;
    case ecSaveCaretAndAttr:
        saved_ = Saved{caret_column_, caret_row_, attributes_, origin_, {graphics_[0], graphics_[1]}, shift_};
        break;
    case ecRestoreCaretAndAttr:
        attributes_ = saved_.attributes;
        UpdatePen();
        origin_ = saved_.origin;
        graphics_[0] = saved_.graphics[0];
        graphics_[1] = saved_.graphics[1];
        shift_ = saved_.shift;
        MoveCaret(saved_.column, saved_.row);
        break;
    case ecSaveCaret:
        saved_.column = caret_column_;
        saved_.row = caret_row_;
        break;
    case ecRestoreCaret: MoveCaret(saved_.column, saved_.row); break;
    case ecTest:
        for (int r = 1; r <= Rows(); ++r)
            for (int c = 1; c <= Columns(); ++c)
                buffer_.SetChar(c, r, TTermChar{'E', font_color_, color_, false});
        break;
    case ecSetScrollRegion: {
        // Missing or empty: the whole screen; a region of fewer than two
        // rows is refused, as a VT100 does.
        const int top = std::max(p1(), 1);
        const bool has_bottom = params != nullptr && params->Count() >= 2 && !params->Strings(1).empty();
        const int bottom = has_bottom && p2() > 0 ? p2() : Rows();
        if (top < bottom && bottom <= Rows()) {
            top_ = top;
            bottom_ = bottom;
            CursorHome(1, 1);
        }
        break;
    }
    case ecCharsetG0Graphics: graphics_[0] = true; break;
    case ecCharsetG0Ascii: graphics_[0] = false; break;
    case ecCharsetG1Graphics: graphics_[1] = true; break;
    case ecCharsetG1Ascii: graphics_[1] = false; break;
    case ecUnknown:
    case ecNotCompleted:
    case ecIdentResponse:
    case ecReportDeviceOK:
    case ecReportDeviceFailure:
    case ecReportCursorPos:
    case ecCodeCount: return false;
    }
    return true;
}

void TComTermScreen::SetAttributes(const TStrings* params)
{
    if (params == nullptr || params->Count() == 0) {
        ResetAttributes();
        return;
    }
    for (int i = 0; i < params->Count(); ++i) {
        // An empty parameter is the default, 0; one that is not a number
        // matches nothing.
        const std::string& text = params->Strings(i);
        int value = 0;
        for (char c : text) {
            if (c < '0' || c > '9' || value >= 1000) {
                value = -1;
                break;
            }
            value = value * 10 + (c - '0');
        }
        switch (value) {
        case 0: ResetAttributes(); break;
        case 1: attributes_.bold = true; break;
        case 4: attributes_.underline = true; break;
        case 7: attributes_.reverse = true; break;
        case 21:
        case 22: attributes_.bold = false; break;
        case 24: attributes_.underline = false; break;
        case 27: attributes_.reverse = false; break;
        default: break;
        }
    }
    UpdatePen();
}

// A "?" before the first parameter makes every parameter a private (DEC)
// mode: ?1 application cursor keys, ?3 132 columns (clears the screen),
// ?6 origin mode (homes the caret), ?7 wrap lines.
void TComTermScreen::SetMode(const TStrings* params, bool on)
{
    if (params == nullptr || params->Count() == 0)
        return;
    const bool dec = !params->Strings(0).empty() && params->Strings(0)[0] == '?';
    if (!dec)
        return;
    for (int i = 0; i < params->Count(); ++i) {
        std::string mode = params->Strings(i);
        if (i == 0)
            mode.erase(0, 1);
        if (mode == "1") {
            app_cursor_keys_ = on;
        } else if (mode == "3") {
            SetSize(on ? 132 : 80, Rows());
            if (OnResize)
                OnResize();
        } else if (mode == "6") {
            origin_ = on;
            CursorHome(1, 1);
        } else if (mode == "7") {
            SetWrapLines(on);
        }
    }
}

} // namespace tarnby
