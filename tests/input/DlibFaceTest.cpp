// dlib's detector and landmark model on real photographs (MIRAVA_TESTDATA/faces-real; skipped without it):
// every face found, the eyes where the window puts them, a rolled face levelled, no face in a texture, and
// the box alone without the landmark model.

#include "WindowGeometry.h"
#include "input/Framing.h"
#include "pictures/PictureDecoder.h"
#include "pictures/PictureFiles.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <QtMath>
#include <cstdlib>
#include <future>
#include <gtest/gtest.h>

namespace {

QString RealFaces(const QString& collection)
{
    const char* root = std::getenv("MIRAVA_TESTDATA");
    const QString folder = root && *root
        ? QString::fromLocal8Bit(root) + QStringLiteral("/faces-real/") + collection
        : QString();
    return QDir(folder).exists() && !folder.isEmpty() ? folder : QString();
}

QStringList Pictures(const QString& folder)
{
    QStringList paths;
    for (const QString& name : QDir(folder).entryList({ QStringLiteral("*.jpg") }, QDir::Files, QDir::Name))
        paths << folder + u'/' + name;
    return paths;
}

#define SKIP_WITHOUT(folder)                                                                                 \
    if ((folder).isEmpty())                                                                                  \
    GTEST_SKIP() << "MIRAVA_TESTDATA/faces-real is not there"

TEST(DlibFaces, EveryFaces94PictureGivesAFaceWithTheEyesAtTheirPlaces)
{
    const QString folder = RealFaces(QStringLiteral("faces94"));
    SKIP_WITHOUT(folder);
    ASSERT_TRUE(QFile::exists(DefaultLandmarkModelPath())) << "libdlib-data (scripts/setup.sh) installs it";
    const TFramer framer;
    double farthest = 0, tilt = 0, sum = 0;
    const QStringList paths = Pictures(folder);
    ASSERT_GT(paths.size(), 300);
    for (const QString& path : paths) {
        const TFramedPicture framed = framer.FrameFile(path, TFraming::Face);
        ASSERT_TRUE(framed.FaceFound) << path.toStdString();
        EXPECT_TRUE(framed.Note.isEmpty()) << framed.Note.toStdString();
        const QPointF left = InWindow(framed.Frame, framed.LeftEye);
        const QPointF right = InWindow(framed.Frame, framed.RightEye);
        const double off = std::max(Distance(left, LeftEyePlace()), Distance(right, RightEyePlace()));
        farthest = std::max(farthest, off);
        sum += off;
        tilt = std::max(tilt, std::abs(left.y() - right.y()));
        EXPECT_TRUE(
            framed.Frame.boundingRect().intersects(QRectF(QPointF(0, 0), QSizeF(framed.PictureSize))));
    }
    // The window fits eyes, nose and mouth together to a mean face, so a face whose eyes sit wider apart or
    // higher than the mean one has them a few pixels from their places; level they are all the same.
    const double mean = sum / double(paths.size());
    EXPECT_LT(mean, 2.5);
    EXPECT_LT(farthest, 9.0);
    EXPECT_LT(tilt, 3.5);
    std::cout << "eyes " << mean << " px from their places on average, at most " << farthest
              << " px; at most " << tilt << " px off level\n";
}

// A picture turned by `degrees` clockwise about its centre, the corners it uncovers white.
QImage Turned(const QImage& picture, double degrees)
{
    QImage turned(picture.size(), QImage::Format_RGB888);
    turned.fill(Qt::white);
    QPainter painter(&turned);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(picture.width() / 2.0, picture.height() / 2.0);
    painter.rotate(degrees);
    painter.translate(-picture.width() / 2.0, -picture.height() / 2.0);
    painter.drawImage(0, 0, picture);
    return turned;
}

TEST(DlibFaces, ARolledFaceIsLevelledAndTheSameFaceGivesTheSamePatternFromBmpAndJpeg)
{
    const QString folder = RealFaces(QStringLiteral("yale"));
    SKIP_WITHOUT(folder);
    const TFramer framer;
    const QImage upright = LoadPicture(folder + QStringLiteral("/s02_6.jpg"));
    for (const double roll : { -25.0, 25.0 }) {
        const TFramedPicture framed = framer.Frame(Turned(upright, roll), TFraming::Face);
        ASSERT_TRUE(framed.FaceFound) << roll;
        const QPointF left = InWindow(framed.Frame, framed.LeftEye);
        const QPointF right = InWindow(framed.Frame, framed.RightEye);
        EXPECT_LT(std::abs(left.y() - right.y()), 2.0) << roll;
        const QPointF top = framed.Frame[1] - framed.Frame[0];
        EXPECT_NEAR(qRadiansToDegrees(std::atan2(top.y(), top.x())), roll, 5.0);
    }

    QTemporaryDir dir;
    const QString bmp = WriteFile(dir, QStringLiteral("s02_6.bmp"), EncodeBmp(upright));
    const TFramedPicture fromBmp = framer.FrameFile(bmp, TFraming::Face);
    const TFramedPicture fromJpg = framer.FrameFile(folder + QStringLiteral("/s02_6.jpg"), TFraming::Face);
    EXPECT_TRUE(fromBmp.FaceFound);
    EXPECT_EQ(fromBmp.Pattern, fromJpg.Pattern);
    EXPECT_EQ(fromBmp.Frame, fromJpg.Frame);
}

// Smooth waves and grain, as in a photo of a wall or a landscape, with no face.
QImage Texture(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB888);
    quint32 state = 12345;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            const int grey = int(128 + 60 * std::sin(x * 0.031) * std::cos(y * 0.017)
                + 30 * std::sin((x + y) * 0.2) + int(state >> 28));
            picture.setPixelColor(x, y, QColor(grey, std::clamp(grey + 20, 0, 255), grey));
        }
    return picture;
}

TEST(DlibFaces, APictureWithoutAFaceIsFittedWithItsNote)
{
    QTemporaryDir dir;
    const QString path = WriteFile(dir, QStringLiteral("wall.jpg"), EncodeJpeg(Texture(640, 480)));
    const TFramer framer;
    const TFramedPicture framed = framer.FrameFile(path, TFraming::Face);
    EXPECT_FALSE(framed.FaceFound);
    EXPECT_EQ(framed.Note, NoFaceFoundNote());
    EXPECT_EQ(framed.Pattern, framer.FrameFile(path, TFraming::Fit).Pattern);
    // Pictures too small or too thin to scan are fitted too.
    for (const QSize size : { QSize(1, 1), QSize(3, 200), QSize(200, 3), QSize(40, 40) }) {
        const QImage tiny = Texture(size.width(), size.height());
        const TFramedPicture small = framer.Frame(tiny, TFraming::Face);
        EXPECT_FALSE(small.FaceFound) << size.width() << " x " << size.height();
        EXPECT_EQ(small.Pattern, framer.Frame(tiny, TFraming::Fit).Pattern);
    }
}

TEST(DlibFaces, WithoutTheLandmarkModelTheBoxIsCroppedAndTheNoteNamesTheFileOnce)
{
    const QString folder = RealFaces(QStringLiteral("faces94"));
    SKIP_WITHOUT(folder);
    QTemporaryDir dir;
    const QString broken = WriteFile(dir, QStringLiteral("broken.dat"), QByteArray("not a model", 11));
    for (const QString& model : { dir.filePath(QStringLiteral("absent.dat")), broken }) {
        const TFramer framer(MakeDlibFaceDetector(model));
        const TFramedPicture first
            = framer.FrameFile(folder + QStringLiteral("/anpage_1.jpg"), TFraming::Face);
        const TFramedPicture second
            = framer.FrameFile(folder + QStringLiteral("/anpage_2.jpg"), TFraming::Face);
        ASSERT_TRUE(first.FaceFound);
        ASSERT_TRUE(second.FaceFound);
        EXPECT_TRUE(first.Note.contains(model)) << first.Note.toStdString();
        EXPECT_TRUE(second.Note.isEmpty()) << second.Note.toStdString();
        // The box's square, upright, around the box's centre.
        const QRectF square = first.Frame.boundingRect();
        EXPECT_NEAR(square.width(), square.height(), 1e-6);
        EXPECT_NEAR(first.Frame[0].y(), first.Frame[1].y(), 1e-6);
        EXPECT_LT(Distance(square.center(), first.FaceBox.center()), 1e-6);
    }
}

TEST(DlibFaces, OneDetectorFramesFromSeveralThreadsAsFromOne)
{
    const QString folder = RealFaces(QStringLiteral("faces94"));
    SKIP_WITHOUT(folder);
    const QStringList paths = Pictures(folder).mid(0, 40);
    // A fresh detector, so that its model is loaded while four threads ask for it at once.
    const TFramer framer(MakeDlibFaceDetector());
    const auto frameAll = [&](int first) {
        std::vector<TInputPattern> patterns;
        for (int i = first; i < paths.size(); i += 4)
            patterns.push_back(framer.FrameFile(paths[i], TFraming::Face).Pattern);
        return patterns;
    };
    std::vector<std::future<std::vector<TInputPattern>>> threads;
    for (int first = 0; first < 4; ++first)
        threads.push_back(std::async(std::launch::async, frameAll, first));
    for (int first = 0; first < 4; ++first) {
        const std::vector<TInputPattern> together = threads[size_t(first)].get();
        const std::vector<TInputPattern> alone = frameAll(first);
        EXPECT_EQ(together, alone) << first;
    }
}

} // namespace
