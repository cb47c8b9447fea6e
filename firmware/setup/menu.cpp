// What every menu screen shares: title, scroll bar, list rows, the
// acknowledged exchange, the two message screens and the main menu.
#include <cstring>
#include <iterator>

#include "firmware/flight/flight.h"
#include "firmware/lcd/lcd.h"
#include "firmware/link/link.h"
#include "firmware/setup/setup.h"

// The exchange as every menu uses it: ten copies at most, one per tick, and
// two seconds for the answer.
constexpr uint8_t MENU_SEND_WINDOW = 10;
constexpr uint8_t MENU_TIMEOUT = 20;

void menu_title(const char* title)
{
    const int32_t length = static_cast<int32_t>(std::strlen(title));
    lcd_text_const(static_cast<uint8_t>(64 - 4 * length), 0, title, 0, PIXEL_SET, 0);
    // The rules stop 2 pixels inside the blank first and last cells of the
    // title, leaving a gap around the words.
    lcd_line(0, 4, 66 - 4 * length, 4, PIXEL_SET);
    lcd_line(62 + 4 * length, 4, 127, 4, PIXEL_SET);
}

// The track of rows 8..63 is 56 rows; positions are worked in tenths of a
// pixel so that the block fills it evenly for any count.
void menu_scrollbar(uint8_t index, uint8_t count)
{
    lcd_line(125, 8, 125, 63, PIXEL_SET);
    if (count == 0)
        return;
    const int32_t step = 560 / count;
    const int32_t top = (index * step + 80) / 10;
    const int32_t bottom = top + step / 10;
    if (top > 63)
        return;
    lcd_fill_rect(123, static_cast<uint8_t>(top), 127, static_cast<uint8_t>(bottom > 63 ? 63 : bottom),
                  PIXEL_SET);
}

// Texts come both as constants and as buffers formatted at run time, so the
// plain routine is used: it has no 31-character limit to hide a long value.
void menu_item(uint8_t x, uint8_t y, const char* text, uint8_t selected)
{
    if (y < 8)
        return;
    lcd_text(x, y, text, 0, PIXEL_SET, selected == 1 ? 1 : 0);
}

void menu_setting_row(uint8_t x, uint8_t row, const char* label, const char* value)
{
    // A row scrolled above the list wraps to a large byte; so does one below
    // the panel. Neither has anything to show.
    if (row >= MENU_VISIBLE_ROWS)
        return;
    const uint8_t scroll = menu_list_scroll();
    const bool selected = static_cast<uint8_t>(menu_cursor - scroll) == row;
    const uint8_t y = static_cast<uint8_t>(8 * row + 8);
    menu_item(0, y, label, selected && menu_edit == 0 ? 1 : 0);
    menu_item(static_cast<uint8_t>(x + 8 * std::strlen(label)), y, value, selected ? 1 : 0);
}

uint8_t menu_list_scroll()
{
    return menu_cursor < MENU_VISIBLE_ROWS ? 0 : static_cast<uint8_t>(menu_cursor - (MENU_VISIBLE_ROWS - 1));
}

bool menu_exchange(uint8_t code, uint8_t a, uint8_t b, uint8_t& answer_flag, screen_routine success,
                   screen_routine back)
{
    const bool answered = send_until_answered(code, a, b, answer_flag, MENU_SEND_WINDOW, MENU_TIMEOUT);
    return_screen = back;
    current_screen = answered ? success : comms_error_screen;
    return answered;
}

bool menu_browse(uint8_t last)
{
    switch (key_code) {
    case KEY_CLOCKWISE:
    case KEY_RIGHT:
        if (menu_cursor < last)
            ++menu_cursor;
        return true;
    case KEY_ANTICLOCKWISE:
    case KEY_LEFT:
        if (menu_cursor > 0)
            --menu_cursor;
        return true;
    default:
        return false;
    }
}

bool key_raises()
{
    return key_code == KEY_CLOCKWISE || key_code == KEY_LEFT;
}

bool key_lowers()
{
    return key_code == KEY_ANTICLOCKWISE || key_code == KEY_RIGHT;
}

// ---- setup lists ----------------------------------------------------------------

namespace {

void toggle(uint8_t& flag)
{
    flag = flag != 0 ? 0 : 1;
}

// "*** DONE ***" is drawn only while the list is not scrolled; scrolled, the
// first row is off the panel anyway.
void draw_done_row()
{
    if (menu_cursor < MENU_VISIBLE_ROWS)
        lcd_text_centred_const(64, 8, "*** DONE ***", 0, PIXEL_SET, menu_cursor == 0 ? 1 : 0);
}

void draw_action_row(uint8_t index, uint8_t x, const char* text)
{
    const uint8_t line = static_cast<uint8_t>(index - menu_list_scroll());
    if (line >= MENU_VISIBLE_ROWS)
        return;
    menu_item(x, static_cast<uint8_t>(8 * line + 8), text, menu_cursor == index ? 1 : 0);
}

const char* setting_value(const MenuRow& row)
{
    if (row.flag != nullptr)
        return row.flag_texts[*row.flag != 0 ? 1 : 0];
    return row.value != nullptr ? row.value() : "";
}

void draw_row(const MenuRow& row, uint8_t index)
{
    switch (row.kind) {
    case MenuRowKind::DONE:
        draw_done_row();
        break;
    case MenuRowKind::ACTION:
        draw_action_row(index, row.x, row.text_now != nullptr ? row.text_now() : row.text);
        break;
    case MenuRowKind::SETTING:
        // The value starts right after the label.
        menu_setting_row(0, static_cast<uint8_t>(index - menu_list_scroll()), row.text, setting_value(row));
        break;
    }
}

void edit_setting(const MenuRow& row, bool up)
{
    if (row.flag != nullptr)
        toggle(*row.flag);
    else if (row.edit != nullptr)
        row.edit(up);
}

// The list whose key is being handled, for the row actions that leave it.
const MenuList* list_on_show = nullptr;

}  // namespace

void menu_list_screen(const MenuList& list)
{
    const uint8_t last = static_cast<uint8_t>(list.count - 1);
    // The cursor is shared by every screen; never index the table with a
    // value left over from a longer list.
    if (menu_cursor > last)
        menu_cursor = last;

    menu_title(list.title);
    for (uint8_t i = 0; i < list.count; ++i)
        draw_row(list.rows[i], i);

    const MenuRow& row = list.rows[menu_cursor];
    if (key_code == KEY_KNOB_PRESS) {
        if (row.kind == MenuRowKind::SETTING) {
            toggle(menu_edit);
        } else if (row.select != nullptr) {
            // An action may pump messages, and so run another list's pass.
            const MenuList* const outer = list_on_show;
            list_on_show = &list;
            row.select(row);
            list_on_show = outer;
        }
    } else if (menu_edit == 1) {
        if (key_raises() || key_lowers())
            edit_setting(row, key_raises());
    } else {
        menu_browse(last);
    }
    key_code = KEY_NONE;
}

uint8_t menu_row_opening(const MenuList& list, screen_routine screen)
{
    for (uint8_t i = 0; i < list.count; ++i)
        if (list.rows[i].opens == screen)
            return i;
    return 0;
}

uint8_t menu_row_selecting(const MenuList& list, menu_row_action select)
{
    for (uint8_t i = 0; i < list.count; ++i)
        if (list.rows[i].select == select)
            return i;
    return 0;
}

uint8_t menu_row_reading(const MenuList& list, const char* text)
{
    for (uint8_t i = 0; i < list.count; ++i) {
        const MenuRow& row = list.rows[i];
        const char* now = row.text_now != nullptr ? row.text_now() : row.text;
        if (now != nullptr && std::strcmp(now, text) == 0)
            return i;
    }
    return 0;
}

void menu_open(const MenuRow& row)
{
    menu_cursor = 0;
    current_screen = row.opens;
    menu_edit = 0;
}

void menu_open_keeping_cursor(const MenuRow& row)
{
    current_screen = row.opens;
    menu_edit = 0;
}

// ---- main menu --------------------------------------------------------------

namespace {

struct MainMenuEntry {
    const char* first_word;
    const char* second_word;
    uint8_t icon;
    screen_routine opens;
};

const MainMenuEntry main_menu_entries[] = {
    {"EXIT", "MENU", 1, main_screen},
    {"DISPLAY", "SETUP", 7, display_setup_screen},
    {"HORIZON", "SETUP", 0, horizon_setup_screen},
    {"COMPASS", "SETUP", 6, compass_setup_screen},
};
constexpr uint8_t MAIN_MENU_LAST = std::size(main_menu_entries) - 1;

}  // namespace

void main_menu_screen()
{
    // The cursor is shared by every screen; never index the table with a
    // value left over from a longer list.
    if (menu_cursor > MAIN_MENU_LAST)
        menu_cursor = MAIN_MENU_LAST;
    const MainMenuEntry& entry = main_menu_entries[menu_cursor];

    menu_title(" MAIN MENU ");
    menu_scrollbar(menu_cursor, MAIN_MENU_LAST + 1);
    lcd_text_centred_const(84, 18, entry.first_word, 1, PIXEL_SET, 0);
    lcd_text_centred_const(84, 36, entry.second_word, 1, PIXEL_SET, 0);
    lcd_draw_icon(entry.icon);

    if (key_code == KEY_KNOB_PRESS) {
        current_screen = entry.opens;
        menu_cursor = 0;
        menu_edit = 0;
    } else {
        menu_browse(MAIN_MENU_LAST);
    }
    key_code = KEY_NONE;
}

uint8_t main_menu_entry_opening(screen_routine screen)
{
    for (uint8_t i = 0; i <= MAIN_MENU_LAST; ++i)
        if (main_menu_entries[i].opens == screen)
            return i;
    return 0;
}

// Back on the main menu's entry of the list being left.
void menu_back_to_main_menu(const MenuRow&)
{
    menu_cursor = main_menu_entry_opening(list_on_show != nullptr ? list_on_show->screen : current_screen);
    current_screen = main_menu_screen;
    menu_edit = 0;
}

// ---- message screens ----------------------------------------------------------

static void message_frame()
{
    menu_title(" MESSAGE ");
    lcd_draw_icon(5);
}

static void leave_message_on_key()
{
    if (key_code >= KEY_KNOB_PRESS && key_code < KEY_CODE_COUNT) {
        // A message reached without a place to go back to would leave the
        // instrument on a blank panel; the flight display is the safe place.
        current_screen = return_screen != nullptr ? return_screen : main_screen;
    }
    key_code = KEY_NONE;
}

void done_screen()
{
    message_frame();
    lcd_text_centred_const(84, 26, "DONE", 1, PIXEL_SET, 0);
    leave_message_on_key();
}

void comms_error_screen()
{
    message_frame();
    lcd_text_centred_const(84, 20, "COMMS", 1, PIXEL_SET, 0);
    lcd_text_centred_const(84, 40, "ERROR", 1, PIXEL_SET, 0);
    leave_message_on_key();
}
