#include "pictures/FileName.h"
#include "pictures/PictureDecoder.h"
#include "pictures/PictureFiles.h"
#include "pictures/ThumbnailCache.h"
#include "pictures/ThumbnailDecoder.h"
#include "pictures/ThumbnailLoader.h"
#include "support/RawFileRemoval.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

namespace {

QImage Plain(int width, int height, QColor colour)
{
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(colour);
    return image;
}

bool IsGreen(const QColor& colour)
{
    return colour.green() > 200 && colour.red() < 60 && colour.blue() < 60;
}

bool IsRed(const QColor& colour)
{
    return colour.red() > 200 && colour.green() < 60 && colour.blue() < 60;
}

void SetModified(const QString& path, qint64 seconds)
{
    const utimbuf times { time_t(seconds), time_t(seconds) };
    ASSERT_EQ(::utime(EncodeFileName(path).constData(), &times), 0);
}

int Mode(const QString& path)
{
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return -1;
    return int(status.st_mode & 0777);
}

class ThumbnailTest : public testing::Test
{
protected:
    // A 400 x 300 photo (quarters: red top left) with an embedded thumbnail of the given size, all green.
    QString Photo(const QString& name, QSize thumbnail, quint32 ifdOffset = 0)
    {
        const QByteArray main = EncodeJpeg(QuarterPicture(400, 300));
        if (thumbnail.isEmpty())
            return WriteFile(dir, name, main);
        const QByteArray small = EncodeJpeg(Plain(thumbnail.width(), thumbnail.height(), Qt::green));
        return WriteFile(dir, name, WithExifThumbnail(main, small, ifdOffset));
    }

    QTemporaryDir dir;
    const QSize box { 128, 128 };
    const QSize needed { 100, 75 };
};

TEST_F(ThumbnailTest, EmbeddedThumbnailIsUsedWhenLargeEnoughAndOfTheRightShape)
{
    const TThumbnail used = DecodeThumbnail(Photo("camera.jpg", QSize(160, 120)), box, needed);
    EXPECT_TRUE(used.Embedded);
    EXPECT_EQ(used.PictureSize, QSize(400, 300));
    EXPECT_EQ(used.Image.size(), QSize(128, 96));
    EXPECT_TRUE(IsGreen(used.Image.pixelColor(10, 10)));

    // Within 2 % of the photo's shape is the same shape.
    EXPECT_TRUE(DecodeThumbnail(Photo("near.jpg", QSize(160, 121)), box, needed).Embedded);

    struct TCase
    {
        const char* name;
        QSize thumbnail;
    };
    // Too small for the control, letter-boxed to another shape, and no EXIF block at all: the photo is
    // decoded instead.
    for (const TCase& c : { TCase { "small.jpg", QSize(80, 60) }, TCase { "wide.jpg", QSize(160, 90) },
             TCase { "tall.jpg", QSize(160, 160) }, TCase { "plain.jpg", QSize() } }) {
        const TThumbnail decoded = DecodeThumbnail(Photo(c.name, c.thumbnail), box, needed);
        EXPECT_FALSE(decoded.Embedded) << c.name;
        EXPECT_EQ(decoded.Image.size(), QSize(128, 96)) << c.name;
        EXPECT_TRUE(IsRed(decoded.Image.pixelColor(10, 10))) << c.name;
    }
    // The list's own decode takes the embedded thumbnail too.
    EXPECT_TRUE(IsGreen(LoadThumbnail(dir.filePath("camera.jpg"), QSize(100, 100)).pixelColor(10, 10)));
}

TEST_F(ThumbnailTest, DamagedExifBlockFallsBackToThePhoto)
{
    const QByteArray main = EncodeJpeg(QuarterPicture(400, 300));
    const QByteArray small = EncodeJpeg(Plain(160, 120, Qt::green));
    QByteArray cutThumbnail = WithExifThumbnail(main, small.left(small.size() / 2));
    QByteArray badOffset = WithExifThumbnail(main, small, 0xFFFFFF00u);
    QByteArray garbage = WithExifThumbnail(main, small);
    for (qsizetype i = 16; i < 60; ++i) // the IFDs themselves
        garbage[i] = char(0xA5 ^ i);
    // The APP1 length claims more than the file holds.
    QByteArray longSegment = WithExifThumbnail(main, small);
    longSegment[4] = char(0xFF);
    longSegment[5] = char(0xF0);
    for (const auto& [name, bytes] : { std::pair { "cut.jpg", cutThumbnail },
             std::pair { "offset.jpg", badOffset }, std::pair { "garbage.jpg", garbage } }) {
        const QString path = WriteFile(dir, name, bytes);
        TThumbnail result;
        ASSERT_NO_THROW(result = DecodeThumbnail(path, box, needed)) << name;
        EXPECT_FALSE(result.Embedded) << name;
        EXPECT_TRUE(IsRed(result.Image.pixelColor(10, 10))) << name;
    }
    EXPECT_TRUE(EmbeddedThumbnailData(longSegment).isEmpty());
    EXPECT_TRUE(EmbeddedThumbnailData(QByteArray("\xFF\xD8\xFF\xE1", 4)).isEmpty());
}

TEST_F(ThumbnailTest, HeaderOfAPhoneSizedPhotoIsAccepted)
{
    const QByteArray jpeg = EncodeJpeg(QuarterPicture(16, 16));
    EXPECT_EQ(ReadJpegSize(PatchJpegSize(jpeg, 12000, 9000), "108mp.jpg"), QSize(12000, 9000));
    EXPECT_EQ(ReadJpegSize(PatchJpegSize(jpeg, 16320, 12240), "200mp.jpg"), QSize(16320, 12240));
    EXPECT_THROW(ReadJpegSize(PatchJpegSize(jpeg, 20000, 12600), "252mp.jpg"), TPictureError);
}

class ThumbnailCacheTest : public ThumbnailTest
{
protected:
    TThumbnailJob Job(const QString& path)
    {
        TThumbnailJob job;
        job.Generation = 1;
        job.Index = 0;
        job.Path = path;
        job.Box = QSize(100, 75);
        return job;
    }

    QTemporaryDir cacheHome;
    const QString root = cacheHome.filePath("thumbnails");
    const TThumbnailCache cache { root };
};

TEST_F(ThumbnailCacheTest, EntryIsWrittenAsTheStandardSaysAndReadBackInsteadOfDecoding)
{
    const QString path = Photo("photo.jpg", QSize());
    SetModified(path, 1'700'000'000);
    const TThumbnailResult first = MakeThumbnail(Job(path), &cache);
    ASSERT_TRUE(first.Error.isEmpty()) << first.Error.toStdString();
    EXPECT_FALSE(first.FromCache);
    EXPECT_EQ(first.Image.size(), QSize(100, 75));

    const QString uri = QString::fromLatin1(
        QUrl::fromLocalFile(QFileInfo(path).canonicalFilePath()).toEncoded(QUrl::FullyEncoded));
    ASSERT_TRUE(uri.startsWith("file:///"));
    const QString name
        = QString::fromLatin1(QCryptographicHash::hash(uri.toUtf8(), QCryptographicHash::Md5).toHex())
        + ".png";
    const QString entry = root + "/normal/" + name;
    ASSERT_TRUE(QFileInfo::exists(entry));
    EXPECT_EQ(Mode(entry), 0600);
    EXPECT_EQ(Mode(root), 0700);
    EXPECT_EQ(Mode(root + "/normal"), 0700);
    EXPECT_EQ(QDir(root + "/normal").entryList(QDir::Files | QDir::Hidden), QStringList { name });
    QImageReader reader(entry, "png");
    const QImage png = reader.read();
    EXPECT_EQ(png.size(), QSize(128, 96));
    EXPECT_EQ(png.text("Thumb::URI"), uri);
    EXPECT_EQ(png.text("Thumb::MTime"), "1700000000");
    EXPECT_EQ(png.text("Thumb::Size"), QString::number(QFileInfo(path).size()));
    EXPECT_TRUE(png.text("Software").startsWith("Mirava"));

    // The file's pixels are spoilt behind the cache's back, its time kept: the thumbnail still comes,
    // from the cache.
    WriteFile(dir, "photo.jpg", QByteArray("\xFF\xD8 not a picture any more"));
    SetModified(path, 1'700'000'000);
    const TThumbnailResult second = MakeThumbnail(Job(path), &cache);
    EXPECT_TRUE(second.Error.isEmpty()) << second.Error.toStdString();
    EXPECT_TRUE(second.FromCache);
    EXPECT_EQ(second.Image.size(), QSize(100, 75));
    EXPECT_TRUE(IsRed(second.Image.pixelColor(5, 5)));
}

TEST_F(ThumbnailCacheTest, StaleEntryIsIgnoredAndReplaced)
{
    const QString path = Photo("photo.jpg", QSize());
    SetModified(path, 1'600'000'000);
    ASSERT_TRUE(MakeThumbnail(Job(path), &cache).Error.isEmpty());
    // A new picture under the same name, with a newer time.
    WriteFile(dir, "photo.jpg", EncodeJpeg(Plain(400, 300, Qt::green)));
    SetModified(path, 1'600'000'100);
    const TThumbnailResult fresh = MakeThumbnail(Job(path), &cache);
    EXPECT_FALSE(fresh.FromCache);
    EXPECT_TRUE(IsGreen(fresh.Image.pixelColor(5, 5)));
    const std::optional<TThumbnailCache::TSubject> subject = cache.SubjectOf(path);
    ASSERT_TRUE(subject);
    const QImage png(cache.NormalPath(subject->Uri));
    EXPECT_EQ(png.text("Thumb::MTime"), "1600000100");
    EXPECT_TRUE(MakeThumbnail(Job(path), &cache).FromCache);
}

TEST_F(ThumbnailCacheTest, PictureThatFailsGetsAFailEntryAndIsNotTriedAgain)
{
    QByteArray jpeg = EncodeJpeg(QuarterPicture(400, 300));
    const QString path = WriteFile(dir, "broken.jpg", jpeg.left(JpegScanStart(jpeg) + 50));
    SetModified(path, 1'650'000'000);
    const TThumbnailResult failed = MakeThumbnail(Job(path), &cache);
    EXPECT_FALSE(failed.Error.isEmpty());
    EXPECT_TRUE(failed.Image.isNull());
    const std::optional<TThumbnailCache::TSubject> subject = cache.SubjectOf(path);
    ASSERT_TRUE(subject);
    const QString entry = cache.FailPath(subject->Uri);
    EXPECT_TRUE(entry.startsWith(root + "/fail/mirava-"));
    ASSERT_TRUE(QFileInfo::exists(entry));
    EXPECT_EQ(Mode(entry), 0600);
    EXPECT_EQ(QImage(entry).text("Thumb::MTime"), "1650000000");
    EXPECT_FALSE(QFileInfo::exists(cache.NormalPath(subject->Uri)));

    // Mended with the time kept, the picture is still known as failed, with the same reason.
    WriteFile(dir, "broken.jpg", jpeg);
    SetModified(path, 1'650'000'000);
    const TThumbnailResult again = MakeThumbnail(Job(path), &cache);
    EXPECT_EQ(again.Error, failed.Error);
    // With a new time it is tried again.
    SetModified(path, 1'650'000'001);
    EXPECT_TRUE(MakeThumbnail(Job(path), &cache).Error.isEmpty());
}

// The URI is made of the name's bytes: the same text other programs and Qt give an ordinary name, and for a
// name that is not UTF-8 its own escaped bytes, so two such names never share an entry.
TEST_F(ThumbnailCacheTest, UrisFollowTheBytesOfTheName)
{
    for (const char* name : { "plain.jpg", "with space #1 [x] {y} 100%.jpg", "caf\xC3\xA9 \xE2\x82\xAC;=@.jpg" }) {
        const QString path = WriteFile(dir, QString::fromUtf8(name), EncodeJpeg(Plain(40, 30, Qt::red)));
        const QString expected = QString::fromLatin1(
            QUrl::fromLocalFile(QFileInfo(path).canonicalFilePath()).toEncoded(QUrl::FullyEncoded));
        EXPECT_EQ(TThumbnailCache::UriOf(path).toStdString(), expected.toStdString());
        const std::optional<TThumbnailCache::TSubject> subject = cache.SubjectOf(path);
        ASSERT_TRUE(subject) << name;
        EXPECT_EQ(subject->Uri, expected) << name;
    }

    const QByteArray folder = QFile::encodeName(QFileInfo(dir.path()).canonicalFilePath());
    const TRawFileRemoval removeFirst(folder + "/caf\xE9.jpg"), removeSecond(folder + "/caf\xE8.jpg");
    QString paths[2];
    const QColor colours[2] = { Qt::red, Qt::green };
    for (int i = 0; i < 2; ++i) {
        paths[i] = DecodeFileName(folder + (i == 0 ? "/caf\xE9.jpg" : "/caf\xE8.jpg"));
        const QByteArray jpeg = EncodeJpeg(Plain(400, 300, colours[i]));
        const int fd = ::open(EncodeFileName(paths[i]).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, jpeg.constData(), size_t(jpeg.size())), jpeg.size());
        ::close(fd);
        SetModified(paths[i], 1'700'000'000);
    }
    const std::optional<TThumbnailCache::TSubject> first = cache.SubjectOf(paths[0]);
    const std::optional<TThumbnailCache::TSubject> second = cache.SubjectOf(paths[1]);
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(first->Uri.endsWith("/caf%E9.jpg")) << first->Uri.toStdString();
    EXPECT_TRUE(second->Uri.endsWith("/caf%E8.jpg")) << second->Uri.toStdString();
    EXPECT_EQ(first->MTime, 1'700'000'000);
    EXPECT_EQ(TThumbnailCache::UriOf(paths[0]), first->Uri);

    // Each picture gets its own entry, and each is read back as its own.
    EXPECT_FALSE(MakeThumbnail(Job(paths[0]), &cache).FromCache);
    EXPECT_FALSE(MakeThumbnail(Job(paths[1]), &cache).FromCache);
    const TThumbnailResult red = MakeThumbnail(Job(paths[0]), &cache);
    const TThumbnailResult green = MakeThumbnail(Job(paths[1]), &cache);
    EXPECT_TRUE(red.FromCache && green.FromCache);
    EXPECT_TRUE(IsRed(red.Image.pixelColor(5, 5)));
    EXPECT_TRUE(IsGreen(green.Image.pixelColor(5, 5)));
}

TEST_F(ThumbnailCacheTest, PicturesInsideTheCacheAreNeverCached)
{
    ASSERT_TRUE(QDir().mkpath(root + "/normal"));
    const QByteArray jpeg = EncodeJpeg(QuarterPicture(40, 30));
    const QString inside = root + "/normal/inside.jpg";
    QFile file(inside);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(jpeg);
    file.close();
    EXPECT_FALSE(cache.SubjectOf(inside));
    const TThumbnailResult result = MakeThumbnail(Job(inside), &cache);
    EXPECT_TRUE(result.Error.isEmpty());
    EXPECT_EQ(QDir(root + "/normal").entryList(QDir::Files).size(), 1);

    // The shared cache is found through XDG_CACHE_HOME.
    const QByteArray saved = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", cacheHome.path().toUtf8());
    EXPECT_EQ(TThumbnailCache::DefaultRoot(), root);
    qputenv("XDG_CACHE_HOME", saved);
}

} // namespace
