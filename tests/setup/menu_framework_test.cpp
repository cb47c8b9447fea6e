// The shared menu drawing, the list scroll, the acknowledged exchange as the
// menus use it, the message screens and the main menu.
#include <cstring>

#include "firmware/firmware_loop.h"
#include "firmware/flight/flight.h"
#include "menu_fixture.h"

namespace {

using MenuDrawing = MenuTest;

TEST_F(MenuDrawing, TitleRulesStopInsideTheBlankEndCells)
{
    menu_title(" MAIN MENU ");  // 11 characters: text over columns 20..107
    EXPECT_TRUE(shows_text(28, 0, "MAIN MENU", false));
    EXPECT_EQ(lcd_count_lit(0, 4, 22, 4), 23);
    EXPECT_EQ(lcd_count_lit(23, 4, 27, 4), 0);
    EXPECT_EQ(lcd_count_lit(100, 4, 105, 4), 0);
    EXPECT_EQ(lcd_count_lit(106, 4, 127, 4), 22);
    EXPECT_EQ(lcd_count_lit(0, 8, 127, 63), 0);
}

TEST_F(MenuDrawing, ScrollBarBlockSplitsTheTrackEvenly)
{
    const int tops[] = {8, 22, 36, 50};
    for (uint8_t index = 0; index < 4; ++index) {
        lcd_clear();
        menu_scrollbar(index, 4);
        SCOPED_TRACE(index);
        EXPECT_EQ(lcd_count_lit(125, 8, 125, 63), 56);
        EXPECT_EQ(lcd_count_lit(125, 0, 125, 7), 0);
        const int top = tops[index];
        const int bottom = top + 14 > 63 ? 63 : top + 14;
        EXPECT_EQ(lcd_count_lit(123, top, 127, bottom), 5 * (bottom - top + 1));
        EXPECT_EQ(lcd_count_lit(123, 8, 124, 63), 2 * (bottom - top + 1));
    }
    lcd_clear();
    menu_scrollbar(0, 0);  // no entries: the track alone, no division by zero
    EXPECT_EQ(lcd_count_lit(0, 0, 127, 63), 56);
}

TEST_F(MenuDrawing, ItemsAboveTheListAreNotDrawn)
{
    menu_item(0, 7, "AB", 1);
    menu_item(0, 0, "AB", 0);
    EXPECT_EQ(lcd_count_lit(0, 0, 127, 63), 0);
    menu_item(0, 8, "AB", 1);
    EXPECT_TRUE(shows_text(0, 8, "AB", true));
}

TEST_F(MenuDrawing, SettingRowInvertsAllWhileBrowsingAndOnlyTheValueWhileEditing)
{
    menu_cursor = 2;
    menu_edit = 0;
    menu_setting_row(0, 2, "SLIP: ", "ON");
    EXPECT_TRUE(shows_text(0, 24, "SLIP: ", true));
    EXPECT_TRUE(shows_text(48, 24, "ON", true));

    lcd_clear();
    menu_edit = 1;
    menu_setting_row(0, 2, "SLIP: ", "ON");
    EXPECT_TRUE(shows_text(0, 24, "SLIP: ", false));
    EXPECT_TRUE(shows_text(48, 24, "ON", true));

    lcd_clear();
    menu_setting_row(0, 3, "SLIP: ", "ON");  // not the selected row
    EXPECT_TRUE(shows_text(0, 32, "SLIP: ", false));
    EXPECT_TRUE(shows_text(48, 32, "ON", false));
}

TEST_F(MenuDrawing, SettingRowsOffTheListDrawNothing)
{
    menu_cursor = 9;
    for (int row = -5; row < 0; ++row)
        menu_setting_row(0, static_cast<uint8_t>(row), "NUMERIC: ", "ON");
    menu_setting_row(0, 7, "NUMERIC: ", "ON");
    EXPECT_EQ(lcd_count_lit(0, 0, 127, 63), 0);
}

TEST_F(MenuDrawing, ListScrollKeepsTheCursorOnTheBottomLine)
{
    for (uint8_t cursor = 0; cursor < 7; ++cursor) {
        menu_cursor = cursor;
        EXPECT_EQ(menu_list_scroll(), 0);
    }
    menu_cursor = 7;
    EXPECT_EQ(menu_list_scroll(), 1);
    menu_cursor = 9;
    EXPECT_EQ(menu_list_scroll(), 3);
    menu_cursor = 11;
    EXPECT_EQ(menu_list_scroll(), 5);
}

// ---- main menu -------------------------------------------------------------------

using MainMenu = MenuTest;

TEST_F(MainMenu, BrowsesFourEntriesWithoutWrapping)
{
    menu_cursor = 0;
    show(main_menu_screen, KEY_ANTICLOCKWISE);
    EXPECT_EQ(menu_cursor, 0);
    pass(KEY_LEFT);
    EXPECT_EQ(menu_cursor, 0);
    pass(KEY_CLOCKWISE);
    pass(KEY_RIGHT);
    pass(KEY_CLOCKWISE);
    EXPECT_EQ(menu_cursor, 3);
    pass(KEY_CLOCKWISE);
    EXPECT_EQ(menu_cursor, 3);
    pass(KEY_RIGHT);
    EXPECT_EQ(menu_cursor, 3);
    pass(KEY_LEFT);
    EXPECT_EQ(menu_cursor, 2);
    EXPECT_EQ(key_code, KEY_NONE);
    EXPECT_EQ(current_screen, main_menu_screen);
}

TEST_F(MainMenu, EachEntryShowsItsIconAndOpensItsScreen)
{
    struct Entry {
        uint8_t icon;
        screen_routine opens;
        const char* first;
        const char* second;
    };
    const Entry entries[] = {
        {1, main_screen, "EXIT", "MENU"},
        {7, display_setup_screen, "DISPLAY", "SETUP"},
        {0, horizon_setup_screen, "HORIZON", "SETUP"},
        {6, compass_setup_screen, "COMPASS", "SETUP"},
    };
    for (uint8_t cursor = 0; cursor < 4; ++cursor) {
        SCOPED_TRACE(cursor);
        menu_cursor = cursor;
        show(main_menu_screen);
        const std::string icon_area = lcd_dump(16, 47, 10, 41);
        const std::string words = lcd_dump(18, 51, 44, 121);
        lcd_clear();
        lcd_draw_icon(entries[cursor].icon);
        EXPECT_EQ(icon_area, lcd_dump(16, 47, 10, 41));
        lcd_clear();
        lcd_text_centred(84, 18, entries[cursor].first, 1, PIXEL_SET, 0);
        lcd_text_centred(84, 36, entries[cursor].second, 1, PIXEL_SET, 0);
        EXPECT_EQ(words, lcd_dump(18, 51, 44, 121));

        menu_cursor = cursor;
        menu_edit = 1;
        show(main_menu_screen, KEY_KNOB_PRESS);
        EXPECT_EQ(current_screen, entries[cursor].opens);
        EXPECT_EQ(menu_cursor, 0);
        EXPECT_EQ(menu_edit, 0);
    }
}

TEST_F(MainMenu, SetupListsComeBackOnTheirOwnEntry)
{
    const std::pair<screen_routine, uint8_t> lists[] = {
        {display_setup_screen, 1}, {horizon_setup_screen, 2}, {compass_setup_screen, 3}};
    for (const auto& [list, entry] : lists) {
        menu_cursor = 0;
        menu_edit = 0;
        show(list, KEY_KNOB_PRESS);
        EXPECT_EQ(current_screen, main_menu_screen);
        EXPECT_EQ(menu_cursor, entry);
    }
}

// ---- message screens ---------------------------------------------------------------

using MessageScreens = MenuTest;

TEST_F(MessageScreens, AnyKeyGoesBackToTheReturnScreen)
{
    for (screen_routine message : {done_screen, comms_error_screen}) {
        for (uint8_t key = KEY_KNOB_PRESS; key < KEY_CODE_COUNT; ++key) {
            return_screen = set_alignment_screen;
            show(message, key);
            EXPECT_EQ(current_screen, set_alignment_screen);
            EXPECT_EQ(key_code, KEY_NONE);
        }
        return_screen = set_alignment_screen;
        show(message, KEY_NONE);
        EXPECT_EQ(current_screen, message);
    }
}

TEST_F(MessageScreens, WithoutAReturnScreenTheFlightDisplayTakesOver)
{
    return_screen = nullptr;
    show(done_screen, KEY_KNOB_PRESS);
    EXPECT_EQ(current_screen, main_screen);
}

// ---- the acknowledged exchange -------------------------------------------------------

using MenuExchange = MenuTest;

// The bump factor at LOWEST with nobody listening: ten copies, one per tick,
// then the error message after two seconds.
TEST_F(MenuExchange, SilentSensorUnitGetsTenCopiesThenCommsError)
{
    bump_index = 0;
    const int64_t start = host_.now_ms();
    show(bump_factor_screen, KEY_KNOB_PRESS);
    const int64_t took = host_.now_ms() - start;

    const std::vector<std::string> one_frame = {"0xE5", "0x82", "0xE6", "0x04", "0x35",
                                                "0x09", "0x46", "0x00", "0x3D", "0x83"};
    ASSERT_EQ(host_.memo.size(), 100u);
    for (size_t copy = 0; copy < 10; ++copy)
        EXPECT_EQ(std::vector<std::string>(host_.memo.begin() + 10 * copy, host_.memo.begin() + 10 * (copy + 1)),
                  one_frame)
            << "copy " << copy;
    EXPECT_GE(took, 1900);
    EXPECT_LE(took, 2200);
    EXPECT_EQ(current_screen, comms_error_screen);
    EXPECT_EQ(return_screen, horizon_setup_screen);
    EXPECT_EQ(menu_cursor, 4);
    EXPECT_EQ(bump_index, 0);  // kept as chosen

    pass();
    EXPECT_EQ(current_screen, comms_error_screen);
    pass(KEY_CLOCKWISE);
    EXPECT_EQ(current_screen, horizon_setup_screen);
}

TEST_F(MenuExchange, AnswerAtTheFirstPumpSendsExactlyOnce)
{
    sensor_unit_answers(ack_frame());
    bump_index = 4;
    show(bump_factor_screen, KEY_KNOB_PRESS);
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0].address, 0xE6);
    EXPECT_EQ(received_[0].body, (std::vector<uint8_t>{0x35, 0x09, 244, 1}));
    EXPECT_EQ(current_screen, done_screen);
    EXPECT_EQ(return_screen, horizon_setup_screen);
    pass(KEY_KNOB_PRESS);
    EXPECT_EQ(current_screen, horizon_setup_screen);
    EXPECT_EQ(menu_cursor, 4);
}

TEST_F(MenuExchange, LateAnswerAfterTheLastCopyStillCounts)
{
    sensor_unit_silent();
    host_.after(1500, [] {
        const auto ack = ack_frame();
        link_receive(ack.data(), ack.size());
    });
    show(slew_factor_screen, KEY_KNOB_PRESS);
    EXPECT_EQ(received_.size(), 10u);
    EXPECT_EQ(current_screen, done_screen);
}

TEST_F(MenuExchange, KeysPressedWhileItWaitsAreDropped)
{
    sensor_unit_silent();
    host_.after(150, [] { store_key_code(KEY_ANTICLOCKWISE); });
    host_.after(1200, [] { store_key_code(KEY_KNOB_PRESS); });
    bump_index = 2;
    show(bump_factor_screen, KEY_KNOB_PRESS);
    EXPECT_EQ(key_code, KEY_NONE);
    EXPECT_EQ(bump_index, 2);
    EXPECT_EQ(current_screen, comms_error_screen);
    pass();  // nothing pending: the message stays
    EXPECT_EQ(current_screen, comms_error_screen);
}

}  // namespace
