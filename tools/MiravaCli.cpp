// mirava-cli: Mirava's sampling, memorise and recognise steps from the command line.
//
//   mirava-cli pattern FILE                  the 10000 grey values of a picture, 100 to a line
//   mirava-cli eval GALLERY PROBES [--json] [--seed N]
//                                            memorise the first picture of every person in GALLERY,
//                                            recognise every picture in PROBES, report the accuracy
//   mirava-cli memorise --memory FILE [--seed N] NAME PICTURE
//   mirava-cli recognise --memory FILE PICTURE [--json]
//   mirava-cli memory FILE [--json]           the same memory files as the window's Save and Open
//
// The person pictured is the file name up to its first "_" or "." ("anna_2.bmp" shows anna). The tool uses
// TMemoProcessor, the same code that runs the window's commands, and writes no slot files.
//
// Every entry of PROBES named like a picture is a probe: read, or counted as unreadable with its reason (a
// named pipe, a folder, a link to a device, a damaged file). Paths are used as the file system's own bytes,
// so names that are not valid UTF-8 are read too; in the output a name's control characters and bytes that
// are not UTF-8 are escaped (\n, \t, \xHH, and \\ for a backslash), so each probe keeps to one line.

#include "app/CommandLine.h"
#include "app/FolderListing.h"
#include "app/MemoProcessor.h"
#include "app/MemoryFolderLock.h"
#include "app/MemoryFile.h"
#include "app/TextFiles.h"
#include "network/NeuralNetwork.h"
#include "pictures/PictureDecoder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <exception>
#include <fcntl.h>
#include <map>
#include <optional>
#include <pthread.h>
#include <set>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

constexpr int ExitFailure = 1; // a folder, a picture or the network failed
constexpr int ExitUsage = 2; // the command line itself is wrong

const char* const UsageText
    = "usage: mirava-cli pattern FILE\n"
      "       mirava-cli eval GALLERY PROBES [--json] [--seed N]\n"
      "\n"
      "pattern  prints the 10000 grey values that Mirava samples from FILE (.bmp or .jpg),\n"
      "         100 values to a line, top row first\n"
      "eval     sets up the network, memorises the first picture of every person in the\n"
      "         folder GALLERY, recognises every picture in the folder PROBES and prints one\n"
      "         line per probe and a summary; --json prints the same as one JSON object.\n"
      "         The person pictured is the file name up to its first \"_\" or \".\".\n"
      "         The network's random start weights are drawn from seed N (default 1),\n"
      "         so that a run can be repeated; the window seeds them from the clock.\n"
      "\n"
      "       mirava-cli memorise --memory FILE [--seed N] NAME PICTURE\n"
      "       mirava-cli recognise --memory FILE PICTURE [--json]\n"
      "       mirava-cli memory FILE [--json]\n"
      "\n"
      "memorise   opens the memory file FILE (.mmem, as the window's Save writes it), or sets up a\n"
      "           new network when FILE does not exist (start weights from seed N when given;\n"
      "           a FILE that exists keeps its network and N is not used),\n"
      "           memorises PICTURE under NAME in the first free slot, writes FILE back and\n"
      "           prints the slot number; a memory with all 20 slots used is an error\n"
      "recognise  prints the name that the memory in FILE recognises in PICTURE; --json prints\n"
      "           slot, name, picture and the 20 outputs as one JSON object\n"
      "memory     lists the used slots of FILE (slot, name, picture) without changing it\n"
      "Exit status: 0 done, 1 a file or picture problem (FILE is then unchanged), 2 a wrong\n"
      "command line.\n";

int UsageError(const QString& message)
{
    std::fprintf(stderr, "mirava-cli: %s\n%s", qPrintable(message), UsageText);
    return ExitUsage;
}

// Ctrl+C, a hang-up or a termination request during eval: the loops stop at the next picture and the
// network is destroyed normally, so that its temporary store file does not stay behind.
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void OnStopSignal(int signal)
{
    stopSignal = signal;
}

struct TStopped
{
    int signal;
};

// Catches the stop signals, and unblocks them in case the parent started the tool with them blocked.
void WatchStopSignals()
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : { SIGINT, SIGTERM, SIGHUP }) {
        sigaction(signal, &action, nullptr);
        sigaddset(&stopSignals, signal);
    }
    pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
}

void StopWhenAsked()
{
    if (stopSignal != 0)
        throw TStopped { int(stopSignal) };
}

// Failures that end the command; the message is shown as it is.
class TCliError : public std::runtime_error
{
public:
    explicit TCliError(const QString& message)
        : std::runtime_error(message.toStdString())
    { }
};

QString PersonOf(const QString& fileName)
{
    qsizetype end = 0;
    while (end < fileName.size() && fileName[end] != u'_' && fileName[end] != u'.')
        ++end;
    return fileName.left(end);
}

// Escapes control characters (C0, DEL and C1) as \n, \r, \t or \xHH of their UTF-8 bytes; with
// `doubleBackslash` a backslash is written twice, so that no two different texts look alike.
QString EscapeControls(const QString& text, bool doubleBackslash)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\n')
            shown += QLatin1String("\\n");
        else if (u == u'\r')
            shown += QLatin1String("\\r");
        else if (u == u'\t')
            shown += QLatin1String("\\t");
        else if (u < 0x20 || u == 0x7F)
            shown += QString::asprintf("\\x%02X", unsigned(u));
        else if (u >= 0x80 && u <= 0x9F)
            shown += QString::asprintf("\\x%02X\\x%02X", 0xC0 | (u >> 6), 0x80 | (u & 0x3F));
        else if (u == u'\\' && doubleBackslash)
            shown += QLatin1String("\\\\");
        else
            shown += c;
    }
    return shown;
}

// A message as printed: on one line.
QString OneLine(const QString& message)
{
    return EscapeControls(message, false);
}

// A file name as printed: valid UTF-8 as it is, each byte that is not part of valid UTF-8 as \xHH, and
// control characters and backslashes escaped. Different names always look different.
QString DisplayName(const QByteArray& raw)
{
    QString shown;
    qsizetype i = 0;
    while (i < raw.size()) {
        const auto lead = uchar(raw[i]);
        const qsizetype length = lead < 0x80 ? 1
            : lead >= 0xC2 && lead <= 0xDF   ? 2
            : lead >= 0xE0 && lead <= 0xEF   ? 3
            : lead >= 0xF0 && lead <= 0xF4   ? 4
                                             : 0;
        const QByteArrayView piece = QByteArrayView(raw).sliced(i, std::min(length, raw.size() - i));
        if (length == 0 || piece.size() < length || !piece.isValidUtf8()) {
            shown += QString::asprintf("\\x%02X", unsigned(lead));
            ++i;
            continue;
        }
        shown += EscapeControls(QString::fromUtf8(piece), true);
        i += length;
    }
    return shown;
}

// One file named like a picture in a folder given on the command line.
struct TCandidate
{
    QByteArray path; // the file system's own bytes
    QString name; // as printed (DisplayName)
    QString exactName; // the name itself when it is valid UTF-8, else the printed one (for JSON)
};

// Every entry of a folder named like a picture exactly as the window chooses them (not hidden, ".bmp" or
// ".jpg"), in the window's natural order of names, whatever kind of file it is: reading it says whether it
// is a picture.
std::vector<TCandidate> ListPictures(const QByteArray& folder, const char* role)
{
    const QString shown = OneLine(QFile::decodeName(folder));
    struct stat info = {};
    if (::stat(folder.constData(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            throw TCliError(QString("%1 folder \"%2\" does not exist").arg(role, shown));
        throw TCliError(QString("cannot read %1 folder \"%2\": %3").arg(role, shown, std::strerror(errno)));
    }
    if (!S_ISDIR(info.st_mode))
        throw TCliError(QString("%1 \"%2\" is not a folder").arg(role, shown));
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        throw TCliError(QString("cannot read %1 folder \"%2\": %3").arg(role, shown, std::strerror(errno)));
    QByteArray prefix = folder;
    if (!prefix.endsWith('/'))
        prefix += '/';
    std::map<QString, TCandidate> byName;
    QStringList names;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray raw(entry->d_name);
        if (raw.startsWith('.') || !HasPictureExtension(QFile::decodeName(raw)))
            continue;
        TCandidate candidate { prefix + raw, DisplayName(raw), QString() };
        candidate.exactName = QUtf8StringView(raw).isValidUtf8() ? QString::fromUtf8(raw) : candidate.name;
        names << candidate.name;
        byName.emplace(candidate.name, std::move(candidate));
    }
    const int readError = errno;
    ::closedir(dir);
    if (readError != 0)
        throw TCliError(
            QString("cannot read %1 folder \"%2\": %3").arg(role, shown, std::strerror(readError)));
    if (names.isEmpty())
        throw TCliError(QString("%1 folder \"%2\" holds no .bmp or .jpg pictures").arg(role, shown));
    SortNaturally(names);
    std::vector<TCandidate> candidates;
    for (const QString& name : names) {
        if (PersonOf(name).isEmpty())
            throw TCliError(QString(
                "cannot tell who is pictured in \"%1\": the file name must start with the person's name")
                                .arg(OneLine(QFile::decodeName(byName.at(name).path))));
        candidates.push_back(byName.at(name));
    }
    return candidates;
}

// The file a path leads to, to tell a probe that is a memorised picture itself (also through a link).
std::optional<std::pair<dev_t, ino_t>> FileIdentity(const QByteArray& path)
{
    struct stat info = {};
    if (::stat(path.constData(), &info) != 0)
        return std::nullopt;
    return std::pair { info.st_dev, info.st_ino };
}

double Milliseconds(TClock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

struct TTimes
{
    std::vector<double> ms;
    double Mean() const
    {
        double sum = 0;
        for (double t : ms)
            sum += t;
        return ms.empty() ? 0.0 : sum / double(ms.size());
    }
    // Nearest-rank percentile: the smallest time that at least p percent of the runs did not exceed.
    double Percentile(double p) const
    {
        if (ms.empty())
            return 0.0;
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        const auto rank = std::size_t(std::ceil(p / 100.0 * double(sorted.size())));
        return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
    }
};

// Progress on standard error: one line rewritten in place on a terminal, an occasional line otherwise.
class TProgress
{
public:
    TProgress(const char* what, int total)
        : what(what)
        , total(total)
        , terminal(isatty(fileno(stderr)) != 0)
    { }
    void Step(int done)
    {
        if (total < 10)
            return;
        if (terminal)
            std::fprintf(stderr, "\rmirava-cli: %s %d/%d", what, done, total);
        else if (done % 25 == 0 || done == total)
            std::fprintf(stderr, "mirava-cli: %s %d/%d\n", what, done, total);
        if (terminal && done == total)
            std::fprintf(stderr, "\n");
    }

private:
    const char* what;
    int total;
    bool terminal;
};

int RunPattern(const QByteArray& path)
{
    const TInputPattern pattern = SampleCorner(LoadPictureNative(path));
    QByteArray text;
    text.reserve(pattern.size() * 4);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        text += QByteArray::number(qRound(pattern[i]));
        text += (i + 1) % SampleSize == 0 ? '\n' : ' ';
    }
    std::fwrite(text.constData(), 1, std::size_t(text.size()), stdout);
    return std::fflush(stdout) == 0 ? 0 : ExitFailure;
}

struct TProbeResult
{
    QString file, jsonFile, expected, answered, error;
    float output = 0;
    double ms = 0;
    bool memorised = false; // the very picture that was memorised
    bool correct = false;
};

QString Percent(int part, int whole)
{
    return whole == 0 ? QString("-") : QString::number(100.0 * part / whole, 'f', 1) + " %";
}

int RunEval(const QByteArray& galleryFolder, const QByteArray& probeFolder, bool json, std::uint32_t seed)
{
    const std::vector<TCandidate> galleryFiles = ListPictures(galleryFolder, "gallery");
    const std::vector<TCandidate> probeFiles = ListPictures(probeFolder, "probe");
    const QString galleryShown = OneLine(QFile::decodeName(galleryFolder));

    // The first picture of every person, in the order of the file names.
    std::vector<TCandidate> memorised;
    std::set<QString> persons;
    for (const TCandidate& file : galleryFiles)
        if (persons.insert(PersonOf(file.name)).second)
            memorised.push_back(file);
    if (int(memorised.size()) > SlotCount)
        throw TCliError(QString("gallery folder \"%1\" shows %2 persons; Mirava can memorise at most %3")
                            .arg(galleryShown)
                            .arg(memorised.size())
                            .arg(SlotCount));

    // Read every gallery picture before the long set-up, so that a bad file stops the run at once.
    std::vector<QImage> galleryPictures;
    std::set<std::pair<dev_t, ino_t>> memorisedFiles;
    for (const TCandidate& file : memorised) {
        galleryPictures.push_back(LoadPictureNative(file.path));
        if (const auto identity = FileIdentity(file.path))
            memorisedFiles.insert(*identity);
    }

    TMemoProcessor processor;
    processor.SaveSlotFilesOnMemorise = false;
    std::fprintf(stderr, "mirava-cli: setting up the network\n");
    const auto setUpStart = TClock::now();
    StopWhenAsked();
    processor.SetUpNetwork();
    const double setUpMs = Milliseconds(TClock::now() - setUpStart);
    // Draw the start weights again from a known seed: every record is still free, so this replaces them all.
    for (const auto& network : processor.Networks) {
        network->SeedRandom(seed);
        network->RandomizeWeights();
    }

    // Memorise, timed like the window's command: sampling the shown picture, training once.
    TTimes memoriseTimes;
    TProgress memoriseProgress("memorising", int(memorised.size()));
    for (std::size_t i = 0; i < memorised.size(); ++i) {
        const auto start = TClock::now();
        const TInputPattern pattern = SampleCorner(galleryPictures[i]);
        const int slot
            = processor.Memorise(PersonOf(memorised[i].name), QFile::decodeName(memorised[i].path), pattern);
        memoriseTimes.ms.push_back(Milliseconds(TClock::now() - start));
        if (slot != int(i))
            throw TCliError(QString("memorising \"%1\" took slot %2 instead of %3")
                                .arg(OneLine(QFile::decodeName(memorised[i].path)))
                                .arg(slot)
                                .arg(i));
        memoriseProgress.Step(int(i + 1));
        StopWhenAsked();
    }

    // Each memorisation overwrites weights that earlier ones chose; ask again for the memorised pictures.
    int memorisedCorrect = 0;
    for (std::size_t i = 0; i < memorised.size(); ++i) {
        const auto answer = processor.Recognise(SampleCorner(galleryPictures[i]));
        if (answer.Found && answer.BestSlot == int(i))
            ++memorisedCorrect;
    }

    std::vector<TProbeResult> results;
    TTimes recogniseTimes;
    TProgress recogniseProgress("recognising", int(probeFiles.size()));
    int correct = 0, read = 0, unknownPersons = 0, memorisedProbes = 0, memorisedProbesCorrect = 0;
    for (const TCandidate& file : probeFiles) {
        TProbeResult result;
        result.file = file.name;
        result.jsonFile = file.exactName;
        result.expected = PersonOf(file.name);
        if (const auto identity = FileIdentity(file.path))
            result.memorised = memorisedFiles.contains(*identity);
        try {
            const QImage picture = LoadPictureNative(file.path);
            const auto start = TClock::now();
            const auto answer = processor.Recognise(SampleCorner(picture));
            result.ms = Milliseconds(TClock::now() - start);
            recogniseTimes.ms.push_back(result.ms);
            if (answer.Found) {
                result.answered = processor.NameList[answer.BestSlot];
                result.output = answer.Outputs[std::size_t(answer.BestSlot)];
            }
            result.correct = answer.Found && result.answered == result.expected;
            ++read;
            correct += result.correct;
            unknownPersons += !persons.contains(result.expected);
            if (result.memorised) {
                ++memorisedProbes;
                memorisedProbesCorrect += result.correct;
            }
        } catch (const TPictureError& e) {
            result.error = OneLine(QString::fromStdString(e.what()));
            std::fprintf(stderr, "mirava-cli: %s\n", qPrintable(result.error));
        }
        results.push_back(result);
        recogniseProgress.Step(int(results.size()));
        StopWhenAsked();
    }
    const int unreadable = int(results.size()) - read;
    const int fresh = read - memorisedProbes, freshCorrect = correct - memorisedProbesCorrect;

    if (json) {
        QJsonArray probes;
        for (const TProbeResult& r : results) {
            QJsonObject o { { "file", r.jsonFile }, { "expected", r.expected },
                { "memorised", r.memorised } };
            if (r.error.isEmpty()) {
                o.insert("answered", r.answered);
                o.insert("output", double(r.output));
                o.insert("time_ms", r.ms);
                o.insert("correct", r.correct);
            } else
                o.insert("error", r.error);
            probes.append(o);
        }
        auto times = [](const TTimes& t) {
            return QJsonObject { { "count", int(t.ms.size()) }, { "mean_ms", t.Mean() },
                { "p95_ms", t.Percentile(95) } };
        };
        const QJsonObject summary { { "persons", int(memorised.size()) }, { "probes", int(results.size()) },
            { "unreadable", unreadable }, { "probes_of_unknown_persons", unknownPersons },
            { "correct", correct }, { "accuracy", read ? double(correct) / read : 0.0 },
            { "fresh_probes", fresh }, { "fresh_correct", freshCorrect },
            { "fresh_accuracy", fresh ? double(freshCorrect) / fresh : 0.0 },
            { "memorised_correct", memorisedCorrect },
            { "memorised_accuracy", double(memorisedCorrect) / double(memorised.size()) },
            { "seed", qint64(seed) }, { "setup_ms", setUpMs }, { "memorise", times(memoriseTimes) },
            { "recognise", times(recogniseTimes) } };
        QJsonArray gallery;
        for (const TCandidate& m : memorised)
            gallery.append(m.exactName);
        const QJsonObject all { { "gallery", gallery }, { "probes", probes }, { "summary", summary } };
        std::printf("%s", QJsonDocument(all).toJson(QJsonDocument::Indented).constData());
    } else {
        std::printf("%-24s %-12s %-12s %8s %9s  %s\n", "probe", "expected", "answered", "output", "time ms",
            "result");
        for (const TProbeResult& r : results) {
            if (!r.error.isEmpty()) {
                std::printf("%-24s %-12s %-12s %8s %9s  unreadable\n", qPrintable(r.file),
                    qPrintable(r.expected), "-", "-", "-");
                continue;
            }
            std::printf("%-24s %-12s %-12s %8.3f %9.2f  %s%s\n", qPrintable(r.file), qPrintable(r.expected),
                qPrintable(r.answered.isEmpty() ? QString("-") : r.answered), double(r.output), r.ms,
                r.correct ? "ok" : "WRONG", r.memorised ? " (memorised)" : "");
        }
        std::printf("\npersons memorised: %d (first picture of each in %s)\n", int(memorised.size()),
            qPrintable(galleryShown));
        std::printf("probes: %d read, %d unreadable, %d of persons not memorised\n", read, unreadable,
            unknownPersons);
        std::printf("accuracy: %d/%d = %s\n", correct, read, qPrintable(Percent(correct, read)));
        std::printf("accuracy on probes not memorised: %d/%d = %s\n", freshCorrect, fresh,
            qPrintable(Percent(freshCorrect, fresh)));
        std::printf("accuracy of the memorised pictures themselves: %d/%d = %s\n", memorisedCorrect,
            int(memorised.size()), qPrintable(Percent(memorisedCorrect, int(memorised.size()))));
        std::printf("network set-up: %.1f ms (start weights from seed %u)\n", setUpMs, unsigned(seed));
        std::printf("memorise: mean %.2f ms, 95th percentile %.2f ms (%zu pictures)\n", memoriseTimes.Mean(),
            memoriseTimes.Percentile(95), memoriseTimes.ms.size());
        std::printf("recognise: mean %.2f ms, 95th percentile %.2f ms (%zu pictures)\n",
            recogniseTimes.Mean(), recogniseTimes.Percentile(95), recogniseTimes.ms.size());
    }
    if (std::fflush(stdout) != 0)
        return ExitFailure;
    return unreadable > 0 ? ExitFailure : 0;
}

// The memory-file commands: each reads FILE whole and checks it before using it, and writes it back (memorise
// only) atomically, so a failure leaves FILE as it was.
struct TMemoryArguments
{
    QString memory;
    bool json = false;
    std::optional<std::uint32_t> seed;
    QStringList operands;
};

void PrintJson(const QJsonObject& object)
{
    std::printf("%s", QJsonDocument(object).toJson(QJsonDocument::Indented).constData());
}

void PrintLine(const QString& text)
{
    std::printf("%s\n", text.toUtf8().constData());
}

TMemoProcessor& OpenMemory(TMemoProcessor& processor, const QString& file)
{
    processor.SaveSlotFilesOnMemorise = false;
    UseMemory(processor, ReadMemoryFile(file));
    return processor;
}

int RunMemorise(const TMemoryArguments& arguments)
{
    const QString& name = arguments.operands[0];
    const QString picturePath = QFileInfo(arguments.operands[1]).absoluteFilePath();
    const TInputPattern pattern = SampleCorner(LoadPicture(picturePath));
    const TMemoryFolderLock lock(arguments.memory, TMemoryFolderLock::DefaultWait, StopWhenAsked);
    TMemoryFolderLock::RemoveLeftovers(arguments.memory);
    TMemoProcessor processor;
    processor.SaveSlotFilesOnMemorise = false;
    const QFileInfo file(arguments.memory);
    if (file.exists() || file.isSymLink()) {
        OpenMemory(processor, arguments.memory);
        // The file's network keeps the weights it has; saying so beats dropping the option without a word.
        if (arguments.seed)
            std::fprintf(stderr, "mirava-cli: --seed %u not used: \"%s\" already holds a network\n",
                unsigned(*arguments.seed), qPrintable(OneLine(arguments.memory)));
    } else {
        processor.SetUpNetwork();
        if (arguments.seed) {
            processor.Networks.front()->SeedRandom(*arguments.seed);
            processor.Networks.front()->RandomizeWeights();
        }
    }
    if (processor.FirstFreeSlot() >= SlotCount)
        throw TCliError(QString("the memory in \"%1\" is full: all %2 slots are used")
                            .arg(arguments.memory)
                            .arg(SlotCount));
    StopWhenAsked();
    const int slot = processor.Memorise(name, picturePath, pattern);
    StopWhenAsked();
    SaveMemoryFile(arguments.memory, processor);
    std::printf("%d\n", slot);
    return std::fflush(stdout) == 0 ? 0 : ExitFailure;
}

int RunRecognise(const TMemoryArguments& arguments)
{
    const TInputPattern pattern = SampleCorner(LoadPicture(arguments.operands[0]));
    TMemoProcessor processor;
    OpenMemory(processor, arguments.memory);
    const TMemoProcessor::TRecognition result = processor.Recognise(pattern);
    if (!result.Found)
        throw TCliError(QString("nothing is memorised in \"%1\"").arg(arguments.memory));
    const int slot = result.BestSlot;
    if (arguments.json) {
        QJsonArray outputs;
        for (float output : result.Outputs)
            outputs.append(double(output));
        PrintJson(QJsonObject { { "slot", slot }, { "name", processor.NameList[slot] },
            { "picture", processor.FileList[slot] }, { "outputs", outputs } });
    } else {
        PrintLine(processor.NameList[slot]);
    }
    return std::fflush(stdout) == 0 ? 0 : ExitFailure;
}

int RunMemory(const TMemoryArguments& arguments)
{
    TMemoProcessor processor;
    OpenMemory(processor, arguments.operands[0]);
    QJsonArray usedSlots;
    for (int slot = 0; slot < SlotCount; ++slot) {
        if (processor.TrainedList[slot] != u"1")
            continue;
        if (arguments.json)
            usedSlots.append(QJsonObject { { "slot", slot }, { "name", processor.NameList[slot] },
                { "picture", processor.FileList[slot] } });
        else
            PrintLine(
                QString("%1\t%2\t%3").arg(slot).arg(processor.NameList[slot], processor.FileList[slot]));
    }
    if (arguments.json)
        PrintJson(QJsonObject { { "slots", usedSlots } });
    return std::fflush(stdout) == 0 ? 0 : ExitFailure;
}

// Runs memorise, recognise and memory; nothing for the other commands.
std::optional<int> RunMemoryCommand(const QString& command, const QList<QByteArray>& rawArgs)
{
    if (command != "memorise" && command != "recognise" && command != "memory")
        return std::nullopt;
    QStringList args;
    for (const QByteArray& arg : rawArgs)
        args << QFile::decodeName(arg);
    TMemoryArguments arguments;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == "--memory" && command != "memory") {
            if (i + 1 >= args.size() || args[i + 1].isEmpty())
                return UsageError("--memory wants a file");
            arguments.memory = args[++i];
        } else if (arg == "--json" && command != "memorise") {
            arguments.json = true;
        } else if (arg == "--seed" && command == "memorise") {
            bool ok = false;
            arguments.seed = i + 1 < args.size() ? args[++i].toUInt(&ok) : 0;
            if (!ok)
                return UsageError("--seed wants a whole number from 0 to 4294967295");
        } else if (arg.startsWith("--")) {
            return UsageError(QString("unknown option \"%1\" for %2").arg(arg, command));
        } else {
            arguments.operands << arg;
        }
    }
    if (command == "memorise") {
        if (arguments.memory.isEmpty())
            return UsageError("memorise wants --memory FILE");
        if (arguments.operands.size() != 2)
            return UsageError("memorise wants a name and a picture file");
        if (TrimControl(arguments.operands[0]).isEmpty())
            return UsageError("memorise wants a name that is not blank");
    } else if (command == "recognise") {
        if (arguments.memory.isEmpty())
            return UsageError("recognise wants --memory FILE");
        if (arguments.operands.size() != 1)
            return UsageError("recognise wants exactly one picture file");
    } else if (arguments.operands.size() != 1) {
        return UsageError("memory wants exactly one memory file");
    }
    try {
        WatchStopSignals();
        if (command == "memorise")
            return RunMemorise(arguments);
        if (command == "recognise")
            return RunRecognise(arguments);
        return RunMemory(arguments);
    } catch (const TStopped& stopped) {
        std::fprintf(stderr, "\nmirava-cli: stopped by signal %d; nothing was written\n", stopped.signal);
        return 128 + stopped.signal;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mirava-cli: %s\n", e.what());
        return ExitFailure;
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (const auto status = AnswerInfoOptions(argc, argv, QStringLiteral("mirava-cli"),
            QStringLiteral("Mirava's sampling, memorise and recognise steps from the command line."),
            QString::fromUtf8(UsageText)))
        return *status;
    // The arguments as the system gave them: a path that is not valid UTF-8 still names its file.
    QList<QByteArray> args;
    for (int i = 1; i < argc; ++i)
        args << QByteArray(argv[i]);
    if (args.isEmpty())
        return UsageError("no command given");
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::printf("%s", UsageText);
        return 0;
    }
    const QString command = OneLine(QFile::decodeName(args.takeFirst()));
    if (const std::optional<int> status = RunMemoryCommand(command, args))
        return *status;
    bool json = false;
    std::uint32_t seed = 1;
    QList<QByteArray> operands;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QByteArray& arg = args[i];
        if (arg == "--json" && command == "eval")
            json = true;
        else if (arg == "--seed" && command == "eval") {
            bool ok = false;
            seed = i + 1 < args.size() ? QString::fromLatin1(args[++i]).toUInt(&ok) : 0;
            if (!ok)
                return UsageError("--seed wants a whole number from 0 to 4294967295");
        } else if (arg.startsWith("--"))
            return UsageError(
                QString("unknown option \"%1\" for %2").arg(OneLine(QFile::decodeName(arg)), command));
        else
            operands << arg;
    }
    try {
        if (command == "pattern") {
            if (operands.size() != 1)
                return UsageError("pattern wants exactly one picture file");
            return RunPattern(operands[0]);
        }
        if (command == "eval") {
            if (operands.size() != 2)
                return UsageError("eval wants a gallery folder and a probe folder");
            WatchStopSignals();
            return RunEval(operands[0], operands[1], json, seed);
        }
        return UsageError(QString("unknown command \"%1\"").arg(command));
    } catch (const TStopped& stopped) {
        std::fprintf(stderr, "\nmirava-cli: stopped by signal %d\n", stopped.signal);
        return 128 + stopped.signal;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mirava-cli: %s\n", qPrintable(OneLine(QString::fromStdString(e.what()))));
        return ExitFailure;
    }
}
