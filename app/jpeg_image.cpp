#include "app/jpeg_image.h"

#include <QFile>

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace {

constexpr qint64 MAX_FILE_BYTES = 64 * 1024 * 1024;

// libjpeg reports fatal errors by calling error_exit, which must not return.
// Ours jumps back into decode_job; the job lives in the caller's frame, so
// nothing with a destructor is ever jumped over.
struct DecodeJob {
    jpeg_error_mgr manager;  // first, so libjpeg's pointer is also the job's
    std::jmp_buf escape;
    char message[JMSG_LENGTH_MAX];
    bool warned;
    const QByteArray* data;
    QImage* image;
};

void on_fatal_error(j_common_ptr cinfo)
{
    auto* job = reinterpret_cast<DecodeJob*>(cinfo->err);
    cinfo->err->format_message(cinfo, job->message);
    std::longjmp(job->escape, 1);
}

// Warnings (level -1) mean damaged data that libjpeg would patch over; the
// first one is the reason, and decoding stops there: the picture is refused
// anyway, and a damaged header may still promise a very large one. Trace
// messages are ignored.
void on_message(j_common_ptr cinfo, int level)
{
    auto* job = reinterpret_cast<DecodeJob*>(cinfo->err);
    if (level >= 0 || job->warned)
        return;
    job->warned = true;
    cinfo->err->format_message(cinfo, job->message);
    std::longjmp(job->escape, 1);
}

bool decode_job(DecodeJob* job, jpeg_decompress_struct* cinfo)
{
    if (setjmp(job->escape))
        return false;
    jpeg_mem_src(cinfo, reinterpret_cast<const unsigned char*>(job->data->constData()),
                 static_cast<unsigned long>(job->data->size()));
    jpeg_read_header(cinfo, TRUE);
    if (cinfo->image_width > JPEG_MAX_SIDE || cinfo->image_height > JPEG_MAX_SIDE) {
        std::snprintf(job->message, sizeof job->message, "picture too large (%u x %u, at most %d a side)",
                      cinfo->image_width, cinfo->image_height, JPEG_MAX_SIDE);
        return false;
    }
    cinfo->out_color_space = JCS_RGB;
    jpeg_start_decompress(cinfo);
    if (cinfo->output_components != 3) {
        std::snprintf(job->message, sizeof job->message, "unsupported colour layout (%d components)",
                      cinfo->output_components);
        return false;
    }
    const int width = static_cast<int>(cinfo->output_width);
    *job->image = QImage(width, static_cast<int>(cinfo->output_height), QImage::Format_RGB32);
    if (job->image->isNull()) {
        std::snprintf(job->message, sizeof job->message, "out of memory for the picture");
        return false;
    }
    JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                                 static_cast<JDIMENSION>(width * 3), 1);
    while (cinfo->output_scanline < cinfo->output_height) {
        const int y = static_cast<int>(cinfo->output_scanline);
        if (jpeg_read_scanlines(cinfo, row, 1) != 1)
            break;
        auto* out = reinterpret_cast<QRgb*>(job->image->scanLine(y));
        const JSAMPLE* in = row[0];
        for (int x = 0; x < width; ++x, in += 3)
            out[x] = qRgb(in[0], in[1], in[2]);
    }
    jpeg_finish_decompress(cinfo);
    return !job->warned;
}

}  // namespace

QImage decode_jpeg(const QByteArray& data, QString* error)
{
    QImage image;
    DecodeJob job{};
    job.data = &data;
    job.image = &image;
    jpeg_decompress_struct cinfo{};
    cinfo.err = jpeg_std_error(&job.manager);
    job.manager.error_exit = on_fatal_error;
    job.manager.emit_message = on_message;
    jpeg_create_decompress(&cinfo);
    const bool ok = decode_job(&job, &cinfo);
    jpeg_destroy_decompress(&cinfo);
    if (ok)
        return image;
    if (error)
        *error = QString::fromLocal8Bit(job.message);
    return {};
}

QImage load_jpeg_file(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return {};
    }
    if (file.size() > MAX_FILE_BYTES) {
        if (error)
            *error = QStringLiteral("file too large (%1 bytes)").arg(file.size());
        return {};
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        return {};
    }
    return decode_jpeg(data, error);
}
