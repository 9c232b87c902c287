// mirava-cli, run as a program: argument errors, the sampled values of pictures whose grey values are known,
// and eval on small sets of pictures.

#include "ToolRunner.h"
#include "support/RawFileRemoval.h"
#include "support/SpecialFiles.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

QString WritePicture(const QString& path, int width, int height, QColor colour)
{
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(colour);
    EXPECT_TRUE(image.save(path)) << path.toStdString();
    return path;
}

// The private folder of the network's store inside a temporary folder.
QString StoreFolder(const QString& temp)
{
    return temp + QStringLiteral("/mirava-%1").arg(::geteuid());
}

QString WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

// The values printed by "pattern", row by row; fails the test when the shape is not 100 lines of 100.
std::vector<std::vector<int>> PatternRows(const TToolRun& run)
{
    std::vector<std::vector<int>> rows;
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines.size(), 100);
    for (const QString& line : lines) {
        std::vector<int> row;
        for (const QString& value : line.split(' ', Qt::SkipEmptyParts)) {
            bool ok = false;
            row.push_back(value.toInt(&ok));
            EXPECT_TRUE(ok) << value.toStdString();
        }
        EXPECT_EQ(row.size(), 100u);
        rows.push_back(row);
    }
    return rows;
}

TEST(CliArguments, BadCommandLinesExitWithUsage)
{
    const QList<QStringList> bad = { {}, { "recognise", "x" }, { "pattern" }, { "pattern", "a.bmp", "b.bmp" },
        { "eval", "onlyone" }, { "eval", "a", "b", "c" }, { "eval", "a", "b", "--jsn" },
        { "pattern", "a.bmp", "--json" }, { "eval", "a", "b", "--seed", "x" }, { "eval", "a", "b", "--seed" },
        { "eval", "a", "b", "--framing", "middle" }, { "pattern", "a.bmp", "--framing" },
        { "eval", "a", "b", "--per-person", "0" }, { "eval", "a", "b", "--per-person", "21" },
        { "eval", "a", "b", "--persons", "x" }, { "eval", "a", "b", "--baseline", "eigenfaces" },
        { "pattern", "a.bmp", "--png" }, { "eval", "a", "b", "--png", "x.png" },
        { "pattern", "a.bmp", "--no-rehearse" }, { "memory", "a.mmem", "--framing", "fit" } };
    for (const QStringList& args : bad) {
        const TToolRun run = RunCli(args);
        EXPECT_EQ(run.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains("usage: mirava-cli")) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
    const TToolRun help = RunCli({ "--help" });
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("mirava-cli eval GALLERY PROBES [--json]"));
}

TEST(CliPattern, FlatGreyGivesItsValueEverywhere)
{
    QTemporaryDir dir;
    const TToolRun run
        = RunCli({ "pattern", WritePicture(dir.filePath("grey.bmp"), 100, 100, QColor(77, 77, 77)) });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    for (const auto& row : PatternRows(run))
        for (int v : row)
            ASSERT_EQ(v, 77);
}

TEST(CliPattern, GreyIsTheTruncatedMeanInRowOrder)
{
    QTemporaryDir dir;
    QImage image(100, 100, QImage::Format_RGB888);
    image.fill(Qt::white);
    image.setPixelColor(0, 0, QColor(255, 0, 1)); // 256 div 3
    image.setPixelColor(1, 0, QColor(1, 1, 0)); // 2 div 3
    image.setPixelColor(0, 1, QColor(10, 20, 31)); // first value of the second line
    image.setPixelColor(99, 99, QColor(3, 3, 3));
    ASSERT_TRUE(image.save(dir.filePath("dots.bmp")));
    const TToolRun run = RunCli({ "pattern", dir.filePath("dots.bmp") });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const auto rows = PatternRows(run);
    ASSERT_EQ(rows.size(), 100u);
    EXPECT_EQ(rows[0][0], 85);
    EXPECT_EQ(rows[0][1], 0);
    EXPECT_EQ(rows[1][0], 20);
    EXPECT_EQ(rows[99][99], 3);
    EXPECT_EQ(rows[0][2], 255);
    EXPECT_EQ(rows[1][1], 255);
}

TEST(CliPattern, OnlyTheTopLeftWindowCountsAndMissingPixelsAre255)
{
    QTemporaryDir dir;
    // 60 wide, 30 high: each of the first 30 rows has 60 picture values and 40 of 255; the rest is all 255.
    const TToolRun narrow
        = RunCli({ "pattern", WritePicture(dir.filePath("narrow.bmp"), 60, 30, QColor(40, 40, 40)) });
    ASSERT_EQ(narrow.exitCode, 0) << narrow.err.toStdString();
    const auto rows = PatternRows(narrow);
    ASSERT_EQ(rows.size(), 100u);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(rows[y][x], x < 60 && y < 30 ? 40 : 255) << x << "," << y;

    // 120 x 120: what lies right of or below the window has no influence.
    QImage large(120, 120, QImage::Format_RGB888);
    large.fill(QColor(0, 0, 0));
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            large.setPixelColor(x, y, QColor(50, 50, 50));
    ASSERT_TRUE(large.save(dir.filePath("large.bmp")));
    const TToolRun big = RunCli({ "pattern", dir.filePath("large.bmp") });
    ASSERT_EQ(big.exitCode, 0) << big.err.toStdString();
    for (const auto& row : PatternRows(big))
        for (int v : row)
            ASSERT_EQ(v, 50);
}

// "fit" scales the whole picture into the window with 255 around it; --png writes the window as a picture.
TEST(CliPattern, FitFramingAndThePngOfTheWindow)
{
    QTemporaryDir dir;
    const QString wide = WritePicture(dir.filePath("wide.bmp"), 400, 200, QColor(40, 40, 40));
    const TToolRun fit = RunCli({ "pattern", wide, "--framing", "fit" });
    ASSERT_EQ(fit.exitCode, 0) << fit.err.toStdString();
    const auto rows = PatternRows(fit);
    ASSERT_EQ(rows.size(), 100u);
    for (int y = 0; y < 100; ++y)
        EXPECT_EQ(rows[y][50], y >= 25 && y < 75 ? 40 : 255) << y;

    const QString png = dir.filePath("window.png");
    const TToolRun written = RunCli({ "pattern", wide, "--framing", "fit", "--png", png });
    ASSERT_EQ(written.exitCode, 0) << written.err.toStdString();
    EXPECT_TRUE(written.out.isEmpty());
    const QImage window(png);
    ASSERT_EQ(window.size(), QSize(100, 100));
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(qGray(window.pixel(x, y)), rows[y][x]) << x << "," << y;
}

TEST(CliPattern, ReadsJpegAndReportsFilesItCannotRead)
{
    QTemporaryDir dir;
    const TToolRun jpeg
        = RunCli({ "pattern", WritePicture(dir.filePath("flat.jpg"), 100, 100, QColor(128, 128, 128)) });
    ASSERT_EQ(jpeg.exitCode, 0) << jpeg.err.toStdString();
    for (const auto& row : PatternRows(jpeg))
        for (int v : row)
            ASSERT_NEAR(v, 128, 2);

    const TToolRun missing = RunCli({ "pattern", dir.filePath("nobody.bmp") });
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.err.contains("nobody.bmp")) << missing.err.toStdString();
    EXPECT_TRUE(missing.out.isEmpty());

    const TToolRun broken
        = RunCli({ "pattern", WriteBytes(dir.filePath("broken.bmp"), "BM this is no bitmap") });
    EXPECT_EQ(broken.exitCode, 1);
    EXPECT_TRUE(broken.err.contains("broken.bmp")) << broken.err.toStdString();
    EXPECT_TRUE(broken.out.isEmpty());
}

TEST(CliEval, FolderErrorsStopBeforeAnyWork)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("empty");
    QDir(dir.path()).mkdir("good");
    WritePicture(dir.filePath("good/anna_1.bmp"), 100, 100, Qt::gray);
    QDir(dir.path()).mkdir("nameless");
    WritePicture(dir.filePath("nameless/_1.bmp"), 100, 100, Qt::gray);
    QDir(dir.path()).mkdir("broken");
    WriteBytes(dir.filePath("broken/anna_1.bmp"), "not a picture");
    const QString good = dir.filePath("good");
    struct TCase
    {
        QStringList args;
        QString message;
    };
    const std::vector<TCase> cases = {
        { { "eval", dir.filePath("absent"), good }, "does not exist" },
        { { "eval", good, dir.filePath("absent") }, "probe folder" },
        { { "eval", dir.filePath("good/anna_1.bmp"), good }, "is not a folder" },
        { { "eval", dir.filePath("empty"), good }, "holds no .bmp or .jpg pictures" },
        { { "eval", good, dir.filePath("empty") }, "holds no .bmp or .jpg pictures" },
        { { "eval", dir.filePath("nameless"), good }, "cannot tell who is pictured" },
        { { "eval", dir.filePath("broken"), good }, "anna_1.bmp" },
    };
    for (const TCase& c : cases) {
        const TToolRun run = RunCli(c.args);
        EXPECT_EQ(run.exitCode, 1) << c.args.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(c.message)) << run.err.toStdString();
        EXPECT_FALSE(run.err.contains("setting up")) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
}

TEST(CliEval, MoreThanTwentyPersonsAreRefused)
{
    QTemporaryDir dir;
    ASSERT_EQ(RunFaces({ "--persons", "21", "--pictures", "1", "--bmp", dir.path() }).exitCode, 0);
    const TToolRun run = RunCli({ "eval", dir.path(), dir.path() });
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("shows 21 persons")) << run.err.toStdString();
    EXPECT_TRUE(run.out.isEmpty());
}

// Two persons whose pictures use disjoint grey intervals cannot be confused: every answer is known.
TEST(CliEval, AnswersEachProbeAndGoesOnPastUnreadableOnes)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("gallery");
    QDir(dir.path()).mkpath("probes");
    WritePicture(dir.filePath("gallery/dark_1.bmp"), 100, 100, QColor(20, 20, 20));
    WritePicture(dir.filePath("gallery/dark_2.bmp"), 100, 100, QColor(240, 240, 240)); // not memorised
    WritePicture(dir.filePath("gallery/light.bmp"), 110, 110, QColor(230, 230, 230));
    WritePicture(dir.filePath("probes/light_a.bmp"), 100, 100, QColor(228, 226, 230));
    WritePicture(dir.filePath("probes/dark_b.jpg"), 100, 100, QColor(24, 24, 24));
    WritePicture(dir.filePath("probes/dark.bmp"), 100, 100, QColor(20, 20, 20));
    WriteBytes(dir.filePath("probes/light_z.bmp"), "BM broken");

    const TToolRun run = RunCli({ "eval", dir.filePath("gallery"), dir.filePath("probes") });
    EXPECT_EQ(run.exitCode, 1) << "an unreadable probe makes the run fail";
    EXPECT_TRUE(run.err.contains("light_z.bmp")) << run.err.toStdString();
    const QStringList lines = run.out.split('\n');
    auto lineOf = [&](const QString& file) {
        for (const QString& line : lines)
            if (line.startsWith(file + ' '))
                return line.simplified();
        return QString();
    };
    EXPECT_TRUE(lineOf("dark.bmp").startsWith("dark.bmp dark dark ")) << run.out.toStdString();
    EXPECT_TRUE(lineOf("dark_b.jpg").startsWith("dark_b.jpg dark dark ")) << run.out.toStdString();
    EXPECT_TRUE(lineOf("light_a.bmp").startsWith("light_a.bmp light light ")) << run.out.toStdString();
    EXPECT_TRUE(lineOf("light_z.bmp").endsWith("unreadable")) << run.out.toStdString();
    EXPECT_TRUE(lineOf("dark_b.jpg").endsWith(" ok")) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("persons memorised: 2")) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("probes: 3 read, 1 unreadable, 0 of persons not memorised"));
    EXPECT_TRUE(run.out.contains("accuracy: 3/3 = 100.0 %"));
    EXPECT_TRUE(run.out.contains("accuracy of the memorised pictures themselves: 2/2 = 100.0 %"));
    EXPECT_TRUE(run.out.contains("recognise: mean "));
    // No slot files are left behind in the working folder.
    EXPECT_FALSE(QFile::exists("listname.ini"));
}

// Several pictures of each person, the nearest-neighbour baseline beside the network, with and without
// rehearsal; and a gallery that needs more slots than there are.
TEST(CliEval, PerPersonBaselineAndRehearsalOptions)
{
    QTemporaryDir dir;
    ASSERT_EQ(RunFaces({ "--persons", "12", "--pictures", "4", "--bmp", dir.path() }).exitCode, 0);
    const TToolRun tooMany = RunCli({ "eval", dir.path(), dir.path(), "--per-person", "2" });
    EXPECT_EQ(tooMany.exitCode, 1);
    EXPECT_TRUE(tooMany.err.contains("shows 12 persons, 24 pictures with up to 2 of each"))
        << tooMany.err.toStdString();

    for (const bool rehearse : { true, false }) {
        QStringList args = { "eval", dir.path(), dir.path(), "--json", "--per-person", "2", "--persons", "3",
            "--baseline", "nearest", "--framing", "fit" };
        if (!rehearse)
            args << "--no-rehearse";
        const TToolRun run = RunCli(args);
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        const QJsonObject report = QJsonDocument::fromJson(run.out.toUtf8()).object();
        EXPECT_EQ(report["gallery"].toArray().size(), 6);
        EXPECT_EQ(report["gallery"].toArray()[1].toString(), "anna_2.bmp");
        const QJsonObject summary = report["summary"].toObject();
        EXPECT_EQ(summary["persons"].toInt(), 3);
        EXPECT_EQ(summary["memorised_pictures"].toInt(), 6);
        EXPECT_EQ(summary["fresh_probes"].toInt(), 6); // only the probes of the three persons
        EXPECT_EQ(summary["framing"].toObject()["mode"].toString(), "fit");
        const QJsonObject baseline = summary["baseline"].toObject();
        EXPECT_EQ(baseline["method"].toString(), "nearest");
        // Nearest neighbour finds every memorised picture itself.
        EXPECT_DOUBLE_EQ(baseline["memorised_accuracy"].toDouble(), 1.0);
        int nearestRight = 0, fresh = 0;
        for (const QJsonValue& value : report["probes"].toArray()) {
            const QJsonObject probe = value.toObject();
            EXPECT_FALSE(probe["face_found"].toBool());
            if (!probe["memorised"].toBool()) {
                ++fresh;
                nearestRight += probe["nearest"] == probe["expected"];
            }
        }
        EXPECT_DOUBLE_EQ(baseline["fresh_accuracy"].toDouble(), double(nearestRight) / fresh);
        if (rehearse) {
            EXPECT_TRUE(summary["rehearsal"].toObject()["converged"].toBool());
            EXPECT_DOUBLE_EQ(summary["memorised_accuracy"].toDouble(), 1.0);
        } else {
            EXPECT_EQ(summary["rehearsal"], QJsonValue(false));
        }
    }
}

TEST(CliEval, JsonReportOnGeneratedFaces)
{
    QTemporaryDir dir;
    ASSERT_EQ(RunFaces({ "--persons", "3", "--pictures", "3", "--bmp", dir.path() }).exitCode, 0);
    const TToolRun run = RunCli({ "eval", dir.path(), dir.path(), "--json" });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    QJsonParseError error;
    const QJsonObject report = QJsonDocument::fromJson(run.out.toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << run.out.toStdString();

    const QJsonArray gallery = report["gallery"].toArray();
    ASSERT_EQ(gallery.size(), 3);
    EXPECT_EQ(gallery[0].toString(), "anna_1.bmp");
    EXPECT_EQ(gallery[1].toString(), "bodo_1.bmp");
    EXPECT_EQ(gallery[2].toString(), "cilla_1.bmp");

    const QJsonArray probes = report["probes"].toArray();
    ASSERT_EQ(probes.size(), 9);
    const QSet<QString> persons = { "anna", "bodo", "cilla" };
    int correct = 0;
    for (const QJsonValue& value : probes) {
        const QJsonObject probe = value.toObject();
        const QString file = probe["file"].toString();
        EXPECT_EQ(probe["expected"].toString(), file.section('_', 0, 0));
        EXPECT_EQ(probe["memorised"].toBool(), file.endsWith("_1.bmp")) << file.toStdString();
        EXPECT_TRUE(persons.contains(probe["answered"].toString())) << file.toStdString();
        EXPECT_EQ(probe["correct"].toBool(), probe["answered"] == probe["expected"]);
        EXPECT_GT(probe["time_ms"].toDouble(), 0.0);
        correct += probe["correct"].toBool();
    }
    const QJsonObject summary = report["summary"].toObject();
    EXPECT_EQ(summary["persons"].toInt(), 3);
    EXPECT_EQ(summary["probes"].toInt(), 9);
    EXPECT_EQ(summary["correct"].toInt(), correct);
    EXPECT_DOUBLE_EQ(summary["accuracy"].toDouble(), correct / 9.0);
    EXPECT_EQ(summary["fresh_probes"].toInt(), 6);
    EXPECT_EQ(summary["memorise"].toObject()["count"].toInt(), 3);
    EXPECT_EQ(summary["recognise"].toObject()["count"].toInt(), 9);
    const QJsonObject recognise = summary["recognise"].toObject();
    EXPECT_GE(recognise["p95_ms"].toDouble(), recognise["mean_ms"].toDouble());
    // The same seed gives the same start weights, so a second run answers with the very same outputs.
    const TToolRun again = RunCli({ "eval", dir.path(), dir.path(), "--seed", "1", "--json" });
    ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
    const QJsonArray probesAgain = QJsonDocument::fromJson(again.out.toUtf8()).object()["probes"].toArray();
    ASSERT_EQ(probesAgain.size(), probes.size());
    for (qsizetype i = 0; i < probes.size(); ++i) {
        EXPECT_EQ(probesAgain[i].toObject()["answered"], probes[i].toObject()["answered"]);
        EXPECT_EQ(probesAgain[i].toObject()["output"], probes[i].toObject()["output"]);
    }
    // The last picture memorised has overwritten nothing after it: it is always answered right.
    for (const QJsonValue& value : probes)
        if (value.toObject()["file"] == "cilla_1.bmp") {
            EXPECT_TRUE(value.toObject()["correct"].toBool());
        }
}

// An eval long enough to be stopped while it runs, with a temporary folder of its own for the store.
struct TLongEval
{
    QTemporaryDir dir, temp;
    QString gallery = dir.filePath("gallery"), probes = dir.filePath("probes");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QProcess process;
    QString err;

    // Starts the run and waits until the network exists and recognition is under way.
    void Start()
    {
        ASSERT_EQ(RunFaces({ "--persons", "2", "--pictures", "1", "--bmp", gallery }).exitCode, 0);
        ASSERT_EQ(RunFaces({ "--persons", "20", "--pictures", "60", "--bmp", probes }).exitCode, 0);
        environment.insert("TMPDIR", temp.path());
        process.setProcessEnvironment(environment);
        process.setReadChannel(QProcess::StandardError);
        process.start(QStringLiteral(MIRAVA_CLI_PATH), { "eval", gallery, probes });
        while (!err.contains("recognising") && process.waitForReadyRead(60000))
            err += QString::fromUtf8(process.readAllStandardError());
        ASSERT_TRUE(err.contains("recognising")) << err.toStdString();
    }
    QDir Store() const { return QDir(StoreFolder(temp.path())); }
};

TEST(CliEval, StoppedRunLeavesNoStoreFileBehind)
{
    TLongEval run;
    ASSERT_NO_FATAL_FAILURE(run.Start());
    EXPECT_EQ(run.Store().entryList(QDir::Files).size(), 1) << "the store file exists while the tool runs";
    ASSERT_EQ(::kill(pid_t(run.process.processId()), SIGINT), 0) << errno;
    ASSERT_TRUE(run.process.waitForFinished(60000));
    run.err += QString::fromUtf8(run.process.readAllStandardError());
    EXPECT_EQ(run.process.exitCode(), 128 + SIGINT) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("stopped by signal")) << run.err.toStdString();
    EXPECT_EQ(QDir(run.temp.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    EXPECT_EQ(run.Store().entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST(CliEval, StoreOfAKilledRunIsRemovedByTheNextRun)
{
    TLongEval run;
    ASSERT_NO_FATAL_FAILURE(run.Start());
    // kill -9: the tool cannot tidy up, its 90 MB store stays.
    ASSERT_EQ(::kill(pid_t(run.process.processId()), SIGKILL), 0) << errno;
    ASSERT_TRUE(run.process.waitForFinished(60000));
    const QStringList left = run.Store().entryList(QDir::Files | QDir::Hidden);
    ASSERT_EQ(left.size(), 1) << "the killed run left no store file to remove";

    QProcess next;
    next.setProcessEnvironment(run.environment);
    next.start(QStringLiteral(MIRAVA_CLI_PATH), { "eval", run.gallery, run.gallery });
    ASSERT_TRUE(next.waitForFinished(300000));
    EXPECT_EQ(next.exitCode(), 0) << next.readAllStandardError().toStdString();
    EXPECT_EQ(run.Store().entryList(QDir::Files | QDir::Hidden), QStringList())
        << "the store " << left.front().toStdString() << " of the killed run is still there";
}

} // namespace

// Named pipes, folders and links to endless sources named like pictures are probes too: each is counted as
// unreadable with its reason, at once. Names that are not valid UTF-8 are read, and a newline in a name is
// escaped so that every probe keeps to its one line.
TEST(CliEval, EveryProbeNamedLikeAPictureIsCounted)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("gallery");
    QDir(dir.path()).mkpath("probes");
    WritePicture(dir.filePath("gallery/dark_1.bmp"), 100, 100, QColor(20, 20, 20));
    WritePicture(dir.filePath("gallery/light.bmp"), 100, 100, QColor(230, 230, 230));
    WritePicture(dir.filePath("probes/dark.bmp"), 100, 100, QColor(20, 20, 20));
    WritePicture(dir.filePath("probes/light_a.bmp"), 100, 100, QColor(228, 226, 230));
    const QByteArray probes = QFile::encodeName(dir.filePath("probes")) + '/';
    const TRawFileRemoval removeOddName(probes + "dark_\xFF\xFE.bmp");
    WritePicture(dir.filePath("probes/tmp1.bmp"), 100, 100, QColor(22, 22, 22));
    ASSERT_EQ(::rename(probes + "tmp1.bmp", probes + "dark_\xFF\xFE.bmp"), 0);
    WritePicture(dir.filePath("probes/tmp2.bmp"), 100, 100, QColor(22, 22, 22));
    ASSERT_EQ(::rename(probes + "tmp2.bmp", probes + "dark_two\nlines.bmp"), 0);
    const std::vector<TSpecialFile> special = MakeSpecialFiles(dir.filePath("probes"), "light", ".jpg");

    const TToolRun run = RunTool(
        QStringLiteral(MIRAVA_CLI_PATH), { "eval", dir.filePath("gallery"), dir.filePath("probes") }, 120000);
    EXPECT_EQ(run.exitCode, 1) << "unreadable probes make the run fail";
    const QStringList lines = run.out.split('\n');
    const qsizetype summary = lines.indexOf(QString());
    ASSERT_GT(summary, 0) << run.out.toStdString();
    // A header and one line for each of the 4 pictures and the special files.
    EXPECT_EQ(summary, 1 + 4 + qsizetype(special.size())) << run.out.toStdString();
    auto lineOf = [&](const QString& file) {
        for (const QString& line : lines.mid(0, summary))
            if (line.startsWith(file + ' '))
                return line.simplified();
        return QString();
    };
    EXPECT_TRUE(lineOf("dark_\\xFF\\xFE.bmp").startsWith("dark_\\xFF\\xFE.bmp dark dark "))
        << run.out.toStdString();
    EXPECT_TRUE(lineOf("dark_two\\nlines.bmp").startsWith("dark_two\\nlines.bmp dark dark "))
        << run.out.toStdString();
    for (const TSpecialFile& file : special) {
        const QString name = QFileInfo(file.path).fileName();
        EXPECT_TRUE(lineOf(name).endsWith("unreadable")) << file.kind << "\n" << run.out.toStdString();
        EXPECT_TRUE(run.err.contains(name)) << run.err.toStdString();
    }
    EXPECT_TRUE(run.err.contains("not a regular file")) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("it is a folder")) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("two\nlines")) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QString("probes: 4 read, %1 unreadable").arg(special.size())))
        << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("accuracy: 4/4 = 100.0 %")) << run.out.toStdString();
}

TEST(CliPattern, SpecialFilesAreRefusedAtOnce)
{
    QTemporaryDir dir;
    for (const TSpecialFile& special : MakeSpecialFiles(dir.path(), "face", ".bmp")) {
        const TToolRun run = RunTool(QStringLiteral(MIRAVA_CLI_PATH), { "pattern", special.path }, 30000);
        EXPECT_EQ(run.exitCode, 1) << special.kind;
        EXPECT_TRUE(run.err.contains(QFileInfo(special.path).fileName())) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty()) << special.kind;
    }
}
