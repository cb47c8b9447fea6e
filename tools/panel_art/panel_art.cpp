// Draws the QR-7's front face, 336 x 323 pixels, and writes it as a JPEG.
// Every feature sits under the window control that stands for it: the lamp
// under Shape1, the display window around Panel1, the F1 key under Image3,
// the knob under Image5 and the F2 key under Image6.
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QSaveFile>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

#include <jpeglib.h>

#include "command_line.h"

namespace {

constexpr int WIDTH = 336;
constexpr int HEIGHT = 323;

// Places of the window's controls over the picture (left, top, width, height).
const QRectF LAMP(154, 17, 29, 29);
const QRectF DISPLAY(39, 92, 259, 131);
const QRectF LEFT_KEY(74, 243, 47, 47);
const QRectF KNOB(145, 255, 46, 43);
const QRectF RIGHT_KEY(217, 243, 42, 42);

void draw_plate(QPainter& p)
{
    QLinearGradient metal(0, 0, WIDTH, HEIGHT);
    metal.setColorAt(0.0, QColor(0x5a, 0x5d, 0x62));
    metal.setColorAt(0.5, QColor(0x44, 0x47, 0x4c));
    metal.setColorAt(1.0, QColor(0x33, 0x35, 0x39));
    p.fillRect(QRectF(0, 0, WIDTH, HEIGHT), metal);

    // Mounting screws in the corners of the panel plate.
    for (QPointF centre : {QPointF(14, 14), QPointF(WIDTH - 14, 14), QPointF(14, HEIGHT - 14),
                           QPointF(WIDTH - 14, HEIGHT - 14)}) {
        QRadialGradient head(centre - QPointF(2, 2), 8);
        head.setColorAt(0, QColor(0xb8, 0xbb, 0xc0));
        head.setColorAt(1, QColor(0x50, 0x53, 0x58));
        p.setPen(QPen(QColor(0x22, 0x22, 0x22), 1));
        p.setBrush(head);
        p.drawEllipse(centre, 7, 7);
        p.setPen(QPen(QColor(0x2a, 0x2a, 0x2a), 1.6));
        p.drawLine(centre + QPointF(-4, 4), centre + QPointF(4, -4));
    }
}

void draw_face(QPainter& p)
{
    const QPointF centre(168, 161);
    // Bezel ring, then the black face.
    QRadialGradient ring(centre, 160);
    ring.setColorAt(0.90, QColor(0x2a, 0x2b, 0x2e));
    ring.setColorAt(0.97, QColor(0x7a, 0x7d, 0x82));
    ring.setColorAt(1.00, QColor(0x1c, 0x1c, 0x1e));
    p.setPen(Qt::NoPen);
    p.setBrush(ring);
    p.drawEllipse(centre, 160, 160);
    QRadialGradient face(centre - QPointF(30, 40), 190);
    face.setColorAt(0, QColor(0x1a, 0x1a, 0x1c));
    face.setColorAt(1, QColor(0x05, 0x05, 0x06));
    p.setBrush(face);
    p.drawEllipse(centre, 150, 150);
}

void draw_lamp_socket(QPainter& p)
{
    const QPointF centre = LAMP.center();
    p.setPen(QPen(QColor(0x90, 0x92, 0x96), 2));
    p.setBrush(QColor(0x30, 0x08, 0x08));
    p.drawEllipse(centre, LAMP.width() / 2 + 3, LAMP.height() / 2 + 3);
    QFont font(QStringLiteral("Sans Serif"));
    font.setPixelSize(8);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(0xd0, 0xd0, 0xd0));
    p.drawText(QRectF(centre.x() + 22, centre.y() - 6, 60, 12), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("ALERT"));
}

void draw_display_window(QPainter& p)
{
    // A recessed frame around the glass; the window's display fills the glass.
    const QRectF outer = DISPLAY.adjusted(-7, -7, 7, 7);
    QLinearGradient bevel(outer.topLeft(), outer.bottomRight());
    bevel.setColorAt(0, QColor(0x0c, 0x0c, 0x0d));
    bevel.setColorAt(1, QColor(0x6a, 0x6c, 0x70));
    p.setPen(Qt::NoPen);
    p.setBrush(bevel);
    p.drawRoundedRect(outer, 6, 6);
    p.setBrush(QColor(0x9a, 0xa0, 0x94));
    p.drawRect(DISPLAY.adjusted(-2, -2, 2, 2));

    QFont font(QStringLiteral("Sans Serif"));
    font.setPixelSize(10);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    p.setFont(font);
    p.setPen(QColor(0xd8, 0xd8, 0xd8));
    p.drawText(QRectF(DISPLAY.left(), DISPLAY.top() - 28, DISPLAY.width(), 14), Qt::AlignCenter,
               QStringLiteral("QR-7"));
}

void draw_key(QPainter& p, const QRectF& place, const QString& label, bool up)
{
    const QRectF cap = place.adjusted(3, 3, -3, -3);
    p.setPen(QPen(QColor(0x10, 0x10, 0x10), 2));
    QLinearGradient shade(cap.topLeft(), cap.bottomLeft());
    shade.setColorAt(0, QColor(0x6e, 0x71, 0x76));
    shade.setColorAt(1, QColor(0x2e, 0x30, 0x33));
    p.setBrush(shade);
    p.drawRoundedRect(cap, 7, 7);

    QFont font(QStringLiteral("Sans Serif"));
    font.setPixelSize(11);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(0xf0, 0xf0, 0xf0));
    p.drawText(QRectF(cap.left(), cap.top() + 4, cap.width(), 14), Qt::AlignCenter, label);

    const QPointF c(cap.center().x(), cap.bottom() - 12);
    QPolygonF triangle;
    if (up)
        triangle << c + QPointF(0, -6) << c + QPointF(7, 5) << c + QPointF(-7, 5);
    else
        triangle << c + QPointF(0, 6) << c + QPointF(7, -5) << c + QPointF(-7, -5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf0, 0xf0, 0xf0));
    p.drawPolygon(triangle);
}

void draw_knob(QPainter& p)
{
    const QPointF centre = KNOB.center();
    const double radius = std::min(KNOB.width(), KNOB.height()) / 2 - 1;
    // Knurled rim: short ridges all round.
    p.setPen(QPen(QColor(0x8a, 0x8d, 0x92), 1.4));
    for (int i = 0; i < 36; ++i) {
        const double a = i * 2 * std::numbers::pi / 36;
        const QPointF dir(std::cos(a), std::sin(a));
        p.drawLine(centre + dir * (radius - 4), centre + dir * radius);
    }
    QRadialGradient cap(centre - QPointF(5, 6), radius);
    cap.setColorAt(0, QColor(0x9c, 0x9f, 0xa4));
    cap.setColorAt(1, QColor(0x28, 0x2a, 0x2d));
    p.setPen(QPen(QColor(0x10, 0x10, 0x10), 1.5));
    p.setBrush(cap);
    p.drawEllipse(centre, radius - 4, radius - 4);
    // Pointer mark at the top.
    p.setPen(QPen(QColor(0xf0, 0xf0, 0xf0), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre + QPointF(0, -(radius - 6)), centre + QPointF(0, -(radius - 12)));
}

QImage draw_front_panel()
{
    QImage image(WIDTH, HEIGHT, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    draw_plate(p);
    draw_face(p);
    draw_lamp_socket(p);
    draw_display_window(p);
    draw_key(p, LEFT_KEY, QStringLiteral("F1"), true);
    draw_knob(p);
    draw_key(p, RIGHT_KEY, QStringLiteral("F2"), false);
    return image;
}

// Compressed in memory and saved whole, so a failed run leaves the old picture
// as it was rather than half a JPEG.
bool write_jpeg(const QImage& image, const QString& path, int quality)
{
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);  // a fatal error ends this tool, which is fine here
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(image.width());
    cinfo.image_height = static_cast<JDIMENSION>(image.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<size_t>(image.width()) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        const auto* in = reinterpret_cast<const QRgb*>(image.constScanLine(static_cast<int>(cinfo.next_scanline)));
        for (int x = 0; x < image.width(); ++x) {
            row[3 * x] = static_cast<JSAMPLE>(qRed(in[x]));
            row[3 * x + 1] = static_cast<JSAMPLE>(qGreen(in[x]));
            row[3 * x + 2] = static_cast<JSAMPLE>(qBlue(in[x]));
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    const QByteArray jpeg(reinterpret_cast<const char*>(buffer), static_cast<qsizetype>(size));
    std::free(buffer);

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(jpeg) != jpeg.size() || !file.commit()) {
        std::fprintf(stderr, "panel_art: cannot write %s: %s\n", qPrintable(path), qPrintable(file.errorString()));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    command_line::ToolCommandLine cli(
        QStringLiteral("panel_art"),
        QStringLiteral("Draws the QR-7's front face (336 x 323 pixels), the picture the window shows behind the\n"
                       "display, and writes it as a JPEG. After changing the art:\n"
                       "  panel_art assets/front_panel.jpg"));
    cli.parser().addPositionalArgument(QStringLiteral("output"), QStringLiteral("The JPEG file to write."),
                                       QStringLiteral("OUTPUT.jpg"));
    cli.parse(argc, argv, true);
    const QStringList files = cli.parser().positionalArguments();
    if (files.size() != 1)
        cli.reject(files.isEmpty() ? QStringLiteral("which file? give OUTPUT.jpg")
                                   : QStringLiteral("one output file, not %1").arg(files.size()));

    // Text needs the font system of a GUI application, but no screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    return write_jpeg(draw_front_panel(), files.constFirst(), 90) ? 0 : 1;
}
