// Shared fixture of the setup menu tests: a fake host, one-pass screen calls,
// picture comparisons against text drawn on its own, and a scripted sensor
// unit that reads the frames written to the port and may answer them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fake_host.h"
#include "firmware/instrument_state.h"
#include "firmware/lcd/lcd.h"
#include "firmware/link/link.h"
#include "firmware/setup/setup.h"
#include "lcd_picture.h"
#include "link/link_frames.h"

// The frames in the communication log (one "0xHH" line per byte); lines
// that are not bytes, bytes outside frames and malformed frames fail the test.
std::vector<SentFrame> frames_in_memo(const std::vector<std::string>& memo);

class MenuTest : public ::testing::Test {
protected:
    MenuTest();

    // One pass of the current screen on a cleared panel, with `key` pending.
    void pass(uint8_t key = 0);
    // The screen under test made current, then one pass.
    void show(screen_routine screen, uint8_t key = 0);

    // Whether the panel shows `text` in the menu font at (x, y), single
    // height, inverse or not: the 8-row band is compared with the same text
    // drawn alone on a clear panel.
    bool shows_text(uint8_t x, uint8_t y, const char* text, bool inverse);
    // Whether the title line (rows 0..7) holds `title` as menu_title draws it,
    // and nothing else: no list row scrolled up into it.
    bool title_line_holds_only(const char* title);
    // A single-height text cell drawn inverse has its bottom row fully lit.
    bool cell_inverse(uint8_t x, uint8_t y);

    // The port is connected and the sensor unit answers every complete frame
    // with `reply` (if not empty) after `delay_ms` of virtual time; the default
    // puts the answer into the first message pumping after the frame.
    void sensor_unit_answers(std::vector<uint8_t> reply, int delay_ms = 1);
    // The port is connected but nothing ever answers.
    void sensor_unit_silent();

    FakeHost host_;
    std::vector<SentFrame> received_;  // what the sensor unit read from the line
    std::vector<uint8_t> reply_;
    int reply_delay_ms_ = 1;

private:
    void on_byte(uint8_t byte);
    SentFrameReader line_;
};
