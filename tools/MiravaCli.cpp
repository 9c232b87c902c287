// mirava-cli: Mirava's sampling, memorise and recognise steps from the command line.
//
//   mirava-cli pattern FILE                  the 10000 grey values of a picture, 100 to a line
//   mirava-cli eval GALLERY PROBES [--json] [--seed N]
//                                            memorise the first picture of every person in GALLERY,
//                                            recognise every picture in PROBES, report the accuracy
//
// The person pictured is the file name up to its first "_" or "." ("anna_2.bmp" shows anna). The tool uses
// TMemoProcessor, the same code that runs the window's commands, and writes no slot files.

#include "app/FolderListing.h"
#include "app/MemoProcessor.h"
#include "network/NeuralNetwork.h"
#include "pictures/PictureDecoder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <exception>
#include <pthread.h>
#include <set>
#include <signal.h>
#include <unistd.h>
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
      "         so that a run can be repeated; the window seeds them from the clock.\n";

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

// The pictures of a folder exactly as the window lists them (".bmp" and ".jpg", natural order of names).
QStringList ListPictures(const QString& folder, const char* role)
{
    const QFileInfo info(folder);
    if (!info.exists())
        throw TCliError(QString("%1 folder \"%2\" does not exist").arg(role, folder));
    if (!info.isDir())
        throw TCliError(QString("%1 \"%2\" is not a folder").arg(role, folder));
    if (!info.isReadable() || !info.isExecutable() || !QDir(folder).isReadable())
        throw TCliError(QString("cannot read %1 folder \"%2\"").arg(role, folder));
    const TFolderListing listing = ListPictureFolder(folder);
    if (listing.Files.isEmpty())
        throw TCliError(QString("%1 folder \"%2\" holds no .bmp or .jpg pictures").arg(role, folder));
    for (const QString& file : listing.Files)
        if (PersonOf(QFileInfo(file).fileName()).isEmpty())
            throw TCliError(
                QString("cannot tell who is pictured in \"%1\": the file name must start with the "
                        "person's name")
                    .arg(file));
    return listing.Files;
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

int RunPattern(const QString& path)
{
    const TInputPattern pattern = TMemoProcessor::BuildInputPattern(LoadPicture(path));
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
    QString file, expected, answered, error;
    float output = 0;
    double ms = 0;
    bool memorised = false; // the very picture that was memorised
    bool correct = false;
};

QString Percent(int part, int whole)
{
    return whole == 0 ? QString("-") : QString::number(100.0 * part / whole, 'f', 1) + " %";
}

int RunEval(const QString& galleryFolder, const QString& probeFolder, bool json, std::uint32_t seed)
{
    QFileInfoList galleryFiles, probeFiles;
    for (const QString& path : ListPictures(galleryFolder, "gallery"))
        galleryFiles << QFileInfo(path);
    for (const QString& path : ListPictures(probeFolder, "probe"))
        probeFiles << QFileInfo(path);

    // The first picture of every person, in the order of the file names.
    std::vector<QFileInfo> memorised;
    std::set<QString> persons;
    for (const QFileInfo& file : galleryFiles)
        if (persons.insert(PersonOf(file.fileName())).second)
            memorised.push_back(file);
    if (int(memorised.size()) > SlotCount)
        throw TCliError(QString("gallery folder \"%1\" shows %2 persons; Mirava can memorise at most %3")
                            .arg(galleryFolder)
                            .arg(memorised.size())
                            .arg(SlotCount));

    // Read every gallery picture before the long set-up, so that a bad file stops the run at once.
    std::vector<QImage> galleryPictures;
    for (const QFileInfo& file : memorised)
        galleryPictures.push_back(LoadPicture(file.filePath()));

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
        const TInputPattern pattern = TMemoProcessor::BuildInputPattern(galleryPictures[i]);
        const int slot
            = processor.Memorise(PersonOf(memorised[i].fileName()), memorised[i].filePath(), pattern);
        memoriseTimes.ms.push_back(Milliseconds(TClock::now() - start));
        if (slot != int(i))
            throw TCliError(QString("memorising \"%1\" took slot %2 instead of %3")
                                .arg(memorised[i].filePath())
                                .arg(slot)
                                .arg(i));
        memoriseProgress.Step(int(i + 1));
        StopWhenAsked();
    }

    // Each memorisation overwrites weights that earlier ones chose; ask again for the memorised pictures.
    int memorisedCorrect = 0;
    for (std::size_t i = 0; i < memorised.size(); ++i) {
        const auto answer = processor.Recognise(TMemoProcessor::BuildInputPattern(galleryPictures[i]));
        if (answer.Found && answer.BestSlot == int(i))
            ++memorisedCorrect;
    }

    std::vector<TProbeResult> results;
    TTimes recogniseTimes;
    TProgress recogniseProgress("recognising", int(probeFiles.size()));
    int correct = 0, read = 0, unknownPersons = 0, memorisedProbes = 0, memorisedProbesCorrect = 0;
    for (const QFileInfo& file : probeFiles) {
        TProbeResult result;
        result.file = file.fileName();
        result.expected = PersonOf(file.fileName());
        for (const QFileInfo& m : memorised)
            result.memorised = result.memorised || m.canonicalFilePath() == file.canonicalFilePath();
        try {
            const QImage picture = LoadPicture(file.filePath());
            const auto start = TClock::now();
            const auto answer = processor.Recognise(TMemoProcessor::BuildInputPattern(picture));
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
            result.error = QString::fromStdString(e.what());
            std::fprintf(stderr, "mirava-cli: %s\n", e.what());
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
            QJsonObject o { { "file", r.file }, { "expected", r.expected }, { "memorised", r.memorised } };
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
        for (const QFileInfo& m : memorised)
            gallery.append(m.fileName());
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
            qPrintable(galleryFolder));
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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return UsageError("no command given");
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::printf("%s", UsageText);
        return 0;
    }
    const QString command = args.takeFirst();
    bool json = false;
    std::uint32_t seed = 1;
    QStringList operands;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == "--json" && command == "eval")
            json = true;
        else if (arg == "--seed" && command == "eval") {
            bool ok = false;
            seed = i + 1 < args.size() ? args[++i].toUInt(&ok) : 0;
            if (!ok)
                return UsageError("--seed wants a whole number from 0 to 4294967295");
        } else if (arg.startsWith("--"))
            return UsageError(QString("unknown option \"%1\" for %2").arg(arg, command));
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
        std::fprintf(stderr, "mirava-cli: %s\n", e.what());
        return ExitFailure;
    }
}
