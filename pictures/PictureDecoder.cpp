#include "pictures/PictureDecoder.h"

#include "pictures/FileName.h"
#include "pictures/RegularFile.h"
#include "pictures/ThumbnailDecoder.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

extern "C" {
#include <jpeglib.h>
// jerror.h reads the configuration that jpeglib.h brings in.
#include <jerror.h>
}

namespace {

[[noreturn]] void Fail(const QString& name, const QString& reason)
{
    throw TPictureError(QStringLiteral("Cannot load picture \"%1\": %2").arg(name, reason).toStdString());
}

void CheckPictureSize(qint64 width, qint64 height, const QString& name)
{
    if (width <= 0 || height <= 0)
        Fail(name, QStringLiteral("the picture has zero width or height (%1 x %2)").arg(width).arg(height));
    if (width * height > MaxPicturePixels)
        Fail(name,
            QStringLiteral("the picture is too large (%1 x %2 pixels, at most %3 megapixels are accepted)")
                .arg(width)
                .arg(height)
                .arg(MaxPicturePixels / 1'000'000));
}

// ---------------------------------------------------------------------------------------------
// JPEG through libjpeg. libjpeg reports fatal errors through error_exit, which must not return;
// it jumps back with longjmp into the small functions below, which hold no C++ object with a
// destructor between their setjmp and the libjpeg calls. Everything that needs cleaning up lives
// in TJpegSession, owned by the caller.

struct TJpegErrorManager
{
    jpeg_error_mgr pub;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX + 64];
};

struct TJpegSession
{
    jpeg_decompress_struct info;
    TJpegErrorManager error;
    jpeg_progress_mgr progress;
    bool created = false;

    TJpegSession()
    {
        std::memset(&info, 0, sizeof info);
        std::memset(&error, 0, sizeof error);
        std::memset(&progress, 0, sizeof progress);
    }
    ~TJpegSession()
    {
        if (created)
            jpeg_destroy_decompress(&info);
    }
    TJpegSession(const TJpegSession&) = delete;
    TJpegSession& operator=(const TJpegSession&) = delete;
};

extern "C" [[noreturn]] void JpegErrorExit(j_common_ptr info)
{
    auto* error = reinterpret_cast<TJpegErrorManager*>(info->err);
    if (error->message[0] == '\0')
        (*info->err->format_message)(info, error->message);
    longjmp(error->jump, 1);
}

// Warnings that mean pixels were lost or made up: libjpeg would go on and deliver a picture
// with grey or smeared parts, so they fail the load.
extern "C" void JpegEmitMessage(j_common_ptr info, int level)
{
    if (level >= 0)
        return; // trace messages
    switch (info->err->msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
        JpegErrorExit(info);
    default:
        info->err->num_warnings++;
    }
}

// Every progressive scan walks the whole picture again; a file with thousands of tiny scans
// would keep the window busy for minutes, so the number of scans is bounded.
extern "C" void JpegProgress(j_common_ptr info)
{
    if (!info->is_decompressor)
        return;
    auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->input_scan_number > MaxJpegScans) {
        auto* error = reinterpret_cast<TJpegErrorManager*>(info->err);
        std::snprintf(error->message, sizeof error->message,
            "too many scans in a progressive picture (more than %d)", MaxJpegScans);
        longjmp(error->jump, 1);
    }
}

// Creates the decompressor, connects the source and reads the header.
bool JpegReadHeader(TJpegSession* session, FILE* file, const unsigned char* data, unsigned long size)
{
    session->info.err = jpeg_std_error(&session->error.pub);
    session->error.pub.error_exit = JpegErrorExit;
    session->error.pub.emit_message = JpegEmitMessage;
    if (setjmp(session->error.jump))
        return false;
    jpeg_create_decompress(&session->info);
    session->created = true;
    // Working memory beyond what a 250-megapixel progressive picture needs is refused.
    session->info.mem->max_memory_to_use = 2048L * 1024 * 1024;
    session->progress.progress_monitor = JpegProgress;
    session->info.progress = &session->progress;
    if (file)
        jpeg_stdio_src(&session->info, file);
    else
        jpeg_mem_src(&session->info, data, size);
    jpeg_read_header(&session->info, TRUE);
    return true;
}

bool JpegStart(TJpegSession* session, int scaleNum, bool cmyk)
{
    if (setjmp(session->error.jump))
        return false;
    session->info.scale_num = scaleNum;
    session->info.scale_denom = 8;
    session->info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    if (scaleNum < 8) {
        // A thumbnail needs no fancy upsampling; it is smoothly scaled afterwards anyway.
        session->info.do_fancy_upsampling = FALSE;
    }
    jpeg_start_decompress(&session->info);
    return true;
}

// Reads every row into `pixels` (RGB, `stride` bytes a row). CMYK rows pass through `cmykRow`
// and are turned into RGB; files with an APP14 marker store CMYK inverted.
bool JpegReadRows(TJpegSession* session, unsigned char* pixels, long stride, unsigned char* cmykRow)
{
    if (setjmp(session->error.jump))
        return false;
    jpeg_decompress_struct* info = &session->info;
    while (info->output_scanline < info->output_height) {
        unsigned char* target = pixels + stride * static_cast<long>(info->output_scanline);
        JSAMPROW row = cmykRow ? cmykRow : target;
        if (jpeg_read_scanlines(info, &row, 1) != 1)
            ERREXIT(info, JERR_INPUT_EMPTY);
        if (cmykRow) {
            const bool inverted = info->saw_Adobe_marker;
            for (JDIMENSION x = 0; x < info->output_width; ++x) {
                unsigned c = cmykRow[4 * x], m = cmykRow[4 * x + 1], y = cmykRow[4 * x + 2],
                         k = cmykRow[4 * x + 3];
                if (!inverted) {
                    c = 255 - c;
                    m = 255 - m;
                    y = 255 - y;
                    k = 255 - k;
                }
                target[3 * x] = static_cast<unsigned char>((c * k + 127) / 255);
                target[3 * x + 1] = static_cast<unsigned char>((m * k + 127) / 255);
                target[3 * x + 2] = static_cast<unsigned char>((y * k + 127) / 255);
            }
        }
    }
    jpeg_finish_decompress(info);
    return true;
}

QString JpegMessage(const TJpegSession& session)
{
    return QString::fromLocal8Bit(session.error.message);
}

QSize JpegHeaderSize(TJpegSession& session, FILE* file, const QByteArray* data, const QString& name)
{
    const auto* bytes = data ? reinterpret_cast<const unsigned char*>(data->constData()) : nullptr;
    const unsigned long size = data ? static_cast<unsigned long>(data->size()) : 0;
    if (data && size == 0)
        Fail(name, QStringLiteral("the file is empty"));
    if (!JpegReadHeader(&session, file, bytes, size))
        Fail(name, JpegMessage(session));
    CheckPictureSize(session.info.image_width, session.info.image_height, name);
    return QSize(int(session.info.image_width), int(session.info.image_height));
}

QImage JpegDecode(
    TJpegSession& session, FILE* file, const QByteArray* data, const QString& name, const QSize& atLeast)
{
    const QSize size = JpegHeaderSize(session, file, data, name);
    int scaleNum = 8;
    QSize target = size;
    if (atLeast.isValid() && !atLeast.isEmpty()) {
        target = FitProportional(size, atLeast, false);
        // The smallest DCT scale whose output still covers the target in both directions.
        for (int n = 1; n < 8; ++n) {
            const qint64 w = (qint64(size.width()) * n + 7) / 8;
            const qint64 h = (qint64(size.height()) * n + 7) / 8;
            if (w >= target.width() && h >= target.height()) {
                scaleNum = n;
                break;
            }
        }
    }
    const J_COLOR_SPACE space = session.info.jpeg_color_space;
    const bool cmyk = space == JCS_CMYK || space == JCS_YCCK;
    if (!JpegStart(&session, scaleNum, cmyk))
        Fail(name, JpegMessage(session));
    const int width = int(session.info.output_width);
    const int height = int(session.info.output_height);
    CheckPictureSize(width, height, name);
    if (session.info.output_components != (cmyk ? 4 : 3))
        Fail(name, QStringLiteral("unsupported colour layout"));
    QImage image(width, height, QImage::Format_RGB888);
    if (image.isNull())
        Fail(name, QStringLiteral("not enough memory for %1 x %2 pixels").arg(width).arg(height));
    QByteArray cmykRow;
    if (cmyk)
        cmykRow.resize(qsizetype(width) * 4);
    if (!JpegReadRows(&session, image.bits(), long(image.bytesPerLine()),
            cmyk ? reinterpret_cast<unsigned char*>(cmykRow.data()) : nullptr))
        Fail(name, JpegMessage(session));
    if (image.size() != target)
        image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                    .convertToFormat(QImage::Format_RGB888);
    return image;
}

// ---------------------------------------------------------------------------------------------
// BMP: the header is read here (size, and whether the pixel data is all there); the pixels are
// decoded by Qt's bitmap reader.

quint32 ReadLE32(const uchar* p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

quint16 ReadLE16(const uchar* p)
{
    return quint16(p[0] | p[1] << 8);
}

struct TBmpHeader
{
    QSize size;
    quint32 dataOffset = 0;
    quint32 compression = 0;
    int bitCount = 0;

    // Run-length compressed with 8 (code 1) or 4 (code 2) bits a pixel.
    bool IsRle() const { return compression == 1 || compression == 2; }
};

// Refuses a run-length compressed picture whose data spell out too few of its pixels: the rest would be
// blank, and a file of a few bytes could claim a picture of hundreds of megabytes.
void CheckRleFill(const QSize& size, qint64 spelt, qint64 dataBytes, const QString& name)
{
    const qint64 pixels = qint64(size.width()) * size.height();
    if (pixels - spelt > std::max(3 * spelt, MaxBlankRlePixels))
        Fail(name,
            QStringLiteral(
                "the bitmap data is damaged: %1 bytes of compressed data cannot fill %2 x %3 pixels")
                .arg(dataBytes)
                .arg(size.width())
                .arg(size.height()));
}

// The pixels the runs of RLE data spell out (encoded and absolute runs), up to the end-of-bitmap code or
// the end of the data. End-of-line and delta codes only skip pixels, which stay blank.
qint64 RleSpeltPixels(const QByteArray& data, qsizetype start, bool fourBits)
{
    const auto* p = reinterpret_cast<const uchar*>(data.constData());
    const qsizetype n = data.size();
    qint64 spelt = 0;
    qsizetype i = std::max<qsizetype>(start, 0);
    while (i + 1 < n) {
        const int count = p[i], code = p[i + 1];
        i += 2;
        if (count != 0) {
            spelt += count;
            continue;
        }
        if (code == 1)
            break; // end of bitmap
        if (code == 0)
            continue; // end of line
        if (code == 2) {
            i += 2; // delta: right and up
            continue;
        }
        // Absolute run: `code` pixels given one by one, padded to an even number of bytes.
        qsizetype bytes = fourBits ? (code + 1) / 2 : code;
        bytes += bytes & 1;
        if (i + bytes > n) {
            const qint64 present = n - i;
            spelt += std::min<qint64>(code, fourBits ? 2 * present : present);
            break;
        }
        spelt += code;
        i += bytes;
    }
    return spelt;
}

TBmpHeader ParseBmpHeader(const QByteArray& head, qint64 fileSize, const QString& name)
{
    if (fileSize == 0)
        Fail(name, QStringLiteral("the file is empty"));
    if (head.size() < 2 || head[0] != 'B' || head[1] != 'M')
        Fail(name, QStringLiteral("not a bitmap file"));
    if (head.size() < 26)
        Fail(name, QStringLiteral("the file is truncated"));
    const auto* p = reinterpret_cast<const uchar*>(head.constData());
    TBmpHeader header;
    header.dataOffset = ReadLE32(p + 10);
    const quint32 infoSize = ReadLE32(p + 14);
    qint64 width = 0, height = 0;
    if (infoSize == 12) {
        width = ReadLE16(p + 18);
        height = ReadLE16(p + 20);
        header.bitCount = ReadLE16(p + 24);
    } else if (infoSize >= 16) {
        if (head.size() < 30)
            Fail(name, QStringLiteral("the file is truncated"));
        width = qint32(ReadLE32(p + 18));
        height = qint32(ReadLE32(p + 22));
        header.bitCount = ReadLE16(p + 28);
        if (infoSize >= 20 && head.size() >= 34)
            header.compression = ReadLE32(p + 30);
    } else {
        Fail(name, QStringLiteral("unknown bitmap header size (%1)").arg(infoSize));
    }
    // A negative height marks a picture stored top row first.
    height = height < 0 ? -height : height;
    if (width < 0)
        Fail(name, QStringLiteral("negative picture width (%1)").arg(width));
    CheckPictureSize(width, height, name);
    header.size = QSize(int(width), int(height));
    // Uncompressed rows have a known length, so a file cut short is recognised here; Qt's reader
    // would otherwise hand back a picture with the missing rows left blank.
    const bool plainRows = header.compression == 0 || header.compression == 3 || header.compression == 6;
    if (plainRows && header.bitCount > 0 && header.bitCount <= 64) {
        const qint64 stride = (width * header.bitCount + 31) / 32 * 4;
        if (qint64(header.dataOffset) + stride * height > fileSize)
            Fail(name, QStringLiteral("the file is truncated"));
    }
    // Each two bytes of compressed data spell out at most 255 pixels.
    if (header.IsRle()) {
        const qint64 dataBytes = std::max<qint64>(fileSize - header.dataOffset, 0);
        CheckRleFill(header.size, 255 * (dataBytes / 2), dataBytes, name);
    }
    return header;
}

QImage BmpDecode(const QByteArray& data, const QString& name, const QSize& atLeast)
{
    const TBmpHeader header = ParseBmpHeader(data.left(64), data.size(), name);
    if (header.IsRle())
        CheckRleFill(header.size, RleSpeltPixels(data, qsizetype(header.dataOffset), header.compression == 2),
            std::max<qint64>(data.size() - qint64(header.dataOffset), 0), name);
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    // Qt refuses images above its allocation limit (256 MB by default); a 250-megapixel bitmap
    // decodes to 1000 MB of 32-bit pixels. Raised once, by whichever thread comes first: bitmaps are
    // decoded on worker threads too.
    static const bool limitRaised = [] {
        if (QImageReader::allocationLimit() != 0 && QImageReader::allocationLimit() < 1024)
            QImageReader::setAllocationLimit(1024);
        return true;
    }();
    Q_UNUSED(limitRaised);
    QImageReader reader(&buffer, "bmp");
    // Only the bitmap reader may read a ".bmp" file, whatever its content looks like.
    reader.setAutoDetectImageFormat(false);
    reader.setAutoTransform(false);
    QImage image;
    if (!reader.read(&image) || image.isNull())
        Fail(name, QStringLiteral("the bitmap data is damaged (%1)").arg(reader.errorString()));
    if (image.size() != header.size)
        Fail(name, QStringLiteral("the bitmap data is damaged"));
    image = image.convertToFormat(QImage::Format_RGB888);
    if (atLeast.isValid() && !atLeast.isEmpty()) {
        const QSize target = FitProportional(image.size(), atLeast, false);
        if (target != image.size())
            image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                        .convertToFormat(QImage::Format_RGB888);
    }
    if (image.isNull())
        Fail(name, QStringLiteral("not enough memory"));
    return image;
}

enum class TFileKind { Jpeg, Bmp };

TFileKind KindOf(const QString& path)
{
    const QString fileName = QFileInfo(path).fileName();
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString() : fileName.mid(dot + 1);
    if (extension.compare(QLatin1String("jpg"), Qt::CaseInsensitive) == 0)
        return TFileKind::Jpeg;
    if (extension.compare(QLatin1String("bmp"), Qt::CaseInsensitive) == 0)
        return TFileKind::Bmp;
    throw TPictureError(QStringLiteral("Unknown picture file extension (.%1)").arg(extension).toStdString());
}

qint64 MaxFileBytes(TFileKind kind)
{
    return kind == TFileKind::Jpeg ? MaxJpegFileBytes : MaxBmpFileBytes;
}

// The whole file in memory: libjpeg's fast Huffman decoder then runs without refills, and the bitmap's
// compressed data can be checked before any pixel is allocated.
QImage LoadFile(const QByteArray& nativePath, const QString& name, const QSize& atLeast)
{
    const TFileKind kind = KindOf(name);
    QString reason;
    const std::optional<QByteArray> data = ReadRegularFile(nativePath, MaxFileBytes(kind), &reason);
    if (!data)
        Fail(name, reason);
    if (kind == TFileKind::Bmp)
        return BmpDecode(*data, name, atLeast);
    TJpegSession session;
    return JpegDecode(session, nullptr, &*data, name, atLeast);
}

void OpenPicture(TRegularFile& file, const QString& path, TFileKind kind)
{
    if (!file.Open(path))
        Fail(path, file.Error());
    if (file.Size() > MaxFileBytes(kind))
        Fail(path, QStringLiteral("the file is too large (%1 bytes)").arg(file.Size()));
}

// A FILE for libjpeg's header reader on a copy of the checked descriptor, closed when the read ends.
struct TCFile
{
    FILE* file = nullptr;
    ~TCFile()
    {
        if (file)
            std::fclose(file);
    }
};

} // namespace

QSize FitProportional(const QSize& picture, const QSize& box, bool enlarge)
{
    const qint64 w = picture.width(), h = picture.height();
    const qint64 bw = box.width(), bh = box.height();
    if (w <= 0 || h <= 0 || bw <= 0 || bh <= 0)
        return QSize(0, 0);
    if (!enlarge && w <= bw && h <= bh)
        return picture;
    // Compare the aspect ratios exactly: w / h > bw / bh. A very long or tall picture keeps at
    // least one pixel across.
    if (w * bh > bw * h)
        return QSize(int(bw), int(std::max<qint64>(1, h * bw / w)));
    return QSize(int(std::max<qint64>(1, w * bh / h)), int(bh));
}

QSize ReadJpegSize(const QByteArray& data, const QString& name)
{
    TJpegSession session;
    return JpegHeaderSize(session, nullptr, &data, name);
}

QImage DecodeJpeg(const QByteArray& data, const QString& name, const QSize& atLeast)
{
    TJpegSession session;
    return JpegDecode(session, nullptr, &data, name, atLeast);
}

QSize ReadBmpSize(const QByteArray& data, const QString& name)
{
    return ParseBmpHeader(data.left(64), data.size(), name).size;
}

QImage DecodeBmp(const QByteArray& data, const QString& name, const QSize& atLeast)
{
    return BmpDecode(data, name, atLeast);
}

QSize ReadPictureSize(const QString& path)
{
    const TFileKind kind = KindOf(path);
    TRegularFile file;
    OpenPicture(file, path, kind);
    if (kind == TFileKind::Jpeg) {
        if (file.Size() == 0)
            Fail(path, QStringLiteral("the file is empty"));
        TCFile stream;
        const int copy = ::fcntl(file.Descriptor(), F_DUPFD_CLOEXEC, 0);
        stream.file = copy < 0 ? nullptr : ::fdopen(copy, "rb");
        if (!stream.file) {
            if (copy >= 0)
                ::close(copy);
            Fail(path, QStringLiteral("not enough resources to read the file"));
        }
        TJpegSession session;
        return JpegHeaderSize(session, stream.file, nullptr, path);
    }
    const std::optional<QByteArray> head = file.ReadAtMost(64);
    if (!head)
        Fail(path, file.Error());
    return ParseBmpHeader(*head, file.Size(), path).size;
}

QImage LoadPicture(const QString& path)
{
    return LoadFile(EncodeFileName(path), path, QSize());
}

QImage LoadPictureNative(const QByteArray& nativePath)
{
    return LoadFile(nativePath, QFile::decodeName(nativePath), QSize());
}

QImage LoadThumbnail(const QString& path, const QSize& atLeast)
{
    // A photo's embedded EXIF thumbnail stands in for it when it is large enough.
    if (!atLeast.isEmpty() && KindOf(path) == TFileKind::Jpeg)
        return DecodeThumbnail(path, atLeast, atLeast).Image;
    return LoadFile(EncodeFileName(path), path, atLeast.isEmpty() ? QSize() : atLeast);
}
