// The "face" framing with a stand-in detector: which face it takes, where the window goes, and what it
// says. The stand-in gives its boxes and eyes as shares of the picture's width and height, so the same one
// serves a picture at any scale.

#include "WindowGeometry.h"
#include "input/Framing.h"
#include "pictures/PictureFiles.h"

#include <QPainter>
#include <QTemporaryDir>
#include <QtMath>
#include <gtest/gtest.h>
#include <mutex>

namespace {

class TStandIn : public TFaceDetector
{
public:
    std::vector<TFaceBox> Boxes; // in shares of the picture
    std::optional<TFaceShape> Eyes; // in shares of the picture
    mutable QString Note; // given once
    mutable std::mutex mutex;
    mutable QSize Searched; // the size of the last picture given
    mutable QRectF Asked; // the last box whose shape was asked for

    std::vector<TFaceBox> Detect(const QImage& grey) const override
    {
        const std::lock_guard lock(mutex);
        Searched = grey.size();
        std::vector<TFaceBox> faces;
        for (const TFaceBox& face : Boxes)
            faces.push_back({ Scaled(face.Box, grey.size()), face.Confidence });
        return faces;
    }
    std::optional<TFaceShape> Shape(const QImage& grey, const QRectF& box) const override
    {
        const std::lock_guard lock(mutex);
        Asked = QRectF(box.x() / grey.width(), box.y() / grey.height(), box.width() / grey.width(),
            box.height() / grey.height());
        if (!Eyes)
            return std::nullopt;
        const QSizeF size = grey.size();
        return TFaceShape { Scaled(Eyes->LeftEye, size), Scaled(Eyes->RightEye, size), {} };
    }
    QString TakeNote() const override
    {
        const std::lock_guard lock(mutex);
        return std::exchange(Note, QString());
    }

    static QPointF Scaled(const QPointF& share, const QSizeF& size)
    {
        return QPointF(share.x() * size.width(), share.y() * size.height());
    }
    static QRectF Scaled(const QRectF& share, const QSizeF& size)
    {
        return QRectF(Scaled(share.topLeft(), size), Scaled(share.bottomRight(), size));
    }
};

float At(const TInputPattern& pattern, const QPointF& place)
{
    return pattern[size_t(place.y()) * SampleSize + size_t(place.x())];
}

// White with a black dot (radius 5) at each eye.
QImage TwoDots(const QSize& size, const QPointF& left, const QPointF& right)
{
    QImage picture(size, QImage::Format_RGB888);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawEllipse(left, 5, 5);
    painter.drawEllipse(right, 5, 5);
    return picture;
}

TFramingOptions Unlit()
{
    TFramingOptions options;
    options.Lighting = TLighting::None;
    options.Contrast = 1.0;
    return options;
}

TEST(FaceFraming, TheWindowPutsTheEyesAtTheirPlacesAlsoWhenTheFaceIsRolled)
{
    const QSize size(400, 300);
    for (const double roll : { 0.0, 25.0 }) {
        const QPointF middle(200, 130);
        const QPointF half(50 * std::cos(qDegreesToRadians(roll)), 50 * std::sin(qDegreesToRadians(roll)));
        const QPointF left = middle - half, right = middle + half;
        auto standIn = std::make_shared<TStandIn>();
        standIn->Boxes = { { QRectF(0.3, 0.2, 0.4, 0.5), 1.0 } };
        standIn->Eyes = TFaceShape { QPointF(left.x() / 400, left.y() / 300),
            QPointF(right.x() / 400, right.y() / 300), {} };
        const TFramedPicture framed
            = TFramer(standIn, Unlit()).Frame(TwoDots(size, left, right), TFraming::Face);

        ASSERT_TRUE(framed.FaceFound);
        EXPECT_TRUE(framed.Note.isEmpty());
        EXPECT_EQ(framed.FaceBox, QRectF(120, 60, 160, 150));
        EXPECT_LT(Distance(framed.LeftEye, left), 1e-6);
        ASSERT_EQ(framed.Frame.size(), 4);
        EXPECT_LT(Distance(InWindow(framed.Frame, left), LeftEyePlace()), 0.01) << roll;
        EXPECT_LT(Distance(InWindow(framed.Frame, right), RightEyePlace()), 0.01) << roll;
        // The window turns with the face: its top edge runs along the eyes.
        const QPointF top = framed.Frame[1] - framed.Frame[0];
        EXPECT_NEAR(qRadiansToDegrees(std::atan2(top.y(), top.x())), roll, 0.01);
        EXPECT_NEAR(LeftEyePlace().y(), RightEyePlace().y(), 1e-9);
        // And the dots are seen there, with white between them.
        EXPECT_LT(At(framed.Pattern, LeftEyePlace()), 60) << roll;
        EXPECT_LT(At(framed.Pattern, RightEyePlace()), 60) << roll;
        EXPECT_EQ(At(framed.Pattern, (LeftEyePlace() + RightEyePlace()) / 2), 255) << roll;
    }
}

TEST(FaceFraming, TheSurestFaceIsTakenNotTheLargest)
{
    auto standIn = std::make_shared<TStandIn>();
    standIn->Boxes = { { QRectF(0.0, 0.5, 1.0, 0.5), 0.2 }, { QRectF(0.4, 0.1, 0.2, 0.2), 0.9 },
        { QRectF(0.1, 0.1, 0.2, 0.2), -0.1 } };
    standIn->Eyes = TFaceShape { QPointF(0.45, 0.18), QPointF(0.55, 0.18), {} };
    const TFramedPicture framed = TFramer(standIn).Frame(TwoDots(QSize(200, 200), {}, {}), TFraming::Face);
    EXPECT_EQ(framed.FaceBox, QRectF(80, 20, 40, 40));
    EXPECT_EQ(standIn->Asked, QRectF(0.4, 0.1, 0.2, 0.2));
}

TEST(FaceFraming, WithoutEyesTheBoxIsCroppedUprightAndTheNoteComesOnce)
{
    auto standIn = std::make_shared<TStandIn>();
    standIn->Boxes = { { QRectF(0.25, 0.25, 0.5, 0.25), 1.0 } };
    standIn->Note = QStringLiteral("no eyes today");
    const TFramer framer(standIn);
    const QImage picture = TwoDots(QSize(200, 200), {}, {});
    const TFramedPicture first = framer.Frame(picture, TFraming::Face);
    const TFramedPicture second = framer.Frame(picture, TFraming::Face);
    EXPECT_TRUE(first.FaceFound);
    EXPECT_EQ(first.Note, QStringLiteral("no eyes today"));
    EXPECT_TRUE(second.Note.isEmpty());
    EXPECT_EQ(second.Pattern, first.Pattern);
    // The square around the box's centre, with its longer side.
    ASSERT_EQ(first.Frame.size(), 4);
    const QPointF corners[] = { { 50, 25 }, { 150, 25 }, { 150, 125 }, { 50, 125 } };
    for (int i = 0; i < 4; ++i)
        EXPECT_LT(Distance(first.Frame[i], corners[i]), 1e-6) << i;
}

TEST(FaceFraming, WithoutAFaceThePictureIsFittedAndTheNoteSaysSo)
{
    const auto standIn = std::make_shared<TStandIn>();
    const TFramer framer(standIn);
    QImage picture = TwoDots(QSize(300, 150), QPointF(100, 50), QPointF(200, 50));
    const TFramedPicture framed = framer.Frame(picture, TFraming::Face);
    EXPECT_FALSE(framed.FaceFound);
    EXPECT_EQ(framed.Framing, TFraming::Face);
    EXPECT_EQ(framed.Note, NoFaceFoundNote());
    EXPECT_EQ(framed.Pattern, framer.Frame(picture, TFraming::Fit).Pattern);
    EXPECT_EQ(framed.Frame.boundingRect(), QRectF(0, 0, 300, 150));

    QTemporaryDir dir;
    const QString path = WriteFile(dir, QStringLiteral("dots.jpg"), EncodeJpeg(picture));
    EXPECT_EQ(framer.FrameFile(path, TFraming::Face).Pattern, framer.FrameFile(path, TFraming::Fit).Pattern);
}

TEST(FaceFraming, ALargeJpegIsSearchedSmallerAndFramedInItsOwnPixels)
{
    const QSize size(3000, 2000);
    const QPointF left(1300, 800), right(1700, 800);
    QTemporaryDir dir;
    const QString path = WriteFile(dir, QStringLiteral("large.jpg"), EncodeJpeg(TwoDots(size, left, right)));
    auto standIn = std::make_shared<TStandIn>();
    standIn->Boxes = { { QRectF(0.4, 0.3, 0.2, 0.3), 1.0 } };
    standIn->Eyes = TFaceShape { QPointF(1300.0 / 3000, 0.4), QPointF(1700.0 / 3000, 0.4), {} };
    const TFramedPicture framed = TFramer(standIn).FrameFile(path, TFraming::Face);
    EXPECT_EQ(standIn->Searched, QSize(FaceScanSide, FaceScanSide * 2 / 3));
    EXPECT_EQ(framed.PictureSize, size);
    EXPECT_LT(Distance(framed.LeftEye, left), 1e-6);
    EXPECT_LT(Distance(framed.RightEye, right), 1e-6);
    EXPECT_LT(Distance(framed.FaceBox.topLeft(), QPointF(1200, 600)), 1e-6);
    EXPECT_LT(Distance(framed.FaceBox.bottomRight(), QPointF(1800, 1200)), 1e-6);
    EXPECT_LT(Distance(InWindow(framed.Frame, left), LeftEyePlace()), 0.01);
    EXPECT_LT(Distance(InWindow(framed.Frame, right), RightEyePlace()), 0.01);
}

} // namespace
