// How well each framing and lighting lets pictures of one person find each other, without the network: a
// nearest-neighbour classifier (Euclidean distance between the 10000 values) on the real photographs of
// MIRAVA_TESTDATA/faces-real (else ../shared/testdata beside the repository). For each collection the
// gallery is the first picture of each person (file names in natural order: s01_2 before s01_10), the
// probes are all the others. Prints one table; takes a minute or two.
//
//   mirava_framing_accuracy [--only TEXT] [COLLECTION...]   (default: faces94 yale; --only: the rows whose
//                                                           name holds TEXT)

#include "input/Framing.h"

#include <QCollator>
#include <QCoreApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <map>

namespace {

struct TConfiguration
{
    QString Name;
    TFraming Framing;
    TFramingOptions Options;
};

struct TPicture
{
    QString Person;
    QString Path;
};

// The pictures of a folder in natural order, each with its person (the file name up to its first "_").
std::vector<TPicture> Pictures(const QString& folder)
{
    QStringList names
        = QDir(folder).entryList({ QStringLiteral("*.jpg"), QStringLiteral("*.bmp") }, QDir::Files);
    QCollator collator;
    collator.setNumericMode(true);
    std::sort(names.begin(), names.end(), collator);
    std::vector<TPicture> pictures;
    for (const QString& name : names)
        pictures.push_back({ name.section(u'_', 0, 0), folder + u'/' + name });
    return pictures;
}

double Distance(const TInputPattern& a, const TInputPattern& b)
{
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += double(a[i] - b[i]) * double(a[i] - b[i]);
    return sum;
}

struct TScore
{
    int Right = 0, Probes = 0, NoFace = 0;
};

TScore Score(const std::vector<TPicture>& pictures, const TConfiguration& configuration)
{
    const TFramer framer(nullptr, configuration.Options);
    // Two threads frame the pictures; the framer allows it.
    std::vector<TFramedPicture> framed(pictures.size());
    const auto frameEvery = [&](size_t first) {
        for (size_t i = first; i < pictures.size(); i += 2)
            framed[i] = framer.FrameFile(pictures[i].Path, configuration.Framing);
    };
    auto other = std::async(std::launch::async, frameEvery, 1);
    frameEvery(0);
    other.get();

    TScore score;
    std::map<QString, size_t> gallery;
    for (size_t i = 0; i < pictures.size(); ++i) {
        gallery.try_emplace(pictures[i].Person, i);
        if (configuration.Framing == TFraming::Face && !framed[i].FaceFound)
            ++score.NoFace;
    }
    for (size_t i = 0; i < pictures.size(); ++i) {
        if (gallery.at(pictures[i].Person) == i)
            continue;
        const QString* nearest = nullptr;
        double best = 0;
        for (const auto& [person, index] : gallery) {
            const double distance = Distance(framed[i].Pattern, framed[index].Pattern);
            if (!nearest || distance < best) {
                nearest = &person;
                best = distance;
            }
        }
        ++score.Probes;
        if (*nearest == pictures[i].Person)
            ++score.Right;
    }
    return score;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList collections = app.arguments().mid(1);
    QString only;
    if (collections.size() >= 2 && collections.front() == QStringLiteral("--only")) {
        only = collections[1];
        collections = collections.mid(2);
    }
    if (collections.isEmpty())
        collections = { QStringLiteral("faces94"), QStringLiteral("yale") };
    const char* root = std::getenv("MIRAVA_TESTDATA");
    const QString folder = QString::fromLocal8Bit(root && *root ? root : MIRAVA_BENCH_TESTDATA)
        + QStringLiteral("/faces-real/");

    std::vector<TConfiguration> configurations { { QStringLiteral("corner"), TFraming::Corner, {} },
        { QStringLiteral("fit"), TFraming::Fit, {} } };
    for (const TLighting lighting : { TLighting::None, TLighting::Equalise, TLighting::Clahe,
             TLighting::Contrast, TLighting::Bandpass }) {
        TFramingOptions options;
        options.Lighting = lighting;
        configurations.push_back(
            { QStringLiteral("face, ") + LightingName(lighting), TFraming::Face, options });
    }
    for (const double padding : { 0.0, 0.1, 0.2, 0.3 }) {
        TFramingOptions options;
        options.FacePadding = padding;
        configurations.push_back(
            { QStringLiteral("face, %1, padding %2").arg(LightingName(options.Lighting)).arg(padding),
                TFraming::Face, options });
    }

    std::printf("| framing | %s |\n|---|%s\n", qPrintable(collections.join(QStringLiteral(" | "))),
        qPrintable(QStringLiteral("---|").repeated(collections.size())));
    std::map<QString, std::vector<TPicture>> pictures;
    for (const QString& collection : collections) {
        pictures[collection] = Pictures(folder + collection);
        if (pictures[collection].empty()) {
            std::fprintf(stderr, "No pictures in %s\n", qPrintable(folder + collection));
            return 1;
        }
    }
    for (const TConfiguration& configuration : configurations) {
        if (!configuration.Name.contains(only))
            continue;
        QString line = QStringLiteral("| ") + configuration.Name + QStringLiteral(" |");
        for (const QString& collection : collections) {
            const TScore score = Score(pictures[collection], configuration);
            line += QStringLiteral(" %1/%2 = %3 %")
                        .arg(score.Right)
                        .arg(score.Probes)
                        .arg(100.0 * score.Right / score.Probes, 0, 'f', 1);
            if (score.NoFace)
                line += QStringLiteral(" (%1 without a face)").arg(score.NoFace);
            line += QStringLiteral(" |");
        }
        std::printf("%s\n", qPrintable(line));
        std::fflush(stdout);
    }
    return 0;
}
