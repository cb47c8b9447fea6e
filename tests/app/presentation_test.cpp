// The display as the window shows it: lit pixels black, unlit ones in the
// palette's light grey matching Panel1, each LCD pixel a 2 x 2 block, and
// the 257th column and 129th row, which are never painted, showing the
// panel behind them.
#include <QFrame>
#include <QPixmap>

#include "app/lcd_image.h"
#include "app_test_support.h"
#include "firmware/lcd/lcd.h"

namespace {

void light(int x, int y)
{
    frame_buffer[x + (y / 8) * 128] |= bit_mask[y % 8];
}

}  // namespace

class PresentationTest : public WindowTest {
protected:
    // Panel1 as drawn on screen; Image1 sits at (1, 1) inside it.
    QImage panel_picture() { return form->Panel1->grab().toImage(); }
    QRgb display_pixel(const QImage& panel, int sx, int sy) { return panel.pixel(1 + sx, 1 + sy) & 0xffffff; }
    QRgb unlit() { return form->lcd_unlit_colour().rgb() & 0xffffff; }
};

TEST_F(PresentationTest, BeforeTheFirstFrameTheDisplayShowsThePanelColour)
{
    const QImage panel = panel_picture();
    for (int sy : {0, 64, 128})
        for (int sx : {0, 128, 255, 256})
            EXPECT_EQ(display_pixel(panel, sx, sy), unlit()) << sx << "," << sy;
}

TEST_F(PresentationTest, LitPixelsAreBlackTwoByTwoBlocksOnTheUnlitColour)
{
    lcd_clear();
    light(0, 0);
    light(127, 63);
    light(5, 9);
    lcd_present();
    const QImage panel = panel_picture();
    for (auto [x, y] : {std::pair{0, 0}, {127, 63}, {5, 9}}) {
        for (int dy = 0; dy < 2; ++dy)
            for (int dx = 0; dx < 2; ++dx)
                EXPECT_EQ(display_pixel(panel, 2 * x + dx, 2 * y + dy), 0x000000u) << x << "," << y;
    }
    EXPECT_EQ(display_pixel(panel, 2, 0), unlit());
    EXPECT_EQ(display_pixel(panel, 0, 2), unlit());
    EXPECT_EQ(display_pixel(panel, 12, 18), unlit()) << "(6, 9) is unlit";
    EXPECT_EQ(display_pixel(panel, 253, 125), unlit());
}

TEST_F(PresentationTest, TheUnpaintedColumnAndRowShowThePanel)
{
    // Every pixel lit: only column 256 and row 128 can show anything else.
    std::fill(std::begin(frame_buffer), std::end(frame_buffer), uint8_t{0xff});
    lcd_present();
    const QImage panel = panel_picture();
    EXPECT_EQ(display_pixel(panel, 255, 127), 0x000000u);
    for (int sy : {0, 77, 127, 128})
        EXPECT_EQ(display_pixel(panel, 256, sy), unlit()) << "row " << sy;
    for (int sx : {0, 200, 255})
        EXPECT_EQ(display_pixel(panel, sx, 128), unlit()) << "column " << sx;
}

TEST_F(PresentationTest, TheFrameStaysUntilTheNextPresent)
{
    lcd_clear();
    light(10, 10);
    lcd_present();
    lcd_clear();  // a new pass starts drawing...
    EXPECT_EQ(display_pixel(panel_picture(), 20, 20), 0x000000u) << "...the window keeps the last frame";
    lcd_present();
    EXPECT_EQ(display_pixel(panel_picture(), 20, 20), unlit());
}

// A frame like the one on show repaints nothing; a changed one repaints the
// squares of the columns and pages that changed, and the picture is right.
TEST_F(PresentationTest, OnlyWhatChangedIsRepainted)
{
    form->show();
    PaintCounter counter(form->Image1);
    lcd_clear();
    light(3, 3);
    lcd_present();
    ASSERT_TRUE(wait_until([&] { return counter.paints > 0; }));
    handle_pending_events();
    counter.paints = 0;
    counter.painted = {};
    for (int n = 0; n < 10; ++n) {
        lcd_clear();
        light(3, 3);
        lcd_present();
        handle_pending_events();
    }
    EXPECT_EQ(counter.paints, 0) << "the same frame again";

    light(40, 20);  // page 2
    light(44, 30);  // page 3
    lcd_present();
    ASSERT_TRUE(wait_until([&] { return counter.paints > 0; }));
    EXPECT_TRUE(QRect(80, 32, 10, 32).contains(counter.painted.boundingRect())) << "columns 40..44, pages 2..3";
    const QImage panel = panel_picture();
    EXPECT_EQ(display_pixel(panel, 81, 41), 0x000000u);
    EXPECT_EQ(display_pixel(panel, 88, 60), 0x000000u);
    EXPECT_EQ(display_pixel(panel, 7, 7), 0x000000u);
}

TEST_F(PresentationTest, UnlitColourIsALightGreyFromThePaletteEvenOnADarkScheme)
{
    QPalette light_scheme;
    light_scheme.setColor(QPalette::Midlight, QColor(0xd4, 0xd0, 0xc8));
    EXPECT_EQ(TForm1::unlit_colour_from(light_scheme), QColor(0xd4, 0xd0, 0xc8));
    QPalette dark_scheme;
    dark_scheme.setColor(QPalette::Midlight, QColor(0x30, 0x30, 0x30));
    const QColor fallback = TForm1::unlit_colour_from(dark_scheme);
    EXPECT_GE(fallback.lightness(), 180);
    EXPECT_EQ(fallback.saturation(), 0);
    // The firmware gets it opaque, as the surface needs.
    EXPECT_EQ(host().lcd_unlit_colour() >> 24, 0xffu);
}

TEST_F(PresentationTest, APaletteChangeRecoloursThePanelAndTheNextFrame)
{
    QPalette scheme = form->palette();
    scheme.setColor(QPalette::Midlight, QColor(0xe0, 0xd8, 0xd0));
    form->setPalette(scheme);
    EXPECT_EQ(form->Panel1->palette().color(QPalette::Window), QColor(0xe0, 0xd8, 0xd0));
    lcd_clear();
    lcd_present();
    EXPECT_EQ(display_pixel(panel_picture(), 40, 40), 0xe0d8d0u);
}
