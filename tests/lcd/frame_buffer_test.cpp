#include <gtest/gtest.h>

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
