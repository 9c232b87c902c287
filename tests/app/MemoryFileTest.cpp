#include "app/MemoryFile.h"

#include "app/AppError.h"
#include "app/TextFiles.h"
#include "fuzz/MemoryFileTarget.h"
#include "network/NeuralNetwork.h"
#include "support/StripedPerson.h"
#include "support/Unprivileged.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <vector>
#include <zlib.h>

namespace {

// A network small enough that every damage case reads in no time: 30 inputs, the 20 slots as outputs.
TNetworkShape SmallShape()
{
    TNetworkShape shape;
    shape.InputCount = 30;
    return shape;
}

TInputPattern RandomPattern(size_t size, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> grey(0, 255);
    TInputPattern pattern(size);
    for (float& value : pattern)
        value = float(grey(random));
    return pattern;
}

// A processor with a network of the shape that has memorised `persons` random patterns.
void Memorise(TMemoProcessor& processor, const TNetworkShape& shape, int persons)
{
    processor.SaveSlotFilesOnMemorise = false;
    processor.ReleaseNetworks();
    processor.Networks.push_back(TMemoProcessor::BuildNetwork(shape));
    processor.Networks.front()->SeedRandom(7);
    processor.Networks.front()->RandomizeWeights();
    for (int p = 0; p < persons; ++p)
        processor.Memorise(QStringLiteral("person %1").arg(p), QStringLiteral("/pictures/p%1.bmp").arg(p),
            RandomPattern(size_t(shape.InputCount), uint32_t(p)));
}

// A processor with the window's network, set up, that has memorised the striped persons 0 to persons - 1.
void SetUpAndMemorise(TMemoProcessor& processor, int persons)
{
    processor.SaveSlotFilesOnMemorise = false;
    processor.SetUpNetwork();
    for (int p = 0; p < persons; ++p)
        processor.Memorise(QStringLiteral(" Person %1 ").arg(p), QStringLiteral("/faces/émile_%1.bmp").arg(p),
            SampleCorner(StripedPerson(p)));
}

QByteArray StoreBytes(TNeuralNetwork& network)
{
    return QByteArray(static_cast<const char*>(network.Store->ItemPtr(0)), qsizetype(network.Store->Size()));
}

QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<absent>");
}

void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// Puts a correct checksum on bytes changed on purpose, so that the checks behind it are reached.
QByteArray Resealed(QByteArray bytes)
{
    bytes.chop(4);
    const uLong crc = crc32_z(0, reinterpret_cast<const Bytef*>(bytes.constData()), size_t(bytes.size()));
    for (int i = 0; i < 4; ++i)
        bytes += char((crc >> (8 * i)) & 0xFF);
    return bytes;
}

void PutU32(QByteArray& bytes, qsizetype at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char((value >> (8 * i)) & 0xFF);
}

// A disk that is full once `room` bytes are written.
class TFullDisk : public TFileWriteSystem
{
public:
    explicit TFullDisk(size_t room)
        : room(room)
    {
        previous = TFileWriteSystem::SetDefault(this);
    }
    ~TFullDisk() override { TFileWriteSystem::SetDefault(previous); }
    ssize_t Write(int fd, const void* data, size_t size) override
    {
        if (room == 0) {
            errno = ENOSPC;
            return -1;
        }
        const ssize_t written = TFileWriteSystem::Write(fd, data, std::min(size, room));
        if (written > 0)
            room -= size_t(written);
        return written;
    }

private:
    size_t room;
    TFileWriteSystem* previous = nullptr;
};

class MemoryFileTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        Memorise(saved, shape, 3);
        path = folder.filePath(QStringLiteral("three.mmem"));
        SaveMemoryFile(path, saved);
        good = ReadBytes(path);
    }

    // Offsets of the parts of the small file.
    qsizetype DescriptionAt() const { return 8 + 4 + 4 + 4 + 8; }
    qsizetype StoreAt() const { return DescriptionAt() + (shape.InputCount + shape.OutputCount) * 20 + 8; }
    qsizetype ListsAt() const { return StoreAt() + qsizetype(shape.StoreLength() * 4); }
    // Behind the lists: the framing ("corner"), then a size and the values of each slot's pattern (three
    // used slots keep one), then the checksum.
    qsizetype FramingAt() const { return PatternsAt() - 4 - 6; }
    qsizetype PatternsAt() const { return good.size() - 4 - SlotCount * 4 - 3 * shape.InputCount; }

    // Reads `bytes` as a file into a processor in use and expects `message`; the processor keeps its memory.
    void ExpectRefused(const QByteArray& bytes, const QString& message)
    {
        const QString damaged = folder.filePath(QStringLiteral("damaged.mmem"));
        WriteBytes(damaged, bytes);
        ExpectRefusedFile(damaged, message);
    }

    void ExpectRefusedFile(const QString& file, const QString& message)
    {
        TMemoProcessor inUse;
        Memorise(inUse, shape, 1);
        EXPECT_EQ(Refusal(inUse, file).toStdString(),
            QString(message).replace("FILE", u'"' + file + u'"').toStdString());
    }

    // The message of reading `file` into a processor in use, and whether its memory stayed as it was.
    QString Refusal(TMemoProcessor& inUse, const QString& file) const
    {
        const QByteArray store = StoreBytes(*inUse.Networks[0]);
        const QStringList names = inUse.NameList;
        const TNeuralNetwork* network = inUse.Networks[0].get();
        QString message = QStringLiteral("<read without an error>");
        try {
            UseMemory(inUse, ReadMemoryFile(file, shape));
        } catch (const TAppError& error) {
            message = QString::fromUtf8(error.what());
        }
        if (inUse.Networks.size() != 1 || inUse.Networks[0].get() != network
            || StoreBytes(*inUse.Networks[0]) != store || inUse.NameList != names)
            message += QStringLiteral(" <the memory in use changed>");
        return message;
    }

    QTemporaryDir folder;
    TNetworkShape shape = SmallShape();
    TMemoProcessor saved;
    QString path;
    QByteArray good;
};

} // namespace

TEST(MemoryFile, AReopenedMemoryAnswersBitForBitAsBefore)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("people.mmem"));
    TMemoProcessor before;
    SetUpAndMemorise(before, 5);
    SaveMemoryFile(path, before);

    TMemoProcessor after;
    after.SaveSlotFilesOnMemorise = false;
    UseMemory(after, ReadMemoryFile(path));
    EXPECT_EQ(after.NameList, before.NameList);
    EXPECT_EQ(after.FileList, before.FileList);
    EXPECT_EQ(after.TrainedList, before.TrainedList);
    EXPECT_TRUE(StoreBytes(*after.Networks[0]) == StoreBytes(*before.Networks[0]));
    EXPECT_EQ(after.Patterns, before.Patterns);
    EXPECT_EQ(after.Patterns[4], PatternBytes(SampleCorner(StripedPerson(4))));

    // Every probe, memorised or not, gets the very same 20 outputs from both.
    for (int probe = 0; probe < 6; ++probe) {
        const TInputPattern pattern = SampleCorner(StripedPerson(probe));
        const auto a = before.Recognise(pattern);
        const auto b = after.Recognise(pattern);
        ASSERT_EQ(a.Outputs.size(), 20u);
        ASSERT_EQ(b.Outputs.size(), 20u);
        EXPECT_EQ(std::memcmp(a.Outputs.data(), b.Outputs.data(), a.Outputs.size() * sizeof(float)), 0);
        EXPECT_EQ(a.BestSlot, b.BestSlot);
    }
    // Both go on learning alike.
    const TInputPattern sixth = SampleCorner(StripedPerson(5));
    EXPECT_EQ(before.Memorise("six", "six.bmp", sixth), 5);
    EXPECT_EQ(after.Memorise("six", "six.bmp", sixth), 5);
    EXPECT_TRUE(StoreBytes(*after.Networks[0]) == StoreBytes(*before.Networks[0]));
}

TEST(MemoryFile, AFaultInEitherHalfOfALargeStoreIsFound)
{
    // The window's store is read in two halves at once: a fault in either is found, the first one counts.
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("large.mmem"));
    TMemoProcessor processor;
    SetUpAndMemorise(processor, 1);
    SaveMemoryFile(path, processor);
    const QByteArray good = ReadBytes(path);
    const TNetworkShape shape;
    const qsizetype storeAt = 8 + 4 + 4 + 4 + 8 + (shape.InputCount + shape.OutputCount) * 20 + 8;
    const qsizetype lastCentre = qsizetype(shape.StoreLength()) - 4; // in the second half
    const qsizetype synapse = 200000; // a synapse's target layer, in the first half
    auto outcome = [&](const std::vector<qsizetype>& flippedBytes) {
        QByteArray bytes = good;
        for (qsizetype at : flippedBytes)
            bytes[at] = char(bytes[at] ^ 0x10);
        try {
            const TMemory memory = ReadMemoryBytes(bytes, QStringLiteral("FILE"), shape);
            return StoreBytes(*memory.Network) == StoreBytes(*processor.Networks[0])
                ? QStringLiteral("<read>")
                : QStringLiteral("<changed>");
        } catch (const TAppError& error) {
            return QString::fromUtf8(error.what());
        }
    };
    const QString strange
        = QStringLiteral("\"FILE\" is damaged: slot %1 of its store does not belong to Mirava's network");
    EXPECT_EQ(outcome({}), QStringLiteral("<read>"));
    EXPECT_EQ(outcome({ storeAt + lastCentre * 4 + 1 }), strange.arg(lastCentre));
    EXPECT_EQ(outcome({ storeAt + lastCentre * 4 + 1, storeAt + synapse * 4 }), strange.arg(synapse));
    // A weight of the second half: only the checksum, joined from both halves, finds it.
    EXPECT_EQ(outcome({ storeAt + (lastCentre + 1) * 4 + 2 }),
        QStringLiteral("\"FILE\" is damaged: its checksum does not match its content"));
}

TEST_F(MemoryFileTest, ListsKeepTheirTextAndOneLinePerSlot)
{
    saved.NameList[3] = QStringLiteral("Zoë\nand Ann");
    saved.FileList[3] = QStringLiteral("/a b/c.bmp");
    saved.TrainedList[3] = QStringLiteral("1");
    SaveMemoryFile(path, saved);
    const TMemory memory = ReadMemoryFile(path, shape);
    EXPECT_EQ(memory.NameList[3], QStringLiteral("Zoë and Ann"));
    EXPECT_EQ(memory.FileList[3], QStringLiteral("/a b/c.bmp"));
    EXPECT_EQ(memory.NameList[1], QStringLiteral("person 1"));
    EXPECT_EQ(memory.NameList[19], QString());
    EXPECT_EQ(memory.UsedSlotCount(), 4);
}

TEST_F(MemoryFileTest, ATruncatedFileIsRefusedWhereverItEnds)
{
    const QString early = QStringLiteral("FILE is damaged: it ends in the middle of its %1");
    ExpectRefused(QByteArray(), QStringLiteral("FILE is empty, not a memory file"));
    ExpectRefused(good.left(5), early.arg(u"header"));
    ExpectRefused(good.left(14), early.arg(u"header"));
    ExpectRefused(good.left(DescriptionAt() + 100),
        QStringLiteral("FILE is damaged: it ends in the middle of its "
                       "network's description"));
    ExpectRefused(
        good.left(StoreAt() + 40), QStringLiteral("FILE is damaged: it ends before the end of its store"));
    ExpectRefused(good.left(ListsAt() + 30),
        QStringLiteral("FILE is damaged: its list of names claims 44 bytes, more than the file holds"));
    ExpectRefused(good.left(FramingAt() + 8), early.arg(u"framing"));
    ExpectRefused(good.left(PatternsAt() + 40), early.arg(u"patterns"));
    ExpectRefused(good.left(good.size() - 4), QStringLiteral("FILE is damaged: it ends before its checksum"));
    ExpectRefused(good.left(good.size() - 1), QStringLiteral("FILE is damaged: it ends before its checksum"));
    ExpectRefused(good + "x", QStringLiteral("FILE is damaged: it holds 1 bytes after its checksum"));
}

TEST_F(MemoryFileTest, AFlippedByteIsFoundWhereverItIs)
{
    auto flipped = [this](qsizetype at) {
        QByteArray bytes = good;
        bytes[at] = char(bytes[at] ^ 0x10);
        return bytes;
    };
    ExpectRefused(flipped(2), QStringLiteral("FILE is not a Mirava memory file"));
    ExpectRefused(flipped(12),
        QStringLiteral("FILE holds a memory that Mirava cannot use: it has 4 memory slots, "
                       "not 20"));
    ExpectRefused(flipped(20),
        QStringLiteral("FILE holds a memory that Mirava cannot use: layer 0 of its network "
                       "has 14 neurons, not 30"));
    ExpectRefused(flipped(DescriptionAt() + 6),
        QStringLiteral("FILE holds a memory that Mirava cannot use: neuron 0 "
                       "of layer 0 has the range 2.22507e-308 to 255 in 26 "
                       "levels, not 0 to 255 in 26"));
    const QString checksum = QStringLiteral("FILE is damaged: its checksum does not match its content");
    // A weight, a hit count, a name and the checksum itself.
    const qsizetype lastInterval = ListsAt() - 16;
    ExpectRefused(flipped(lastInterval + 4), checksum);
    ExpectRefused(flipped(lastInterval + 8), checksum);
    ExpectRefused(flipped(ListsAt() + 4), checksum);
    ExpectRefused(flipped(good.size() - 2), checksum);
    // A slot that the layout fixes: an interval's centre.
    ExpectRefused(flipped(lastInterval + 1),
        QStringLiteral("FILE is damaged: slot %1 of its store does not belong to Mirava's network")
            .arg((lastInterval - StoreAt()) / 4));
}

TEST_F(MemoryFileTest, WrongMagicNewerVersionAndOverlongCountsAreRefused)
{
    QByteArray bytes = good;
    bytes.replace(0, 8, "MIRAVAMX");
    ExpectRefused(bytes, QStringLiteral("FILE is not a Mirava memory file"));
    ExpectRefused("GIF89a", QStringLiteral("FILE is not a Mirava memory file"));

    bytes = good;
    PutU32(bytes, 8, 3);
    ExpectRefused(bytes, QStringLiteral("FILE was made by a newer Mirava (format 3)"));
    ExpectRefused(Resealed(bytes), QStringLiteral("FILE was made by a newer Mirava (format 3)"));

    // Counts that claim more than the file holds are refused before anything is set aside for them.
    bytes = good;
    PutU32(bytes, 20, 0xFFFFFFFFu);
    ExpectRefused(Resealed(bytes),
        QStringLiteral("FILE holds a memory that Mirava cannot use: layer 0 of its "
                       "network has 4294967295 neurons, not 30"));
    bytes = good;
    PutU32(bytes, StoreAt() - 8, 0xFFFFFFF0u);
    ExpectRefused(Resealed(bytes),
        QStringLiteral("FILE is damaged: its store has 4294967280 slots where the network "
                       "needs %1")
            .arg(shape.StoreLength()));
    bytes = good;
    PutU32(bytes, ListsAt(), 0x7FFFFFF0u);
    ExpectRefused(Resealed(bytes),
        QStringLiteral("FILE is damaged: its list of names claims 2147483632 bytes, more "
                       "than the file holds"));
}

TEST_F(MemoryFileTest, ListsAreCheckedBehindAGoodChecksum)
{
    const qsizetype names = ListsAt();
    QByteArray bytes = good;
    const qsizetype lastFlagAt = FramingAt() - 2;
    ASSERT_EQ(bytes[lastFlagAt], '0');
    bytes[lastFlagAt] = '2';
    ExpectRefused(
        Resealed(bytes), QStringLiteral("FILE is damaged: a used flag reads \"2\" instead of 0 or 1"));
    bytes[lastFlagAt] = '\n';
    ExpectRefused(
        Resealed(bytes), QStringLiteral("FILE is damaged: its list of used flags has 21 lines, not 20"));
    bytes = good;
    bytes[names + 4] = char(0xFF);
    ExpectRefused(Resealed(bytes), QStringLiteral("FILE is damaged: its list of names is not UTF-8 text"));
}

TEST_F(MemoryFileTest, FramingAndPatternsComeBackAndAreChecked)
{
    saved.Framing = TFraming::Face;
    SaveMemoryFile(path, saved);
    const TMemory memory = ReadMemoryFile(path, shape);
    EXPECT_EQ(memory.Version, 2u);
    EXPECT_EQ(memory.Framing, TFraming::Face);
    EXPECT_EQ(memory.Patterns, saved.Patterns);
    EXPECT_EQ(memory.Patterns[2].size(), size_t(shape.InputCount));
    EXPECT_TRUE(memory.Patterns[3].empty());

    QByteArray bytes = good;
    bytes.replace(FramingAt() + 4, 6, "cornex");
    ExpectRefused(Resealed(bytes),
        QStringLiteral("FILE holds a memory that Mirava cannot use: its pictures are framed by \"cornex\", "
                       "which Mirava does not know"));
    bytes = good;
    PutU32(bytes, PatternsAt(), 29);
    ExpectRefused(
        Resealed(bytes), QStringLiteral("FILE is damaged: the pattern of slot 0 has 29 values, not 30"));
    bytes = good;
    const qsizetype firstFlagAt = FramingAt() - 40;
    ASSERT_EQ(bytes[firstFlagAt], '1');
    bytes[firstFlagAt] = '0';
    ExpectRefused(Resealed(bytes), QStringLiteral("FILE is damaged: free slot 0 keeps a pattern"));
}

// A memory saved before patterns were kept: format 1, the same file without the framing and the patterns. Its
// network learnt each person once, and forgot some of them as it learnt the next.
TEST_F(MemoryFileTest, AFileOfFormatOneGetsItsPatternsFromItsPicturesAndIsRehearsed)
{
    std::mt19937 random(4);
    std::uniform_int_distribution<int> grey(40, 215);
    std::normal_distribution<double> own(0.0, 6.0);
    std::vector<int> face(size_t(shape.InputCount));
    for (int& value : face)
        value = grey(random);
    TMemoProcessor old;
    old.SaveSlotFilesOnMemorise = false;
    old.RehearseOnMemorise = false;
    old.Networks.push_back(TMemoProcessor::BuildNetwork(shape));
    old.Networks.front()->SeedRandom(3);
    old.Networks.front()->RandomizeWeights();
    std::vector<QString> pictures;
    for (int p = 0; p < 5; ++p) {
        // Only the top row's first inputs reach a network of this size.
        QImage picture(shape.InputCount, 2, QImage::Format_RGB888);
        picture.fill(Qt::white);
        for (int x = 0; x < shape.InputCount; ++x) {
            const int value = std::clamp(int(std::lround(face[size_t(x)] + own(random))), 0, 255);
            picture.setPixelColor(x, 0, QColor(value, value, value));
        }
        pictures.push_back(folder.filePath(QStringLiteral("p%1.bmp").arg(p)));
        ASSERT_TRUE(picture.save(pictures.back()));
        old.Memorise(QStringLiteral("p%1").arg(p), pictures.back(), SampleCorner(picture));
    }
    auto answeredAsThemselves = [&](TMemoProcessor& processor) {
        int right = 0;
        for (int p = 0; p < 5; ++p)
            right += p != 2 && processor.Recognise(PatternValues(old.Patterns[size_t(p)])).BestSlot == p;
        return right;
    };
    ASSERT_LT(answeredAsThemselves(old), 4);
    SaveMemoryFile(path, old);
    ASSERT_TRUE(QFile::remove(pictures[2]));
    QByteArray formatOne = ReadBytes(path);
    formatOne.truncate(formatOne.size() - 4 - SlotCount * 4 - 5 * shape.InputCount - 4 - 6);
    PutU32(formatOne, 8, 1);
    const QString oldPath = folder.filePath(QStringLiteral("old.mmem"));
    WriteBytes(oldPath, Resealed(formatOne + "crc!"));

    TMemory memory = ReadMemoryFile(oldPath, shape);
    EXPECT_EQ(memory.Version, 1u);
    EXPECT_EQ(memory.Framing, TFraming::Corner);
    EXPECT_EQ(memory.Patterns, std::vector<TPatternBytes>(SlotCount));
    EXPECT_EQ(RestorePatterns(memory, TFramer()), std::vector<int> { 2 });
    EXPECT_EQ(memory.Patterns[0], old.Patterns[0]);
    EXPECT_TRUE(memory.Patterns[2].empty());
    EXPECT_EQ(SlotsText(memory.NameList, { 2 }), QStringLiteral("p2 (slot 2)"));
    EXPECT_TRUE(RehearseMemory(memory).Converged);
    TMemoProcessor opened;
    UseMemory(opened, std::move(memory));
    EXPECT_EQ(answeredAsThemselves(opened), 4);
    EXPECT_EQ(opened.SlotsWithoutPattern(), std::vector<int> { 2 });
}

TEST_F(MemoryFileTest, AFolderAFifoAndAMissingFileAreRefusedAtOnce)
{
    const QString sub = folder.filePath(QStringLiteral("folder.mmem"));
    ASSERT_TRUE(QDir().mkdir(sub));
    ExpectRefusedFile(sub, QStringLiteral("FILE is a folder, not a memory file"));
    const QString fifo = folder.filePath(QStringLiteral("fifo.mmem"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ExpectRefusedFile(fifo, QStringLiteral("FILE is not a regular file"));
    ExpectRefusedFile(folder.filePath(QStringLiteral("none.mmem")),
        QStringLiteral("Cannot open FILE: No such file or directory"));
    ExpectRefusedFile(QStringLiteral("/dev/null"), QStringLiteral("FILE is not a regular file"));
}

TEST_F(MemoryFileTest, AnUnreadableFileIsRefused)
{
    // The folder is open to everyone, the file to no one: as root, the reading runs as another user.
    ASSERT_TRUE(QFile::setPermissions(folder.path(),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::Permissions()));
    TMemoProcessor inUse;
    Memorise(inUse, shape, 1);
    EXPECT_EQ(RunUnprivileged([&] { return Refusal(inUse, path).toUtf8(); }),
        QStringLiteral("Cannot open \"%1\": Permission denied").arg(path).toUtf8());
    EXPECT_EQ(inUse.Networks.size(), 1u);
}

TEST_F(MemoryFileTest, AFileOfAnotherShapeIsRefused)
{
    TNetworkShape other = shape;
    other.InputCount = 31;
    TMemoProcessor processor;
    Memorise(processor, other, 1);
    SaveMemoryFile(path, processor);
    ExpectRefusedFile(path,
        QStringLiteral("FILE holds a memory that Mirava cannot use: layer 0 of its network has 31 "
                       "neurons, not 30"));
}

TEST_F(MemoryFileTest, AFailedWriteLeavesTheOldFileWhole)
{
    TMemoProcessor other;
    Memorise(other, shape, 5);
    // A folder in the file's place, and a folder that is not there.
    const QString sub = folder.filePath(QStringLiteral("taken.mmem"));
    ASSERT_TRUE(QDir().mkdir(sub));
    EXPECT_THROW(SaveMemoryFile(sub, other), TAppError);
    try {
        SaveMemoryFile(folder.filePath(QStringLiteral("gone/x.mmem")), other);
        ADD_FAILURE() << "saved into a missing folder";
    } catch (const TAppError& error) {
        EXPECT_TRUE(QString::fromUtf8(error.what())
                        .startsWith(QStringLiteral("Cannot create file \"%1\". ")
                                        .arg(folder.filePath(QStringLiteral("gone/x.mmem")))))
            << error.what();
    }
    EXPECT_EQ(ReadBytes(path), good);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList { "three.mmem" });

    // A disk that fills up in the header, in the store and in the lists.
    for (size_t room : { size_t(10), size_t(StoreAt() + 100), size_t(ListsAt() + 10) }) {
        TFullDisk full(room);
        try {
            SaveMemoryFile(path, other);
            ADD_FAILURE() << "saved onto a full disk";
        } catch (const TAppError& error) {
            EXPECT_EQ(error.what(),
                QStringLiteral("Cannot create file \"%1\". No space left on device").arg(path).toStdString());
        }
        EXPECT_EQ(ReadBytes(path), good);
        EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList { "three.mmem" });
    }

    TMemoProcessor empty;
    EXPECT_THROW(SaveMemoryFile(path, empty), TAppError);
    EXPECT_EQ(ReadBytes(path), good);
}

// The fuzzer's seeds through its own entry point: ok-* files are accepted and used, bad-* refused.
TEST(MemoryFile, FuzzSeedsReplay)
{
    const QDir dir(QStringLiteral(MIRAVA_FUZZ_CORPUS "/memory"));
    const QStringList names = dir.entryList(QDir::Files);
    ASSERT_GE(names.size(), 5);
    for (const QString& name : names) {
        const QByteArray data = ReadBytes(dir.filePath(name));
        const bool accepted
            = FuzzMemoryFile(reinterpret_cast<const uint8_t*>(data.constData()), size_t(data.size()));
        EXPECT_EQ(accepted, name.startsWith("ok-")) << name.toStdString();
    }
}
