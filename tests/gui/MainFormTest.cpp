#include "AppTestSupport.h"
#include "app/QuitSignals.h"
#include "app/StateReport.h"
#include "pictures/Image.h"
#include "support/ShownText.h"
#include "support/SmallTmpfs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <csignal>

using MainForm = TWindowTest;

TEST_F(MainForm, ComponentsCarryTheirNamesAndPlaces)
{
    TMainForm& window = Start();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Mirava"));
    // A single fixed border: the user cannot resize the window.
    EXPECT_EQ(window.minimumSize(), QSize(953, 680));
    EXPECT_EQ(window.maximumSize(), QSize(953, 680));
    EXPECT_EQ(window.size(), QSize(953, 680));
    EXPECT_EQ(window.palette().color(QPalette::Window), QColor(166, 202, 240));
    for (const char* name : { "Panel1", "Panel2", "Panel3", "Panel6", "ShellTreeView1", "Path", "Label1",
             "Image1", "Image2", "StatusBar1", "SaveDialog1", "Splitter1", "Splitter2" })
        EXPECT_NE(window.findChild<QObject*>(QString::fromLatin1(name)), nullptr) << name;
    EXPECT_EQ(window.Panel6->height(), 190);
    EXPECT_EQ(window.Panel6->y(), 0);
    const QRect edit2 = window.findChild<QLineEdit*>("Edit2")->geometry();
    EXPECT_EQ(edit2, QRect(614, 50, 248, 16));
    EXPECT_EQ(window.findChild<QLineEdit*>("Edit8")->geometry(), QRect(614, 170, 219, 16));
    EXPECT_EQ(window.findChild<QLineEdit*>("Edit1")->geometry(), QRect(179, 52, 106, 16));
    EXPECT_EQ(window.Panel1->width(), 177);
    EXPECT_EQ(window.Panel3->width(), 313);
    EXPECT_EQ(window.StatusBar1->height(), 32);
    EXPECT_EQ(window.StatusPanel0->width(), 600);
    EXPECT_EQ(window.Image2->size(), QSize(99, 102));
    EXPECT_TRUE(window.Path->isReadOnly());
    EXPECT_EQ(window.Label1->font().pixelSize(), 16);
    EXPECT_TRUE(window.Label1->font().bold());

    // Panel3Resize keeps Path two pixels narrower than its panel.
    EXPECT_EQ(window.Path->width(), window.Panel3->width() - 2);
    window.Splitter2->setSizes({ 500, 400 });
    EXPECT_NE(window.Panel3->width(), 313);
    EXPECT_EQ(window.Path->width(), window.Panel3->width() - 2);
}

TEST_F(MainForm, StartWithoutAppIniCreatesItAtClose)
{
    TMainForm& window = Start();
    EXPECT_EQ(window.Config.SubfieldXCount, 4);
    EXPECT_EQ(window.Config.SubfieldWorkCount, 16);
    EXPECT_EQ(ReadBytes(App("app.ini")), QByteArray("<absent>"));
    window.close();
    EXPECT_EQ(ReadBytes(App("app.ini")),
        QByteArray("[globalconst]\nsubfieldXcount=4\nsubfieldYcount=4\nsubfieldworkcount=16\n"));
}

TEST_F(MainForm, HexadecimalAppIniIsWrittenBackInDecimalKeepingTheRest)
{
    WriteBytes(App("app.ini"),
        "; keep\r\n[skin]\r\nspeed=3\r\n[GlobalConst]\r\nsubfieldxcount=$10\r\n"
        "subfieldYcount=0x10\r\nsubfieldworkcount=sixteen\r\n");
    TMainForm& window = Start();
    EXPECT_EQ(window.Config.SubfieldXCount, 16);
    EXPECT_EQ(window.Config.SubfieldYCount, 16);
    EXPECT_EQ(window.Config.SubfieldWorkCount, 16);
    window.close();
    EXPECT_EQ(ReadBytes(App("app.ini")),
        QByteArray("; keep\r\n[skin]\r\nspeed=3\r\n[GlobalConst]\r\nsubfieldxcount=16\r\n"
                   "subfieldYcount=16\r\nsubfieldworkcount=16\r\n"));
}

TEST_F(MainForm, StartListsTheProgramsFolderWithAllSlotsFree)
{
    SavePerson(0, App("b2.bmp"));
    SavePerson(1, App("b10.bmp"));
    SavePerson(2, App("a.jpg"));
    SavePerson(3, App("c.png"));
    SavePerson(3, App("D.BMP"));
    WriteBytes(Work("trained.ini"), QByteArray("1\r\n").repeated(20));
    TMainForm& window = Start();
    const QString folder = appFolder.path() + "/";
    EXPECT_EQ(window.CurrentFolder, folder);
    EXPECT_EQ(window.FolderModel->filePath(window.ShellTreeView1->currentIndex()), appFolder.path());
    ASSERT_EQ(window.PicturList->Count(), 3);
    EXPECT_EQ(window.PicturList->Items(0)->FileName(), folder + "a.jpg");
    EXPECT_EQ(window.PicturList->Items(1)->FileName(), folder + "b2.bmp");
    EXPECT_EQ(window.PicturList->Items(2)->FileName(), folder + "b10.bmp");
    EXPECT_TRUE(window.PicturList->ShowHint());
    EXPECT_EQ(ShownAutoText(window.PicturList->Items(0)->Picture->toolTip()).Text, folder + "a.jpg");
    EXPECT_EQ(window.Memo.FirstFreeSlot(), 0);
    EXPECT_EQ(window.Memo.UsedSlotCount(), 0);
    EXPECT_TRUE(window.Memo.Networks.empty());
}

TEST_F(MainForm, FolderListingSkipsWhatCannotBeShownAndGoesOn)
{
    QTemporaryDir other;
    SavePerson(0, other.filePath("good1.bmp"));
    SavePerson(1, other.filePath("good2.jpg"));
    WriteBytes(other.filePath("bad.bmp"), "this is no bitmap at all");
    WriteBytes(other.filePath("empty.jpg"), "");
    ASSERT_TRUE(QDir(other.path()).mkdir("x.jpg"));
    WriteBytes(other.filePath(".hidden.bmp"), "x");
    WriteBytes(other.filePath("caps.JPG"), "x");
    WriteBytes(other.filePath("other.gif"), "x");
    TMainForm& window = Start();
    SelectFolder(other.path());
    EXPECT_EQ(window.CurrentFolder, other.path() + "/");
    ASSERT_EQ(window.PicturList->Count(), 2);
    EXPECT_EQ(window.PicturList->Items(0)->FileName(), other.filePath("good1.bmp"));
    EXPECT_EQ(window.PicturList->Items(1)->FileName(), other.filePath("good2.jpg"));
    EXPECT_EQ(window.StatusText(), QStringLiteral("3 entries could not be shown and were skipped"));
    EXPECT_TRUE(Messages.isEmpty());

    // A clean folder afterwards takes the note away again.
    SelectFolder(appFolder.path());
    EXPECT_EQ(window.StatusText(), QString());
}

TEST_F(MainForm, PictureWhoseDataFailsLaterCountsAsNotShown)
{
    QTemporaryDir other;
    SavePerson(0, other.filePath("good.jpg"));
    SavePerson(1, other.filePath("whole.jpg"));
    QFile whole(other.filePath("whole.jpg"));
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    // The header reads, the pixel data is cut short: the picture is listed and fails while its
    // thumbnail is made.
    WriteBytes(other.filePath("late.jpg"), whole.read(whole.size() / 3));
    WriteBytes(other.filePath("bad.bmp"), "this is no bitmap at all");
    TMainForm& window = Start();
    SelectFolder(other.path());
    ASSERT_EQ(window.PicturList->Count(), 3);
    window.PicturList->FinishThumbnails();
    EXPECT_TRUE(window.PicturList->Items(1)->Broken());
    EXPECT_EQ(window.StatusText(), QStringLiteral("2 entries could not be shown and were skipped"));
}

TEST_F(MainForm, ShowingAPictureClearsTheLastMatchButAFolderChangeKeepsIt)
{
    SavePerson(0, App("p0.bmp"));
    SavePerson(1, App("p1.jpg"));
    QTemporaryDir other;
    SavePerson(2, other.filePath("q.bmp"));
    TMainForm& window = Start();

    // A real click on the second thumbnail.
    window.PicturList->FinishThumbnails();
    QWidget* thumbnail = window.PicturList->Items(1)->Picture;
    QTest::mouseClick(thumbnail, Qt::LeftButton, {}, thumbnail->rect().center());
    WaitForPictures();
    EXPECT_EQ(window.PicturList->SelectedIndex(), 1);
    EXPECT_EQ(window.Path->text(), App("p1.jpg"));
    EXPECT_EQ(window.Image1->Picture().size(), QSize(100, 100));

    window.Edit2->setText("Anna");
    window.Label1->setText("Anna");
    window.Image2->SetPicture(Person(3));
    SelectFolder(other.path());
    EXPECT_EQ(window.Path->text(), App("p1.jpg"));
    EXPECT_EQ(window.Edit2->text(), QStringLiteral("Anna"));
    EXPECT_EQ(window.Label1->text(), QStringLiteral("Anna"));
    EXPECT_FALSE(window.Image2->IsEmpty());
    EXPECT_FALSE(window.Image1->IsEmpty());

    Choose(0);
    EXPECT_EQ(window.Path->text(), other.filePath("q.bmp"));
    EXPECT_EQ(window.Edit2->text(), QString());
    EXPECT_EQ(window.Label1->text(), QString());
    EXPECT_TRUE(window.Image2->IsEmpty());
}

TEST_F(MainForm, APictureThatFailsToLoadIsReportedAndTheMatchStays)
{
    SavePerson(0, App("p0.bmp"));
    SavePerson(1, App("p1.bmp"));
    TMainForm& window = Start();
    window.PicturList->FinishThumbnails();
    Choose(0);
    window.Edit2->setText("Anna");
    // The file breaks after it was listed.
    WriteBytes(App("p1.bmp"), "broken");
    QWidget* thumbnail = window.PicturList->Items(1)->Picture;
    QTest::mouseClick(thumbnail, Qt::LeftButton, {}, thumbnail->rect().center());
    WaitForPictures();
    ASSERT_EQ(Messages.size(), 1); // shown by the general error handling; the program goes on
    EXPECT_EQ(window.Path->text(), App("p1.bmp"));
    EXPECT_EQ(window.Edit2->text(), QStringLiteral("Anna"));
    EXPECT_EQ(window.Image1->Picture(), Person(0));
}

TEST_F(MainForm, EditFieldsLookSunkenWhileFocused)
{
    TMainForm& window = Start();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    window.Edit1->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.Edit1->hasFocus(); }, 5000));
    EXPECT_TRUE(window.Edit1->Sunken());
    EXPECT_FALSE(window.Edit2->Sunken());
    QTest::keyClick(window.Edit1, Qt::Key_Tab);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.Edit2->hasFocus(); }, 5000));
    EXPECT_TRUE(window.Edit2->Sunken());
    EXPECT_FALSE(window.Edit1->Sunken());
    QTest::keyClick(window.Edit2, Qt::Key_Tab);
    EXPECT_TRUE(window.Edit3->hasFocus());
    EXPECT_FALSE(window.Edit2->Sunken());
    // A click into a field lowers it too.
    QTest::mouseClick(window.Edit8, Qt::LeftButton);
    EXPECT_TRUE(window.Edit8->Sunken());
}

TEST_F(MainForm, StateReportIsWrittenOnSigusr1)
{
    SavePerson(0, App("p0.bmp"));
    TMainForm& window = Start();
    TStateReport report(&window);
    ASSERT_TRUE(report.Installed());
    Choose(0);
    window.Edit2->setText("Anna");
    ASSERT_EQ(::raise(SIGUSR1), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(App("mirava-state.txt")); }, 5000));
    const QString text = QString::fromUtf8(ReadBytes(App("mirava-state.txt")));
    EXPECT_EQ(text,
        QStringLiteral("Edit2=Anna\nLabel1=\nPath=%1\nStatusBar1=\nNetworks=0\nImage1=100x100\nImage2=\n"
                       "ListCount=1\nSelectedIndex=0\nFolder=%2/\nStatusPanel1=\nFraming=corner\n"
                       "FramingPending=0\nFaceFound=0\nImage3=100x100\n")
            .arg(App("p0.bmp"), appFolder.path()));

    // A second signal brings the report up to date.
    window.Edit2->setText("Bert");
    ASSERT_EQ(::raise(SIGUSR1), 0);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return ReadBytes(App("mirava-state.txt")).startsWith("Edit2=Bert\n"); }, 5000));
}

TEST_F(MainForm, ARightClickInTheTreeSelectsTheFolder)
{
    ASSERT_TRUE(QDir(appFolder.path()).mkdir("sub"));
    SavePerson(0, App("sub/inner.bmp"));
    TMainForm& window = Start();
    EXPECT_EQ(window.PicturList->Count(), 0);
    const QModelIndex sub = window.FolderModel->index(App("sub"));
    ASSERT_TRUE(sub.isValid());
    window.ShellTreeView1->expand(sub.parent());
    window.ShellTreeView1->scrollTo(sub);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.ShellTreeView1->visualRect(sub).isValid(); }, 5000));
    QTest::mouseClick(window.ShellTreeView1->viewport(), Qt::RightButton, {},
        window.ShellTreeView1->visualRect(sub).center());
    EXPECT_EQ(window.ShellTreeView1->currentIndex(), sub);
    WaitForListing();
    EXPECT_EQ(window.CurrentFolder, App("sub/"));
    EXPECT_EQ(window.PicturList->Count(), 1);
}

TEST_F(MainForm, TheProgramsFolderRowIsWhollyInViewOnceTheTreeHasLoaded)
{
    // Many sibling folders before the program's folder push its row far below the first screen of the tree,
    // and they take the tree a while to read.
    QTemporaryDir base;
    for (int i = 0; i < 20000; ++i)
        ASSERT_TRUE(QDir(base.path()).mkdir(QStringLiteral("a%1").arg(i, 5, 10, QLatin1Char('0'))));
    ASSERT_TRUE(QDir(base.path()).mkdir("zz"));
    form = std::make_unique<TMainForm>(base.filePath("zz"));
    TMainForm& window = *form;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QModelIndex baseIndex = window.FolderModel->index(base.path());
    ASSERT_TRUE(baseIndex.isValid());
    // The tree reads its folders in the background; wait until the sibling folders are all in.
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.FolderModel->rowCount(baseIndex) == 20001; }, 60000))
        << window.FolderModel->rowCount(baseIndex);
    QTest::qWait(500);
    const QModelIndex current = window.ShellTreeView1->currentIndex();
    ASSERT_EQ(window.FolderModel->filePath(current), base.filePath("zz"));
    const QRect row = window.ShellTreeView1->visualRect(current);
    const QRect shown = window.ShellTreeView1->viewport()->rect();
    EXPECT_TRUE(shown.contains(row)) << row.y() << "+" << row.height() << " in " << shown.height();
}

TEST_F(MainForm, CaptionsStayAsGivenAndMessageBoxesCarryTheTitle)
{
    TMainForm& window = Start();
    // A platform adds its display name to every window caption that does not end with it.
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), window.windowTitle());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Mirava"));

    SetMessageHandler({}); // a real message box
    QString title, text;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            text = box->text();
            box->accept();
        }
    });
    closer.start(10);
    ShowMessage(QStringLiteral("OK!"));
    EXPECT_EQ(title, QStringLiteral("Mirava Smart Memo Processor"));
    EXPECT_EQ(text, QStringLiteral("OK!"));
}

TEST_F(MainForm, AStopSignalClosesTheWindowAsItsCloseButtonDoes)
{
    TMainForm& window = Start();
    Command("3");
    ASSERT_EQ(window.Memo.Networks.size(), 1u);
    TQuitSignals quitSignals(&window);
    ASSERT_TRUE(quitSignals.Installed());
    ASSERT_EQ(::raise(SIGTERM), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, 5000));
    EXPECT_TRUE(window.Memo.Networks.empty()); // the network and its store file are gone
    EXPECT_EQ(ReadBytes(App("app.ini")),
        QByteArray("[globalconst]\nsubfieldXcount=4\nsubfieldYcount=4\nsubfieldworkcount=16\n"));
}

TEST_F(MainForm, AFullDiskAtCloseIsShownAndKeepsAppIniWhole)
{
    TSmallTmpfs disk;
    if (disk.Path().isEmpty())
        GTEST_SKIP() << disk.Reason().toStdString();
    // The files live on the full disk behind links in the program's folder, as a user's kept configuration
    // might; the links are followed.
    const QByteArray old = "; mine\n[user]\nname=Anna\n[globalconst]\nsubfieldXcount=4\n";
    const QString kept = disk.Path() + QStringLiteral("/app.ini");
    WriteBytes(kept, old);
    WriteBytes(disk.Path() + QStringLiteral("/mirava-state.txt"), "old state\n");
    ASSERT_TRUE(QFile::link(kept, App("app.ini")));
    ASSERT_TRUE(QFile::link(disk.Path() + QStringLiteral("/mirava-state.txt"), App("mirava-state.txt")));
    ASSERT_GT(disk.Fill("filler"), 0);

    TMainForm& window = Start();
    window.Config.SubfieldXCount = 5;
    EXPECT_THROW(window.WriteStateReport(), std::exception);
    EXPECT_EQ(ReadBytes(App("mirava-state.txt")), QByteArray("old state\n"));
    EXPECT_FALSE(QFile::exists(App("mirava-screen.txt"))); // both are written whole before either is replaced

    window.close();
    EXPECT_EQ(Messages,
        QStringList {
            QStringLiteral("Cannot create file \"%1\". %2").arg(App("app.ini"), qt_error_string(ENOSPC)) });
    EXPECT_EQ(ReadBytes(kept), old);
}
