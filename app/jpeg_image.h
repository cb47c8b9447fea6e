// JPEG decoding through libjpeg's decompression interface (no Qt image
// plugin involved). Bad data never ends the process: libjpeg's fatal errors
// come back here through our own error manager, and the caller gets a null
// image with libjpeg's reason.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Larger pictures are refused rather than decoded into gigabytes.
constexpr int JPEG_MAX_SIDE = 8192;

// Decodes a whole JPEG held in memory into an RGB32 image. A warning from
// libjpeg (a truncated or damaged stream it would pad out with grey) counts
// as a failure too.
QImage decode_jpeg(const QByteArray& data, QString* error);

// Reads and decodes a file; the error names what went wrong (not found,
// unreadable, not a JPEG...).
QImage load_jpeg_file(const QString& path, QString* error);
