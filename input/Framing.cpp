#include "input/Framing.h"

#include "input/FaceDetector.h"
#include "pictures/FileName.h"
#include "pictures/PictureDecoder.h"
#include "pictures/RegularFile.h"

#include <QFile>
#include <QFileInfo>
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

namespace {

bool IsJpegName(const QString& name)
{
    return QFileInfo(name).suffix().compare(QLatin1String("jpg"), Qt::CaseInsensitive) == 0;
}

// Grey (R+G+B) div 3, as the pattern's values are, as a QImage::Format_Grayscale8 picture.
QImage GreyPicture(const QImage& picture)
{
    const QImage rgb = picture.format() == QImage::Format_RGB888
        ? picture
        : picture.convertToFormat(QImage::Format_RGB888);
    QImage grey(rgb.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < rgb.height(); ++y) {
        const uchar* in = rgb.constScanLine(y);
        uchar* out = grey.scanLine(y);
        for (int x = 0; x < rgb.width(); ++x, in += 3)
            out[x] = uchar((int(in[0]) + int(in[1]) + int(in[2])) / 3);
    }
    return grey;
}

TInputPattern PatternOf(const QImage& grey)
{
    TInputPattern pattern(size_t(SampleSize) * SampleSize, 255.0f);
    for (int y = 0; y < std::min(grey.height(), SampleSize); ++y) {
        const uchar* line = grey.constScanLine(y);
        for (int x = 0; x < std::min(grey.width(), SampleSize); ++x)
            pattern[size_t(y) * SampleSize + size_t(x)] = float(line[x]);
    }
    return pattern;
}

// The values where the window shows the picture squeezed by `factor` around the middle of the interval that
// holds mid-grey (TFramingOptions::Contrast).
void SqueezeContrast(TInputPattern& pattern, const QImage& inside, double factor)
{
    if (factor == 1.0)
        return;
    for (int y = 0; y < SampleSize; ++y) {
        const uchar* shown = inside.isNull() || y >= inside.height() ? nullptr : inside.constScanLine(y);
        for (int x = 0; x < SampleSize; ++x) {
            if (shown && (x >= inside.width() || shown[x] == 0))
                continue;
            float& value = pattern[size_t(y) * SampleSize + size_t(x)];
            value = float(
                std::clamp<long>(std::lround(MidGreyIntervalCentre + (value - 128.0) * factor), 0, 255));
        }
    }
}

// `picture` fitted, as the picture of size `pictureSize` (in the file) that it was decoded from.
TFramedPicture Fitted(const QImage& picture, const QSize& pictureSize, TFraming framing)
{
    TFramedPicture framed;
    framed.Framing = framing;
    framed.PictureSize = pictureSize;
    framed.Pattern = SampleFit(picture);
    framed.Frame = QPolygonF(QRectF(QPointF(0, 0), QSizeF(pictureSize)));
    if (framing == TFraming::Face)
        framed.Note = NoFaceFoundNote();
    return framed;
}

[[noreturn]] void FailToRead(const QString& name, const QString& reason)
{
    throw TPictureError(QStringLiteral("Cannot load picture \"%1\": %2").arg(name, reason).toStdString());
}

} // namespace

TFramer::TFramer(std::shared_ptr<TFaceDetector> detector, TFramingOptions options)
    : detector(detector ? std::move(detector) : SharedFaceDetector())
    , options(options)
{ }

TFramer::~TFramer() = default;

void TFramer::Prepare() const
{
    detector->Prepare();
}

TFramedPicture TFramer::Frame(const QImage& picture, TFraming framing) const
{
    if (framing == TFraming::Corner) {
        TFramedPicture framed;
        framed.Framing = framing;
        framed.PictureSize = picture.size();
        framed.Pattern = SampleCorner(picture);
        framed.Frame = QPolygonF(QRectF(0, 0, SampleSize, SampleSize));
        return framed;
    }
    if (framing == TFraming::Face && !picture.isNull()) {
        TFramedPicture framed = FrameFace(picture, picture.size());
        if (framed.FaceFound)
            return framed;
    }
    return Fitted(picture, picture.size(), framing);
}

TFramedPicture TFramer::FrameFace(const QImage& picture, const QSize& pictureSize) const
{
    TFramedPicture framed;
    framed.Framing = TFraming::Face;
    framed.PictureSize = pictureSize;
    const QSize scanSize = FitProportional(picture.size(), QSize(FaceScanSide, FaceScanSide), false);
    const QImage grey = GreyPicture(scanSize == picture.size()
            ? picture
            : picture.scaled(scanSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    if (grey.isNull())
        return framed;
    const std::vector<TFaceBox> faces = detector->Detect(grey);
    if (faces.empty())
        return framed;
    // The surest face, not the largest: a shoulder or a patterned shirt may score as a large face.
    const TFaceBox face = *std::max_element(faces.begin(), faces.end(),
        [](const TFaceBox& a, const TFaceBox& b) { return a.Confidence < b.Confidence; });

    // Back from the scanned copy to the picture in the file.
    const double scaleX = double(pictureSize.width()) / grey.width();
    const double scaleY = double(pictureSize.height()) / grey.height();
    const auto inPicture
        = [&](const QPointF& point) { return QPointF(point.x() * scaleX, point.y() * scaleY); };

    const std::optional<TFaceShape> shape = detector->Shape(grey, face.Box);
    TFaceWindow window;
    if (shape && CanAlign(*shape)) {
        window = CutAlignedFace(grey, *shape, options.FacePadding);
        framed.LeftEye = inPicture(shape->LeftEye);
        framed.RightEye = inPicture(shape->RightEye);
    } else {
        window = CutFaceBox(grey, face.Box);
        framed.Note = detector->TakeNote();
    }
    NormaliseLighting(window.Grey, options.Lighting, window.Inside);
    framed.Pattern = PatternOf(window.Grey);
    SqueezeContrast(framed.Pattern, window.Inside, options.Contrast);
    framed.FaceFound = true;
    for (const QPointF& corner : window.Frame)
        framed.Frame << inPicture(corner);
    framed.FaceBox = QRectF(inPicture(face.Box.topLeft()), inPicture(face.Box.bottomRight()));
    return framed;
}

TFramedPicture TFramer::FrameJpegFile(
    const QByteArray& nativePath, const QString& name, TFraming framing) const
{
    QString reason;
    const std::optional<QByteArray> data = ReadRegularFile(nativePath, MaxJpegFileBytes, &reason);
    if (!data)
        FailToRead(name, reason);
    const QSize pictureSize = ReadJpegSize(*data, name);
    if (framing == TFraming::Face) {
        const TFramedPicture framed
            = FrameFace(DecodeJpeg(*data, name, QSize(FaceScanSide, FaceScanSide)), pictureSize);
        if (framed.FaceFound)
            return framed;
    }
    // Decoded anew at the scale "fit" uses, so that "face" without a face gives the same pattern as "fit".
    return Fitted(DecodeJpeg(*data, name, QSize(SampleSize, SampleSize)), pictureSize, framing);
}

TFramedPicture TFramer::FrameFile(const QString& path, TFraming framing) const
{
    if (framing != TFraming::Corner && IsJpegName(path))
        return FrameJpegFile(EncodeFileName(path), path, framing);
    return Frame(LoadPicture(path), framing);
}

TFramedPicture TFramer::FrameNativeFile(const QByteArray& nativePath, TFraming framing) const
{
    const QString name = QFile::decodeName(nativePath);
    if (framing != TFraming::Corner && IsJpegName(name))
        return FrameJpegFile(nativePath, name, framing);
    return Frame(LoadPictureNative(nativePath), framing);
}
