// lcd_sheets [FOLDER]: draws every font, the icons and the compass rose with
// the firmware's own routines and saves them as PNG sheets, lit pixels dark
// on the panel's light grey, so that a person can judge them.
#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "command_line.h"
#include "firmware/lcd/lcd.h"

namespace {

constexpr int SCALE = 4;
constexpr int GAP = 4;  // display pixels between the pieces of a sheet
const QColor LIT(0x20, 0x24, 0x20);
const QColor UNLIT(0xc8, 0xcc, 0xc0);
const QColor BORDER(0xa8, 0xac, 0xa0);

// A rectangle of the panel, in display pixels, captured after some drawing.
struct Piece {
    std::function<void()> draw;
    int x0, y0, w, h;
};

QImage capture(const Piece& piece)
{
    lcd_clear();
    piece.draw();
    QImage image(piece.w, piece.h, QImage::Format_RGB32);
    for (int y = 0; y < piece.h; ++y)
        for (int x = 0; x < piece.w; ++x)
            image.setPixelColor(x, y, lcd_get_pixel(static_cast<uint8_t>(piece.x0 + x),
                                                    static_cast<uint8_t>(piece.y0 + y))
                                          ? LIT
                                          : UNLIT);
    return image;
}

// Lays the pieces out in rows of `per_row`, each framed by a thin border so
// blank space inside a glyph cell can be told from the gap between cells.
bool save_sheet(const QString& path, const std::vector<Piece>& pieces, int per_row)
{
    std::vector<QImage> images;
    int cell_w = 0;
    int cell_h = 0;
    for (const Piece& piece : pieces) {
        images.push_back(capture(piece));
        cell_w = std::max(cell_w, piece.w);
        cell_h = std::max(cell_h, piece.h);
    }
    const int columns = std::min<int>(per_row, static_cast<int>(images.size()));
    const int rows = (static_cast<int>(images.size()) + per_row - 1) / per_row;
    QImage sheet((columns * (cell_w + GAP) + GAP) * SCALE, (rows * (cell_h + GAP) + GAP) * SCALE,
                 QImage::Format_RGB32);
    sheet.fill(UNLIT);
    QPainter painter(&sheet);
    for (std::size_t i = 0; i < images.size(); ++i) {
        const int left = (GAP + static_cast<int>(i % per_row) * (cell_w + GAP)) * SCALE;
        const int top = (GAP + static_cast<int>(i / per_row) * (cell_h + GAP)) * SCALE;
        const QImage& image = images[i];
        painter.setPen(BORDER);
        painter.drawRect(left - 2, top - 2, image.width() * SCALE + 3, image.height() * SCALE + 3);
        painter.drawImage(left, top, image.scaled(image.size() * SCALE, Qt::IgnoreAspectRatio,
                                                  Qt::FastTransformation));
    }
    painter.end();
    if (!sheet.save(path, "PNG")) {
        std::fprintf(stderr, "lcd_sheets: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// A whole panel, drawn by `draw`.
Piece panel(std::function<void()> draw) { return {std::move(draw), 0, 0, LCD_WIDTH, LCD_HEIGHT}; }

std::string codes(int first, int last)
{
    std::string s;
    for (int c = first; c <= last; ++c)
        s += static_cast<char>(c);
    return s;
}

}  // namespace

int main(int argc, char** argv)
{
    command_line::ToolCommandLine cli(
        QStringLiteral("lcd_sheets"),
        QStringLiteral("Draws the fonts, digits, icons and compass rose with the firmware's own routines and\n"
                       "saves them as PNG sheets (lcd_small_font.png, lcd_menu_font.png, lcd_digits.png,\n"
                       "lcd_icons.png, lcd_rose.png) in FOLDER, docs/images by default."));
    cli.parser().addPositionalArgument(QStringLiteral("folder"), QStringLiteral("Where the sheets go."),
                                       QStringLiteral("[FOLDER]"));
    cli.parse(argc, argv, true);
    const QStringList folders = cli.parser().positionalArguments();
    if (folders.size() > 1)
        cli.reject(QStringLiteral("one folder, not %1").arg(folders.size()));
    const QString folder = folders.isEmpty() ? QStringLiteral("docs/images") : folders.constFirst();
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "lcd_sheets: cannot make the folder %s\n", qPrintable(folder));
        return 1;
    }
    bool ok = true;

    // Small font: all 96 codes, then the inverse video the menus use.
    ok &= save_sheet(folder + "/lcd_small_font.png",
                     {panel([] {
                         for (int row = 0; row < 6; ++row)
                             lcd_text_small(4, static_cast<uint8_t>(2 + row * 9),
                                            codes(32 + row * 16, 47 + row * 16).c_str(), 100);
                         lcd_text_small(4, 56, "HEADING 275|", 8);
                     })},
                     1);

    // Menu font: single height (all codes, and one inverse line), then double.
    ok &= save_sheet(folder + "/lcd_menu_font.png",
                     {panel([] {
                          for (int row = 0; row < 6; ++row)
                              lcd_text(0, static_cast<uint8_t>(row * 9),
                                       codes(32 + row * 16, 47 + row * 16).c_str(), 0, PIXEL_SET, 0);
                          lcd_text(0, 55, " USE { } OR ~ ", 0, PIXEL_SET, 1);
                      }),
                      panel([] {
                          lcd_text_centred(64, 0, "HORIZON", 1, PIXEL_SET, 0);
                          lcd_text_centred(64, 17, "Setup 25|", 1, PIXEL_SET, 0);
                          lcd_fill_rect(0, 34, 127, 63, PIXEL_SET);
                          lcd_text_centred(64, 36, "Quagmire", 1, PIXEL_INVERT, 0);
                          lcd_text(0, 55, "gjpqy,;_", 0, PIXEL_INVERT, 0);
                      })},
                     1);

    ok &= save_sheet(folder + "/lcd_digits.png",
                     {panel([] {
                          lcd_medium_number(4, 0, "01234");
                          lcd_medium_number(4, 26, "56789");
                          lcd_medium_number(68, 0, " 7");
                      }),
                      panel([] { lcd_big_number(0, 0, "01234"); }),
                      panel([] { lcd_big_number(0, 0, "56789"); }),
                      panel([] {
                          lcd_big_number(0, 0, "-12.5");
                          lcd_big_number(0, 32, "+3 /0");
                      })},
                     2);

    std::vector<Piece> icons;
    for (uint8_t n = 0; n < 8; ++n)
        icons.push_back({[n] { lcd_draw_icon(n); }, 10, n == 4 ? 8 : 16, 32, 32});
    ok &= save_sheet(folder + "/lcd_icons.png", icons, 4);

    std::vector<Piece> roses;
    for (int32_t a : {0, 30, 90, 200})
        roses.push_back({[a] { lcd_draw_rotated_rose(a); }, 28, 0, 65, 64});
    ok &= save_sheet(folder + "/lcd_rose.png", roses, 4);

    return ok ? 0 : 1;
}
