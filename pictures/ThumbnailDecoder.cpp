#include "pictures/ThumbnailDecoder.h"

#include "pictures/PictureDecoder.h"
#include "pictures/RegularFile.h"

#include <QFileInfo>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <unistd.h>

extern "C" {
#include <libexif/exif-data.h>
}

namespace {

// The EXIF block is one APP1 segment of at most 64 KB, and it comes before the frame header in every
// file a camera writes; this much of the file holds both in all but unusual files.
constexpr qint64 HeadBytes = 192 * 1024;
// The embedded thumbnail is a small picture; anything larger is not one.
constexpr QSize MaxEmbeddedSize(1024, 1024);

[[noreturn]] void Fail(const QString& name, const QString& reason)
{
    throw TPictureError(QStringLiteral("Cannot load picture \"%1\": %2").arg(name, reason).toStdString());
}

// The APP1 segment that starts with "Exif\0\0", found by walking the markers before the first scan.
// Returns its content (from "Exif" on), or an empty view.
QByteArrayView FindExifSegment(const QByteArray& head)
{
    const auto* p = reinterpret_cast<const uchar*>(head.constData());
    const qsizetype size = head.size();
    if (size < 4 || p[0] != 0xFF || p[1] != 0xD8)
        return {};
    qsizetype pos = 2;
    while (pos + 4 <= size) {
        if (p[pos] != 0xFF)
            return {};
        const uchar marker = p[pos + 1];
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) { // markers without a length
            pos += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) // start of scan or end of picture: no EXIF block before
            return {};
        const qsizetype length = qsizetype(p[pos + 2]) << 8 | p[pos + 3];
        if (length < 2 || pos + 2 + length > size)
            return {};
        const qsizetype content = pos + 4;
        if (marker == 0xE1 && length >= 8 && std::memcmp(p + content, "Exif\0\0", 6) == 0)
            return QByteArrayView(head.constData() + content, length - 2);
        pos += 2 + length;
    }
    return {};
}

// A JPEG file being read: its start first, the rest only when it is needed. The bytes go into one
// buffer per thread that is reused from photo to photo: reading each photo into fresh memory costs a
// page fault every 4 KB, a good part of a thumbnail's time.
class TJpegReader
{
public:
    explicit TJpegReader(const QString& path)
        : name(path)
        , data(Buffer())
    {
        if (!file.Open(path))
            Fail(path, file.Error());
        size = file.Size();
        data.resize(0); // keeps the buffer's capacity
        if (size > MaxJpegFileBytes)
            Fail(path, QStringLiteral("the file is too large (%1 bytes)").arg(size));
        ReadUpTo(std::min(size, HeadBytes));
    }
    ~TJpegReader()
    {
        // A very large file's bytes are not kept for the next one.
        if (data.capacity() > KeptBufferBytes)
            data = QByteArray();
    }
    TJpegReader(const TJpegReader&) = delete;
    TJpegReader& operator=(const TJpegReader&) = delete;

    // The bytes read so far.
    const QByteArray& Data() const { return data; }
    bool Whole() const { return data.size() == size; }
    void ReadAll() { ReadUpTo(size); }

private:
    static QByteArray& Buffer()
    {
        thread_local QByteArray buffer;
        return buffer;
    }

    void ReadUpTo(qint64 count)
    {
        const qsizetype done = data.size();
        if (count <= done)
            return;
        data.resize(qsizetype(count));
        qsizetype got = done;
        while (got < count) {
            const ssize_t step = ::read(file.Descriptor(), data.data() + got, size_t(count - got));
            if (step < 0 && errno == EINTR)
                continue;
            if (step < 0)
                Fail(name, QString::fromLocal8Bit(std::strerror(errno)));
            if (step == 0)
                Fail(name, QStringLiteral("the file could not be read whole"));
            got += step;
        }
    }

    static constexpr qsizetype KeptBufferBytes = 32 * 1024 * 1024;
    QString name;
    TRegularFile file;
    QByteArray& data;
    qint64 size = 0;
};

// The embedded thumbnail of the JPEG whose start is `head`, decoded to fit `box`, when it may stand in
// for a picture of size `picture` drawn at `needed`; a null image otherwise.
QImage DecodeEmbedded(
    const QByteArray& head, const QString& name, const QSize& picture, const QSize& box, const QSize& needed)
{
    const QByteArray data = EmbeddedThumbnailData(head);
    if (data.isEmpty())
        return {};
    try {
        const QSize size = ReadJpegSize(data, name);
        if (size.width() > MaxEmbeddedSize.width() || size.height() > MaxEmbeddedSize.height()
            || !EmbeddedThumbnailFits(size, picture, needed))
            return {};
        return DecodeJpeg(data, name, box);
    } catch (const TPictureError&) {
        return {}; // a damaged thumbnail: the picture itself is decoded instead
    }
}

} // namespace

QByteArray EmbeddedThumbnailData(const QByteArray& head)
{
    const QByteArrayView segment = FindExifSegment(head);
    if (segment.isEmpty())
        return {};
    ExifData* exif = exif_data_new();
    if (!exif)
        return {};
    // Only the thumbnail is wanted: no tag is checked against the standard or added to it.
    exif_data_unset_option(exif, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(
        exif, reinterpret_cast<const unsigned char*>(segment.data()), unsigned(segment.size()));
    QByteArray thumbnail;
    if (exif->data && exif->size > 4 && exif->data[0] == 0xFF && exif->data[1] == 0xD8)
        thumbnail = QByteArray(reinterpret_cast<const char*>(exif->data), qsizetype(exif->size));
    exif_data_unref(exif);
    return thumbnail;
}

bool EmbeddedThumbnailFits(const QSize& thumbnail, const QSize& picture, const QSize& needed)
{
    if (thumbnail.isEmpty() || picture.isEmpty())
        return false;
    const QSize target = FitProportional(picture, needed, false);
    if (thumbnail.width() < target.width() || thumbnail.height() < target.height())
        return false;
    const double pictureRatio = double(picture.width()) / picture.height();
    const double thumbnailRatio = double(thumbnail.width()) / thumbnail.height();
    return std::abs(thumbnailRatio - pictureRatio) <= EmbeddedShapeTolerance * pictureRatio;
}

TThumbnail DecodeThumbnail(const QString& path, const QSize& box, const QSize& needed)
{
    TThumbnail result;
    const QString suffix = QFileInfo(path).suffix();
    if (suffix.compare(QLatin1String("jpg"), Qt::CaseInsensitive) != 0) {
        result.PictureSize = ReadPictureSize(path);
        result.Image = LoadThumbnail(path, box);
        return result;
    }
    TJpegReader reader(path);
    if (!reader.Whole()) {
        // The frame header usually lies within the head; when it does not, the whole file is needed.
        try {
            result.PictureSize = ReadJpegSize(reader.Data(), path);
        } catch (const TPictureError&) {
            reader.ReadAll();
        }
    }
    if (!result.PictureSize.isValid())
        result.PictureSize = ReadJpegSize(reader.Data(), path);
    result.Image = DecodeEmbedded(reader.Data(), path, result.PictureSize, box, needed);
    if (!result.Image.isNull()) {
        result.Embedded = true;
        return result;
    }
    reader.ReadAll();
    result.Image = DecodeJpeg(reader.Data(), path, box);
    return result;
}