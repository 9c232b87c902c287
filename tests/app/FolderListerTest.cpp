// The folder listing on worker threads: what it delivers, and that a newer folder supersedes an older one.

#include "app/FolderLister.h"

#include "pictures/FileName.h"
#include "support/RawFileRemoval.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QImage>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

void RunEventsUntil(const std::function<bool()>& done)
{
    QDeadlineTimer deadline(std::chrono::seconds(20));
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Lets the event loop deliver whatever was already posted.
void Settle()
{
    QDeadlineTimer deadline(std::chrono::milliseconds(100));
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

bool SameListing(const TFolderListing& a, const TFolderListing& b)
{
    return a.Folder == b.Folder && a.Files == b.Files && a.Skipped == b.Skipped && a.Error == b.Error;
}

TFolderListing ListedBy(TFolderLister& lister, const QString& folder)
{
    QSignalSpy listed(&lister, &TFolderLister::Listed);
    lister.List(folder);
    RunEventsUntil([&] { return !listed.isEmpty(); });
    EXPECT_EQ(listed.size(), 1);
    EXPECT_FALSE(lister.Busy());
    return listed.isEmpty() ? TFolderListing() : listed.first().first().value<TFolderListing>();
}

} // namespace

TEST(FolderLister, DeliversWhatTheListingOnTheCallersThreadGives)
{
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path()) + '/';
    // Natural order, letter case, names that are not UTF-8, a folder and a dead link named like pictures.
    const QList<QByteArray> rawNames { "img10.jpg", "img2.bmp", "Img3.jpg", "caf\xe9.bmp", "\x80x.jpg",
        "ab\xe2\x82.bmp", "a.bmp", "B.bmp", "notes.txt", ".hidden.jpg" };
    std::vector<std::unique_ptr<TRawFileRemoval>> removals;
    for (const QByteArray& raw : rawNames) {
        removals.push_back(std::make_unique<TRawFileRemoval>(folder + raw));
        const int file = ::open((folder + raw).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        ASSERT_GE(file, 0) << raw.toHex().toStdString();
        ::close(file);
    }
    ASSERT_EQ(::mkdir((folder + "x.jpg").constData(), 0755), 0);
    ASSERT_EQ(::symlink("gone.bmp", (folder + "dead.bmp").constData()), 0);

    TFolderLister lister;
    const TFolderListing expected = ListPictureFolder(dir.path());
    ASSERT_EQ(expected.Files.size(), 8);
    EXPECT_EQ(expected.Skipped, 2);
    const TFolderListing listing = ListedBy(lister, dir.path());
    EXPECT_TRUE(SameListing(listing, expected));
    // An unreadable folder comes back with its reason, as on the caller's thread.
    const TFolderListing absent = ListedBy(lister, dir.filePath("gone"));
    EXPECT_TRUE(SameListing(absent, ListPictureFolder(dir.filePath("gone"))));
    EXPECT_EQ(absent.Error,
        QStringLiteral("Cannot read the folder \"%1/\": No such file or directory")
            .arg(dir.filePath("gone")));
}

TEST(FolderLister, TheListingCarriesTheSizesOfItsFirstReadablePictures)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QImage(40, 20, QImage::Format_RGB888).save(dir.filePath("a.bmp")));
    QFile(dir.filePath("b.bmp")).open(QIODevice::WriteOnly); // empty
    QFile broken(dir.filePath("c.jpg"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("this is no JPEG");
    broken.close();
    ASSERT_TRUE(QImage(10, 30, QImage::Format_RGB888).save(dir.filePath("d.bmp")));
    ASSERT_TRUE(QImage(20, 20, QImage::Format_RGB888).save(dir.filePath("e.bmp")));

    TFolderLister lister;
    EXPECT_TRUE(ListedBy(lister, dir.path()).Sizes.isEmpty()) << "no headers are read unless asked for";
    // Two readable pictures are asked for: the unreadable ones between them are passed over and marked.
    lister.SetSizesRead(2);
    const TFolderListing listing = ListedBy(lister, dir.path());
    EXPECT_TRUE(SameListing(listing, ListPictureFolder(dir.path())));
    EXPECT_EQ(listing.Sizes, (QList<QSize> { QSize(40, 20), QSize(), QSize(), QSize(10, 30) }));
}

TEST(FolderLister, ANewerFolderSupersedesAListingStillRunning)
{
    QTemporaryDir older, newer;
    QFile(older.filePath("old.bmp")).open(QIODevice::WriteOnly);
    QFile(newer.filePath("new.bmp")).open(QIODevice::WriteOnly);

    // The older folder's listing waits until the newer one has been delivered, and then ends as if it had not
    // noticed: its result must still never be delivered.
    QSemaphore release;
    std::atomic<bool> olderDone { false };
    std::atomic<bool> olderToldToStop { false };
    TFolderLister lister;
    lister.SetListFunction([&](const QString& folder, const std::function<bool()>& stop) {
        if (folder == older.path()) {
            release.acquire();
            olderToldToStop = stop();
            TFolderListing listing = ListPictureFolder(folder);
            olderDone = true;
            return listing;
        }
        return ListPictureFolder(folder, stop);
    });
    QSignalSpy listed(&lister, &TFolderLister::Listed);
    lister.List(older.path());
    lister.List(newer.path());
    RunEventsUntil([&] { return !listed.isEmpty(); });
    ASSERT_EQ(listed.size(), 1);
    EXPECT_EQ(listed.first().first().value<TFolderListing>().Folder, newer.path() + u'/');
    EXPECT_FALSE(lister.Busy());

    release.release();
    RunEventsUntil([&] { return olderDone.load(); });
    ASSERT_TRUE(olderDone);
    Settle();
    EXPECT_EQ(listed.size(), 1) << "the older folder's listing was delivered after the newer one";
    EXPECT_TRUE(olderToldToStop);

    // Cancel drops the listing asked for last in the same way.
    lister.List(newer.path());
    EXPECT_TRUE(lister.Busy());
    lister.Cancel();
    EXPECT_FALSE(lister.Busy());
    Settle();
    EXPECT_EQ(listed.size(), 1);
}
