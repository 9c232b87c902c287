#include "pictures/PictureDecoder.h"

#include <QImageReader>

QSize FitProportional(const QSize& picture, const QSize& box, bool enlarge)
{
    const qint64 w = picture.width(), h = picture.height();
    const qint64 bw = box.width(), bh = box.height();
    if (w <= 0 || h <= 0 || bw <= 0 || bh <= 0)
        return QSize(0, 0);
    if (!enlarge && w <= bw && h <= bh)
        return picture;
    // Compare the aspect ratios exactly: w / h > bw / bh.
    if (w * bh > bw * h)
        return QSize(int(bw), int(h * bw / w));
    return QSize(int(w * bh / h), int(bh));
}

QSize ReadPictureSize(const QString& path)
{
    QImageReader reader(path);
    QSize size = reader.size();
    if (!size.isValid())
        throw TPictureError(("Cannot read picture " + path).toStdString());
    return size;
}

QImage LoadPicture(const QString& path)
{
    QImage image(path);
    if (image.isNull())
        throw TPictureError(("Cannot read picture " + path).toStdString());
    return image.convertToFormat(QImage::Format_RGB888);
}

QImage LoadThumbnail(const QString& path, const QSize& atLeast)
{
    QImage image = LoadPicture(path);
    return image.scaled(
        FitProportional(image.size(), atLeast, false), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}
