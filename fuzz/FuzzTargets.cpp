#include "fuzz/FuzzTargets.h"

#include "pictures/PictureDecoder.h"

#include <QByteArray>

namespace {

template <typename ReadSize, typename Decode>
bool Exercise(const uint8_t* data, size_t size, ReadSize readSize, Decode decode)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString name = QStringLiteral("fuzz");
    try {
        const QSize header = readSize(bytes, name);
        if (header.isEmpty())
            __builtin_trap(); // the reader must refuse empty pictures
    } catch (const TPictureError&) { }
    try {
        const QImage thumbnail = decode(bytes, name, QSize(100, 100));
        if (thumbnail.format() != QImage::Format_RGB888 || thumbnail.width() > 100
            || thumbnail.height() > 100)
            __builtin_trap();
    } catch (const TPictureError&) { }
    try {
        const QImage picture = decode(bytes, name, QSize());
        if (picture.isNull() || picture.format() != QImage::Format_RGB888)
            __builtin_trap();
        return true;
    } catch (const TPictureError&) {
        return false;
    }
}

} // namespace

bool FuzzJpeg(const uint8_t* data, size_t size)
{
    return Exercise(data, size, ReadJpegSize, DecodeJpeg);
}

bool FuzzBmp(const uint8_t* data, size_t size)
{
    return Exercise(data, size, ReadBmpSize, DecodeBmp);
}
