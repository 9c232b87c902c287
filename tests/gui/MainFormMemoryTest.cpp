#include "AppTestSupport.h"
#include "app/AboutBox.h"
#include "app/FileWorker.h"
#include "app/MemoryFile.h"
#include "app/MemoryFolderLock.h"
#include "app/QuitSignals.h"
#include "pictures/Image.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QScreen>
#include <QSemaphore>
#include <atomic>
#include <csignal>
#include <deque>
#include <thread>
#include <utime.h>

namespace {
using TAnswer = std::function<int(QDialog&)>;

TAnswer PickFile(const QString& path)
{
    return [path](QDialog& dialog) {
        static_cast<QFileDialog&>(dialog).selectFile(path);
        return int(QDialog::Accepted);
    };
}

TAnswer Press(QMessageBox::StandardButton button)
{
    return [button](QDialog&) { return int(button); };
}

const TAnswer Reject = [](QDialog&) { return int(QDialog::Rejected); };
} // namespace

// Window tests of Save, Open and the question before memories are lost. Each modal dialog takes the next
// scripted answer; the names of the dialogs (and the questions' texts) are recorded.
class MemoryCommands : public TWindowTest
{
protected:
    void SetUp() override
    {
        TWindowTest::SetUp();
        AnswerDialogsInTurn();
    }

    TMainForm& StartWithPeople()
    {
        for (int p = 0; p < 4; ++p)
            SavePerson(p, App(QStringLiteral("person%1.bmp").arg(p)));
        return Start();
    }

    void MemoriseAs(int person, const QString& name)
    {
        Choose(person);
        form->Edit2->setText(name);
        Command("8");
    }

    // Set up and two persons memorised, nothing saved.
    TMainForm& StartWithTwoMemorised()
    {
        TMainForm& window = StartWithPeople();
        Command("3");
        MemoriseAs(0, "Anna");
        MemoriseAs(1, "Bert");
        Messages.clear();
        Dialogs.clear();
        return window;
    }
};

TEST_F(MemoryCommands, SaveNeedsANetworkAndCancelDoesNothing)
{
    TMainForm& window = StartWithPeople();
    Command("1");
    EXPECT_EQ(Messages, QStringList { "Set up the network first" });
    EXPECT_TRUE(Dialogs.isEmpty());

    Command("3");
    Messages.clear();
    Answers = { Reject };
    Command("1");
    EXPECT_EQ(Dialogs, QStringList { "SaveDialog1" });
    EXPECT_TRUE(Messages.isEmpty());
    EXPECT_EQ(window.StatusText(), QString());
    EXPECT_EQ(QDir(Work(".")).entryList(QDir::Files), QStringList());
    EXPECT_EQ(window.SaveDialog1->nameFilters(), QStringList { "Mirava memory (*.mmem)" });
    EXPECT_EQ(window.OpenDialog1->nameFilters(), QStringList { "Mirava memory (*.mmem)" });
}

TEST_F(MemoryCommands, SavedMemoriesOpenAgainAndAreRecognised)
{
    TMainForm& window = StartWithTwoMemorised();
    EXPECT_TRUE(window.MemoriesUnsaved());
    Answers = { PickFile(Work("people")) }; // the suffix is added
    Command("1");
    EXPECT_EQ(window.StatusText(), QStringLiteral("Saving…"));
    WaitForMemoryFile();
    const QString file = Work("people.mmem");
    ASSERT_TRUE(QFileInfo(file).isFile()) << window.StatusText().toStdString();
    EXPECT_EQ(window.StatusText(), QStringLiteral("Saved 2 persons to %1").arg(file));
    EXPECT_FALSE(window.MemoriesUnsaved());
    const QStringList names = window.Memo.NameList;
    const QStringList files = window.Memo.FileList;

    // A new network forgets them; nothing asks, as they were saved.
    Command("3");
    EXPECT_EQ(Dialogs, QStringList { "SaveDialog1" });
    EXPECT_EQ(Messages, QStringList { "OK!" });
    Messages.clear();
    ASSERT_TRUE(QFile::remove(Work("listname.ini")));

    window.Edit2->setText("typed");
    window.Label1->setText("typed");
    window.Image2->LoadFromFile(App("person0.bmp"));
    Answers = { PickFile(file) };
    Command("2");
    EXPECT_EQ(window.StatusText(), QStringLiteral("Opening…"));
    WaitForMemoryFile();
    EXPECT_EQ(Dialogs, (QStringList { "SaveDialog1", "OpenDialog1" }));
    EXPECT_EQ(window.StatusText(), QStringLiteral("Opened 2 persons from %1").arg(file));
    EXPECT_EQ(window.Memo.NameList, names);
    EXPECT_EQ(window.Memo.FileList, files);
    EXPECT_EQ(window.Memo.Networks.size(), 1u);
    EXPECT_TRUE(window.Edit2->text().isEmpty());
    EXPECT_TRUE(window.Label1->text().isEmpty());
    EXPECT_TRUE(window.Image2->IsEmpty());
    EXPECT_TRUE(ReadBytes(Work("listname.ini")).startsWith("Anna\r\nBert\r\n\r\n"));
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join('\n').toStdString();
    for (int p : { 1, 0 }) {
        Choose(p);
        Command("6");
        EXPECT_EQ(window.Edit2->text(), names[p]);
    }
}

TEST_F(MemoryCommands, ABadFileLeavesTheMemoryInUse)
{
    TMainForm& window = StartWithTwoMemorised();
    WriteBytes(Work("bad.mmem"), "MIRAVAMM\x01");
    const TNeuralNetwork* network = window.Memo.Networks[0].get();
    const QStringList names = window.Memo.NameList;
    window.StatusPanel0->setText("before");
    Answers = { Press(QMessageBox::Discard), PickFile(Work("bad.mmem")) };
    Command("2");
    WaitForMemoryFile();
    EXPECT_EQ(window.StatusText(), QStringLiteral("before"));
    EXPECT_EQ(Messages,
        QStringList {
            QStringLiteral("\"%1\" is damaged: it ends in the middle of its header").arg(Work("bad.mmem")) });
    EXPECT_EQ(window.Memo.Networks[0].get(), network);
    EXPECT_EQ(window.Memo.NameList, names);
    EXPECT_TRUE(window.MemoriesUnsaved());
}

TEST_F(MemoryCommands, SetUpAsksFirstWhenMemoriesWouldBeLost)
{
    TMainForm& window = StartWithTwoMemorised();
    const TNeuralNetwork* network = window.Memo.Networks[0].get();

    // Cancel, and Save with the save dialog cancelled, leave everything as it was.
    Answers = { Press(QMessageBox::Cancel), Press(QMessageBox::Save), Reject };
    Command("3");
    Command("3");
    EXPECT_EQ(Questions, QStringList(2, "Save the memories of 2 persons first?"));
    EXPECT_EQ(Dialogs, (QStringList { "SaveQuestion", "SaveQuestion", "SaveDialog1" }));
    EXPECT_EQ(window.Memo.Networks[0].get(), network);
    EXPECT_TRUE(Messages.isEmpty());

    // Save writes the file, then the network is set up.
    Answers = { Press(QMessageBox::Save), PickFile(Work("kept.mmem")) };
    Command("3");
    EXPECT_TRUE(Messages.isEmpty()); // the set-up waits for the file
    WaitForMemoryFile();
    EXPECT_TRUE(QFileInfo(Work("kept.mmem")).isFile());
    EXPECT_EQ(Messages, QStringList { "OK!" });
    EXPECT_FALSE(window.MemoriesUnsaved());

    // Don't save goes on without a file.
    MemoriseAs(2, "Carla");
    Questions.clear();
    Answers = { Press(QMessageBox::Discard) };
    Command("3");
    EXPECT_EQ(Questions, QStringList { "Save the memories of 3 persons first?" });
    EXPECT_EQ(QDir(Work(".")).entryList({ "*.mmem" }), QStringList { "kept.mmem" });

    // Nothing memorised since: no question.
    Questions.clear();
    Command("3");
    EXPECT_TRUE(Questions.isEmpty());
}

TEST_F(MemoryCommands, CloseAsksOnlyWhenMemoriesWouldBeLost)
{
    TMainForm& window = StartWithTwoMemorised();
    Answers = { Press(QMessageBox::Cancel) };
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.Memo.Networks.size(), 1u);
    EXPECT_EQ(Questions, QStringList { "Save the memories of 2 persons first?" });

    // A failed save keeps the window open and says why.
    ASSERT_TRUE(QDir().mkdir(Work("taken.mmem")));
    Answers = { Press(QMessageBox::Save), PickFile(Work("taken.mmem")) };
    EXPECT_FALSE(window.close());
    WaitForMemoryFile();
    EXPECT_TRUE(window.isVisible());
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_TRUE(Messages[0].startsWith(QStringLiteral("Cannot create file \"%1\"").arg(Work("taken.mmem"))));

    Answers = { Press(QMessageBox::Discard) };
    EXPECT_TRUE(window.close());
    EXPECT_TRUE(window.Memo.Networks.empty());
    EXPECT_EQ(Questions.size(), 3);

    // A window with nothing new closes without a question.
    form.reset();
    Questions.clear();
    TMainForm& second = Start();
    Command("3");
    EXPECT_TRUE(second.close());
    EXPECT_TRUE(Questions.isEmpty());
}

TEST_F(MemoryCommands, OpenAsksFirstAndCancelKeepsEverything)
{
    TMainForm& window = StartWithTwoMemorised();
    Answers = { Press(QMessageBox::Cancel) };
    Command("2");
    EXPECT_EQ(Dialogs, QStringList { "SaveQuestion" });
    EXPECT_TRUE(window.MemoriesUnsaved());
}

TEST_F(MemoryCommands, AStopSignalKeepsUnsavedMemoriesForTheNextStart)
{
    TMainForm& window = StartWithTwoMemorised();
    EXPECT_EQ(window.StopBySignal(), TQuitSignals::AllWritten);
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(Questions.isEmpty());
    const TMemory memory = ReadMemoryFile(Work("recovered.mmem"));
    EXPECT_EQ(memory.NameList.mid(0, 3), (QStringList { "Anna", "Bert", "" }));

    // A stop cut short while it wrote them leaves a temporary file, which a later start removes once it is
    // old (a fresh one may be a write under way).
    WriteBytes(Work("recovered.mmem.tmp-Ab12Cd"), "left behind");
    WriteBytes(Work("recovered.mmem.tmp-Ef34Gh"), "being written");
    const struct utimbuf old
    {
        1'000'000'000, 1'000'000'000
    };
    ASSERT_EQ(::utime(QFile::encodeName(Work("recovered.mmem.tmp-Ab12Cd")).constData(), &old), 0);
    form.reset();
    TMainForm& next = Start();
    EXPECT_FALSE(QFileInfo::exists(Work("recovered.mmem.tmp-Ab12Cd")));
    EXPECT_TRUE(QFileInfo::exists(Work("recovered.mmem.tmp-Ef34Gh")));
    EXPECT_EQ(next.StatusText(),
        QStringLiteral("The memories of the last stop were kept in %1: open it to go on with them")
            .arg(Work("recovered.mmem")));

    // Nothing unsaved: nothing is written.
    ASSERT_TRUE(QFile::remove(Work("recovered.mmem")));
    Command("3");
    next.StopBySignal();
    EXPECT_FALSE(QFileInfo::exists(Work("recovered.mmem")));
}

TEST_F(MemoryCommands, SigtermKeepsUnsavedMemoriesWithoutAsking)
{
    TMainForm& window = StartWithTwoMemorised();
    TQuitSignals quitSignals(&window);
    ASSERT_TRUE(quitSignals.Installed());
    ASSERT_EQ(::raise(SIGTERM), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, 5000));
    EXPECT_TRUE(Questions.isEmpty());
    EXPECT_EQ(ReadMemoryFile(Work("recovered.mmem")).UsedSlotCount(), 2);
}

namespace {
// Holds the memory-file work of a window on its worker thread until released (at the latest when it goes).
class THeldWorker
{
public:
    explicit THeldWorker(TMainForm& window)
        : worker(*window.MemoryFileWorker)
    {
        worker.BeforeWork = [this] { gate.acquire(); };
    }
    ~THeldWorker()
    {
        Release();
        worker.BeforeWork = nullptr;
    }
    void Release()
    {
        if (!released.exchange(true))
            gate.release();
    }

private:
    TFileWorker& worker;
    QSemaphore gate;
    std::atomic<bool> released { false };
};
} // namespace

// A memorise from the command line holds the folder of its memory file from reading to writing; a Save into
// that folder waits its turn (the window stays free) instead of writing in between, and gives up with a
// message when the other program does not finish.
TEST_F(MemoryCommands, SaveWaitsForAnotherProgramWritingInTheSameFolder)
{
    TMainForm& window = StartWithTwoMemorised();
    const QString file = Work("people.mmem");
    {
        auto other = std::make_unique<TMemoryFolderLock>(file);
        Answers = { PickFile(file) };
        Command("1");
        QTest::qWait(300);
        EXPECT_TRUE(window.MemoryFileBusy());
        EXPECT_EQ(window.StatusText(), QStringLiteral("Saving…"));
        EXPECT_FALSE(QFileInfo::exists(file)) << "written while another program held the folder";
        other.reset();
        WaitForMemoryFile();
    }
    ASSERT_TRUE(QFileInfo(file).isFile());
    EXPECT_EQ(window.StatusText(), QStringLiteral("Saved 2 persons to %1").arg(file));
    EXPECT_TRUE(Messages.isEmpty());

    MemoriseAs(2, "Cleo");
    const QByteArray saved = ReadBytes(file);
    window.SaveLockWait = std::chrono::seconds(1);
    const TMemoryFolderLock other(file);
    Messages.clear();
    Answers = { PickFile(file) };
    Command("1");
    WaitForMemoryFile();
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_EQ(Messages[0],
        QStringLiteral("Cannot create file \"%1\". Another program has been writing a memory file in \"%2\" "
                       "for 1 s; try again later")
            .arg(file, workFolder.path()));
    EXPECT_EQ(ReadBytes(file), saved);
    EXPECT_TRUE(window.MemoriesUnsaved());
}

TEST_F(MemoryCommands, NothingChangesTheMemoryWhileItIsSaved)
{
    TMainForm& window = StartWithTwoMemorised();
    const QByteArray store(static_cast<const char*>(window.Memo.Networks[0]->Store->ItemPtr(0)),
        qsizetype(window.Memo.Networks[0]->Store->Size()));
    const QStringList names = window.Memo.NameList;
    THeldWorker held(window);
    Answers = { PickFile(Work("held.mmem")) };
    Command("1");
    ASSERT_TRUE(window.MemoryFileBusy());

    // Memorise, recognise, set up, open and another save are refused while the file is written; the
    // window itself goes on answering.
    Choose(2);
    window.Edit2->setText("Carla");
    for (const char* code : { "8", "6", "3", "2", "1" }) {
        window.StatusPanel0->setText("");
        Command(code);
        EXPECT_EQ(window.StatusText(), QStringLiteral("Saving…")) << code;
    }
    EXPECT_EQ(Dialogs, QStringList { "SaveDialog1" });
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join('\n').toStdString();
    EXPECT_EQ(window.Memo.NameList, names);
    EXPECT_TRUE(QByteArray(static_cast<const char*>(window.Memo.Networks[0]->Store->ItemPtr(0)),
                    qsizetype(window.Memo.Networks[0]->Store->Size()))
        == store);

    held.Release();
    WaitForMemoryFile();
    EXPECT_EQ(window.StatusText(), QStringLiteral("Saved 2 persons to %1").arg(Work("held.mmem")));
    const TMemory saved = ReadMemoryFile(Work("held.mmem"));
    EXPECT_EQ(saved.NameList, names);
    EXPECT_TRUE(QByteArray(static_cast<const char*>(saved.Network->Store->ItemPtr(0)),
                    qsizetype(saved.Network->Store->Size()))
        == store);

    // Once it is written, memorise works again.
    Command("8");
    EXPECT_EQ(window.Memo.NameList[2], QStringLiteral("Carla"));
}

TEST_F(MemoryCommands, NothingChangesTheMemoryWhileAFileIsOpened)
{
    TMainForm& window = StartWithTwoMemorised();
    Answers = { PickFile(Work("two.mmem")) };
    Command("1");
    WaitForMemoryFile();
    Command("3");
    const TNeuralNetwork* network = window.Memo.Networks[0].get();
    THeldWorker held(window);
    Answers = { PickFile(Work("two.mmem")) };
    Command("2");
    Choose(2);
    window.Edit2->setText("Carla");
    Command("8");
    EXPECT_EQ(window.StatusText(), QStringLiteral("Opening…"));
    EXPECT_EQ(window.Memo.Networks[0].get(), network);
    EXPECT_EQ(window.Memo.NameList[2], QString());
    held.Release();
    WaitForMemoryFile();
    EXPECT_EQ(window.StatusText(), QStringLiteral("Opened 2 persons from %1").arg(Work("two.mmem")));
    EXPECT_EQ(window.Memo.NameList.mid(0, 3), (QStringList { "Anna", "Bert", "" }));
}

TEST_F(MemoryCommands, ClosingDuringASaveFinishesItThenCloses)
{
    TMainForm& window = StartWithTwoMemorised();
    {
        THeldWorker held(window);
        Answers = { PickFile(Work("closing.mmem")) };
        Command("1");
        EXPECT_FALSE(window.close());
        EXPECT_TRUE(Questions.isEmpty()); // the close waits; it does not ask
        EXPECT_TRUE(window.isVisible());
        EXPECT_EQ(window.Memo.Networks.size(), 1u);
        EXPECT_EQ(window.StatusText(), QStringLiteral("Saving…"));
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, 60'000));
    EXPECT_TRUE(window.Memo.Networks.empty());
    EXPECT_TRUE(Questions.isEmpty()); // saved: nothing to ask
    const TMemory saved = ReadMemoryFile(Work("closing.mmem"));
    EXPECT_EQ(saved.UsedSlotCount(), 2);
    EXPECT_EQ(QDir(Work(".")).entryList({ "closing.mmem*" }), QStringList { "closing.mmem" });
}

TEST_F(MemoryCommands, AStopSignalDuringASaveWaitsForTheFile)
{
    TMainForm& window = StartWithTwoMemorised();
    THeldWorker held(window);
    Answers = { PickFile(Work("stopped.mmem")) };
    Command("1");
    // The stop waits for the worker, which a moment later is let go.
    std::thread release([&held] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        held.Release();
    });
    EXPECT_EQ(window.StopBySignal(), TQuitSignals::AllWritten);
    release.join();
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(Questions.isEmpty());
    EXPECT_EQ(ReadMemoryFile(Work("stopped.mmem")).UsedSlotCount(), 2);
    // Saved: nothing needed keeping.
    EXPECT_FALSE(QFileInfo::exists(Work("recovered.mmem")));
}

// Nobody sees a message box at a stop: each file that could not be written is one line on standard error,
// and the stop says that not all was written.
TEST_F(MemoryCommands, AStopNamesEachFileItCouldNotWrite)
{
    TMainForm& window = StartWithTwoMemorised();
    Answers = { PickFile(Work("two.mmem")) };
    Command("1");
    WaitForMemoryFile();
    MemoriseAs(2, "Carla");
    Messages.clear();
    ASSERT_TRUE(QDir().mkdir(Work("recovered.mmem")));
    testing::internal::CaptureStderr();
    EXPECT_EQ(window.StopBySignal(), TQuitSignals::NotAllWritten);
    QString lines = QString::fromStdString(testing::internal::GetCapturedStderr());
    EXPECT_TRUE(
        lines.startsWith(QStringLiteral("mirava: stopped; the memories could not be kept: Cannot create file "
                                        "\"%1\". ")
                             .arg(Work("recovered.mmem"))))
        << lines.toStdString();
    EXPECT_EQ(lines.count(u'\n'), 1) << lines.toStdString();
    EXPECT_TRUE(Messages.isEmpty());

    // An Open that the stop lets finish writes the slot files of the memory it opened.
    form.reset();
    SetUnattended(false);
    TMainForm& next = Start();
    Command("3");
    Messages.clear();
    THeldWorker held(next);
    Answers = { PickFile(Work("two.mmem")) };
    Command("2");
    ASSERT_TRUE(next.MemoryFileBusy());
    ASSERT_TRUE(QFile::remove(Work("listname.ini")));
    ASSERT_TRUE(QDir().mkdir(Work("listname.ini")));
    std::thread release([&held] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        held.Release();
    });
    testing::internal::CaptureStderr();
    const int status = next.StopBySignal();
    release.join();
    lines = QString::fromStdString(testing::internal::GetCapturedStderr());
    EXPECT_EQ(status, TQuitSignals::NotAllWritten);
    EXPECT_TRUE(lines.startsWith(QStringLiteral("mirava: Cannot create file \"listname.ini\". ")))
        << lines.toStdString();
    EXPECT_EQ(lines.count(u'\n'), 1) << lines.toStdString();
    EXPECT_EQ(next.Memo.NameList.mid(0, 3), (QStringList { "Anna", "Bert", "" }));
    EXPECT_TRUE(Messages.isEmpty());
    EXPECT_TRUE(Questions.isEmpty());
}

TEST_F(MemoryCommands, TheAboutBoxOpensCentredOnTheScreen)
{
    TMainForm& window = Start();
    window.move(0, 0);
    Command("0");
    const QRect screen = window.screen()->availableGeometry();
    EXPECT_LE((window.AboutBox->geometry().center() - screen.center()).manhattanLength(), 2);
}
