#include "pictures/PictureFiles.h"

#include <QBuffer>
#include <QFile>
#include <QPainter>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

QByteArray EncodeJpeg(const QImage& source, const TJpegOptions& options)
{
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(image.width());
    info.image_height = JDIMENSION(image.height());
    switch (options.colours) {
    case TJpegColours::Rgb:
        info.input_components = 3;
        info.in_color_space = JCS_RGB;
        jpeg_set_defaults(&info);
        break;
    case TJpegColours::Grey:
        info.input_components = 1;
        info.in_color_space = JCS_GRAYSCALE;
        jpeg_set_defaults(&info);
        break;
    case TJpegColours::Cmyk:
    case TJpegColours::Ycck:
        info.input_components = 4;
        info.in_color_space = JCS_CMYK;
        jpeg_set_defaults(&info);
        jpeg_set_colorspace(&info, options.colours == TJpegColours::Cmyk ? JCS_CMYK : JCS_YCCK);
        break;
    }
    jpeg_set_quality(&info, options.quality, TRUE);
    std::vector<jpeg_scan_info> scans;
    if (options.progressive && options.scanPerCoefficient) {
        scans.push_back({ info.num_components, { 0, 1, 2, 3 }, 0, 0, 0, 0 });
        for (int component = 0; component < info.num_components; ++component)
            for (int k = 1; k < 64; ++k)
                scans.push_back({ 1, { component, 0, 0, 0 }, k, k, 0, 0 });
        info.scan_info = scans.data();
        info.num_scans = int(scans.size());
    } else if (options.progressive) {
        jpeg_simple_progression(&info);
    }
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(size_t(image.width()) * 4);
    while (info.next_scanline < info.image_height) {
        const uchar* line = image.constScanLine(int(info.next_scanline));
        for (int x = 0; x < image.width(); ++x) {
            const uchar r = line[3 * x], g = line[3 * x + 1], b = line[3 * x + 2];
            switch (options.colours) {
            case TJpegColours::Rgb:
                row[3 * x] = r;
                row[3 * x + 1] = g;
                row[3 * x + 2] = b;
                break;
            case TJpegColours::Grey:
                row[x] = uchar((r * 299 + g * 587 + b * 114) / 1000);
                break;
            case TJpegColours::Cmyk:
            case TJpegColours::Ycck:
                // Inverted storage: 255 - ink; no black ink is stored as 255.
                row[4 * x] = r;
                row[4 * x + 1] = g;
                row[4 * x + 2] = b;
                row[4 * x + 3] = 255;
                break;
            }
        }
        JSAMPROW rows[1] = { row.data() };
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray result(reinterpret_cast<const char*>(buffer), qsizetype(size));
    std::free(buffer);
    return result;
}

QByteArray EncodeBmp(const QImage& image)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return data;
}

QImage QuarterPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB888);
    QPainter painter(&image);
    const int w2 = width / 2, h2 = height / 2;
    painter.fillRect(0, 0, w2, h2, QColor(255, 0, 0));
    painter.fillRect(w2, 0, width - w2, h2, QColor(0, 255, 0));
    painter.fillRect(0, h2, w2, height - h2, QColor(0, 0, 255));
    painter.fillRect(w2, h2, width - w2, height - h2, QColor(255, 255, 255));
    return image;
}

QByteArray PatchJpegSize(QByteArray jpeg, int width, int height)
{
    for (qsizetype i = 2; i + 9 < jpeg.size(); ++i) {
        const uchar marker = uchar(jpeg[i + 1]);
        if (uchar(jpeg[i]) == 0xFF && marker >= 0xC0 && marker <= 0xC2) {
            jpeg[i + 5] = char(height >> 8);
            jpeg[i + 6] = char(height & 0xFF);
            jpeg[i + 7] = char(width >> 8);
            jpeg[i + 8] = char(width & 0xFF);
            return jpeg;
        }
    }
    return jpeg;
}

qsizetype JpegScanStart(const QByteArray& jpeg)
{
    qsizetype i = 2;
    while (i + 4 <= jpeg.size()) {
        const uchar marker = uchar(jpeg[i + 1]);
        const int length = (uchar(jpeg[i + 2]) << 8) | uchar(jpeg[i + 3]);
        if (marker == 0xDA)
            return i + 2 + length;
        i += 2 + length;
    }
    return -1;
}

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& data)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(data);
    return path;
}

QString BmpSuiteFolder()
{
    const char* root = std::getenv("MIRAVA_TESTDATA");
    if (!root || !*root)
        return QString();
    return QString::fromLocal8Bit(root) + QStringLiteral("/bmpsuite");
}

namespace {

void PutLE16(QByteArray& out, quint16 value)
{
    out.append(char(value & 0xFF)).append(char(value >> 8));
}

void PutLE32(QByteArray& out, quint32 value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.append(char((value >> shift) & 0xFF));
}

// One 12-byte IFD entry whose value fits in its four value bytes.
void PutEntry(QByteArray& out, quint16 tag, quint16 type, quint32 value)
{
    PutLE16(out, tag);
    PutLE16(out, type);
    PutLE32(out, 1);
    if (type == 3) { // SHORT: the value sits in the first two bytes
        PutLE16(out, quint16(value));
        PutLE16(out, 0);
    } else {
        PutLE32(out, value);
    }
}

} // namespace

QByteArray WithExifThumbnail(const QByteArray& jpeg, const QByteArray& thumbnail, quint32 thumbnailIfdOffset)
{
    // Little-endian TIFF header, IFD0 with the orientation, IFD1 with the thumbnail's place, then the
    // thumbnail itself. Offsets count from the TIFF header.
    constexpr quint32 Ifd0 = 8, Ifd1 = Ifd0 + 2 + 12 + 4, ThumbnailAt = Ifd1 + 2 + 3 * 12 + 4;
    QByteArray tiff("II*\0", 4);
    PutLE32(tiff, Ifd0);
    PutLE16(tiff, 1);
    PutEntry(tiff, 0x0112, 3, 1); // Orientation: normal
    PutLE32(tiff, thumbnailIfdOffset ? thumbnailIfdOffset : Ifd1);
    PutLE16(tiff, 3);
    PutEntry(tiff, 0x0103, 3, 6); // Compression: JPEG
    PutEntry(tiff, 0x0201, 4, ThumbnailAt); // JPEGInterchangeFormat
    PutEntry(tiff, 0x0202, 4, quint32(thumbnail.size())); // JPEGInterchangeFormatLength
    PutLE32(tiff, 0);
    tiff.append(thumbnail);
    QByteArray segment("Exif\0\0", 6);
    segment.append(tiff);
    QByteArray app1;
    app1.append(char(0xFF)).append(char(0xE1));
    const int length = int(segment.size()) + 2;
    app1.append(char(length >> 8)).append(char(length & 0xFF));
    app1.append(segment);
    return jpeg.left(2) + app1 + jpeg.mid(2);
}
