#include "input/Framing.h"

#include "pictures/PictureDecoder.h"

#include <QPainter>
#include <algorithm>

QString FramingName(TFraming framing)
{
    switch (framing) {
    case TFraming::Corner:
        return QStringLiteral("corner");
    case TFraming::Fit:
        return QStringLiteral("fit");
    case TFraming::Face:
        return QStringLiteral("face");
    }
    return QStringLiteral("corner");
}

std::optional<TFraming> FramingFromName(QStringView name)
{
    const QStringView trimmed = name.trimmed();
    for (const TFraming framing : { TFraming::Corner, TFraming::Fit, TFraming::Face }) {
        if (trimmed.compare(FramingName(framing), Qt::CaseInsensitive) == 0)
            return framing;
    }
    return std::nullopt;
}

TFraming NextFraming(TFraming framing)
{
    switch (framing) {
    case TFraming::Corner:
        return TFraming::Fit;
    case TFraming::Fit:
        return TFraming::Face;
    case TFraming::Face:
        return TFraming::Corner;
    }
    return TFraming::Corner;
}

QString NoFaceFoundNote()
{
    return QStringLiteral("No face found: the whole picture is used");
}

TInputPattern SampleFit(const QImage& picture)
{
    if (picture.isNull() || picture.width() <= 0 || picture.height() <= 0)
        return TInputPattern(size_t(SampleSize) * SampleSize, 255.0f);
    const QSize size = FitProportional(picture.size(), QSize(SampleSize, SampleSize), true);
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    const QImage scaled = rgb.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QImage window(SampleSize, SampleSize, QImage::Format_RGB888);
    window.fill(Qt::white);
    {
        QPainter painter(&window);
        painter.drawImage(QPoint((SampleSize - size.width()) / 2, (SampleSize - size.height()) / 2), scaled);
    }
    return SampleCorner(window);
}

TFramer::TFramer(std::shared_ptr<TFaceDetector> detector)
    : detector(std::move(detector))
{ }

TFramer::~TFramer() = default;

TFramedPicture TFramer::Frame(const QImage& picture, TFraming framing) const
{
    TFramedPicture framed;
    framed.Framing = framing;
    framed.PictureSize = picture.size();
    switch (framing) {
    case TFraming::Corner:
        framed.Pattern = SampleCorner(picture);
        framed.Frame = QPolygonF(QRectF(0, 0, SampleSize, SampleSize));
        break;
    case TFraming::Fit:
    case TFraming::Face: // face framing is not built yet: it fits the picture
        framed.Pattern = SampleFit(picture);
        framed.Frame = QPolygonF(QRectF(QPointF(0, 0), QSizeF(picture.size())));
        break;
    }
    return framed;
}

TFramedPicture TFramer::FrameFile(const QString& path, TFraming framing) const
{
    return Frame(LoadPicture(path), framing);
}

TFramedPicture TFramer::FrameNativeFile(const QByteArray& nativePath, TFraming framing) const
{
    return Frame(LoadPictureNative(nativePath), framing);
}
