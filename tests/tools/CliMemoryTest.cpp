// mirava-cli on memory files: memorise, recognise and memory, their output and their exit codes; a failure
// leaves the memory file as it was.

#include "ToolRunner.h"
#include "app/MemoryFile.h"
#include "support/StripedPerson.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<absent>");
}

class CliMemory : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        for (int p = 0; p < 3; ++p)
            ASSERT_TRUE(StripedPerson(p).save(Picture(p)));
    }
    QString Picture(int person) const { return folder.filePath(QStringLiteral("person%1.bmp").arg(person)); }
    QString Here(const QString& name) const { return folder.filePath(name); }

    QTemporaryDir folder;
    const QString memory = folder.filePath(QStringLiteral("people.mmem"));
};

} // namespace

TEST_F(CliMemory, MemoriseRecogniseAndListThroughOneFile)
{
    TToolRun run = RunCli({ "memorise", "--memory", memory, "--seed", "3", "Anna", Picture(0) });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "0\n");
    EXPECT_EQ(run.err, "");
    // A seed for a file that already holds a network is not used, and the command says so.
    run = RunCli({ "memorise", "--memory", memory, "--seed", "9", "Bert Ó", Picture(1) });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "1\n");
    EXPECT_TRUE(run.err.contains("--seed 9 not used")) << run.err.toStdString();
    const QByteArray saved = ReadBytes(memory);

    run = RunCli({ "memory", memory });
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, QStringLiteral("0\tAnna\t%1\n1\tBert Ó\t%2\n").arg(Picture(0), Picture(1)));
    run = RunCli({ "memory", memory, "--json" });
    const QJsonArray listed = QJsonDocument::fromJson(run.out.toUtf8()).object().value("slots").toArray();
    ASSERT_EQ(listed.size(), 2);
    EXPECT_EQ(listed[1].toObject().value("name").toString(), QStringLiteral("Bert Ó"));
    EXPECT_EQ(listed[1].toObject().value("slot").toInt(), 1);

    for (int p : { 1, 0 }) {
        run = RunCli({ "recognise", "--memory", memory, Picture(p) });
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_EQ(run.out, p == 0 ? QStringLiteral("Anna\n") : QStringLiteral("Bert Ó\n"));
    }
    run = RunCli({ "recognise", "--json", "--memory", memory, Picture(1) });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonObject answer = QJsonDocument::fromJson(run.out.toUtf8()).object();
    EXPECT_EQ(answer.value("slot").toInt(), 1);
    EXPECT_EQ(answer.value("name").toString(), QStringLiteral("Bert Ó"));
    EXPECT_EQ(answer.value("picture").toString(), Picture(1));
    const QJsonArray outputs = answer.value("outputs").toArray();
    ASSERT_EQ(outputs.size(), 20);
    EXPECT_GT(outputs[1].toDouble(), outputs[0].toDouble());

    // Reading never changes the file; the same seed makes the same file.
    EXPECT_EQ(ReadBytes(memory), saved);
    const QString again = Here("again.mmem");
    RunCli({ "memorise", "--memory", again, "--seed", "3", "Anna", Picture(0) });
    RunCli({ "memorise", "--memory", again, "Bert Ó", Picture(1) });
    EXPECT_TRUE(ReadBytes(again) == saved);
}

TEST_F(CliMemory, FileAndPictureProblemsExitWithOneAndChangeNothing)
{
    ASSERT_EQ(RunCli({ "memorise", "--memory", memory, "--seed", "1", "Anna", Picture(0) }).exitCode, 0);
    const QByteArray saved = ReadBytes(memory);

    TToolRun run = RunCli({ "memorise", "--memory", memory, "Bert", Here("missing.bmp") });
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.startsWith("mirava-cli: ")) << run.err.toStdString();
    EXPECT_EQ(ReadBytes(memory), saved);

    QFile damaged(Here("damaged.mmem"));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write(saved.left(saved.size() / 2));
    damaged.close();
    for (const QStringList& arguments :
        { QStringList { "memorise", "--memory", Here("damaged.mmem"), "Bert", Picture(1) },
            QStringList { "recognise", "--memory", Here("damaged.mmem"), Picture(1) },
            QStringList { "memory", Here("damaged.mmem") } }) {
        run = RunCli(arguments);
        EXPECT_EQ(run.exitCode, 1) << arguments.join(' ').toStdString();
        EXPECT_EQ(run.err,
            QStringLiteral("mirava-cli: \"%1\" is damaged: it ends before the end of its store\n")
                .arg(Here("damaged.mmem")));
        EXPECT_TRUE(run.out.isEmpty());
    }
    EXPECT_EQ(ReadBytes(Here("damaged.mmem")), saved.left(saved.size() / 2));

    // A file that may not be read (as root, by the program run as another user).
    ASSERT_TRUE(QFile::setPermissions(folder.path(),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
    ASSERT_TRUE(QFile::setPermissions(memory, QFileDevice::Permissions()));
    run = RunCliUnprivileged({ "memory", memory });
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, QStringLiteral("mirava-cli: Cannot open \"%1\": Permission denied\n").arg(memory));
    EXPECT_TRUE(run.out.isEmpty());
    ASSERT_TRUE(QFile::setPermissions(memory, QFile::ReadOwner | QFile::WriteOwner));
    EXPECT_EQ(ReadBytes(memory), saved);

    // A memory without a used slot recognises nobody.
    TMemoProcessor empty;
    empty.SetUpNetwork();
    SaveMemoryFile(Here("empty.mmem"), empty);
    run = RunCli({ "recognise", "--memory", Here("empty.mmem"), Picture(0) });
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(
        run.err, QStringLiteral("mirava-cli: nothing is memorised in \"%1\"\n").arg(Here("empty.mmem")));

    // A full memory takes nobody more.
    for (QString& flag : empty.TrainedList)
        flag = "1";
    SaveMemoryFile(Here("full.mmem"), empty);
    const QByteArray full = ReadBytes(Here("full.mmem"));
    run = RunCli({ "memorise", "--memory", Here("full.mmem"), "Carla", Picture(2) });
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
        QStringLiteral("mirava-cli: the memory in \"%1\" is full: all 20 slots are used\n")
            .arg(Here("full.mmem")));
    EXPECT_TRUE(ReadBytes(Here("full.mmem")) == full);
}

TEST_F(CliMemory, WrongCommandLinesExitWithTwo)
{
    const QList<QStringList> bad = { { "memorise", "Anna", Picture(0) },
        { "memorise", "--memory", memory, "Anna" }, { "memorise", "--memory", memory, " \t", Picture(0) },
        { "memorise", "--memory" }, { "memorise", "--memory", memory, "--json", "Anna", Picture(0) },
        { "recognise", Picture(0) }, { "recognise", "--memory", memory },
        { "recognise", "--memory", memory, "--seed", "1", Picture(0) }, { "memory" },
        { "memory", memory, memory }, { "memory", "--memory", memory } };
    for (const QStringList& arguments : bad) {
        const TToolRun run = RunCli(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains("usage:")) << run.err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(memory));
}

TEST_F(CliMemory, MemorisesIntoOneFileAtOnceAreDoneOneAfterTheOther)
{
    TToolRun run = RunCli({ "memorise", "--memory", memory, "--seed", "3", "Anna", Picture(0) });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();

    // While another writer holds the memory file's folder, a memorise waits instead of reading the file
    // that the other is about to replace.
    const int folderFd
        = ::open(QFile::encodeName(folder.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folderFd, 0);
    ASSERT_EQ(::flock(folderFd, LOCK_EX), 0);
    QProcess waiting;
    waiting.start(QStringLiteral(MIRAVA_CLI_PATH), { "memorise", "--memory", memory, "Bert", Picture(1) });
    ASSERT_TRUE(waiting.waitForStarted());
    EXPECT_FALSE(waiting.waitForFinished(1500)) << "the memorise did not wait for the folder";
    ::close(folderFd);
    ASSERT_TRUE(waiting.waitForFinished(60000));
    EXPECT_EQ(waiting.exitCode(), 0) << waiting.readAllStandardError().toStdString();
    EXPECT_EQ(waiting.readAllStandardOutput(), "1\n");

    // Two started together both keep their person, in two slots.
    QProcess first, second;
    first.start(QStringLiteral(MIRAVA_CLI_PATH), { "memorise", "--memory", memory, "Carl", Picture(2) });
    second.start(QStringLiteral(MIRAVA_CLI_PATH), { "memorise", "--memory", memory, "Dora", Picture(0) });
    ASSERT_TRUE(first.waitForFinished(60000));
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_EQ(second.exitCode(), 0);
    const QByteArray answers = first.readAllStandardOutput() + second.readAllStandardOutput();
    EXPECT_TRUE(answers == "2\n3\n" || answers == "3\n2\n") << answers.toStdString();
    run = RunCli({ "memory", memory });
    EXPECT_EQ(run.out.count(u'\n'), 4) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("\tCarl\t") && run.out.contains("\tDora\t")) << run.out.toStdString();
}

TEST_F(CliMemory, AMemoriseRemovesWhatAKilledOneLeftBehind)
{
    TToolRun run = RunCli({ "memorise", "--memory", memory, "--seed", "3", "Anna", Picture(0) });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    // A killed memorise's temporary file, an hour old; a fresh one (a Save under way) and other names stay.
    const QString leftover = memory + ".tmp-a1B2c3", fresh = memory + ".tmp-d4E5f6",
                  other = memory + ".tmp-x";
    for (const QString& path : { leftover, fresh, other }) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("part of a memory");
    }
    const timespec hourAgo { ::time(nullptr) - 3600, 0 };
    const timespec times[2] = { hourAgo, hourAgo };
    for (const QString& path : { leftover, other })
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    run = RunCli({ "memorise", "--memory", memory, "Bert", Picture(1) });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_FALSE(QFile::exists(leftover));
    EXPECT_TRUE(QFile::exists(fresh));
    EXPECT_TRUE(QFile::exists(other));
}

// A new memory file takes the framing it is given and keeps it: memorise and recognise frame by it, and a
// memorise that asks for another framing is refused without changing the file.
TEST_F(CliMemory, AMemoryKeepsItsFraming)
{
    TToolRun run = RunCli({ "memorise", "--memory", memory, "--framing", "fit", "Anna", Picture(0) });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    run = RunCli({ "memorise", "--memory", memory, "Bert", Picture(1) });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    run = RunCli({ "memory", memory, "--json" });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(run.out.toUtf8()).object()["framing"].toString(), "fit");
    const TMemory kept = ReadMemoryFile(memory);
    EXPECT_EQ(kept.Framing, TFraming::Fit);
    EXPECT_EQ(kept.Patterns[1], PatternBytes(SampleFit(StripedPerson(1))));

    const QByteArray saved = ReadBytes(memory);
    run = RunCli({ "memorise", "--memory", memory, "--framing", "corner", "Carla", Picture(2) });
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains("frames its pictures by \"fit\"; --framing corner is for a new memory file"))
        << run.err.toStdString();
    EXPECT_TRUE(ReadBytes(memory) == saved);
    run = RunCli({ "recognise", "--memory", memory, Picture(1) });
    EXPECT_EQ(run.out, "Bert\n");
}
