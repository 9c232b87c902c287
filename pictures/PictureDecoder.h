#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <stdexcept>

// Loading of the picture files Mirava shows: ".jpg" through libjpeg, ".bmp" through Qt's bitmap
// reader. Every decoded picture is a QImage::Format_RGB888 bitmap, whatever the file held.
// Every failure is a TPictureError whose message names the file and the reason.

class TPictureError : public std::runtime_error
{
public:
    using runtime_error::runtime_error;
};

// The largest picture Mirava accepts, in pixels (width x height).
constexpr qint64 MaxPicturePixels = 250'000'000;
// The most scans a progressive JPEG may have before it is refused as malformed.
constexpr int MaxJpegScans = 100;
// The largest picture files read, in bytes: a JPEG of the largest picture at the highest quality stays well
// below the first; a bitmap of the largest picture at 32 bits a pixel takes 1000 MB, and its headers,
// palette and gap fit in the rest of the second.
constexpr qint64 MaxJpegFileBytes = qint64(1) << 30;
constexpr qint64 MaxBmpFileBytes = qint64(1040) << 20;
// A run-length compressed bitmap may leave pixels blank (end-of-line, delta and end-of-bitmap codes). The
// blank part may be at most three times the part its runs spell out, or this many pixels if that is more;
// a file whose data cannot fill its picture that far is refused as damaged.
constexpr qint64 MaxBlankRlePixels = 1 << 20;

// Width and height from the file's header alone, without decoding its pixels.
QSize ReadPictureSize(const QString& path);

// Full decode; always QImage::Format_RGB888.
QImage LoadPicture(const QString& path);
// The same for a path in the file system's own bytes (names that are not valid UTF-8 open too).
QImage LoadPictureNative(const QByteArray& nativePath);

// Reduced decode for thumbnails: the picture as it is drawn proportionally in a control of size
// `atLeast` (scaled down to fit keeping its aspect ratio, the scaled side truncated, never enlarged).
// A JPEG photo's embedded EXIF thumbnail is taken instead when it is large enough (ThumbnailDecoder.h).
// JPEG pictures are decoded with libjpeg's DCT scaling at the smallest scale that still gives at
// least that size, then smoothly scaled. RGB888.
QImage LoadThumbnail(const QString& path, const QSize& atLeast);

// The decoders on data in memory (used by the file loaders above and by the fuzz targets).
// `name` is the file name the error messages show. An empty `atLeast` means a full decode.
QSize ReadJpegSize(const QByteArray& data, const QString& name);
QImage DecodeJpeg(const QByteArray& data, const QString& name, const QSize& atLeast = QSize());
QSize ReadBmpSize(const QByteArray& data, const QString& name);
QImage DecodeBmp(const QByteArray& data, const QString& name, const QSize& atLeast = QSize());

// The size at which a picture of size `picture` is drawn proportionally into `box`: scaled to fit
// keeping its aspect ratio, the scaled side truncated toward zero but at least 1. Without
// `enlarge`, a picture that already fits keeps its own size.
QSize FitProportional(const QSize& picture, const QSize& box, bool enlarge);
