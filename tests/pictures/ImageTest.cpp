#include "pictures/Image.h"

#include "pictures/PictureDecoder.h"
#include "pictures/PictureFiles.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

TEST(ImageTest, HoldsEveryPictureAsRgb888)
{
    TImage image;
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_EQ(image.Kind(), TPictureKind::None);
    QImage argb(10, 5, QImage::Format_ARGB32);
    argb.fill(QColor(10, 20, 30));
    image.SetPicture(argb);
    EXPECT_EQ(image.Picture().format(), QImage::Format_RGB888);
    EXPECT_EQ(image.Picture().pixelColor(3, 3), QColor(10, 20, 30));
    EXPECT_EQ(image.Kind(), TPictureKind::Bitmap);
    image.Clear();
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_TRUE(image.Picture().isNull());
}

TEST(ImageTest, FailedLoadKeepsTheOldPicture)
{
    QTemporaryDir dir;
    TImage image;
    image.LoadFromFile(WriteFile(dir, "a.jpg", EncodeJpeg(QuarterPicture(30, 20))));
    EXPECT_EQ(image.Kind(), TPictureKind::Jpeg);
    EXPECT_EQ(image.Picture().size(), QSize(30, 20));
    QByteArray broken = EncodeJpeg(QuarterPicture(50, 50));
    broken.truncate(broken.size() / 2);
    EXPECT_THROW(image.LoadFromFile(WriteFile(dir, "b.jpg", broken)), TPictureError);
    EXPECT_THROW(image.LoadFromFile(dir.filePath("c.gif")), TPictureError);
    EXPECT_EQ(image.Picture().size(), QSize(30, 20));
    EXPECT_EQ(image.Kind(), TPictureKind::Jpeg);
    image.LoadFromFile(WriteFile(dir, "d.bmp", EncodeBmp(QuarterPicture(7, 9))));
    EXPECT_EQ(image.Kind(), TPictureKind::Bitmap);
    EXPECT_EQ(image.Picture().size(), QSize(7, 9));
}

// A load on the worker ends with one signal; a load that a later one, SetPicture or Clear supersedes ends
// with none, and its picture never shows.
TEST(ImageTest, LoadingLaterDeliversOnlyTheLatestPicture)
{
    QTemporaryDir dir;
    TImage image;
    image.SetProportional(true);
    image.resize(40, 40);
    QSignalSpy loaded(&image, &TImage::PictureLoaded);
    QSignalSpy failed(&image, &TImage::PictureLoadFailed);
    const QString big = WriteFile(dir, "big.jpg", EncodeJpeg(QuarterPicture(400, 200)));
    const QString small = WriteFile(dir, "small.bmp", EncodeBmp(QuarterPicture(7, 9)));

    image.LoadFromFileLater(big);
    EXPECT_TRUE(image.IsLoading());
    EXPECT_TRUE(image.IsEmpty()) << "decoded on the calling thread";
    ASSERT_TRUE(loaded.wait(10'000));
    EXPECT_EQ(loaded.takeFirst().at(0).toString(), big);
    EXPECT_FALSE(image.IsLoading());
    EXPECT_EQ(image.Picture().size(), QSize(400, 200));
    EXPECT_EQ(image.Kind(), TPictureKind::Jpeg);
    EXPECT_EQ(image.DrawRect().size(), QSize(40, 20));

    image.LoadFromFileLater(big);
    image.LoadFromFileLater(small);
    ASSERT_TRUE(loaded.wait(10'000));
    QTest::qWait(50); // a late result of the first load would arrive here
    ASSERT_EQ(loaded.size(), 1);
    EXPECT_EQ(loaded.takeFirst().at(0).toString(), small);
    EXPECT_EQ(image.Picture().size(), QSize(7, 9));

    image.LoadFromFileLater(big);
    image.Clear();
    EXPECT_FALSE(image.IsLoading());
    QTest::qWait(300);
    EXPECT_TRUE(loaded.isEmpty());
    EXPECT_TRUE(image.IsEmpty());

    image.SetPicture(QuarterPicture(5, 5));
    image.LoadFromFileLater(dir.filePath("missing.jpg"));
    ASSERT_TRUE(failed.wait(10'000));
    EXPECT_TRUE(failed.takeFirst().at(1).toString().startsWith("Cannot load picture"));
    EXPECT_EQ(image.Picture().size(), QSize(5, 5)) << "a failed load keeps the old picture";
    EXPECT_TRUE(loaded.isEmpty());
}

TEST(ImageTest, DrawRectFollowsProportionalStretchAndCenter)
{
    TImage image;
    image.resize(100, 50);
    EXPECT_EQ(image.DrawRect(), QRect());
    image.SetPicture(QuarterPicture(40, 40));
    EXPECT_EQ(image.DrawRect(), QRect(0, 0, 40, 40)); // own size
    image.SetStretch(true);
    EXPECT_EQ(image.DrawRect(), QRect(0, 0, 100, 50)); // fill
    image.SetProportional(true);
    EXPECT_EQ(image.DrawRect(), QRect(0, 0, 50, 50)); // enlarged, aspect kept
    image.SetCenter(true);
    EXPECT_EQ(image.DrawRect(), QRect(25, 0, 50, 50));
    image.SetStretch(false);
    EXPECT_EQ(image.DrawRect(), QRect(30, 5, 40, 40)); // never enlarged
    image.SetCenter(false);
    image.SetPicture(QuarterPicture(300, 100));
    EXPECT_EQ(image.DrawRect(), QRect(0, 0, 100, 33)); // scaled down, truncated
}

TEST(ImageTest, DrawsThePictureOnATransparentBackground)
{
    QWidget parent;
    parent.resize(120, 120);
    parent.setAutoFillBackground(true);
    QPalette palette = parent.palette();
    palette.setColor(QPalette::Window, QColor(0, 0, 0));
    parent.setPalette(palette);
    TImage image(&parent);
    image.setGeometry(10, 10, 100, 100);
    image.SetProportional(true);
    image.SetPicture(QuarterPicture(60, 40));
    const QImage shot = parent.grab().toImage();
    EXPECT_EQ(shot.pixelColor(15, 15), QColor(255, 0, 0));
    EXPECT_EQ(shot.pixelColor(60, 45), QColor(255, 255, 255));
    EXPECT_EQ(shot.pixelColor(80, 80), QColor(0, 0, 0)); // parent shows through
    // A larger picture is drawn scaled down into the top-left corner.
    image.SetPicture(QuarterPicture(200, 100));
    const QImage scaled = parent.grab().toImage();
    EXPECT_EQ(scaled.pixelColor(10 + 20, 10 + 10), QColor(255, 0, 0));
    EXPECT_EQ(scaled.pixelColor(10 + 80, 10 + 40), QColor(255, 255, 255));
    EXPECT_EQ(scaled.pixelColor(10 + 50, 10 + 80), QColor(0, 0, 0));
}

TEST(ImageTest, MarksAreDrawnWhereTheirPartOfThePictureIsShownAndGoWithIt)
{
    TImage image;
    image.resize(300, 300);
    image.SetCenter(true);
    image.SetProportional(true);
    image.SetStretch(true);
    QImage grey(200, 100, QImage::Format_RGB888);
    grey.fill(QColor(128, 128, 128));
    image.SetPicture(grey);
    ASSERT_EQ(image.DrawRect(), QRect(0, 75, 300, 150)); // scaled by 1.5, centred
    // Marks in the pixels of the picture as its file holds it (here twice the size held).
    image.SetMarks(QPolygonF(QRectF(0, 0, 100, 100)), QRectF(200, 50, 40, 60), QSize(400, 200));
    EXPECT_EQ(image.FrameShown().boundingRect(), QRectF(0, 75, 75, 75));
    EXPECT_EQ(image.BoxShown(), QRectF(150, 112.5, 30, 45));
    QImage drawn(image.size(), QImage::Format_RGB888);
    drawn.fill(Qt::black);
    image.render(&drawn);
    EXPECT_EQ(drawn.pixelColor(0, 110), TImage::FrameColour);
    EXPECT_EQ(drawn.pixelColor(150, 130), TImage::BoxColour);
    EXPECT_EQ(drawn.pixelColor(100, 110), QColor(128, 128, 128));
    image.SetPicture(grey);
    EXPECT_FALSE(image.HasMarks());
    EXPECT_TRUE(image.FrameShown().isEmpty());
}
