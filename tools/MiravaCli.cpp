// mirava-cli: Mirava's sampling, memorise and recognise steps from the command line.
//
//   mirava-cli pattern FILE [--framing F] [--png OUT]
//                                            the 10000 grey values of a picture, 100 to a line
//   mirava-cli eval GALLERY PROBES [--json] [--seed N] [--framing F] [--per-person K] [--persons N]
//                                  [--no-rehearse] [--baseline nearest]
//                                            memorise the first pictures of every person in GALLERY,
//                                            recognise every picture in PROBES, report the accuracy
//   mirava-cli memorise --memory FILE [--seed N] [--framing F] NAME PICTURE
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
#include "app/MemoryFile.h"
#include "app/MemoryFolderLock.h"
#include "app/TextFiles.h"
#include "input/Framing.h"
#include "network/NeuralNetwork.h"
#include "pictures/PictureDecoder.h"

#include <QBuffer>
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
    = "usage: mirava-cli pattern FILE [--framing corner|fit|face] [--png OUT]\n"
      "       mirava-cli eval GALLERY PROBES [--json] [--seed N] [--framing corner|fit|face]\n"
      "                       [--per-person K] [--persons N] [--no-rehearse] [--baseline nearest]\n"
      "\n"
      "pattern  prints the 10000 grey values that Mirava samples from FILE (.bmp or .jpg),\n"
      "         100 values to a line, top row first; --png OUT writes them as a 100 x 100\n"
      "         grey picture instead\n"
      "--framing  how a picture becomes those values: corner (its top-left 100 x 100 pixels,\n"
      "         the default), fit (the whole picture scaled into the window), face (the face\n"
      "         found, aligned and evenly lit; the whole picture when no face is found)\n"
      "eval     sets up the network, memorises the first picture of every person in the\n"
      "         folder GALLERY, recognises every picture in the folder PROBES and prints one\n"
      "         line per probe and a summary; --json prints the same as one JSON object.\n"
      "         The person pictured is the file name up to its first \"_\" or \".\".\n"
      "         The network's random start weights are drawn from seed N (default 1),\n"
      "         so that a run can be repeated; the window seeds them from the clock.\n"
      "         --per-person K memorises the first K pictures of each person and --persons N\n"
      "         only the first N persons (their probes only), all within the 20 memory slots;\n"
      "         --no-rehearse trains\n"
      "         each memorised picture once and nothing else (no rehearsal of the others);\n"
      "         --baseline nearest also scores a nearest-neighbour match (Euclidean) on the same\n"
      "         patterns against the same memorised pictures.\n"
      "\n"
      "       mirava-cli memorise --memory FILE [--seed N] [--framing corner|fit|face] NAME PICTURE\n"
      "       mirava-cli recognise --memory FILE PICTURE [--json]\n"
      "       mirava-cli memory FILE [--json]\n"
      "\n"
      "memorise   opens the memory file FILE (.mmem, as the window's Save writes it), or sets up a\n"
      "           new network when FILE does not exist (start weights from seed N when given;\n"
      "           a FILE that exists keeps its network and N is not used),\n"
      "           memorises PICTURE under NAME in the first free slot, rehearses the others, writes\n"
      "           FILE back and prints the slot number; a memory with all 20 slots used is an error.\n"
      "           A new FILE frames its pictures by --framing (default corner); a FILE that exists\n"
      "           keeps the framing it has\n"
      "recognise  prints the name that the memory in FILE recognises in PICTURE, framed as the\n"
      "           memory frames its pictures; --json prints\n"
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

// The options of pattern and eval.
struct TEvalOptions
{
    bool json = false;
    std::uint32_t seed = 1;
    TFraming framing = TFraming::Corner;
    int perPerson = 1; // memorised pictures of each person
    int persons = 0; // the first this many persons of the gallery; 0: all
    bool rehearse = true;
    bool baselineNearest = false;
    QByteArray png; // pattern: write the window as a picture here
};

// A picture framed as the network sees it, or why it could not be read.
struct TFramed
{
    TFramedPicture picture;
    QString error;
};

TFramed FrameOrError(const TFramer& framer, const QByteArray& path, TFraming framing)
{
    TFramed framed;
    try {
        framed.picture = framer.FrameNativeFile(path, framing);
    } catch (const TPictureError& e) {
        framed.error = OneLine(QString::fromStdString(e.what()));
    }
    return framed;
}

// Notes of the framing (no face found, a missing landmark model) on standard error, each once.
void ReportNote(const TFramedPicture& picture, std::set<QString>& said, const QString& file)
{
    if (picture.Note.isEmpty())
        return;
    if (picture.Note == NoFaceFoundNote())
        std::fprintf(stderr, "mirava-cli: %s: %s\n", qPrintable(file), qPrintable(picture.Note));
    else if (said.insert(picture.Note).second)
        std::fprintf(stderr, "mirava-cli: %s\n", qPrintable(picture.Note));
}

int RunPattern(const QByteArray& path, const TEvalOptions& options)
{
    const TFramer framer;
    const TFramedPicture framed = framer.FrameNativeFile(path, options.framing);
    std::set<QString> said;
    ReportNote(framed, said, DisplayName(path));
    if (!options.png.isEmpty()) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!PatternImage(framed.Pattern).save(&buffer, "PNG"))
            throw TCliError(QStringLiteral("cannot make a PNG picture of the window"));
        WriteFileAtomically(QFile::decodeName(options.png), png);
        return 0;
    }
    const TInputPattern& pattern = framed.Pattern;
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
    QString file, jsonFile, expected, answered, nearest, error;
    float output = 0;
    double ms = 0;
    bool memorised = false; // the very picture that was memorised
    bool correct = false;
    bool nearestCorrect = false;
    bool faceFound = false;
};

QString Percent(int part, int whole)
{
    return whole == 0 ? QString("-") : QString::number(100.0 * part / whole, 'f', 1) + " %";
}

// The gallery pattern nearest to a pattern (Euclidean), the first of equally near ones.
size_t NearestOf(const std::vector<TInputPattern>& gallery, const TInputPattern& pattern)
{
    size_t best = 0;
    double bestDistance = -1.0;
    for (size_t g = 0; g < gallery.size(); ++g) {
        double distance = 0.0;
        for (size_t i = 0; i < pattern.size() && i < gallery[g].size(); ++i) {
            const double d = double(pattern[i]) - double(gallery[g][i]);
            distance += d * d;
        }
        if (bestDistance < 0.0 || distance < bestDistance) {
            bestDistance = distance;
            best = g;
        }
    }
    return best;
}

int RunEval(const QByteArray& galleryFolder, const QByteArray& probeFolder, const TEvalOptions& options)
{
    const std::vector<TCandidate> galleryFiles = ListPictures(galleryFolder, "gallery");
    const std::vector<TCandidate> probeFiles = ListPictures(probeFolder, "probe");
    const QString galleryShown = OneLine(QFile::decodeName(galleryFolder));

    // The first pictures of every person, in the order of the file names.
    std::vector<TCandidate> memorised;
    std::vector<QString> personOrder;
    std::map<QString, int> taken;
    for (const TCandidate& file : galleryFiles) {
        const QString person = PersonOf(file.name);
        if (!taken.contains(person)) {
            if (options.persons > 0 && int(personOrder.size()) >= options.persons)
                continue;
            personOrder.push_back(person);
        }
        if (taken[person] < options.perPerson) {
            ++taken[person];
            memorised.push_back(file);
        }
    }
    const std::set<QString> persons(personOrder.begin(), personOrder.end());
    if (int(memorised.size()) > SlotCount && options.perPerson == 1)
        throw TCliError(QString("gallery folder \"%1\" shows %2 persons; Mirava can memorise at most %3")
                            .arg(galleryShown)
                            .arg(persons.size())
                            .arg(SlotCount));
    if (int(memorised.size()) > SlotCount)
        throw TCliError(QString("gallery folder \"%1\" shows %2 persons, %3 pictures with up to %4 of each; "
                                "Mirava can memorise at most %5 (--persons N takes the first N persons only)")
                            .arg(galleryShown)
                            .arg(persons.size())
                            .arg(memorised.size())
                            .arg(options.perPerson)
                            .arg(SlotCount));

    // Frame every gallery picture before the long set-up, so that a bad file stops the run at once.
    const TFramer framer;
    std::set<QString> said;
    int facesFound = 0, fallbacks = 0;
    auto countFace = [&](const TFramedPicture& picture) {
        if (options.framing == TFraming::Face)
            (picture.FaceFound ? facesFound : fallbacks) += 1;
    };
    TTimes framingTimes;
    std::vector<TInputPattern> galleryPatterns;
    std::set<std::pair<dev_t, ino_t>> memorisedFiles;
    for (const TCandidate& file : memorised) {
        const auto start = TClock::now();
        const TFramedPicture framed = framer.FrameNativeFile(file.path, options.framing);
        framingTimes.ms.push_back(Milliseconds(TClock::now() - start));
        ReportNote(framed, said, file.name);
        countFace(framed);
        galleryPatterns.push_back(framed.Pattern);
        if (const auto identity = FileIdentity(file.path))
            memorisedFiles.insert(*identity);
        StopWhenAsked();
    }

    TMemoProcessor processor;
    processor.SaveSlotFilesOnMemorise = false;
    processor.Framing = options.framing;
    processor.RehearseOnMemorise = options.rehearse;
    std::fprintf(stderr, "mirava-cli: setting up the network\n");
    const auto setUpStart = TClock::now();
    StopWhenAsked();
    processor.SetUpNetwork();
    const double setUpMs = Milliseconds(TClock::now() - setUpStart);
    // Draw the start weights again from a known seed: every record is still free, so this replaces them all.
    for (const auto& network : processor.Networks) {
        network->SeedRandom(options.seed);
        network->RandomizeWeights();
    }
    processor.NetworkChanged();

    // Memorise, timed like the window's command once the picture is framed: the training and its rehearsal.
    TTimes memoriseTimes;
    int mostPasses = 0, lastPasses = 0;
    bool allConverged = true;
    TProgress memoriseProgress("memorising", int(memorised.size()));
    for (std::size_t i = 0; i < memorised.size(); ++i) {
        const auto start = TClock::now();
        const int slot = processor.Memorise(
            PersonOf(memorised[i].name), QFile::decodeName(memorised[i].path), galleryPatterns[i]);
        memoriseTimes.ms.push_back(Milliseconds(TClock::now() - start));
        if (slot != int(i))
            throw TCliError(QString("memorising \"%1\" took slot %2 instead of %3")
                                .arg(OneLine(QFile::decodeName(memorised[i].path)))
                                .arg(slot)
                                .arg(i));
        if (options.rehearse) {
            lastPasses = processor.LastRehearsal.Passes;
            mostPasses = std::max(mostPasses, lastPasses);
            allConverged = allConverged && processor.LastRehearsal.Converged;
        }
        memoriseProgress.Step(int(i + 1));
        StopWhenAsked();
    }

    // The memorised pictures asked again after all memorising.
    int memorisedCorrect = 0, nearestMemorisedCorrect = 0;
    for (std::size_t i = 0; i < memorised.size(); ++i) {
        // By name, as every answer: a person memorised twice may be answered by either slot.
        const auto answer = processor.Recognise(galleryPatterns[i]);
        if (answer.Found && processor.NameList[answer.BestSlot] == PersonOf(memorised[i].name))
            ++memorisedCorrect;
        const size_t nearest = NearestOf(galleryPatterns, galleryPatterns[i]);
        nearestMemorisedCorrect += PersonOf(memorised[nearest].name) == PersonOf(memorised[i].name);
    }

    std::vector<TProbeResult> results;
    TTimes recogniseTimes;
    const int considered
        = int(std::count_if(probeFiles.begin(), probeFiles.end(), [&](const TCandidate& file) {
              return options.persons == 0 || persons.contains(PersonOf(file.name));
          }));
    TProgress recogniseProgress("recognising", considered);
    int correct = 0, read = 0, unknownPersons = 0, memorisedProbes = 0, memorisedProbesCorrect = 0;
    int nearestCorrect = 0, nearestMemorisedProbesCorrect = 0;
    for (const TCandidate& file : probeFiles) {
        // With --persons, probes of the persons left out could never be answered right: they are left out
        // too.
        if (options.persons > 0 && !persons.contains(PersonOf(file.name)))
            continue;
        TProbeResult result;
        result.file = file.name;
        result.jsonFile = file.exactName;
        result.expected = PersonOf(file.name);
        if (const auto identity = FileIdentity(file.path))
            result.memorised = memorisedFiles.contains(*identity);
        const auto framingStart = TClock::now();
        const TFramed framed = FrameOrError(framer, file.path, options.framing);
        if (!framed.error.isEmpty()) {
            result.error = framed.error;
            std::fprintf(stderr, "mirava-cli: %s\n", qPrintable(result.error));
        } else {
            framingTimes.ms.push_back(Milliseconds(TClock::now() - framingStart));
            ReportNote(framed.picture, said, file.name);
            countFace(framed.picture);
            result.faceFound = framed.picture.FaceFound;
            const auto start = TClock::now();
            const auto answer = processor.Recognise(framed.picture.Pattern);
            result.ms = Milliseconds(TClock::now() - start);
            recogniseTimes.ms.push_back(result.ms);
            if (answer.Found) {
                result.answered = processor.NameList[answer.BestSlot];
                result.output = answer.Outputs[std::size_t(answer.BestSlot)];
            }
            result.correct = answer.Found && result.answered == result.expected;
            if (options.baselineNearest) {
                result.nearest = PersonOf(memorised[NearestOf(galleryPatterns, framed.picture.Pattern)].name);
                result.nearestCorrect = result.nearest == result.expected;
            }
            ++read;
            correct += result.correct;
            nearestCorrect += result.nearestCorrect;
            unknownPersons += !persons.contains(result.expected);
            if (result.memorised) {
                ++memorisedProbes;
                memorisedProbesCorrect += result.correct;
                nearestMemorisedProbesCorrect += result.nearestCorrect;
            }
        }
        results.push_back(result);
        recogniseProgress.Step(int(results.size()));
        StopWhenAsked();
    }
    const int unreadable = int(results.size()) - read;
    const int fresh = read - memorisedProbes, freshCorrect = correct - memorisedProbesCorrect;
    const int nearestFreshCorrect = nearestCorrect - nearestMemorisedProbesCorrect;
    const int gallerySize = int(memorised.size());

    if (options.json) {
        QJsonArray probes;
        for (const TProbeResult& r : results) {
            QJsonObject o { { "file", r.jsonFile }, { "expected", r.expected },
                { "memorised", r.memorised } };
            if (r.error.isEmpty()) {
                o.insert("answered", r.answered);
                o.insert("output", double(r.output));
                o.insert("time_ms", r.ms);
                o.insert("correct", r.correct);
                o.insert("face_found", r.faceFound);
                if (options.baselineNearest)
                    o.insert("nearest", r.nearest);
            } else
                o.insert("error", r.error);
            probes.append(o);
        }
        auto times = [](const TTimes& t) {
            return QJsonObject { { "count", int(t.ms.size()) }, { "mean_ms", t.Mean() },
                { "p95_ms", t.Percentile(95) } };
        };
        QJsonObject framing { { "mode", FramingName(options.framing) } };
        if (options.framing == TFraming::Face) {
            framing.insert("faces_found", facesFound);
            framing.insert("fallbacks", fallbacks);
        }
        QJsonObject summary { { "persons", int(persons.size()) }, { "memorised_pictures", gallerySize },
            { "per_person", options.perPerson }, { "probes", int(results.size()) },
            { "unreadable", unreadable }, { "probes_of_unknown_persons", unknownPersons },
            { "correct", correct }, { "accuracy", read ? double(correct) / read : 0.0 },
            { "fresh_probes", fresh }, { "fresh_correct", freshCorrect },
            { "fresh_accuracy", fresh ? double(freshCorrect) / fresh : 0.0 },
            { "memorised_correct", memorisedCorrect },
            { "memorised_accuracy", double(memorisedCorrect) / double(gallerySize) },
            { "seed", qint64(options.seed) }, { "setup_ms", setUpMs }, { "framing", framing },
            { "framing_time", times(framingTimes) }, { "memorise", times(memoriseTimes) },
            { "recognise", times(recogniseTimes) } };
        summary.insert("rehearsal",
            options.rehearse ? QJsonValue(QJsonObject {
                { "passes_last", lastPasses }, { "passes_most", mostPasses }, { "converged", allConverged } })
                             : QJsonValue(false));
        if (options.baselineNearest)
            summary.insert("baseline",
                QJsonObject { { "method", "nearest" },
                    { "fresh_accuracy", fresh ? double(nearestFreshCorrect) / fresh : 0.0 },
                    { "memorised_accuracy", double(nearestMemorisedCorrect) / double(gallerySize) } });
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
            std::printf("%-24s %-12s %-12s %8.3f %9.2f  %s%s%s\n", qPrintable(r.file), qPrintable(r.expected),
                qPrintable(r.answered.isEmpty() ? QString("-") : r.answered), double(r.output), r.ms,
                r.correct ? "ok" : "WRONG", r.memorised ? " (memorised)" : "",
                options.baselineNearest ? qPrintable(QString(" nearest: ") + r.nearest) : "");
        }
        std::printf("\npersons memorised: %d (%d pictures, the first %d of each in %s)\n",
            int(persons.size()), gallerySize, options.perPerson, qPrintable(galleryShown));
        std::printf("framing: %s", qPrintable(FramingName(options.framing)));
        if (options.framing == TFraming::Face)
            std::printf(
                " (a face found in %d pictures, the whole picture used in %d)", facesFound, fallbacks);
        std::printf("\nprobes: %d read, %d unreadable, %d of persons not memorised\n", read, unreadable,
            unknownPersons);
        std::printf("accuracy: %d/%d = %s\n", correct, read, qPrintable(Percent(correct, read)));
        std::printf("accuracy on probes not memorised: %d/%d = %s\n", freshCorrect, fresh,
            qPrintable(Percent(freshCorrect, fresh)));
        std::printf("accuracy of the memorised pictures themselves: %d/%d = %s\n", memorisedCorrect,
            gallerySize, qPrintable(Percent(memorisedCorrect, gallerySize)));
        if (options.baselineNearest)
            std::printf("nearest neighbour: probes not memorised %d/%d = %s, memorised pictures %d/%d = %s\n",
                nearestFreshCorrect, fresh, qPrintable(Percent(nearestFreshCorrect, fresh)),
                nearestMemorisedCorrect, gallerySize,
                qPrintable(Percent(nearestMemorisedCorrect, gallerySize)));
        if (options.rehearse)
            std::printf("rehearsal: %d passes after the last memorise, %d at most%s\n", lastPasses,
                mostPasses, allConverged ? "" : " (not every rehearsal reached its aim)");
        else
            std::printf("rehearsal: off (each memorise trains its picture once)\n");
        std::printf(
            "network set-up: %.1f ms (start weights from seed %u)\n", setUpMs, unsigned(options.seed));
        std::printf("framing: mean %.2f ms, 95th percentile %.2f ms (%zu pictures, decoding included)\n",
            framingTimes.Mean(), framingTimes.Percentile(95), framingTimes.ms.size());
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
    std::optional<TFraming> framing; // memorise into a new memory file
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

// A framing given for memorise into a memory file that frames its pictures otherwise.
struct TFramingConflict
{
    QString message;
};

// Reads a memory file into the processor. A memory of format 1 (saved before patterns were kept) gets the
// patterns of its slots from their pictures and is rehearsed over them, unless `rehearse` is false; the slots
// whose pictures no longer read are named on standard error.
TMemoProcessor& OpenMemory(TMemoProcessor& processor, const QString& file, bool rehearse = true)
{
    processor.SaveSlotFilesOnMemorise = false;
    TMemory memory = ReadMemoryFile(file);
    if (rehearse) {
        const std::vector<int> unread = CatchUpOldMemory(memory, TFramer());
        if (!unread.empty())
            std::fprintf(stderr, "mirava-cli: not rehearsed, as their pictures no longer read: %s\n",
                qPrintable(OneLine(SlotsText(memory.NameList, unread))));
    }
    UseMemory(processor, std::move(memory));
    return processor;
}

// The picture as the memory frames its pictures; a note of the framing goes to standard error.
TInputPattern FramedPattern(const QString& path, TFraming framing)
{
    const TFramedPicture framed = TFramer().FrameFile(path, framing);
    std::set<QString> said;
    ReportNote(framed, said, OneLine(path));
    return framed.Pattern;
}

int RunMemorise(const TMemoryArguments& arguments)
{
    const QString& name = arguments.operands[0];
    const QString picturePath = QFileInfo(arguments.operands[1]).absoluteFilePath();
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
        // A memory never mixes framings.
        if (arguments.framing && *arguments.framing != processor.Framing)
            throw TFramingConflict { QString(
                "the memory in \"%1\" frames its pictures by \"%2\"; --framing %3 "
                "is for a new memory file")
                                         .arg(OneLine(arguments.memory), FramingName(processor.Framing),
                                             FramingName(*arguments.framing)) };
    } else {
        processor.SetUpNetwork();
        processor.Framing = arguments.framing.value_or(TFraming::Corner);
        if (arguments.seed) {
            processor.Networks.front()->SeedRandom(*arguments.seed);
            processor.Networks.front()->RandomizeWeights();
            processor.NetworkChanged();
        }
    }
    if (processor.FirstFreeSlot() >= SlotCount)
        throw TCliError(QString("the memory in \"%1\" is full: all %2 slots are used")
                            .arg(arguments.memory)
                            .arg(SlotCount));
    const TInputPattern pattern = FramedPattern(picturePath, processor.Framing);
    StopWhenAsked();
    const int slot = processor.Memorise(name, picturePath, pattern);
    StopWhenAsked();
    SaveMemoryFile(arguments.memory, processor);
    std::printf("%d\n", slot);
    return std::fflush(stdout) == 0 ? 0 : ExitFailure;
}

int RunRecognise(const TMemoryArguments& arguments)
{
    TMemoProcessor processor;
    OpenMemory(processor, arguments.memory);
    const TInputPattern pattern = FramedPattern(arguments.operands[0], processor.Framing);
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
    OpenMemory(processor, arguments.operands[0], false);
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
        PrintJson(QJsonObject { { "framing", FramingName(processor.Framing) }, { "slots", usedSlots } });
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
        } else if (arg == "--framing" && command == "memorise") {
            arguments.framing = i + 1 < args.size() ? FramingFromName(args[++i]) : std::nullopt;
            if (!arguments.framing)
                return UsageError("--framing wants corner, fit or face");
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
    } catch (const TFramingConflict& conflict) {
        return UsageError(conflict.message);
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
    TEvalOptions options;
    QList<QByteArray> operands;
    auto wholeNumber = [](const QByteArray& text, int least, int most) -> std::optional<int> {
        bool ok = false;
        const int value = QString::fromLatin1(text).toInt(&ok);
        return ok && value >= least && value <= most ? std::optional<int>(value) : std::nullopt;
    };
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QByteArray& arg = args[i];
        const bool eval = command == "eval";
        const bool hasValue = i + 1 < args.size();
        if (arg == "--json" && eval)
            options.json = true;
        else if (arg == "--seed" && eval) {
            bool ok = false;
            options.seed = hasValue ? QString::fromLatin1(args[++i]).toUInt(&ok) : 0;
            if (!ok)
                return UsageError("--seed wants a whole number from 0 to 4294967295");
        } else if (arg == "--framing" && (eval || command == "pattern")) {
            const std::optional<TFraming> framing
                = hasValue ? FramingFromName(QString::fromUtf8(args[++i])) : std::nullopt;
            if (!framing)
                return UsageError("--framing wants corner, fit or face");
            options.framing = *framing;
        } else if (arg == "--per-person" && eval) {
            const std::optional<int> k = hasValue ? wholeNumber(args[++i], 1, SlotCount) : std::nullopt;
            if (!k)
                return UsageError(QString("--per-person wants a whole number from 1 to %1").arg(SlotCount));
            options.perPerson = *k;
        } else if (arg == "--persons" && eval) {
            const std::optional<int> n = hasValue ? wholeNumber(args[++i], 1, SlotCount) : std::nullopt;
            if (!n)
                return UsageError(QString("--persons wants a whole number from 1 to %1").arg(SlotCount));
            options.persons = *n;
        } else if (arg == "--no-rehearse" && eval) {
            options.rehearse = false;
        } else if (arg == "--baseline" && eval) {
            if (!hasValue || args[++i] != "nearest")
                return UsageError("--baseline wants nearest");
            options.baselineNearest = true;
        } else if (arg == "--png" && command == "pattern") {
            if (!hasValue || args[i + 1].isEmpty())
                return UsageError("--png wants a file");
            options.png = args[++i];
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
            return RunPattern(operands[0], options);
        }
        if (command == "eval") {
            if (operands.size() != 2)
                return UsageError("eval wants a gallery folder and a probe folder");
            WatchStopSignals();
            return RunEval(operands[0], operands[1], options);
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
