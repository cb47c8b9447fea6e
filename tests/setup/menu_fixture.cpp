#include "menu_fixture.h"

#include <cstdio>
#include <cstring>

std::vector<SentFrame> frames_in_memo(const std::vector<std::string>& memo)
{
    SentFrameReader reader;
    std::vector<SentFrame> frames;
    for (const std::string& line : memo) {
        unsigned value = 0;
        char rest = 0;
        if (line.size() != 4 || std::sscanf(line.c_str(), "0x%2X%c", &value, &rest) != 1) {
            ADD_FAILURE() << "not a byte line: " << line;
            return {};
        }
        if (auto frame = reader.push(static_cast<uint8_t>(value))) {
            EXPECT_TRUE(frame->well_formed()) << "frame " << frames.size() << " is malformed";
            frames.push_back(std::move(*frame));
        }
    }
    EXPECT_EQ(reader.skipped(), 0u) << "bytes outside any frame";
    EXPECT_FALSE(reader.mid_frame()) << "the last frame is cut short";
    return frames;
}

MenuTest::MenuTest()
{
    load_defaults();
    key_step = 1;
    host_.on_write = [this](uint8_t byte) { on_byte(byte); };
}

void MenuTest::pass(uint8_t key)
{
    key_code = key;
    lcd_clear();
    ASSERT_NE(current_screen, nullptr);
    current_screen();
}

void MenuTest::show(screen_routine screen, uint8_t key)
{
    current_screen = screen;
    pass(key);
}

bool MenuTest::title_line_holds_only(const char* title)
{
    uint8_t saved[sizeof frame_buffer];
    std::memcpy(saved, frame_buffer, sizeof saved);
    const std::string actual = lcd_dump(0, 7);
    lcd_clear();
    menu_title(title);
    const std::string expected = lcd_dump(0, 7);
    std::memcpy(frame_buffer, saved, sizeof saved);
    return actual == expected;
}

bool MenuTest::shows_text(uint8_t x, uint8_t y, const char* text, bool inverse)
{
    uint8_t saved[sizeof frame_buffer];
    std::memcpy(saved, frame_buffer, sizeof saved);
    const std::string actual = lcd_dump(y, y + 7);
    lcd_clear();
    lcd_text(x, y, text, 0, PIXEL_SET, inverse ? 1 : 0);
    const std::string expected_band = lcd_dump(y, y + 7);
    std::memcpy(frame_buffer, saved, sizeof saved);
    // Only the columns of the text are compared; the rest of the band may
    // hold other drawing (the value after a label, a scroll bar).
    const size_t width = 8 * std::strlen(text);
    for (int row = 0; row < 8; ++row) {
        for (size_t col = x; col < x + width && col < 128; ++col) {
            const size_t at = static_cast<size_t>(row) * 129 + col;
            if (actual[at] != expected_band[at])
                return false;
        }
    }
    return width > 0;
}

bool MenuTest::cell_inverse(uint8_t x, uint8_t y)
{
    return lcd_count_lit(x, y + 7, x + 7, y + 7) == 8;
}

void MenuTest::sensor_unit_answers(std::vector<uint8_t> reply, int delay_ms)
{
    host_.connected = true;
    reply_ = std::move(reply);
    reply_delay_ms_ = delay_ms;
}

void MenuTest::sensor_unit_silent()
{
    host_.connected = true;
    reply_.clear();
}

// Reads the line as the sensor unit would and answers after each frame's end
// byte.
void MenuTest::on_byte(uint8_t byte)
{
    const auto frame = line_.push(byte);
    if (!frame)
        return;
    received_.push_back(*frame);
    if (!reply_.empty()) {
        const std::vector<uint8_t> reply = reply_;
        host_.after(reply_delay_ms_, [reply] { link_receive(reply.data(), reply.size()); });
    }
}
