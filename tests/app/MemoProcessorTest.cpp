#include "app/MemoProcessor.h"

#include "app/AppError.h"
#include "app/TextFiles.h"
#include "support/FileBytes.h"
#include "support/StripedPerson.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
QByteArray Lines(const QStringList& lines)
{
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += line.toUtf8() + "\r\n";
    return bytes;
}

QImage Filled(int width, int height, QColor colour, QImage::Format format = QImage::Format_RGB888)
{
    QImage image(width, height, format);
    image.fill(colour);
    return image;
}

// Runs a test with the current directory set to a fresh temporary folder, and restores it after.
class TInTemporaryFolder : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        previous = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(folder.path()));
    }
    void TearDown() override { QDir::setCurrent(previous); }
    QString Here(const QString& name) const { return folder.filePath(name); }

    QTemporaryDir folder;
    QString previous;
};

QStringList Repeated(const QString& value, int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list.append(value);
    return list;
}
} // namespace

TEST(InputPattern, TruncatedMeanGreyOfTheTopLeftWindow)
{
    const TInputPattern grey = SampleCorner(Filled(100, 100, QColor(77, 77, 77)));
    ASSERT_EQ(grey.size(), 10000u);
    EXPECT_TRUE(std::all_of(grey.begin(), grey.end(), [](float v) { return v == 77.0f; }));

    QImage mixed = Filled(100, 100, QColor(0, 0, 0));
    mixed.setPixelColor(0, 0, QColor(255, 0, 1));
    mixed.setPixelColor(1, 0, QColor(1, 1, 0));
    mixed.setPixelColor(99, 0, QColor(10, 20, 31));
    mixed.setPixelColor(0, 1, QColor(200, 100, 0));
    const TInputPattern values = SampleCorner(mixed);
    EXPECT_EQ(values[0], 85.0f);
    EXPECT_EQ(values[1], 0.0f);
    EXPECT_EQ(values[99], 20.0f);
    EXPECT_EQ(values[100], 100.0f); // row order: (0, 1) follows the whole first row
}

TEST(InputPattern, OutsideThePictureReads255AndOnlyTheCornerCounts)
{
    const TInputPattern narrow = SampleCorner(Filled(60, 120, QColor(30, 30, 30)));
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(narrow[size_t(y * 100 + x)], x < 60 ? 30.0f : 255.0f) << x << "," << y;
    }

    QImage large = Filled(300, 200, QColor(9, 9, 9));
    QPainter(&large).fillRect(100, 0, 200, 200, Qt::white);
    QPainter(&large).fillRect(0, 100, 300, 100, Qt::white);
    const TInputPattern corner = SampleCorner(large);
    EXPECT_TRUE(std::all_of(corner.begin(), corner.end(), [](float v) { return v == 9.0f; }));

    const TInputPattern none = SampleCorner(QImage());
    EXPECT_TRUE(std::all_of(none.begin(), none.end(), [](float v) { return v == 255.0f; }));

    // Any pixel format samples the same values.
    const TInputPattern argb = SampleCorner(Filled(100, 100, QColor(255, 0, 1), QImage::Format_ARGB32));
    EXPECT_TRUE(std::all_of(argb.begin(), argb.end(), [](float v) { return v == 85.0f; }));
}

TEST(BestSlot, UsedSlotsOnlyTiesToTheLowerSlot)
{
    std::vector<float> outputs(20, 0.5f);
    QStringList trained = Repeated("1", 20);
    outputs[3] = 9.0f;
    outputs[7] = 9.0f;
    EXPECT_EQ(TMemoProcessor::ChooseBestSlot(outputs, trained), 3);

    // A free slot never wins, however large its output.
    trained[3] = "0";
    outputs[12] = 50.0f;
    trained[12] = "0";
    EXPECT_EQ(TMemoProcessor::ChooseBestSlot(outputs, trained), 7);

    // Nothing above 0.0: the first used slot.
    std::vector<float> low(20, 0.0f);
    low[5] = -3.0f;
    QStringList someUsed = Repeated("0", 20);
    someUsed[4] = "1";
    someUsed[6] = "1";
    EXPECT_EQ(TMemoProcessor::ChooseBestSlot(low, someUsed), 4);

    EXPECT_EQ(TMemoProcessor::ChooseBestSlot(outputs, Repeated("0", 20)), -1);
}

// A person memorised twice is one person: rehearsing one picture never pushes the other slot of that name
// down.
TEST(MemoProcessor, RehearsalTargetsKeepTheSlotsOfOneNameTogether)
{
    QStringList names = Repeated("", 20), trained = Repeated("0", 20);
    names[0] = "Anna";
    names[2] = " Anna ";
    names[3] = "Bodo";
    names[5] = "Anna"; // a free slot's old name does not count
    for (int slot : { 0, 2, 3 })
        trained[slot] = "1";
    std::vector<float> expected(20, 1.0f);
    expected[0] = expected[2] = 99.0f;
    EXPECT_EQ(TMemoProcessor::TargetsOf(2, 20, names, trained), expected);
    std::vector<float> bodo(20, 1.0f);
    bodo[3] = 99.0f;
    EXPECT_EQ(TMemoProcessor::TargetsOf(3, 20, names, trained), bodo);
}

TEST(MemoProcessor, StartsWithAllSlotsFreeAndRefusesWithoutNetwork)
{
    TMemoProcessor memo;
    EXPECT_EQ(memo.NameList, Repeated("", SlotCount));
    EXPECT_EQ(memo.FileList, Repeated("", SlotCount));
    EXPECT_EQ(memo.TrainedList, Repeated("0", SlotCount));
    EXPECT_EQ(memo.FirstFreeSlot(), 0);
    EXPECT_FALSE(memo.HasNetwork());

    const TInputPattern pattern(10000, 1.0f);
    memo.SaveSlotFilesOnMemorise = false;
    try {
        memo.Memorise("Anna", "/x/anna.bmp", pattern);
        FAIL() << "no error";
    } catch (const TAppError& error) {
        EXPECT_STREQ(error.what(), "Set up the network first");
    }
    EXPECT_EQ(memo.TrainedList, Repeated("0", SlotCount));
    EXPECT_EQ(memo.NameList, Repeated("", SlotCount));
    EXPECT_THROW(memo.Recognise(pattern), TAppError);
    EXPECT_THROW(memo.FeedPattern(pattern), TAppError);
}

class MemoWithFiles : public TInTemporaryFolder
{
};

TEST_F(MemoWithFiles, SetUpTwiceKeepsOneNetworkOfTheShellsShape)
{
    TMemoProcessor memo;
    memo.TrainedList[2] = "1";
    memo.SetUpNetwork();
    memo.SetUpNetwork();
    ASSERT_EQ(memo.Networks.size(), 1u);
    TNeuralNetwork* network = memo.Networks[0].get();
    EXPECT_EQ(network->GetLayerCount(), 2);
    EXPECT_EQ(network->GetNeuronCount(0), 10000);
    EXPECT_EQ(network->GetNeuronCount(1), SlotCount);
    EXPECT_EQ(network->GetLevels(0, 0), 26);
    EXPECT_EQ(network->GetLevels(0, 9999), 26);
    EXPECT_EQ(network->GetLevels(1, 19), 10);
    EXPECT_EQ(network->GetUpper(0, 5), 255.0f);
    EXPECT_EQ(network->GetUpper(1, 5), 100.0f);
    EXPECT_EQ(network->Store->Count(), 22510235);
    EXPECT_EQ(memo.TrainedList[2], QStringLiteral("1")); // the memory lists are not touched
    EXPECT_EQ(memo.FirstFreeSlot(), 0);
}

TEST_F(MemoWithFiles, MemoriseFillsTheFirstFreeSlotAndWritesTheSlotFiles)
{
    TMemoProcessor memo;
    memo.SetUpNetwork();
    const TInputPattern pattern = SampleCorner(StripedPerson(0));
    EXPECT_EQ(memo.Memorise("  Anna Maria ", "/pics/anna_1.bmp", pattern), 0);
    EXPECT_EQ(memo.NameList[0], QStringLiteral("  Anna Maria "));
    EXPECT_EQ(memo.FileList[0], QStringLiteral("/pics/anna_1.bmp"));
    EXPECT_EQ(memo.TrainedList[0], QStringLiteral("1"));
    TNeuralNetwork* network = memo.Networks[0].get();
    EXPECT_EQ(network->GetTarget(1, 0), 99.0f);
    for (int l = 1; l < SlotCount; ++l)
        EXPECT_EQ(network->GetTarget(1, uint16_t(l)), 1.0f);
    EXPECT_EQ(network->GetInput(0, 0), pattern[0]);

    QStringList names = Repeated("", 20), files = Repeated("", 20), trained = Repeated("0", 20);
    names[0] = "  Anna Maria ";
    files[0] = "/pics/anna_1.bmp";
    trained[0] = "1";
    EXPECT_EQ(ReadBytes(Here("listname.ini")), Lines(names));
    EXPECT_EQ(ReadBytes(Here("listfile.ini")), Lines(files));
    EXPECT_EQ(ReadBytes(Here("trained.ini")), Lines(trained));
    EXPECT_EQ(ReadBytes(Here("trained.ini")), QByteArray("1\r\n") + QByteArray("0\r\n").repeated(19));

    // The same name twice takes two slots; a name in UTF-8 is written without a byte-order mark.
    EXPECT_EQ(memo.Memorise("Zoë", "/pics/zoë.bmp", pattern), 1);
    EXPECT_EQ(memo.Memorise("Zoë", "/pics/zoë.bmp", pattern), 2);
    EXPECT_TRUE(
        ReadBytes(Here("listname.ini")).startsWith("  Anna Maria \r\nZo\xc3\xab\r\nZo\xc3\xab\r\n\r\n"));
}

TEST_F(MemoWithFiles, ALineBreakInANameOrPathKeepsOneLinePerSlot)
{
    TMemoProcessor memo;
    memo.SetUpNetwork();
    const TInputPattern pattern = SampleCorner(StripedPerson(0));
    ASSERT_EQ(memo.Memorise("Anna\nMaria", "/pics/odd\r\nname.bmp", pattern), 0);
    ASSERT_EQ(memo.Memorise("Bert\r", "/pics/b.bmp", pattern), 1);
    EXPECT_EQ(memo.NameList[0], QStringLiteral("Anna\nMaria")); // the name in memory stays as typed
    QStringList names = Repeated("", 20), files = Repeated("", 20);
    names[0] = "Anna Maria";
    names[1] = "Bert ";
    files[0] = "/pics/odd  name.bmp";
    files[1] = "/pics/b.bmp";
    EXPECT_EQ(ReadBytes(Here("listname.ini")), Lines(names));
    EXPECT_EQ(ReadBytes(Here("listfile.ini")), Lines(files));
}

TEST_F(MemoWithFiles, TheTwentyFirstMemoriseChangesNothing)
{
    TMemoProcessor memo;
    memo.SetUpNetwork();
    const TInputPattern pattern = SampleCorner(StripedPerson(1));
    for (int i = 0; i < SlotCount; ++i)
        ASSERT_EQ(memo.Memorise(QStringLiteral("p%1").arg(i), QStringLiteral("/f%1.bmp").arg(i), pattern), i);
    const QByteArray names = ReadBytes(Here("listname.ini"));
    const QStringList before = memo.NameList;
    memo.Networks[0]->SetTarget(1, 0, 42.0f);
    EXPECT_EQ(memo.Memorise("late", "/late.bmp", pattern), SlotCount);
    EXPECT_EQ(memo.NameList, before);
    EXPECT_EQ(memo.Networks[0]->GetTarget(1, 0), 42.0f); // not trained
    EXPECT_EQ(ReadBytes(Here("listname.ini")), names);
    EXPECT_EQ(ReadBytes(Here("trained.ini")), QByteArray("1\r\n").repeated(20));
}

TEST_F(MemoWithFiles, SlotFilesCanGoElsewhereOrNowhere)
{
    TMemoProcessor memo;
    memo.SetUpNetwork();
    const TInputPattern pattern = SampleCorner(StripedPerson(2));
    memo.SaveSlotFilesOnMemorise = false;
    memo.Memorise("a", "/a.bmp", pattern);
    EXPECT_TRUE(QDir(folder.path()).entryList(QDir::Files).isEmpty());

    ASSERT_TRUE(QDir(folder.path()).mkdir("state"));
    memo.StateFilePrefix = Here("state/");
    memo.SaveSlotFilesOnMemorise = true;
    memo.Memorise("b", "/b.bmp", pattern);
    EXPECT_EQ(
        ReadBytes(Here("state/trained.ini")), QByteArray("1\r\n1\r\n") + QByteArray("0\r\n").repeated(18));
    EXPECT_TRUE(QDir(folder.path()).entryList(QDir::Files).isEmpty());
}

TEST_F(MemoWithFiles, AFailedSlotFileIsReportedAndAllOldFilesStayWhole)
{
    TMemoProcessor memo;
    const QByteArray oldTrained = QByteArray("old\r\n").repeated(20);
    {
        QFile file(Here("trained.ini"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(oldTrained);
    }
    // A folder in the way of "listfile.ini" makes its replacement fail.
    ASSERT_TRUE(QDir(folder.path()).mkdir("listfile.ini"));
    memo.NameList[0] = "Anna";
    try {
        memo.SaveSlotFiles();
        FAIL() << "no error";
    } catch (const TAppError& error) {
        EXPECT_TRUE(QString::fromUtf8(error.what()).startsWith("Cannot create file \"listfile.ini\". "))
            << error.what();
    }
    // The three files are replaced as one: none of them changed.
    EXPECT_EQ(ReadBytes(Here("listname.ini")), QByteArray("<absent>"));
    EXPECT_EQ(ReadBytes(Here("trained.ini")), oldTrained);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 1); // no temporary left over
}

TEST_F(MemoWithFiles, RecogniseChoosesTheMemorisedPersonAmongSeveral)
{
    TMemoProcessor memo;
    memo.SetUpNetwork();
    memo.Networks[0]->SeedRandom(7);
    memo.Networks[0]->RandomizeWeights();

    const TInputPattern probe = SampleCorner(StripedPerson(0));
    const TMemoProcessor::TRecognition empty = memo.Recognise(probe);
    EXPECT_FALSE(empty.Found); // nothing memorised yet

    constexpr int People = 4;
    for (int p = 0; p < People; ++p)
        memo.Memorise(QStringLiteral("person%1").arg(p), QStringLiteral("/p%1.bmp").arg(p),
            SampleCorner(StripedPerson(p)));
    const QByteArray names = ReadBytes(Here("listname.ini"));
    const QStringList trained = memo.TrainedList;
    for (int p = 0; p < People; ++p) {
        const TMemoProcessor::TRecognition result = memo.Recognise(SampleCorner(StripedPerson(p)));
        EXPECT_TRUE(result.Found);
        EXPECT_EQ(result.BestSlot, p);
        EXPECT_EQ(result.Outputs.size(), size_t(SlotCount));
    }
    EXPECT_EQ(memo.TrainedList, trained);
    EXPECT_EQ(ReadBytes(Here("listname.ini")), names);
}

TEST_F(MemoWithFiles, APatternThatCannotBeFedRecordsNothing)
{
    TMemoProcessor memo;
    memo.SetUpNetwork();
    EXPECT_THROW(memo.Memorise("Anna", "/a.bmp", TInputPattern(99, 1.0f)), TAppError);
    EXPECT_EQ(memo.TrainedList, Repeated("0", SlotCount));
    EXPECT_EQ(memo.NameList, Repeated("", SlotCount));
    EXPECT_EQ(ReadBytes(Here("trained.ini")), QByteArray("<absent>"));
}

TEST_F(MemoWithFiles, AFailedMemoriseLeavesTheListsAndTheNetworkAsTheyWere)
{
    TMemoProcessor memo;
    memo.SetUpNetwork();
    memo.Networks[0]->SeedRandom(3);
    memo.Networks[0]->RandomizeWeights();
    memo.Memorise("Anna", "/a.bmp", SampleCorner(StripedPerson(0)));
    const TInputPattern bert = SampleCorner(StripedPerson(1));
    const std::vector<float> outputsBefore = memo.Recognise(bert).Outputs;
    const QStringList names = memo.NameList, files = memo.FileList, trained = memo.TrainedList;
    const QByteArray namesFile = ReadBytes(Here("listname.ini"));

    // A folder in the way of "listfile.ini" makes the save fail.
    ASSERT_TRUE(QFile::remove(Here("listfile.ini")));
    ASSERT_TRUE(QDir(folder.path()).mkdir("listfile.ini"));
    try {
        memo.Memorise("Bert", "/b.bmp", bert);
        FAIL() << "no error";
    } catch (const TAppError& error) {
        EXPECT_EQ(QString::fromUtf8(error.what()), "Cannot create file \"listfile.ini\". Not a regular file");
    }
    EXPECT_EQ(memo.NameList, names);
    EXPECT_EQ(memo.FileList, files);
    EXPECT_EQ(memo.TrainedList, trained);
    EXPECT_TRUE(memo.Patterns[1].empty());
    EXPECT_EQ(memo.Recognise(bert).Outputs, outputsBefore); // untrained for Bert
    EXPECT_EQ(ReadBytes(Here("listname.ini")), namesFile);

    // Once the folder is fine again, the next memorise takes the slot the failed one did not.
    ASSERT_TRUE(QDir(folder.path()).rmdir("listfile.ini"));
    EXPECT_EQ(memo.Memorise("Carl", "/c.bmp", bert), 1);
    EXPECT_EQ(ReadBytes(Here("listname.ini")), Lines({ "Anna", "Carl" }) + QByteArray("\r\n").repeated(18));
    EXPECT_EQ(ReadBytes(Here("trained.ini")), Lines({ "1", "1" }) + QByteArray("0\r\n").repeated(18));
}

TEST_F(MemoWithFiles, OneProcessorAtATimeKeepsItsMemoriesInAFolder)
{
    const TInputPattern pattern = SampleCorner(StripedPerson(0));
    auto first = std::make_unique<TMemoProcessor>();
    first->SetUpNetwork();
    first->Memorise("Anna", "/a.bmp", pattern);
    EXPECT_TRUE(first->HoldsSlotFolder());
    EXPECT_TRUE(QFileInfo(Here(".mirava.lock")).isFile());
    const QByteArray names = ReadBytes(Here("listname.ini"));

    // A second one is refused with the reason, and neither its lists nor the files change.
    TMemoProcessor second;
    second.SetUpNetwork();
    const QString refusal = second.LockSlotFolder();
    EXPECT_EQ(refusal, QStringLiteral("Another Mirava keeps its memories in \"%1\"").arg(folder.path()));
    EXPECT_FALSE(second.HoldsSlotFolder());
    try {
        second.Memorise("Bert", "/b.bmp", pattern);
        FAIL() << "no error";
    } catch (const TAppError& error) {
        EXPECT_EQ(QString::fromUtf8(error.what()), refusal);
    }
    EXPECT_EQ(second.UsedSlotCount(), 0);
    EXPECT_EQ(ReadBytes(Here("listname.ini")), names);

    // A tool that writes no slot files needs no lock.
    TMemoProcessor tool;
    tool.SetUpNetwork();
    tool.SaveSlotFilesOnMemorise = false;
    EXPECT_EQ(tool.Memorise("Carl", "/c.bmp", pattern), 0);

    // When the first one goes, the folder is free for the second.
    first.reset();
    EXPECT_EQ(second.Memorise("Bert", "/b.bmp", pattern), 0);
    EXPECT_EQ(ReadBytes(Here("listname.ini")), Lines({ "Bert" }) + QByteArray("\r\n").repeated(19));
}

TEST_F(MemoWithFiles, LeftoverTemporariesGoWhenTheLockIsTaken)
{
    const QStringList leftovers { "listname.ini.tmp-a1B2c3", "listfile.ini.tmp-zzzzzz",
        "trained.ini.tmp-000000" };
    const QStringList others { "listname.ini.backup", "app.ini.tmp-a1B2c3", "trained.ini.tmp-0000000",
        "listname.ini.tmp-a1-2c3", "listname.ini" };
    auto make = [&](const QStringList& list) {
        for (const QString& name : list) {
            QFile file(Here(name));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
    };
    make(leftovers);
    make(others);
    ASSERT_TRUE(QDir(folder.path()).mkdir("listfile.ini.tmp-dirdir"));

    // Not while another processor keeps the folder: those may be its own files on their way.
    auto holder = std::make_unique<TMemoProcessor>();
    {
        TMemoProcessor late;
        ASSERT_EQ(ReadBytes(Here(".mirava.lock")), QByteArray("<absent>"));
        EXPECT_EQ(holder->LockSlotFolder(), QString());
        make(leftovers);
        EXPECT_FALSE(late.LockSlotFolder().isEmpty());
        for (const QString& name : leftovers)
            EXPECT_TRUE(QFile::exists(Here(name))) << name.toStdString();
    }
    holder.reset();

    TMemoProcessor memo;
    EXPECT_EQ(memo.LockSlotFolder(), QString());
    for (const QString& name : leftovers)
        EXPECT_FALSE(QFile::exists(Here(name))) << name.toStdString();
    for (const QString& name : others)
        EXPECT_TRUE(QFile::exists(Here(name))) << name.toStdString();
    EXPECT_TRUE(QFileInfo(Here("listfile.ini.tmp-dirdir")).isDir());
}

// Stands for a program killed in the middle of a save: the chosen step throws instead of happening, and
// nothing after it runs (no clean-up either).
struct TKilled
{
};

class TKilledAtStep : public TFileWriteSystem
{
public:
    enum TStep { WriteOfTrained, RenameOfTrained };
    explicit TKilledAtStep(TStep step)
        : step(step)
        , previous(TFileWriteSystem::SetDefault(this))
    { }
    ~TKilledAtStep() override { TFileWriteSystem::SetDefault(previous); }
    ssize_t Write(int fd, const void* data, size_t size) override
    {
        char path[64];
        const ssize_t length = ::readlink(
            QByteArray("/proc/self/fd/" + QByteArray::number(fd)).constData(), path, sizeof path);
        if (step == WriteOfTrained && length > 0 && QByteArray(path, length).contains("/trained.ini.tmp-"))
            throw TKilled();
        return TFileWriteSystem::Write(fd, data, size);
    }
    int Rename(const char* from, const char* to) override
    {
        if (step == RenameOfTrained && QFileInfo(QFile::decodeName(to)).fileName() == "trained.ini")
            throw TKilled();
        return TFileWriteSystem::Rename(from, to);
    }

private:
    TStep step;
    TFileWriteSystem* previous;
};

TEST_F(MemoWithFiles, ASaveCutOffByAKillIsWholeOldOrWholeNewAtTheNextStart)
{
    const TInputPattern pattern = SampleCorner(StripedPerson(0));
    const QByteArray oldNames = Lines({ "Anna" }) + QByteArray("\r\n").repeated(19);
    const QByteArray oldTrained = Lines({ "1" }) + QByteArray("0\r\n").repeated(19);
    const QByteArray newNames = Lines({ "Anna", "Bert" }) + QByteArray("\r\n").repeated(18);
    const QByteArray newTrained = Lines({ "1", "1" }) + QByteArray("0\r\n").repeated(18);
    auto leftovers = [&] {
        return QDir(folder.path()).entryList({ "*.tmp-*", ".mirava.j*" }, QDir::Files | QDir::Hidden);
    };
    for (const auto step : { TKilledAtStep::WriteOfTrained, TKilledAtStep::RenameOfTrained }) {
        SCOPED_TRACE(
            step == TKilledAtStep::WriteOfTrained ? "killed while writing" : "killed between renames");
        for (const char* name : { "listname.ini", "listfile.ini", "trained.ini" })
            QFile::remove(Here(name));
        {
            TMemoProcessor killed;
            killed.SetUpNetwork();
            killed.Memorise("Anna", "/a.bmp", pattern);
            TKilledAtStep kill(step);
            EXPECT_THROW(killed.Memorise("Bert", "/b.bmp", pattern), TKilled);
        }
        // The next program in the folder finds the three files of one and the same memorise.
        TMemoProcessor next;
        ASSERT_EQ(next.LockSlotFolder(), QString());
        if (step == TKilledAtStep::WriteOfTrained) {
            EXPECT_EQ(ReadBytes(Here("listname.ini")), oldNames);
            EXPECT_EQ(ReadBytes(Here("listfile.ini")), Lines({ "/a.bmp" }) + QByteArray("\r\n").repeated(19));
            EXPECT_EQ(ReadBytes(Here("trained.ini")), oldTrained);
        } else {
            EXPECT_EQ(ReadBytes(Here("listname.ini")), newNames);
            EXPECT_EQ(ReadBytes(Here("listfile.ini")),
                Lines({ "/a.bmp", "/b.bmp" }) + QByteArray("\r\n").repeated(18));
            EXPECT_EQ(ReadBytes(Here("trained.ini")), newTrained);
        }
        EXPECT_EQ(leftovers(), QStringList());
    }

    // A journal that names files other than the slot files renames nothing and goes.
    WriteBytes(Here("app.ini"), "old");
    WriteBytes(Here("app.ini.tmp-AAAAAA"), "new");
    WriteBytes(
        Here(".mirava.journal"), (Here("app.ini.tmp-AAAAAA") + "\t" + Here("app.ini") + "\n").toUtf8());
    TMemoProcessor later;
    ASSERT_EQ(later.LockSlotFolder(), QString());
    EXPECT_EQ(ReadBytes(Here("app.ini")), "old");
    EXPECT_EQ(ReadBytes(Here("listname.ini")), newNames);
    EXPECT_FALSE(QFile::exists(Here(".mirava.journal")));

    // A link in the journal's place is neither followed nor its target removed: the save is refused.
    later.SetUpNetwork();
    ASSERT_TRUE(QFile::link(Here("app.ini"), Here(".mirava.journal")));
    EXPECT_THROW(later.Memorise("Carl", "/c.bmp", pattern), TAppError);
    EXPECT_EQ(ReadBytes(Here("app.ini")), "old");
    EXPECT_EQ(later.UsedSlotCount(), 0);
}

TEST_F(MemoWithFiles, ALockFileThatIsNoRegularFileIsReportedWithoutWaiting)
{
    ASSERT_EQ(::mkfifo(".mirava.lock", 0600), 0);
    TMemoProcessor memo;
    EXPECT_EQ(
        memo.LockSlotFolder(), QStringLiteral("Cannot create file \".mirava.lock\". Not a regular file"));
    memo.SetUpNetwork();
    EXPECT_THROW(memo.Memorise("Anna", "/a.bmp", SampleCorner(StripedPerson(0))), TAppError);
    EXPECT_EQ(memo.UsedSlotCount(), 0);
    EXPECT_EQ(ReadBytes(Here("listname.ini")), QByteArray("<absent>"));
}

TEST_F(MemoWithFiles, TheLockOfAProgramThatWasKilledIsFreeAgain)
{
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TMemoProcessor holder;
        const char answer = holder.LockSlotFolder().isEmpty() ? '1' : '0';
        (void)!::write(ready[1], &answer, 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char answer = 0;
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(answer, '1');
    TMemoProcessor memo;
    EXPECT_TRUE(memo.LockSlotFolder().startsWith("Another Mirava keeps its memories in")); // another process

    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(memo.LockSlotFolder(), QString());
    EXPECT_TRUE(memo.HoldsSlotFolder());
}
