// Corner and fit framing, names, and the lighting normalisations.

#include "input/Framing.h"

#include "input/Lighting.h"
#include "pictures/PictureFiles.h"

#include <QPainter>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QImage Filled(int width, int height, int grey)
{
    QImage picture(width, height, QImage::Format_RGB888);
    picture.fill(QColor(grey, grey, grey));
    return picture;
}

float At(const TInputPattern& pattern, int x, int y)
{
    return pattern[size_t(y) * SampleSize + size_t(x)];
}

TEST(Framing, NamesRoundTripAndCycle)
{
    for (const TFraming framing : { TFraming::Corner, TFraming::Fit, TFraming::Face }) {
        EXPECT_EQ(FramingFromName(QStringLiteral(" %1 ").arg(FramingName(framing).toUpper())), framing);
        EXPECT_EQ(NextFraming(NextFraming(NextFraming(framing))), framing);
    }
    EXPECT_EQ(FramingFromName(u"middle"), std::nullopt);
    for (const TLighting lighting :
        { TLighting::None, TLighting::Equalise, TLighting::Clahe, TLighting::Contrast, TLighting::Bandpass })
        EXPECT_EQ(LightingFromName(LightingName(lighting)), lighting);
    EXPECT_EQ(LightingFromName(u"bright"), std::nullopt);
}

TEST(Framing, CornerOfASmallPicturePadsWhite)
{
    const TFramedPicture framed = TFramer().Frame(Filled(60, 40, 30), TFraming::Corner);
    ASSERT_EQ(framed.Pattern.size(), size_t(SampleSize * SampleSize));
    EXPECT_EQ(At(framed.Pattern, 59, 39), 30);
    EXPECT_EQ(At(framed.Pattern, 60, 0), 255);
    EXPECT_EQ(At(framed.Pattern, 0, 40), 255);
    EXPECT_EQ(framed.PictureSize, QSize(60, 40));
    EXPECT_EQ(framed.Frame.boundingRect(), QRectF(0, 0, SampleSize, SampleSize));
}

TEST(Framing, FitKeepsTheAspectWithWhiteAround)
{
    const TFramer framer;
    // 200 x 100 becomes 100 x 50 in rows 25..74; 50 x 200 becomes 25 x 100 in columns 37..61.
    const TFramedPicture wide = framer.Frame(Filled(200, 100, 40), TFraming::Fit);
    const TFramedPicture tall = framer.Frame(Filled(50, 200, 90), TFraming::Fit);
    for (int i = 0; i < SampleSize; ++i) {
        EXPECT_EQ(At(wide.Pattern, i, 24), 255);
        EXPECT_EQ(At(wide.Pattern, i, 25), 40);
        EXPECT_EQ(At(wide.Pattern, i, 74), 40);
        EXPECT_EQ(At(wide.Pattern, i, 75), 255);
        EXPECT_EQ(At(tall.Pattern, 36, i), 255);
        EXPECT_EQ(At(tall.Pattern, 37, i), 90);
        EXPECT_EQ(At(tall.Pattern, 61, i), 90);
        EXPECT_EQ(At(tall.Pattern, 62, i), 255);
    }
    EXPECT_EQ(wide.Frame.boundingRect(), QRectF(0, 0, 200, 100));
    EXPECT_FALSE(wide.FaceFound);
    EXPECT_TRUE(wide.Note.isEmpty());
}

// Blocks of 8 x 8 pixels of one grey each: a grey JPEG at quality 100 keeps them exactly.
QImage Blocks(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int grey = ((x / 8) * 37 + (y / 8) * 91) % 200 + 20;
            picture.setPixelColor(x, y, QColor(grey, grey, grey));
        }
    return picture;
}

TEST(Framing, BmpAndJpegOfTheSamePixelsGiveTheSamePattern)
{
    const TFramer framer;
    QTemporaryDir dir;
    for (const QSize size : { QSize(64, 48), QSize(800, 640) }) {
        const QImage picture = Blocks(size.width(), size.height());
        const QString bmp = WriteFile(dir, QStringLiteral("blocks.bmp"), EncodeBmp(picture));
        const QString jpg = WriteFile(dir, QStringLiteral("blocks.jpg"),
            EncodeJpeg(picture, TJpegOptions { 100, TJpegColours::Grey, false, false }));
        for (const TFraming framing : { TFraming::Corner, TFraming::Fit }) {
            const TFramedPicture fromBmp = framer.FrameFile(bmp, framing);
            const TFramedPicture fromJpg = framer.FrameFile(jpg, framing);
            EXPECT_EQ(fromJpg.PictureSize, size);
            EXPECT_EQ(fromBmp.Frame, fromJpg.Frame);
            EXPECT_EQ(fromBmp.Pattern, framer.Frame(picture, framing).Pattern);
            EXPECT_EQ(fromBmp.Pattern, fromJpg.Pattern)
                << FramingName(framing).toStdString() << " " << size.width();
        }
    }
}

// The mean step between neighbours across the first `columns` columns, and the whole range there.
double Detail(const QImage& grey, int columns)
{
    double sum = 0;
    for (int y = 0; y < grey.height(); ++y)
        for (int x = 1; x < columns; ++x)
            sum += std::abs(grey.constScanLine(y)[x] - grey.constScanLine(y)[x - 1]);
    return sum / (grey.height() * (columns - 1));
}

int Range(const QImage& grey, int columns)
{
    int low = 255, high = 0;
    for (int y = 0; y < grey.height(); ++y)
        for (int x = 0; x < columns; ++x) {
            low = std::min<int>(low, grey.constScanLine(y)[x]);
            high = std::max<int>(high, grey.constScanLine(y)[x]);
        }
    return high - low;
}

TEST(Lighting, EachRaisesTheContrastOfADimPictureAndLeavesWhatIsOutside)
{
    // A dim gradient from 100 to 140 across with a fine grain of 4 levels; its right quarter is outside.
    QImage dim(SampleSize, SampleSize, QImage::Format_Grayscale8),
        inside(dim.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < SampleSize; ++y)
        for (int x = 0; x < SampleSize; ++x) {
            dim.scanLine(y)[x] = uchar(100 + x * 40 / SampleSize + ((x + y) % 2) * 4);
            inside.scanLine(y)[x] = x < 75 ? 255 : 0;
        }
    QImage same = dim;
    NormaliseLighting(same, TLighting::None, inside);
    EXPECT_EQ(same, dim);
    for (const TLighting lighting :
        { TLighting::Equalise, TLighting::Clahe, TLighting::Contrast, TLighting::Bandpass }) {
        QImage grey = dim.copy();
        NormaliseLighting(grey, lighting, inside);
        const std::string name = LightingName(lighting).toStdString();
        EXPECT_GT(Detail(grey, 75), 1.5 * Detail(dim, 75)) << name;
        // Equalisation and the stretch spread the values over the whole range. CLAHE limits how far it
        // stretches any tile.
        if (lighting == TLighting::Equalise || lighting == TLighting::Contrast) {
            EXPECT_GT(Range(grey, 75), 220) << name;
        }
        for (int y = 0; y < SampleSize; ++y)
            for (int x = 75; x < SampleSize; ++x)
                ASSERT_EQ(grey.constScanLine(y)[x], dim.constScanLine(y)[x]) << name;
    }
}

// The same features lit evenly and lit from the left (a slow change of light across them): the band-pass
// lighting keeps the features and drops the light, so that the two come out alike.
TEST(Lighting, BandpassDropsLightThatChangesSlowlyAcrossThePicture)
{
    QImage even(SampleSize, SampleSize, QImage::Format_Grayscale8), side = even;
    for (int y = 0; y < SampleSize; ++y)
        for (int x = 0; x < SampleSize; ++x) {
            const double feature = 120 + 60 * std::sin(x * 0.7) * std::cos(y * 0.5);
            even.scanLine(y)[x] = uchar(feature);
            side.scanLine(y)[x] = uchar(feature * (1.0 - 0.6 * x / SampleSize));
        }
    auto difference = [](const QImage& a, const QImage& b) {
        double sum = 0;
        for (int y = 0; y < SampleSize; ++y)
            for (int x = 0; x < SampleSize; ++x)
                sum += std::abs(a.constScanLine(y)[x] - b.constScanLine(y)[x]);
        return sum / (SampleSize * SampleSize);
    };
    const double before = difference(even, side);
    NormaliseLighting(even, TLighting::Bandpass);
    NormaliseLighting(side, TLighting::Bandpass);
    EXPECT_LT(difference(even, side), before / 4) << before;
    EXPECT_GT(Detail(even, SampleSize), 10.0);
}

} // namespace
