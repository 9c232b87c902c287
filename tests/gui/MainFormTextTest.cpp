#include "AppTestSupport.h"
#include "pictures/FileName.h"
#include "pictures/Image.h"
#include "support/RawFileRemoval.h"
#include "support/ShownText.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

namespace {
// Names that read as markup: a bold tag, and an image of a file ("/" cannot be part of a file name, so the
// entity stands for it).
const QString BoldName = QStringLiteral("<b>x.bmp");
const QString ImageName = QStringLiteral("<img src=\"&#47;etc&#47;passwd\">.bmp");
const QString ZeroPerson = QStringLiteral("<img src=\"/dev/zero\">");

class WindowText : public TWindowTest
{
};
} // namespace

TEST_F(WindowText, FileNamesThatLookLikeMarkupShowAsTheyAre)
{
    QTemporaryDir folder;
    SavePerson(0, folder.filePath(BoldName));
    SavePerson(1, folder.filePath(ImageName));
    TMainForm& window = Start();
    SelectFolder(folder.path());
    ASSERT_EQ(window.PicturList->Count(), 2);
    for (int i = 0; i < 2; ++i) {
        const TBild* item = window.PicturList->Items(i);
        const QString name = QFileInfo(item->FileName()).fileName();
        EXPECT_EQ(item->NameLabel->textFormat(), Qt::PlainText) << name.toStdString();
        EXPECT_EQ(item->Caption(), name);
        // The label shows the name's own characters, its middle elided when it is wider than the cell.
        EXPECT_TRUE(item->NameLabel->text().startsWith(name.left(4))) << item->NameLabel->text().toStdString();
        const TShownText tip = ShownAutoText(item->Picture->toolTip());
        EXPECT_EQ(tip.Text, folder.path() + u'/' + name);
        EXPECT_EQ(tip.LoadedResources, QStringList()) << name.toStdString();

        Choose(i);
        EXPECT_EQ(window.Path->text(), item->FileName());
        EXPECT_FALSE(window.Image1->IsEmpty()) << "the picture opens by its name";
    }
}

TEST_F(WindowText, APersonNamedLikeMarkupIsShownAsTyped)
{
    SavePerson(0, App("face.bmp"));
    TMainForm& window = Start();
    Command("3");
    Choose(0);
    window.Edit2->setText(ZeroPerson);
    Command("8");
    ASSERT_EQ(window.Memo.UsedSlotCount(), 1);
    Choose(0);
    EXPECT_EQ(window.Label1->textFormat(), Qt::PlainText);
    Command("6");
    EXPECT_EQ(window.Label1->text(), ZeroPerson);
    EXPECT_EQ(window.Edit2->text(), ZeroPerson);
    EXPECT_EQ(window.Label1->textFormat(), Qt::PlainText);
}

TEST_F(WindowText, StatusAndMessageBoxesShowTextAsItIs)
{
    TMainForm& window = Start();
    EXPECT_EQ(window.StatusPanel0->textFormat(), Qt::PlainText);

    // The message box itself, not the handler tests use elsewhere: it is inspected and closed from the event
    // loop while it runs.
    SetMessageHandler(nullptr);
    Qt::TextFormat format = Qt::AutoText;
    QString shown;
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen = true;
        format = box->textFormat();
        shown = box->text();
        box->accept();
    });
    const QString text
        = QStringLiteral("Cannot create file \"") + ImageName + QStringLiteral("\". ") + ZeroPerson;
    ShowMessage(text);
    ASSERT_TRUE(seen) << "no message box came up";
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(shown, text);
}

TEST_F(WindowText, AnUnreadableFolderSaysWhyInTheStatusBar)
{
    QTemporaryDir parent;
    const QString gone = parent.filePath(QStringLiteral("<b>gone"));
    ASSERT_TRUE(QDir().mkpath(gone));
    SavePerson(0, gone + QStringLiteral("/face.bmp"));
    TMainForm& window = Start();
    SelectFolder(gone);
    ASSERT_EQ(window.PicturList->Count(), 1);
    EXPECT_EQ(window.StatusText(), QString());

    // The folder goes while the tree still shows it; choosing it again says why nothing is listed.
    ASSERT_TRUE(QDir(gone).removeRecursively());
    window.ShellTreeView1Change();
    WaitForListing();
    EXPECT_EQ(window.PicturList->Count(), 0);
    EXPECT_EQ(window.StatusText(),
        QStringLiteral("Cannot read the folder \"%1/\": No such file or directory").arg(gone));

    // A readable folder afterwards clears the message.
    SelectFolder(appFolder.path());
    EXPECT_EQ(window.StatusText(), QString());
}

TEST_F(WindowText, NamesThatAreNotUtf8AreListedShownAndOpened)
{
    QTemporaryDir folder;
    const QByteArray rawName = QByteArray("caf\xe9 ") + QByteArray("\xff.bmp");
    const QString path = DecodeFileName(QFile::encodeName(folder.path()) + '/' + rawName);
    ASSERT_EQ(EncodeFileName(path), QFile::encodeName(folder.path()) + '/' + rawName);
    const TRawFileRemoval removal(EncodeFileName(path));
    ASSERT_TRUE(Person(0).save(QStringLiteral("%1/face.bmp").arg(folder.path())));
    ASSERT_EQ(::rename(QFile::encodeName(folder.filePath("face.bmp")).constData(),
                  EncodeFileName(path).constData()),
        0);
    TMainForm& window = Start();
    SelectFolder(folder.path());
    ASSERT_EQ(window.PicturList->Count(), 1);
    EXPECT_EQ(window.StatusText(), QString());
    const TBild* item = window.PicturList->Items(0);
    EXPECT_EQ(item->FileName(), path);
    EXPECT_EQ(item->NameLabel->text(), QStringLiteral("caf\uFFFD \uFFFD.bmp"));
    Choose(0);
    EXPECT_EQ(window.Path->text(), folder.path() + QStringLiteral("/caf\uFFFD \uFFFD.bmp"));
    EXPECT_FALSE(window.Image1->IsEmpty());

    // Memorised by that path, the picture opens again beside the match.
    Command("3");
    window.Edit2->setText(QStringLiteral("Anna"));
    Command("8");
    ASSERT_EQ(window.Memo.UsedSlotCount(), 1);
    EXPECT_EQ(window.Memo.FileList[0], path);
    Choose(0);
    Command("6");
    WaitForPictures();
    EXPECT_EQ(window.Label1->text(), QStringLiteral("Anna"));
    EXPECT_FALSE(window.Image2->IsEmpty());
}
