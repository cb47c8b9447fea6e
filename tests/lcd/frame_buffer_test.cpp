#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "fake_host.h"
#include "firmware/lcd/lcd.h"

TEST(FrameBuffer, PixelAddressing)
{
    FakeHost host;
    lcd_plot(0, 0, PIXEL_SET);
    EXPECT_EQ(frame_buffer[0], 0x01);
    lcd_plot(127, 63, PIXEL_SET);
    EXPECT_EQ(frame_buffer[1023], 0x80);
    lcd_plot(5, 9, PIXEL_SET);
    EXPECT_EQ(frame_buffer[133], 0x02);
    lcd_clear();
    for (uint8_t b : frame_buffer)
        ASSERT_EQ(b, 0);
}

TEST(FrameBuffer, ClearedBufferPresentsAsUnlitArea)
{
    FakeHost host;
    host.unlit = 0xffd4d0c8;
    lcd_present();
    EXPECT_EQ(host.presents, 1);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 256; ++x)
            ASSERT_EQ(lcd_surface[y][x], 0xffd4d0c8u) << x << "," << y;
}

TEST(FrameBuffer, LitPixelBecomesABlackTwoByTwoBlock)
{
    FakeHost host;
    lcd_plot(5, 9, PIXEL_SET);
    lcd_plot(127, 63, PIXEL_SET);
    lcd_present();
    for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx) {
            EXPECT_EQ(lcd_surface[18 + dy][10 + dx], LCD_LIT_COLOUR);
            EXPECT_EQ(lcd_surface[126 + dy][254 + dx], LCD_LIT_COLOUR);
        }
    EXPECT_EQ(lcd_surface[17][10], host.unlit);
    EXPECT_EQ(lcd_surface[18][12], host.unlit);
}

TEST(FrameBuffer, LastSurfaceColumnAndRowAreNeverPainted)
{
    FakeHost host;
    const uint32_t marker = 0xff123456;
    for (int y = 0; y < LCD_SURFACE_HEIGHT; ++y)
        lcd_surface[y][256] = marker;
    for (int x = 0; x < LCD_SURFACE_WIDTH; ++x)
        lcd_surface[128][x] = marker;
    std::fill(std::begin(frame_buffer), std::end(frame_buffer), 0xff);
    lcd_present();
    for (int y = 0; y < LCD_SURFACE_HEIGHT; ++y)
        EXPECT_EQ(lcd_surface[y][256], marker);
    for (int x = 0; x < LCD_SURFACE_WIDTH; ++x)
        EXPECT_EQ(lcd_surface[128][x], marker);
    EXPECT_EQ(lcd_surface[127][255], LCD_LIT_COLOUR);
}

TEST(FrameBuffer, UnlitColourFollowsTheHostAtEveryPresent)
{
    FakeHost host;
    lcd_present();
    EXPECT_EQ(lcd_surface[0][0], host.unlit);
    host.unlit = 0xffa0a0a0;
    lcd_present();
    EXPECT_EQ(lcd_surface[0][0], 0xffa0a0a0u);
}

// The row-at-a-time presentation against the plain one, a square per pixel
// through lcd_present_pixel, on edge patterns and random frames: the whole
// surface must match, the unpainted column and row included.
TEST(FrameBuffer, PresentEqualsPaintingEveryPixel)
{
    FakeHost host;
    std::mt19937 random(20240607);
    std::vector<std::vector<uint8_t>> frames = {std::vector<uint8_t>(1024, 0x00), std::vector<uint8_t>(1024, 0xff),
                                                std::vector<uint8_t>(1024, 0x55), std::vector<uint8_t>(1024, 0x80)};
    for (int n = 0; n < 8; ++n) {
        std::vector<uint8_t> frame(1024);
        for (uint8_t& b : frame)
            b = static_cast<uint8_t>(random());
        frames.push_back(frame);
    }
    static uint32_t expected[LCD_SURFACE_HEIGHT][LCD_SURFACE_WIDTH];
    const uint32_t marker = 0x00abcdef;
    for (size_t n = 0; n < frames.size(); ++n) {
        host.unlit = n % 2 ? 0xffd4d0c8 : 0xff808080;
        std::copy(frames[n].begin(), frames[n].end(), frame_buffer);
        std::fill(&lcd_surface[0][0], &lcd_surface[0][0] + LCD_SURFACE_WIDTH * LCD_SURFACE_HEIGHT, marker);
        for (int x = 0; x < LCD_WIDTH; ++x)
            for (int y = 0; y < LCD_HEIGHT; ++y) {
                const bool lit = frame_buffer[x + (y / 8) * LCD_WIDTH] & (1 << (y % 8));
                lcd_present_pixel(static_cast<uint8_t>(x), static_cast<uint8_t>(y), lit ? LCD_LIT_COLOUR : host.unlit);
            }
        std::memcpy(expected, lcd_surface, sizeof expected);
        std::fill(&lcd_surface[0][0], &lcd_surface[0][0] + LCD_SURFACE_WIDTH * LCD_SURFACE_HEIGHT, marker);
        lcd_present();
        EXPECT_EQ(std::memcmp(expected, lcd_surface, sizeof expected), 0) << "frame " << n;
    }
}
