#include "menu_fixture.h"

#include <cstdio>
#include <cstring>

std::vector<uint8_t> frame_to_instrument(uint8_t command, const std::vector<uint8_t>& data)
{
    const uint8_t address = 0xE5;
    const uint8_t length = static_cast<uint8_t>(data.size() + 1);
    uint8_t checksum = 0xA5 ^ address ^ length ^ command;
    std::vector<uint8_t> frame{0x82, address, length, command};
    for (uint8_t d : data) {
        frame.push_back(d);
        checksum ^= d;
    }
    frame.push_back(checksum);
    frame.push_back(0x83);
    return frame;
}

std::vector<uint8_t> ack_frame()
{
    return frame_to_instrument(0x0A, {0x00});
}

std::vector<uint8_t> compass_data_frame(const std::array<uint16_t, 6>& words)
{
    std::vector<uint8_t> data;
    for (uint16_t w : words) {
        data.push_back(static_cast<uint8_t>(w & 0xFF));
        data.push_back(static_cast<uint8_t>(w >> 8));
    }
    return frame_to_instrument(0x33, data);
}

std::vector<uint8_t> compass_heading_frame(uint16_t heading, uint8_t tilt)
{
    return frame_to_instrument(0x32, {static_cast<uint8_t>(heading & 0xFF), static_cast<uint8_t>(heading >> 8), tilt});
}

std::vector<SentFrame> frames_in_memo(const std::vector<std::string>& memo)
{
    std::vector<uint8_t> bytes;
    for (const std::string& line : memo) {
        unsigned value = 0;
        char rest = 0;
        if (line.size() != 4 || std::sscanf(line.c_str(), "0x%2X%c", &value, &rest) != 1) {
            ADD_FAILURE() << "not a byte line: " << line;
            return {};
        }
        bytes.push_back(static_cast<uint8_t>(value));
    }
    std::vector<SentFrame> frames;
    size_t i = 0;
    while (i < bytes.size()) {
        if (bytes.size() - i < 6 || bytes[i] != 0xE5 || bytes[i + 1] != 0x82) {
            ADD_FAILURE() << "no frame starts at byte " << i;
            return frames;
        }
        const uint8_t length = bytes[i + 3];
        const size_t end = i + 4 + length + 1;
        if (end >= bytes.size() || bytes[end] != 0x83) {
            ADD_FAILURE() << "frame at byte " << i << " is cut short";
            return frames;
        }
        SentFrame frame;
        frame.address = bytes[i + 2];
        uint8_t checksum = 0xA5 ^ frame.address ^ length;
        for (size_t k = 0; k < length; ++k) {
            frame.body.push_back(bytes[i + 4 + k]);
            checksum ^= bytes[i + 4 + k];
        }
        EXPECT_EQ(checksum, bytes[end - 1]) << "checksum of the frame at byte " << i;
        frames.push_back(frame);
        i = end + 1;
    }
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

// Reads the line as the sensor unit would: attention byte, then a frame of
// known length; it answers after the end byte.
void MenuTest::on_byte(uint8_t byte)
{
    pending_.push_back(byte);
    if (pending_.size() == 1 && byte != 0xE5) {
        pending_.clear();
        return;
    }
    if (pending_.size() < 4)
        return;
    const size_t whole = 4 + pending_[3] + 2;
    if (pending_.size() < whole)
        return;
    SentFrame frame;
    frame.address = pending_[2];
    frame.body.assign(pending_.begin() + 4, pending_.begin() + 4 + pending_[3]);
    received_.push_back(frame);
    pending_.clear();
    if (!reply_.empty()) {
        const std::vector<uint8_t> reply = reply_;
        host_.after(reply_delay_ms_, [reply] { link_receive(reply.data(), reply.size()); });
    }
}
