// The front-panel picture: libjpeg decoding of good, damaged and hostile
// data, and the window opening with a plain face when the picture cannot
// be shown, saying why in one line.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include "app/front_panel.h"
#include "app/jpeg_image.h"
#include "app_test_support.h"

namespace {

// A small JPEG: left half pure red, right half pure blue.
QByteArray encode_test_jpeg(int width, int height)
{
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<size_t>(width) * 3);
    for (int x = 0; x < width; ++x) {
        const bool left = x < width / 2;
        row[3 * x] = left ? 255 : 0;
        row[3 * x + 1] = 0;
        row[3 * x + 2] = left ? 0 : 255;
    }
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray data(reinterpret_cast<const char*>(buffer), static_cast<qsizetype>(size));
    std::free(buffer);
    return data;
}

bool near(QRgb actual, QRgb expected)
{
    return std::abs(qRed(actual) - qRed(expected)) < 24 && std::abs(qGreen(actual) - qGreen(expected)) < 24 &&
           std::abs(qBlue(actual) - qBlue(expected)) < 24;
}

QString committed_picture()
{
    const QByteArray source = qgetenv("TARNBY_SOURCE_DIR");
    if (!source.isEmpty())
        return QDir(QString::fromLocal8Bit(source)).filePath("assets/front_panel.jpg");
    ScopedEnv assets("TARNBY_ASSETS", nullptr);
    return front_panel_path();
}

}  // namespace

TEST(JpegDecode, GoodDataDecodesToItsColours)
{
    QString error;
    const QImage image = decode_jpeg(encode_test_jpeg(32, 16), &error);
    ASSERT_FALSE(image.isNull()) << error.toStdString();
    EXPECT_EQ(image.size(), QSize(32, 16));
    EXPECT_TRUE(near(image.pixel(4, 8), qRgb(255, 0, 0)));
    EXPECT_TRUE(near(image.pixel(28, 8), qRgb(0, 0, 255)));
}

TEST(JpegDecode, TheCommittedFrontPanelDecodesAtItsControlSize)
{
    QString error;
    const QImage image = load_jpeg_file(committed_picture(), &error);
    ASSERT_FALSE(image.isNull()) << error.toStdString();
    EXPECT_EQ(image.size(), QSize(336, 323));
    // The face is black in the middle of the lower half, between the keys.
    EXPECT_LT(qGray(image.pixel(130, 235)), 40);
}

TEST(JpegDecode, BadDataFailsWithLibjpegsReasonAndNeverExits)
{
    const QByteArray good = encode_test_jpeg(64, 64);
    QByteArray garbage(500, '\x5a');
    // Cut inside the scan data, after the start-of-scan header.
    const qsizetype scan = good.indexOf(QByteArray("\xff\xda", 2));
    ASSERT_GT(scan, 0);
    const QByteArray truncated = good.left(scan + 20);
    QByteArray damaged_body = good;
    for (qsizetype i = scan + 16; i < good.size() - 2; ++i)
        damaged_body[i] = static_cast<char>(0xff);
    const struct {
        const char* what;
        QByteArray data;
        const char* reason;
    } table[] = {
        {"empty", QByteArray(), "mpty"},
        {"not a JPEG", garbage, "Not a JPEG file"},
        {"truncated", truncated, "Premature end"},
        {"header only", good.left(20), ""},
        {"damaged body", damaged_body, ""},
    };
    for (const auto& row : table) {
        QString error;
        const QImage image = decode_jpeg(row.data, &error);
        EXPECT_TRUE(image.isNull()) << row.what;
        EXPECT_FALSE(error.isEmpty()) << row.what;
        EXPECT_TRUE(error.contains(row.reason)) << row.what << ": " << error.toStdString();
    }
}

TEST(JpegDecode, AHugeDeclaredSizeIsRefusedBeforeDecoding)
{
    QByteArray data = encode_test_jpeg(8, 8);
    // Patch the frame header (SOF0: FF C0, length, precision, height, width).
    const qsizetype sof = data.indexOf(QByteArray("\xff\xc0", 2));
    ASSERT_GT(sof, 0);
    for (qsizetype at : {sof + 5, sof + 7}) {
        data[at] = static_cast<char>(0xea);
        data[at + 1] = static_cast<char>(0x60);
    }
    QString error;
    EXPECT_TRUE(decode_jpeg(data, &error).isNull());
    EXPECT_TRUE(error.contains("too large")) << error.toStdString();
}

TEST(JpegDecode, AMissingFileNamesTheProblem)
{
    QString error;
    EXPECT_TRUE(load_jpeg_file("/nonexistent/front_panel.jpg", &error).isNull());
    EXPECT_FALSE(error.isEmpty());
}

class FrontPanelTest : public WindowTest {
protected:
    void SetUp() override {}  // each test builds the window under its own asset folder
    void open_window_with(const QByteArray* picture)
    {
        ASSERT_TRUE(folder.isValid());
        if (picture) {
            QFile file(folder.filePath("front_panel.jpg"));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(*picture);
        }
        ScopedEnv assets("TARNBY_ASSETS", folder.path().toLocal8Bit().constData());
        ::testing::internal::CaptureStderr();
        WindowTest::SetUp();
        complaint = QString::fromStdString(::testing::internal::GetCapturedStderr());
    }
    QTemporaryDir folder;
    QString complaint;
};

TEST_F(FrontPanelTest, AGoodPictureIsShownQuietly)
{
    const QByteArray picture = encode_test_jpeg(336, 323);
    open_window_with(&picture);
    EXPECT_FALSE(form->Image2->pixmap().isNull());
    EXPECT_FALSE(complaint.contains("front-panel")) << complaint.toStdString();
}

TEST_F(FrontPanelTest, AMissingPictureLeavesAPlainFaceAndOneLine)
{
    open_window_with(nullptr);
    EXPECT_TRUE(form->Image2->pixmap().isNull());
    EXPECT_EQ(complaint.count('\n'), 1) << complaint.toStdString();
    EXPECT_TRUE(complaint.contains("front-panel picture")) << complaint.toStdString();
    EXPECT_TRUE(complaint.contains(folder.path())) << complaint.toStdString();
    EXPECT_TRUE(form->Panel1 != nullptr && form->Button1->isEnabled());
}

TEST_F(FrontPanelTest, ACorruptPictureLeavesAPlainFaceAndSaysWhy)
{
    const QByteArray junk("GIF89a this is not the picture you are looking for");
    open_window_with(&junk);
    EXPECT_TRUE(form->Image2->pixmap().isNull());
    EXPECT_EQ(complaint.count('\n'), 1) << complaint.toStdString();
    EXPECT_TRUE(complaint.contains("Not a JPEG file")) << complaint.toStdString();
}

TEST(FrontPanelPath, TheOverrideFolderWinsEvenWhenEmpty)
{
    ScopedEnv assets("TARNBY_ASSETS", "/somewhere/else");
    EXPECT_EQ(front_panel_path(), "/somewhere/else/front_panel.jpg");
}
