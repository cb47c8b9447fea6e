// Drawing a busy frame and presenting it, each against a naive way of doing
// the same work measured in the same run:
//  - BusyFrame: clear, then lines, circles, rectangles, text in all fonts and
//    the rotated rose, with the engine's routines; BusyFrameNaive draws the
//    same picture with floating-point lines, circles and rotation through a
//    plot that divides for its byte address.
//  - Present: lcd_present into the surface, against CopySurface, a plain copy
//    of a finished picture of the same 256 x 128 screen pixels into the
//    surface (the least any presentation costs), and PresentQImage, which
//    sets every screen pixel of a QImage one call at a time, as a window's
//    picture control would.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>

#include "firmware/headless_host.h"
#include "firmware/lcd/lcd.h"

#ifdef LCD_BENCH_WITH_QIMAGE
#include <QColor>
#include <QImage>
#endif

namespace {

HeadlessHost quiet_host;

void busy_frame(int a)
{
    lcd_clear();
    lcd_draw_rotated_rose(359 - a);
    for (int k = 0; k < 12; ++k)
        lcd_line(0, k * 5, 127, 63 - k * 5, PIXEL_INVERT);
    for (uint8_t r = 3; r <= 30; r += 3)
        lcd_circle(64, 32, r, PIXEL_INVERT);
    lcd_rect(0, 0, 127, 63, PIXEL_SET);
    lcd_fill_rect(0, 0, 127, 9, PIXEL_INVERT);
    lcd_text(2, 1, "HEADING 275|", 0, PIXEL_INVERT, 0);
    lcd_text_centred(64, 12, "COMPASS", 1, PIXEL_SET, 0);
    lcd_text_small(2, 56, "USE { } OR ~", 4);
    lcd_big_number(2, 28, "-12.5");
    lcd_medium_number(80, 36, "359");
}

// ---- the naive baseline -------------------------------------------------

void naive_plot(int x, int y, int mode)
{
    if (x < 0 || x >= 128 || y < 0 || y >= 64)
        return;
    const int index = x + (y / 8) * 128;
    const int mask = 1 << (y % 8);
    if (mode == PIXEL_SET)
        frame_buffer[index] = static_cast<uint8_t>(frame_buffer[index] | mask);
    else if (mode == PIXEL_CLEAR)
        frame_buffer[index] = static_cast<uint8_t>(frame_buffer[index] & ~mask);
    else
        frame_buffer[index] = static_cast<uint8_t>(frame_buffer[index] ^ mask);
}

void naive_line(int x0, int y0, int x1, int y1, int mode)
{
    const int n = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
    for (int k = 0; k <= n; ++k) {
        const double t = n == 0 ? 0.0 : static_cast<double>(k) / n;
        naive_plot(static_cast<int>(std::lround(x0 + t * (x1 - x0))),
                   static_cast<int>(std::lround(y0 + t * (y1 - y0))), mode);
    }
}

void naive_circle(int cx, int cy, int r, int mode)
{
    for (int x = 0; x <= r; ++x) {
        const int y = static_cast<int>(std::lround(std::sqrt(double(r * r - x * x))));
        naive_plot(cx + x, cy + y, mode);
        naive_plot(cx - x, cy + y, mode);
        naive_plot(cx + x, cy - y, mode);
        naive_plot(cx - x, cy - y, mode);
    }
}

void naive_rose(int a)
{
    const double c = std::cos(a * M_PI / 180.0);
    const double s = std::sin(a * M_PI / 180.0);
    for (int i = -31; i <= 32; ++i)
        for (int j = -31; j <= 33; ++j) {
            const int sx = static_cast<int>((j * c + i * s) * 255.0 / 250.0) + 31;
            const int sy = static_cast<int>((i * c - j * s) * 255.0 / 250.0) + 31;
            const bool lit = sx >= 0 && sx < 64 && sy >= 0 && sy < 64 &&
                             (rose_bitmap[sx + (sy / 8) * 64] >> (sy % 8)) & 1;
            naive_plot(j + 59, i + 32, lit ? PIXEL_SET : PIXEL_CLEAR);
        }
}

void naive_menu_text(int x, int y, const char* text, bool double_height, int mode)
{
    for (; *text; ++text, x += 8)
        for (int c = 0; c < 8; ++c)
            for (int j = 0; j < 8; ++j)
                if ((menu_font[(*text - 32) * 8 + c] >> j) & 1) {
                    if (double_height) {
                        naive_plot(x + c, y + 2 * j, mode);
                        naive_plot(x + c, y + 2 * j + 1, mode);
                    } else {
                        naive_plot(x + c, y + j, mode);
                    }
                }
}

void naive_busy_frame(int a)
{
    std::memset(frame_buffer, 0, sizeof frame_buffer);
    naive_rose(359 - a);
    for (int k = 0; k < 12; ++k)
        naive_line(0, k * 5, 127, 63 - k * 5, PIXEL_INVERT);
    for (int r = 3; r <= 30; r += 3)
        naive_circle(64, 32, r, PIXEL_INVERT);
    naive_line(0, 0, 127, 0, PIXEL_SET);
    naive_line(0, 63, 127, 63, PIXEL_SET);
    naive_line(0, 0, 0, 63, PIXEL_SET);
    naive_line(127, 0, 127, 63, PIXEL_SET);
    for (int x = 0; x <= 127; ++x)
        naive_line(x, 0, x, 9, PIXEL_INVERT);
    naive_menu_text(2, 1, "HEADING 275|", false, PIXEL_INVERT);
    naive_menu_text(64 - 28, 12, "COMPASS", true, PIXEL_SET);
    // The small and digit fonts through the same naive plot.
    const char* small = "USE { } OR ~";
    for (int n = 0; small[n]; ++n)
        for (int c = 0; c < 6; ++c)
            for (int r = 0; r < 8; ++r) {
                const int bits = c < 5 ? small_font[(small[n] - 32) * 5 + c] : 0;
                if ((((bits >> (7 - r)) & 1) != 0) != (n >= 4))
                    naive_plot(2 + n * 6 + c, 56 + r - 1, PIXEL_SET);
            }
    const char* big = "-12.5";
    for (int n = 0, x = 2; big[n]; ++n) {
        const int g = big[n] == '.' ? 2 : big[n] - 45;
        for (int b = 0; b < 4; ++b)
            for (int c = 0; c < 22; ++c)
                for (int j = 0; j < 8; ++j)
                    if ((large_digits[g * 88 + b * 22 + c] >> j) & 1)
                        naive_plot(x + c, 28 + 8 * b + j, PIXEL_SET);
        x += big[n] == '-' ? 14 : big[n] == '.' ? 12 : 22;
    }
    const char* medium = "359";
    for (int n = 0; medium[n]; ++n)
        for (int b = 0; b < 3; ++b)
            for (int c = 0; c < 12; ++c)
                for (int j = 0; j < 8; ++j)
                    if ((medium_digits[(medium[n] - '0') * 36 + b * 12 + c] >> j) & 1)
                        naive_plot(80 + n * 12 + c, 36 + 8 * b + j, PIXEL_SET);
}

void BM_BusyFrame(benchmark::State& state)
{
    int a = 0;
    for (auto _ : state) {
        busy_frame(a);
        a = (a + 7) % 360;
        benchmark::DoNotOptimize(frame_buffer);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BusyFrame);

void BM_BusyFrameNaive(benchmark::State& state)
{
    int a = 0;
    for (auto _ : state) {
        naive_busy_frame(a);
        a = (a + 7) % 360;
        benchmark::DoNotOptimize(frame_buffer);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BusyFrameNaive);

void BM_Present(benchmark::State& state)
{
    set_host(&quiet_host);
    busy_frame(30);
    for (auto _ : state) {
        lcd_present();
        benchmark::DoNotOptimize(lcd_surface);
        benchmark::ClobberMemory();
    }
    set_host(nullptr);
}
BENCHMARK(BM_Present);

void BM_CopySurface(benchmark::State& state)
{
    set_host(&quiet_host);
    busy_frame(30);
    lcd_present();
    static uint32_t picture[LCD_PAINTED_HEIGHT][LCD_PAINTED_WIDTH];
    for (int y = 0; y < LCD_PAINTED_HEIGHT; ++y)
        std::memcpy(picture[y], lcd_surface[y], sizeof picture[y]);
    for (auto _ : state) {
        for (int y = 0; y < LCD_PAINTED_HEIGHT; ++y)
            std::memcpy(lcd_surface[y], picture[y], sizeof picture[y]);
        benchmark::DoNotOptimize(lcd_surface);
        benchmark::ClobberMemory();
    }
    set_host(nullptr);
}
BENCHMARK(BM_CopySurface);

#ifdef LCD_BENCH_WITH_QIMAGE
void BM_PresentQImage(benchmark::State& state)
{
    busy_frame(30);
    QImage image(LCD_SURFACE_WIDTH, LCD_SURFACE_HEIGHT, QImage::Format_RGB32);
    const QRgb unlit = quiet_host.lcd_unlit_colour();
    for (auto _ : state) {
        for (int x = 0; x < LCD_WIDTH; ++x)
            for (int y = 0; y < LCD_HEIGHT; ++y) {
                const bool lit = frame_buffer[x + (y / 8) * LCD_WIDTH] & (1 << (y % 8));
                const QRgb colour = lit ? LCD_LIT_COLOUR : unlit;
                for (int dy = 0; dy < LCD_PIXEL_SCALE; ++dy)
                    for (int dx = 0; dx < LCD_PIXEL_SCALE; ++dx)
                        image.setPixel(LCD_PIXEL_SCALE * x + dx, LCD_PIXEL_SCALE * y + dy, colour);
            }
        benchmark::DoNotOptimize(image.constBits());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PresentQImage);
#endif

}  // namespace

BENCHMARK_MAIN();
