// The front-panel picture's JPEG decoder under arbitrary data.
//
// Input: the file's bytes.
//
// A picture either decodes into an RGB32 image of the size its header gives,
// or comes back null with a reason; nothing else is acceptable.
//
// Pictures whose header asks for more than kMaxPixels are not decoded here:
// libjpeg pads a cut-short stream out to the full size, so a few hundred
// bytes claiming 8192 x 8192 cost a quarter of a gigabyte and a second, and
// the run would crawl. The decoder's own size limit still sees every header
// (a larger side is refused before any pixel is made).
#include "app/jpeg_image.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

namespace {

constexpr unsigned long kMaxPixels = 1024 * 1024;

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "jpeg_image_fuzzer: %s\n", what);
    std::abort();
}

struct HeaderProbe {
    jpeg_error_mgr manager;
    std::jmp_buf escape;
};

void probe_fatal(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<HeaderProbe*>(cinfo->err)->escape, 1);
}

void probe_silent(j_common_ptr, int) {}

bool read_size(jpeg_decompress_struct* cinfo, HeaderProbe* probe, const uint8_t* data, size_t size)
{
    if (setjmp(probe->escape))
        return false;
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
    return jpeg_read_header(cinfo, TRUE) == JPEG_HEADER_OK;
}

// The size the header declares, or 0 x 0 when the header does not read.
void declared_size(const uint8_t* data, size_t size, unsigned long* width, unsigned long* height)
{
    HeaderProbe probe{};
    jpeg_decompress_struct cinfo{};
    cinfo.err = jpeg_std_error(&probe.manager);
    probe.manager.error_exit = probe_fatal;
    probe.manager.emit_message = probe_silent;
    jpeg_create_decompress(&cinfo);
    *width = *height = 0;
    if (read_size(&cinfo, &probe, data, size)) {
        *width = cinfo.image_width;
        *height = cinfo.image_height;
    }
    jpeg_destroy_decompress(&cinfo);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    unsigned long width = 0;
    unsigned long height = 0;
    declared_size(data, size, &width, &height);
    if (width <= JPEG_MAX_SIDE && height <= JPEG_MAX_SIDE && width * height > kMaxPixels)
        return -1;

    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QString error;
    const QImage image = decode_jpeg(bytes, &error);
    if (image.isNull()) {
        if (error.isEmpty())
            fail("a failed decode without a reason");
        return 0;
    }
    if (!error.isEmpty())
        fail("a reason given with a picture");
    if (image.format() != QImage::Format_RGB32)
        fail("a picture that is not RGB32");
    if (static_cast<unsigned long>(image.width()) != width || static_cast<unsigned long>(image.height()) != height)
        fail("a picture of another size than its header says");
    return 0;
}
