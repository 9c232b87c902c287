// A change of folder in the window: the folder is listed on a worker thread and the list filled in slices;
// only the folder chosen last ever shows.

#include "AppTestSupport.h"
#include "app/FolderLister.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSemaphore>
#include <QSignalSpy>
#include <atomic>
#include <chrono>
#include <cstdio>

namespace {

class FolderChange : public TWindowTest
{
protected:
    // Runs the event loop until `done` holds (at most 20 s).
    static bool RunUntil(const std::function<bool()>& done)
    {
        QDeadlineTimer deadline(std::chrono::seconds(20));
        while (!done() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        return done();
    }

    static QStringList ListedFiles(const TMainForm& window)
    {
        QStringList files;
        for (int i = 0; i < window.PicturList->Count(); ++i)
            files << window.PicturList->Items(i)->FileName();
        return files;
    }
};

// Lets a blocked listing go on when the test ends, also when it fails half-way.
struct TReleaseAtEnd
{
    QSemaphore& semaphore;
    ~TReleaseAtEnd() { semaphore.release(); }
};

} // namespace

TEST_F(FolderChange, AFolderChosenWhileAnOlderOneIsStillListedShowsOnlyTheNewer)
{
    SavePerson(0, App("home.bmp"));
    QTemporaryDir older, newer;
    SavePerson(1, older.filePath("old1.bmp"));
    SavePerson(2, older.filePath("old2.bmp"));
    SavePerson(3, newer.filePath("new.bmp"));
    TMainForm& window = Start();
    ASSERT_EQ(window.PicturList->Count(), 1);

    // The older folder's listing is held until the newer one is shown, and then ends as if it had not
    // noticed that it is superseded.
    QSemaphore release;
    std::atomic<bool> olderDone { false };
    window.FolderLister->SetListFunction([&](const QString& folder, const std::function<bool()>& stop) {
        if (folder != older.path())
            return ListPictureFolder(folder, stop);
        release.acquire();
        TFolderListing listing = ListPictureFolder(folder);
        olderDone = true;
        return listing;
    });
    const TReleaseAtEnd releaseAtEnd { release };
    QStringList shown; // the listed folder each time the window has filled its list
    QObject::connect(&window, &TMainForm::FolderListed, &window, [&] { shown << window.CurrentFolder; });

    window.SelectFolder(older.path());
    EXPECT_EQ(window.PicturList->Count(), 0) << "the program's folder stays listed while the next is read";
    EXPECT_TRUE(window.FolderListingPending());
    SelectFolder(newer.path());
    EXPECT_EQ(shown, QStringList { newer.path() + u'/' });
    EXPECT_EQ(ListedFiles(window), QStringList { newer.filePath("new.bmp") });

    release.release();
    ASSERT_TRUE(RunUntil([&] { return olderDone.load(); }));
    QTest::qWait(100); // whatever the older listing posted is delivered now
    EXPECT_EQ(shown, QStringList { newer.path() + u'/' });
    EXPECT_EQ(window.CurrentFolder, newer.path() + u'/');
    EXPECT_EQ(ListedFiles(window), QStringList { newer.filePath("new.bmp") });
    EXPECT_FALSE(window.FolderListingPending());
}

TEST_F(FolderChange, ALargeFolderFillsTheListStepByStepAndKeepsWhereTheUserScrolled)
{
    SavePerson(0, App("home.bmp"));
    QTemporaryDir big;
    SavePerson(1, big.filePath("p0.bmp"));
    for (int i = 1; i < 60; ++i)
        ASSERT_TRUE(QFile::copy(big.filePath("p0.bmp"), big.filePath(QStringLiteral("p%1.bmp").arg(i))));
    WriteBytes(big.filePath("p30x.bmp"), "no bitmap"); // its header fails on the listing's worker
    TMainForm& window = Start();
    window.FillSliceMs = 0; // one picture per step
    QSignalSpy listed(&window, &TMainForm::FolderListed);

    window.SelectFolder(big.path());
    ASSERT_TRUE(RunUntil([&] { return window.PicturList->Count() >= 20; }));
    ASSERT_TRUE(window.FolderListingPending());
    ASSERT_LT(window.PicturList->Count(), 60);
    EXPECT_TRUE(listed.isEmpty());
    EXPECT_EQ(window.CurrentFolder, big.path() + u'/');
    // The part that is in is laid out and can be scrolled.
    ASSERT_GE(window.PicturList->ScrollBar->maximum(), 200);
    window.PicturList->ScrollBar->setValue(200);

    WaitForListing();
    EXPECT_EQ(listed.size(), 1);
    QStringList expected = ListPictureFolder(big.path()).Files;
    expected.removeOne(big.filePath("p30x.bmp"));
    EXPECT_EQ(ListedFiles(window), expected);
    EXPECT_EQ(window.StatusText(), QStringLiteral("1 entry could not be shown and was skipped"));
    EXPECT_EQ(window.PicturList->ScrollBar->value(), 200);
    EXPECT_EQ(window.PicturList->Items(0)->CellTop, 10 - 200);
    const TBild* last = window.PicturList->Items(59);
    EXPECT_GT(last->CellTop, window.PicturList->Items(56)->CellTop);

    // A change of folder while the list is filling stops the filling: only the new folder's pictures show.
    window.SelectFolder(big.path());
    ASSERT_TRUE(RunUntil([&] { return window.PicturList->Count() >= 5; }));
    ASSERT_TRUE(window.FolderListingPending());
    SelectFolder(appFolder.path());
    QTest::qWait(50);
    EXPECT_EQ(ListedFiles(window), QStringList { App("home.bmp") });
    EXPECT_EQ(window.StatusText(), QString());
    EXPECT_EQ(listed.size(), 2);
}

TEST_F(FolderChange, TheFirstPicturesComeWithTheSizesTheListingReadAndAreNotReadAgain)
{
    SavePerson(0, App("home.bmp"));
    QTemporaryDir folder;
    const QList<QSize> sizes { QSize(40, 20), QSize(30, 20), QSize(50, 10), QSize(36, 12) };
    for (int i = 0; i < sizes.size(); ++i)
        ASSERT_TRUE(
            QImage(sizes[i], QImage::Format_RGB888).save(folder.filePath(QStringLiteral("p%1.bmp").arg(i))));
    WriteBytes(folder.filePath("p1x.bmp"), "no bitmap");
    TMainForm& window = Start();
    window.FillSliceMs = 0; // one picture per step: the first is in when the listing is delivered
    QStringList expected = ListPictureFolder(folder.path()).Files;
    expected.removeOne(folder.filePath("p1x.bmp"));

    // As soon as the listing is in, every file becomes a readable picture standing upright: a header read on
    // the GUI thread from now on would list the unreadable one and turn the items' sizes around.
    QObject::connect(window.FolderLister, &TFolderLister::Listed, &window, [&] {
        for (const QString& name : QDir(folder.path()).entryList({ "*.bmp" })) {
            // Replaced by a rename: a thumbnail made meanwhile reads one whole file or the other.
            const QString path = folder.filePath(name);
            ASSERT_TRUE(QImage(10, 40, QImage::Format_RGB888).save(path + ".new.bmp"));
            ASSERT_EQ(::rename(QFile::encodeName(path + ".new.bmp").constData(),
                          QFile::encodeName(path).constData()),
                0);
        }
    });
    SelectFolder(folder.path());
    ASSERT_EQ(ListedFiles(window), expected);
    EXPECT_EQ(window.StatusText(), QStringLiteral("1 entry could not be shown and was skipped"));
    window.PicturList->FinishThumbnails();
    for (int i = 0; i < sizes.size(); ++i) {
        const QSize control = window.PicturList->Items(i)->ControlSize();
        EXPECT_NEAR(
            double(control.width()) / control.height(), double(sizes[i].width()) / sizes[i].height(), 0.1)
            << i;
    }
    EXPECT_EQ(window.PicturList->BrokenCount(), 0);
}
