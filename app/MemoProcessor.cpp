#include "app/MemoProcessor.h"

#include "app/AppError.h"
#include "app/TextFiles.h"
#include "network/NeuralNetwork.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr float TargetOfSlot = 99.0f;
constexpr float TargetOfOthers = 1.0f;

uint16_t LevelCountOf(double lower, double upper, double width)
{
    return std::max<uint16_t>(2, uint16_t(std::nearbyint((upper - lower) / width)));
}

void DescribeLayer(TLayer* layer, int count, double lower, double upper, uint16_t levels)
{
    layer->Neurons->SetCount(count);
    for (int i = 0; i < count; ++i) {
        TNeurone* neuron = layer->Neurons->Items(i);
        neuron->SetLowerBound(lower);
        neuron->SetUpperBound(upper);
        neuron->SetLevelCount(levels);
    }
}

// One line per slot: a line break inside a name or a path (a pasted name, an odd file name) is written as a
// space, so the file keeps exactly SlotCount lines.
QByteArray SlotFileContent(const QStringList& list)
{
    QByteArray content;
    for (int i = 0; i < SlotCount; ++i) {
        if (i < list.size()) {
            QByteArray line = list[i].toUtf8();
            line.replace('\r', ' ').replace('\n', ' ');
            content += line;
        }
        content += "\r\n";
    }
    return content;
}

const QString SlotFileNames[]
    = { QStringLiteral("listname.ini"), QStringLiteral("listfile.ini"), QStringLiteral("trained.ini") };
// Names the three temporary files while they replace the old ones, so that a save cut off by a kill
// between two renames is completed at the next start.
const QString SlotJournalName = QStringLiteral(".mirava.journal");

// Opens the lock file as a regular file only (a pipe in its place must not block the start).
int OpenLockFile(const QByteArray& path, int* error)
{
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))
        fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    *error = errno;
    if (fd < 0)
        return -1;
    struct stat status
    {
    };
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        *error = 0;
        return -1;
    }
    return fd;
}
} // namespace

TMemoProcessor::TMemoProcessor()
    : Patterns(SlotCount)
{
    for (int slot = 0; slot < SlotCount; ++slot) {
        FileList.append(QString());
        NameList.append(QString());
        TrainedList.append(QStringLiteral("0"));
    }
}

TMemoProcessor::~TMemoProcessor()
{
    ReleaseNetworks();
    if (lockFd >= 0)
        ::close(lockFd); // closing gives the lock up
}

QString TMemoProcessor::AllSlotsUsedMessage()
{
    return QStringLiteral("All %1 memory slots are used").arg(SlotCount);
}

QString TMemoProcessor::LockSlotFolder()
{
    if (lockFd >= 0 && lockedPrefix == StateFilePrefix)
        return {};
    if (lockFd >= 0) {
        ::close(lockFd);
        lockFd = -1;
    }
    const QString lockPath = StateFilePrefix + QLatin1String(SlotFolderLockName);
    int error = 0;
    const int fd = OpenLockFile(QFile::encodeName(lockPath), &error);
    if (fd < 0) {
        // No lock file and no way to make one: nothing can be saved there, by this program or another.
        if (error == ENOENT
            && QFileInfo(StateFilePrefix.isEmpty() ? QStringLiteral(".") : StateFilePrefix).isDir())
            return {};
        return QStringLiteral("Cannot create file \"%1\". %2")
            .arg(lockPath, error ? qt_error_string(error) : QStringLiteral("Not a regular file"));
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return QStringLiteral("Another Mirava keeps its memories in \"%1\"")
                .arg(QDir::toNativeSeparators(
                    QFileInfo(StateFilePrefix.isEmpty() ? QStringLiteral(".") : StateFilePrefix)
                        .absoluteFilePath()));
        return QStringLiteral("Cannot create file \"%1\". %2").arg(lockPath, qt_error_string(error));
    }
    lockFd = fd;
    lockedPrefix = StateFilePrefix;
    RemoveLeftoverTemporaries();
    return {};
}

void TMemoProcessor::RemoveLeftoverTemporaries() const
{
    QStringList paths;
    for (const QString& name : SlotFileNames)
        paths.append(StateFilePrefix + name);
    FinishInterruptedWrite(StateFilePrefix + SlotJournalName, paths);
    const QDir folder(StateFilePrefix.isEmpty() ? QStringLiteral(".") : StateFilePrefix);
    for (const QString& entry : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        for (const QString& name :
            { SlotFileNames[0], SlotFileNames[1], SlotFileNames[2], SlotJournalName }) {
            if (!IsAtomicTemporaryOf(entry, name))
                continue;
            const QByteArray path = QFile::encodeName(folder.filePath(entry));
            struct stat status
            {
            };
            if (::lstat(path.constData(), &status) == 0 && S_ISREG(status.st_mode))
                ::unlink(path.constData());
        }
    }
}

void TMemoProcessor::ReleaseNetworks()
{
    rehearsal.Forget();
    for (auto& network : Networks)
        network.reset();
    Networks.clear();
}

uint16_t TNetworkShape::InputLevels() const
{
    return LevelCountOf(InputLower, InputUpper, InputLevelWidth);
}

uint16_t TNetworkShape::OutputLevels() const
{
    return LevelCountOf(OutputLower, OutputUpper, OutputLevelWidth);
}

uint64_t TNetworkShape::StoreLength() const
{
    // Header and two layer records; a record per neuron; every input feeds every output through one synapse
    // and one dendrite, whose table has a record per input level.
    const uint64_t inputs = uint64_t(InputCount);
    const uint64_t outputs = uint64_t(OutputCount);
    return uint64_t(TNeuralNetwork::HeaderSize + 2 * TNeuralNetwork::LayerRecordSize)
        + (inputs + outputs) * TNeuralNetwork::NeuronRecordSize
        + inputs * outputs * TNeuralNetwork::SynapseRecordSize
        + outputs * inputs * TNeuralNetwork::DendriteRecordSize
        + outputs * inputs * InputLevels() * TNeuralNetwork::IntervalRecordSize;
}

std::unique_ptr<TNeuralNetwork> TMemoProcessor::BuildNetwork(const TNetworkShape& shape)
{
    auto network = DescribeNetwork(shape);
    network->BuildStore();
    return network;
}

std::unique_ptr<TNeuralNetwork> TMemoProcessor::DescribeNetwork(const TNetworkShape& shape)
{
    auto network = std::make_unique<TNeuralNetwork>();
    network->Reset();
    network->Layers->SetCount(2);
    DescribeLayer(
        network->Layers->Items(0), shape.InputCount, shape.InputLower, shape.InputUpper, shape.InputLevels());
    DescribeLayer(network->Layers->Items(1), shape.OutputCount, shape.OutputLower, shape.OutputUpper,
        shape.OutputLevels());
    network->ConnectLayers();
    return network;
}

void TMemoProcessor::SetUpNetwork()
{
    ReleaseNetworks();
    auto network = BuildNetwork(TNetworkShape());
    network->RandomizeWeights();
    Networks.push_back(std::move(network));
}

bool TMemoProcessor::HasNetwork() const
{
    return !Networks.empty() && Networks.front();
}

void TMemoProcessor::FeedPattern(const TInputPattern& pattern)
{
    if (!HasNetwork())
        throw TAppError(QStringLiteral("Set up the network first"));
    const int count = Networks.front()->GetNeuronCount(0);
    if (size_t(count) > pattern.size())
        throw TAppError(QStringLiteral("The input pattern holds %1 values; the network needs %2")
                            .arg(pattern.size())
                            .arg(count));
    for (auto& network : Networks) {
        for (int j = 0; j < count; ++j)
            network->SetInput(0, uint16_t(j), pattern[size_t(j)]);
    }
}

int TMemoProcessor::FirstFreeSlot() const
{
    for (int slot = 0; slot < SlotCount && slot < TrainedList.size(); ++slot) {
        if (TrainedList[slot] == u"0")
            return slot;
    }
    return SlotCount;
}

int TMemoProcessor::UsedSlotCount() const
{
    int used = 0;
    for (int slot = 0; slot < SlotCount && slot < TrainedList.size(); ++slot) {
        if (TrainedList[slot] == u"1")
            ++used;
    }
    return used;
}

int TMemoProcessor::Memorise(const QString& name, const QString& path, const TInputPattern& pattern)
{
    if (!HasNetwork())
        throw TAppError(QStringLiteral("Set up the network first"));
    const int inputCount = Networks.front()->GetNeuronCount(0);
    if (size_t(inputCount) > pattern.size())
        throw TAppError(QStringLiteral("The input pattern holds %1 values; the network needs %2")
                            .arg(pattern.size())
                            .arg(inputCount));
    const int slot = FirstFreeSlot();
    if (slot >= SlotCount)
        return SlotCount;
    QStringList names = NameList, files = FileList, trained = TrainedList;
    names[slot] = name;
    files[slot] = path;
    trained[slot] = QStringLiteral("1");
    if (SaveSlotFilesOnMemorise) {
        const QString refusal = LockSlotFolder();
        if (!refusal.isEmpty())
            throw TAppError(refusal);
        SaveSlotFiles(names, files, trained);
    }
    // The files are safe: only now does the memorise take the slot.
    NameList = std::move(names);
    FileList = std::move(files);
    TrainedList = std::move(trained);
    if (Patterns.size() != size_t(SlotCount))
        Patterns.resize(SlotCount);
    Patterns[size_t(slot)] = PatternBytes(TInputPattern(pattern.begin(), pattern.begin() + inputCount));
    const int outputCount = Networks.front()->GetNeuronCount(1);
    if (!RehearseOnMemorise) {
        FeedPattern(pattern);
        for (auto& network : Networks) {
            for (int l = 0; l < outputCount; ++l)
                network->SetTarget(1, uint16_t(l), l == slot ? TargetOfSlot : TargetOfOthers);
            network->Train(false);
        }
        rehearsal.Forget();
        LastRehearsal = TRehearsalResult();
        return slot;
    }
    // The network learns the whole values the slot keeps, so that rehearsing them later repeats exactly
    // this training.
    const std::vector<TRehearsalItem> items = RehearsalItemsOf(NameList, TrainedList, Patterns, outputCount);
    // The new slot's item comes after one item for each used slot with a pattern before it.
    int newItem = 0;
    for (int i = 0; i < slot; ++i)
        newItem += TrainedList[i] == u"1" && !Patterns[size_t(i)].empty();
    for (auto& network : Networks)
        LastRehearsal = rehearsal.TrainAndRehearse(*network, items, size_t(newItem), RehearsalPasses);
    return slot;
}

std::vector<float> TMemoProcessor::TargetsOf(
    int slot, int outputCount, const QStringList& names, const QStringList& trained)
{
    std::vector<float> targets(size_t(std::max(outputCount, 0)), TargetOfOthers);
    const QString name = slot >= 0 && slot < names.size() ? TrimControl(names[slot]) : QString();
    for (int other = 0; other < outputCount; ++other) {
        if (other == slot
            || (other < names.size() && other < trained.size() && trained[other] == u"1"
                && TrimControl(names[other]) == name && !name.isEmpty()))
            targets[size_t(other)] = TargetOfSlot;
    }
    return targets;
}

std::vector<TRehearsalItem> TMemoProcessor::RehearsalItemsOf(const QStringList& names,
    const QStringList& trained, const std::vector<TPatternBytes>& patterns, int outputCount)
{
    std::vector<TRehearsalItem> items;
    for (int i = 0; i < SlotCount && i < trained.size() && size_t(i) < patterns.size(); ++i) {
        if (trained[i] == u"1" && !patterns[size_t(i)].empty())
            items.push_back({ patterns[size_t(i)], TargetsOf(i, outputCount, names, trained) });
    }
    return items;
}

std::vector<int> TMemoProcessor::SlotsWithoutPattern() const
{
    std::vector<int> missing;
    for (int i = 0; i < SlotCount && i < TrainedList.size(); ++i) {
        if (TrainedList[i] == u"1" && (size_t(i) >= Patterns.size() || Patterns[size_t(i)].empty()))
            missing.push_back(i);
    }
    return missing;
}

int TMemoProcessor::ChooseBestSlot(const std::vector<float>& outputs, const QStringList& trainedList)
{
    int best = -1;
    float maximum = 0.0f;
    const int count
        = std::min<int>(SlotCount, int(std::min<size_t>(outputs.size(), size_t(trainedList.size()))));
    for (int i = 0; i < count; ++i) {
        if (trainedList[i] != u"1")
            continue;
        if (best < 0)
            best = i; // the first used slot stands when no output is above 0.0
        if (outputs[size_t(i)] > maximum) {
            maximum = outputs[size_t(i)];
            best = i;
        }
    }
    return best;
}

TMemoProcessor::TRecognition TMemoProcessor::Recognise(const TInputPattern& pattern)
{
    if (!HasNetwork())
        throw TAppError(QStringLiteral("Set up the network first"));
    TRecognition result;
    if (UsedSlotCount() == 0)
        return result;
    const int outputCount = Networks.front()->GetNeuronCount(1);
    result.Outputs.assign(size_t(outputCount), 0.0f);
    FeedPattern(pattern);
    for (auto& network : Networks) {
        network->Propagate();
        for (int k = 0; k < outputCount; ++k)
            result.Outputs[size_t(k)] = network->GetOutput(1, uint16_t(k));
    }
    const int best = ChooseBestSlot(result.Outputs, TrainedList);
    result.Found = best >= 0;
    result.BestSlot = std::max(best, 0);
    return result;
}

void TMemoProcessor::SaveSlotFiles() const
{
    SaveSlotFiles(NameList, FileList, TrainedList);
}

void TMemoProcessor::SaveSlotFiles(
    const QStringList& names, const QStringList& files, const QStringList& trained) const
{
    const QByteArray contents[]
        = { SlotFileContent(names), SlotFileContent(files), SlotFileContent(trained) };
    std::vector<TFileWrite> writes;
    for (int i = 0; i < 3; ++i)
        writes.push_back({ StateFilePrefix + SlotFileNames[i], { PieceOf(contents[i]) } });
    WriteFilesAtomically(writes, StateFilePrefix + SlotJournalName);
}

QString TMemoProcessor::FormatElapsed(std::chrono::nanoseconds elapsed)
{
    using namespace std::chrono;
    if (elapsed.count() < 0)
        elapsed = nanoseconds(0);
    const qint64 totalMs = duration_cast<milliseconds>(elapsed).count();
    const qint64 hours = totalMs / 3600000;
    const int minutes = int(totalMs / 60000 % 60);
    const int seconds = int(totalMs / 1000 % 60);
    const int ms = int(totalMs % 1000);
    return QStringLiteral("%1:%2:%3.%4")
        .arg(hours)
        .arg(minutes, 2, 10, QLatin1Char('0'))
        .arg(seconds, 2, 10, QLatin1Char('0'))
        .arg(ms, 3, 10, QLatin1Char('0'));
}
