#include "AppTestSupport.h"
#include "app/AboutBox.h"
#include "pictures/Image.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QRegularExpression>

namespace {
const QRegularExpression OkText(QStringLiteral(R"(^OK! \(Time: \d+:\d\d:\d\d\.\d\d\d\)$)"));

QByteArray Lines(const QStringList& lines)
{
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += line.toUtf8() + "\r\n";
    return bytes;
}
} // namespace

class Commands : public TWindowTest
{
protected:
    // Starts with four people's pictures in the program's folder.
    TMainForm& StartWithPeople()
    {
        for (int p = 0; p < 4; ++p)
            SavePerson(p, App(QStringLiteral("person%1.bmp").arg(p)));
        return Start();
    }
};

TEST_F(Commands, DispatchTrimsAndParsesTheArgument)
{
    TMainForm& window = StartWithPeople();
    Command(" 3 ");
    EXPECT_EQ(Messages, QStringList { "OK!" });
    Messages.clear();

    // " 6 " and "06" recognise: with nothing memorised the status says so.
    Command(" 6 ");
    EXPECT_EQ(window.StatusText(), QStringLiteral("Nothing memorized yet"));
    window.StatusPanel0->clear();
    Command("06");
    EXPECT_EQ(window.StatusText(), QStringLiteral("Nothing memorized yet"));

    // "$8" memorises.
    Choose(0);
    window.Edit2->setText("Anna");
    Command("$8");
    EXPECT_EQ(window.Memo.TrainedList[0], QStringLiteral("1"));
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_TRUE(OkText.match(Messages[0]).hasMatch()) << Messages[0].toStdString();
    Messages.clear();
    window.StatusPanel0->clear();

    // Codes outside 0..9, reserved codes and other command names do nothing and show nothing.
    for (const char* args : { "10", "-1", "5", "7", "9" })
        Command(QString::fromLatin1(args));
    for (const char* name : { "ButtonComand", "buttoncommand", "BUTTONCOMAND", " buttoncomand", "" })
        window.TransparentMoviePlayerControl1MovieCommand(QString::fromLatin1(name), "8");
    EXPECT_TRUE(Messages.isEmpty());
    EXPECT_TRUE(Dialogs.isEmpty());
    EXPECT_EQ(window.Memo.UsedSlotCount(), 1);
    EXPECT_EQ(window.StatusText(), QString());

    // A non-integer argument is reported and runs nothing.
    Command(" six\t");
    Command("");
    Command("8.0");
    EXPECT_EQ(Messages,
        (QStringList { "'six' is not a valid integer value", "'' is not a valid integer value",
            "'8.0' is not a valid integer value" }));
    EXPECT_EQ(window.Memo.UsedSlotCount(), 1);
}

TEST_F(Commands, AboutAndSaveDialogsOpen)
{
    TMainForm& window = Start();
    Command("3");
    Command("0");
    Command("1");
    EXPECT_EQ(Dialogs, (QStringList { "AboutBox", "SaveDialog1" }));
    EXPECT_TRUE(window.AboutBox->isVisible());
    EXPECT_EQ(window.AboutBox->windowTitle(), QStringLiteral("About"));
    EXPECT_TRUE(window.SaveDialog1->isVisible());
    EXPECT_EQ(window.SaveDialog1->acceptMode(), QFileDialog::AcceptSave);
}

TEST_F(Commands, SetUpTwiceLeavesOneNetworkAndTheBusyCursorGoes)
{
    TMainForm& window = Start();
    window.Memo.TrainedList[4] = "1";
    Command("3");
    TNeuralNetwork* first = window.Memo.Networks.at(0).get();
    EXPECT_NE(first, nullptr);
    Command("3");
    EXPECT_EQ(window.Memo.Networks.size(), 1u);
    EXPECT_EQ(Messages, (QStringList { "OK!", "OK!" }));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(window.Memo.TrainedList[4], QStringLiteral("1"));
}

TEST_F(Commands, BeforeSetUpMemoriseAndRecogniseChangeNothing)
{
    TMainForm& window = StartWithPeople();
    Choose(0);
    Command("8"); // no name: nothing at all
    EXPECT_TRUE(Messages.isEmpty());
    window.Edit2->setText("Anna");
    Command("8");
    Command("6");
    EXPECT_EQ(Messages, (QStringList { "Set up the network first", "Set up the network first" }));
    EXPECT_EQ(window.Memo.UsedSlotCount(), 0);
    EXPECT_EQ(window.Memo.NameList[0], QString());
    EXPECT_EQ(window.Edit2->text(), QStringLiteral("Anna"));
    EXPECT_EQ(window.StatusText(), QString());
    EXPECT_EQ(ReadBytes(Work("listname.ini")), QByteArray("<absent>"));
}

TEST_F(Commands, MemoriseFillsTheFirstFreeSlotAndWritesTheThreeFiles)
{
    TMainForm& window = StartWithPeople();
    Command("3");
    Messages.clear();
    Choose(2);
    window.Edit2->setText("   "); // blank: nothing happens
    Command("8");
    EXPECT_TRUE(Messages.isEmpty());
    EXPECT_EQ(window.StatusText(), QString());

    window.Edit2->setText(" Anna ");
    Command("8");
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_TRUE(OkText.match(window.StatusText()).hasMatch()) << window.StatusText().toStdString();
    EXPECT_EQ(Messages[0], window.StatusText());
    QStringList names(20), files(20), trained(20, "0");
    names[0] = " Anna ";
    files[0] = App("person2.bmp");
    trained[0] = "1";
    EXPECT_EQ(ReadBytes(Work("listname.ini")), Lines(names));
    EXPECT_EQ(ReadBytes(Work("listfile.ini")), Lines(files));
    EXPECT_EQ(ReadBytes(Work("trained.ini")), Lines(trained));
    EXPECT_EQ(window.Memo.Networks[0]->GetTarget(1, 0), 99.0f);
    EXPECT_EQ(window.Memo.Networks[0]->GetTarget(1, 1), 1.0f);
}

TEST_F(Commands, TheTwentyFirstMemoriseSaysAllSlotsAreUsedAndChangesNothing)
{
    TMainForm& window = StartWithPeople();
    Command("3");
    Choose(1);
    for (int i = 0; i < SlotCount; ++i) {
        window.Edit2->setText(QStringLiteral("n%1").arg(i));
        Command("8");
    }
    EXPECT_EQ(window.Memo.UsedSlotCount(), SlotCount);
    const QByteArray names = ReadBytes(Work("listname.ini"));
    const QStringList before = window.Memo.NameList;
    Messages.clear();
    window.Edit2->setText("late");
    Command("8");
    EXPECT_EQ(Messages, QStringList { "All 20 memory slots are used" });
    EXPECT_EQ(window.StatusText(), Messages[0]);
    EXPECT_EQ(window.Memo.NameList, before);
    EXPECT_EQ(ReadBytes(Work("listname.ini")), names);
}

TEST_F(Commands, RecogniseNamesTheMemorisedPersonAmongSeveral)
{
    TMainForm& window = StartWithPeople();
    Command("3");
    const QStringList people { "Anna", "Bert", "Carla", "Dora" };
    for (int p = 0; p < 4; ++p) {
        Choose(p);
        window.Edit2->setText(people[p]);
        Command("8");
    }
    const QByteArray trained = ReadBytes(Work("trained.ini"));
    Messages.clear();
    for (int p : { 2, 0, 3, 1 }) {
        Choose(p);
        EXPECT_EQ(window.Edit2->text(), QString());
        Command("6");
        WaitForPictures();
        EXPECT_EQ(window.Edit2->text(), people[p]);
        EXPECT_EQ(window.Label1->text(), people[p]);
        EXPECT_EQ(window.Image2->Picture(), Person(p));
        EXPECT_TRUE(OkText.match(window.StatusText()).hasMatch()) << window.StatusText().toStdString();
    }
    EXPECT_TRUE(Messages.isEmpty()); // recognition shows no message box
    EXPECT_EQ(ReadBytes(Work("trained.ini")), trained);
    EXPECT_EQ(window.Memo.UsedSlotCount(), 4);
}

TEST_F(Commands, RecogniseWithNothingMemorisedChangesNothing)
{
    TMainForm& window = StartWithPeople();
    Command("3");
    Messages.clear();
    Choose(0);
    window.Edit2->setText("typed");
    Command("6");
    EXPECT_EQ(window.StatusText(), QStringLiteral("Nothing memorized yet"));
    EXPECT_EQ(window.Edit2->text(), QStringLiteral("typed"));
    EXPECT_TRUE(window.Image2->IsEmpty());
    EXPECT_TRUE(Messages.isEmpty());
}

TEST_F(Commands, MemoriseRecordsTheShownPictureNotTheListPosition)
{
    TMainForm& window = StartWithPeople();
    QTemporaryDir other;
    SavePerson(3, other.filePath("x0.bmp"));
    SavePerson(2, other.filePath("x1.bmp"));
    Command("3");
    Messages.clear();

    // No picture shown yet: nothing is memorised.
    window.Edit2->setText("Anna");
    Command("8");
    EXPECT_EQ(Messages, QStringList { "Choose a picture first" });
    Command("6");
    EXPECT_EQ(window.Memo.UsedSlotCount(), 0);
    Messages.clear();

    Choose(3);
    SelectFolder(other.path()); // the list now holds two pictures of another folder
    window.Edit2->setText("Dora");
    Command("8");
    EXPECT_EQ(window.Memo.FileList[0], App("person3.bmp"));
    EXPECT_EQ(window.Memo.FileList[0], window.Path->text());
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_TRUE(OkText.match(Messages[0]).hasMatch());

    // The trained picture is the one shown: recognising it names Dora.
    window.Edit2->clear();
    Command("6");
    EXPECT_EQ(window.Edit2->text(), QStringLiteral("Dora"));
}

// Pictures are decoded on a worker: the click returns at once, and memorise or recognise given before the
// chosen picture is in act on that picture, not on the one still shown.
TEST_F(Commands, ACommandGivenWhileThePictureLoadsActsOnTheChosenPicture)
{
    TMainForm& window = StartWithPeople();
    Command("3");
    Choose(0);
    Messages.clear();

    window.PicturList->SetSelectedIndex(2);
    window.PicturList->SelectionChanged();
    ASSERT_TRUE(window.Image1->IsLoading()) << "the picture was decoded on the window's thread";
    EXPECT_EQ(window.Image1->Picture(), Person(0)); // the old picture stays until the new one is in
    window.Edit2->setText("Cleo");
    Command("8");
    EXPECT_EQ(window.Memo.UsedSlotCount(), 0) << "memorised before the chosen picture was in";
    WaitForPictures();
    ASSERT_EQ(window.Memo.UsedSlotCount(), 1);
    EXPECT_EQ(window.Memo.NameList[0], QStringLiteral("Cleo")); // typed while loading: kept
    EXPECT_EQ(window.Memo.FileList[0], App("person2.bmp"));
    EXPECT_EQ(window.Image1->Picture(), Person(2));

    // Two clicks in quick succession: only the later picture is shown, and recognise waits for it.
    window.PicturList->SetSelectedIndex(1);
    window.PicturList->SelectionChanged();
    window.PicturList->SetSelectedIndex(2);
    window.PicturList->SelectionChanged();
    Command("6");
    WaitForPictures();
    EXPECT_EQ(window.Image1->Picture(), Person(2));
    EXPECT_EQ(window.Path->text(), App("person2.bmp"));
    EXPECT_EQ(window.Label1->text(), QStringLiteral("Cleo"));
    EXPECT_EQ(window.Image2->Picture(), Person(2));
    ASSERT_EQ(Messages.size(), 1); // memorise's OK; recognition shows no message box
    EXPECT_TRUE(OkText.match(Messages[0]).hasMatch()) << Messages[0].toStdString();
}

TEST_F(Commands, ACommandWaitingForAPictureThatFailsIsDropped)
{
    TMainForm& window = StartWithPeople();
    Command("3");
    Choose(0);
    window.Edit2->setText("Anna");
    Messages.clear();
    WriteBytes(App("person1.bmp"), "broken"); // breaks after it was listed
    window.PicturList->SetSelectedIndex(1);
    window.PicturList->SelectionChanged();
    Command("8");
    WaitForPictures();
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_TRUE(Messages[0].startsWith("Cannot load picture")) << Messages[0].toStdString();
    EXPECT_EQ(window.Memo.UsedSlotCount(), 0);
    EXPECT_EQ(window.Image1->Picture(), Person(0));
    EXPECT_EQ(window.Edit2->text(), QStringLiteral("Anna"));
}

TEST_F(Commands, AJpegPictureCanBeMemorisedAndRecognised)
{
    SavePerson(0, App("anna.jpg"));
    SavePerson(3, App("dora.jpg"));
    TMainForm& window = Start();
    Command("3");
    Choose(0);
    EXPECT_EQ(window.Image1->Kind(), TPictureKind::Jpeg);
    window.Edit2->setText("Anna");
    Command("8");
    Choose(1);
    window.Edit2->setText("Dora");
    Command("8");
    Messages.clear();
    Choose(0);
    Command("6");
    WaitForPictures();
    EXPECT_TRUE(Messages.isEmpty());
    EXPECT_EQ(window.Edit2->text(), QStringLiteral("Anna"));
    EXPECT_FALSE(window.Image2->IsEmpty());
}

TEST_F(Commands, AFailedSlotFileIsReportedAndTheOldFileStaysWhole)
{
    TMainForm& window = StartWithPeople();
    Command("3");
    Messages.clear();
    const QByteArray oldTrained = QByteArray("0\r\n").repeated(20);
    WriteBytes(Work("trained.ini"), oldTrained);
    ASSERT_TRUE(QDir(workFolder.path()).mkdir("listfile.ini"));
    Choose(0);
    window.Edit2->setText("Anna");
    Command("8");
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_TRUE(Messages[0].startsWith("Cannot create file \"listfile.ini\". ")) << Messages[0].toStdString();
    EXPECT_EQ(ReadBytes(Work("trained.ini")), oldTrained);
    EXPECT_EQ(window.StatusText(), QStringLiteral("Recognize")); // the command stopped there
}

TEST_F(Commands, AMemorisedPictureThatIsGoneIsReportedAfterTheName)
{
    TMainForm& window = StartWithPeople();
    Command("3");
    Choose(0);
    window.Edit2->setText("Anna");
    Command("8");
    Messages.clear();
    ASSERT_TRUE(QFile::remove(App("person0.bmp")));
    Command("6");
    WaitForPictures();
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_EQ(window.Edit2->text(), QStringLiteral("Anna"));
    EXPECT_EQ(window.StatusText(), QStringLiteral("Recognize"));
}

TEST_F(Commands, ASecondProgramInTheSameFolderSaysSoAndDoesNotMemorise)
{
    TMemoProcessor other; // another program that keeps its memories in the working folder
    ASSERT_EQ(other.LockSlotFolder(), QString());
    TMainForm& window = StartWithPeople();
    const QString refusal
        = QStringLiteral("Another Mirava keeps its memories in \"%1\"").arg(workFolder.path());
    EXPECT_EQ(window.StatusText(), refusal);
    Command("3");
    Messages.clear();
    Choose(0);
    window.Edit2->setText("Anna");
    Command("8");
    EXPECT_EQ(Messages, QStringList { refusal });
    EXPECT_EQ(window.Memo.UsedSlotCount(), 0);
    EXPECT_EQ(ReadBytes(Work("listname.ini")), QByteArray("<absent>"));
}
