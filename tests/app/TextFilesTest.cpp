#include "app/TextFiles.h"

#include "app/AppError.h"
#include "app/MemoProcessor.h"
#include "support/FileBytes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {
// The operating system's calls, of which the chosen one fails on its given call with the given error, and
// writes that take at most a given number of bytes at a time.
class TFailingWrites : public TFileWriteSystem
{
public:
    QString failing; // "create", "mode", "write", "writeback", "sync", "close", "rename" or "folder"
    int failingCall = 1;
    int error = ENOSPC;
    size_t writeLimit = 0; // 0: no limit
    bool writeNothing = false; // writes take no byte and give no reason
    std::function<void()> beforeRename;
    std::map<QString, int> calls;

    TFailingWrites() { previous = TFileWriteSystem::SetDefault(this); }
    ~TFailingWrites() override { TFileWriteSystem::SetDefault(previous); }

    int CreateExclusive(const char* path, mode_t mode) override
    {
        return Fails("create") ? -1 : TFileWriteSystem::CreateExclusive(path, mode);
    }
    ssize_t Write(int fd, const void* data, size_t size) override
    {
        if (Fails("write"))
            return -1;
        if (writeNothing)
            return 0;
        return TFileWriteSystem::Write(fd, data, writeLimit ? std::min(size, writeLimit) : size);
    }
    int SetMode(int fd, mode_t mode) override
    {
        return Fails("mode") ? -1 : TFileWriteSystem::SetMode(fd, mode);
    }
    int StartWriteback(int fd, off_t offset, off_t size) override
    {
        return Fails("writeback") ? -1 : TFileWriteSystem::StartWriteback(fd, offset, size);
    }
    int Sync(int fd) override { return Fails("sync") ? -1 : TFileWriteSystem::Sync(fd); }
    int Close(int fd) override
    {
        // The descriptor is gone either way, as with the system's close.
        const int result = TFileWriteSystem::Close(fd);
        return Fails("close") ? -1 : result;
    }
    int Rename(const char* from, const char* to) override
    {
        if (calls["rename"] == 0 && beforeRename)
            beforeRename();
        return Fails("rename") ? -1 : TFileWriteSystem::Rename(from, to);
    }
    int SyncFolder(const char* path) override
    {
        return Fails("folder") ? -1 : TFileWriteSystem::SyncFolder(path);
    }

private:
    bool Fails(const QString& call)
    {
        if (++calls[call] == failingCall && call == failing) {
            errno = error;
            return true;
        }
        return false;
    }
    TFileWriteSystem* previous;
};

QString ErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const TAppError& error) {
        return QString::fromUtf8(error.what());
    }
    return QStringLiteral("<no error>");
}

QStringList Entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

class AtomicWrite : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(folder.isValid()); }
    QString Here(const QString& name) const { return folder.filePath(name); }
    QTemporaryDir folder;
};
} // namespace

TEST(TextFiles, IntegersFollowTheConfigurationRules)
{
    EXPECT_EQ(ParseInteger("16"), 16);
    EXPECT_EQ(ParseInteger("06"), 6);
    EXPECT_EQ(ParseInteger("$10"), 16);
    EXPECT_EQ(ParseInteger("0x10"), 16);
    EXPECT_EQ(ParseInteger("0X1f"), 31);
    EXPECT_EQ(ParseInteger("-1"), -1);
    EXPECT_EQ(ParseInteger("+8"), 8);
    EXPECT_EQ(ParseInteger("-2147483648"), std::numeric_limits<int>::min());
    EXPECT_EQ(ParseInteger("2147483647"), std::numeric_limits<int>::max());
    for (const char* bad : { "", "-", "$", "0x", "1.5", "abc", "12a", "$1g", " 6", "6 ", "2147483648",
             "99999999999999999999", "- 5", "0x-1", "x10", "X8", "$x1", "0$1" })
        EXPECT_FALSE(ParseInteger(QString::fromLatin1(bad)).has_value()) << bad;
}

TEST(TextFiles, TrimRemovesWhiteSpaceAndControlCharacters)
{
    EXPECT_EQ(TrimControl(QStringLiteral(" \t\r\n 6 \x01\x1f")), QStringLiteral("6"));
    EXPECT_EQ(TrimControl(QStringLiteral("  ")), QString());
    EXPECT_EQ(TrimControl(QStringLiteral(" a b ")), QStringLiteral("a b"));
}

TEST(TextFiles, ElapsedTimeShowsMilliseconds)
{
    EXPECT_EQ(TMemoProcessor::FormatElapsed(12ms), QStringLiteral("0:00:00.012"));
    EXPECT_EQ(TMemoProcessor::FormatElapsed(0ns), QStringLiteral("0:00:00.000"));
    EXPECT_EQ(TMemoProcessor::FormatElapsed(999us), QStringLiteral("0:00:00.000"));
    EXPECT_EQ(TMemoProcessor::FormatElapsed(3h + 4min + 5s + 678ms), QStringLiteral("3:04:05.678"));
    EXPECT_EQ(TMemoProcessor::FormatElapsed(27h), QStringLiteral("27:00:00.000"));
}

TEST(TextFiles, AtomicWriteReplacesWholeOrKeepsTheOldFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("a.txt");
    WriteFileAtomically(path, "first");
    WriteFileAtomically(path, "second");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("second"));

    try {
        WriteFileAtomically(dir.filePath("missing/b.txt"), "x");
        FAIL() << "no error";
    } catch (const TAppError& error) {
        EXPECT_TRUE(
            QString::fromUtf8(error.what())
                .startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(dir.filePath("missing/b.txt"))))
            << error.what();
    }
}

TEST_F(AtomicWrite, EveryFailingStepKeepsTheOldFileAndLeavesNoTemporary)
{
    const QString path = Here("listname.ini");
    const QString noSpace = qt_error_string(ENOSPC);
    for (const char* step : { "create", "mode", "write", "sync", "close", "rename" }) {
        WriteBytes(path, "old content\r\n");
        TFailingWrites system;
        system.failing = QString::fromLatin1(step);
        EXPECT_EQ(ErrorOf([&] { WriteFileAtomically(path, QByteArray("new content\r\n").repeated(100)); }),
            QStringLiteral("Cannot create file \"%1\". %2").arg(path, noSpace))
            << step;
        EXPECT_EQ(ReadBytes(path), QByteArray("old content\r\n")) << step;
        EXPECT_EQ(Entries(folder.path()), QStringList { "listname.ini" }) << step;
    }
    // A write that neither takes a byte nor gives a reason is a full disk too.
    TFailingWrites system;
    system.writeNothing = true;
    EXPECT_EQ(ErrorOf([&] { WriteFileAtomically(path, "new"); }),
        QStringLiteral("Cannot create file \"%1\". %2").arg(path, noSpace));
    EXPECT_EQ(ReadBytes(path), QByteArray("old content\r\n"));
    EXPECT_EQ(Entries(folder.path()), QStringList { "listname.ini" });
}

TEST_F(AtomicWrite, ShortWritesAndPiecesStillWriteEveryByte)
{
    TFailingWrites system;
    system.writeLimit = 7;
    QByteArray header("HEAD");
    QByteArray body(100000, '\0');
    for (int i = 0; i < body.size(); ++i)
        body[i] = char(i * 31);
    WritePiecesAtomically(Here("store"),
        { { header.constData(), size_t(header.size()) }, { nullptr, 0 },
            { body.constData(), size_t(body.size()) } });
    EXPECT_EQ(ReadBytes(Here("store")), header + body);
    EXPECT_GT(system.calls["write"], 14000);

    // A short write and then a failure is a failure.
    TFailingWrites failing;
    failing.writeLimit = 3;
    failing.failing = "write";
    failing.failingCall = 2;
    EXPECT_TRUE(
        ErrorOf([&] { WriteFileAtomically(Here("store"), "abcdefgh"); }).startsWith("Cannot create file"));
    EXPECT_EQ(ReadBytes(Here("store")), header + body);
    EXPECT_EQ(Entries(folder.path()), QStringList { "store" });
}

TEST_F(AtomicWrite, AFileWrittenPieceByPieceReplacesTheOldOneOnlyOnCommit)
{
    const QString path = Here("memory.mmem");
    WriteBytes(path, "old");
    QByteArray content;
    {
        TFailingWrites system;
        // Sending the file on to the disk early is a hint: when it fails, the write goes on.
        system.failing = "writeback";
        TAtomicFileWriter writer(path);
        for (int piece = 0; piece < 20; ++piece) {
            const QByteArray bytes(1 << 20, char('a' + piece));
            writer.Write(bytes.constData(), size_t(bytes.size()));
            content += bytes;
            EXPECT_EQ(ReadBytes(path), QByteArray("old"));
        }
        writer.Commit();
        EXPECT_EQ(system.calls["writeback"], 2); // after 8 and 16 MB
    }
    EXPECT_TRUE(ReadBytes(path) == content);
    EXPECT_EQ(Entries(folder.path()), QStringList { "memory.mmem" });

    // A writer that goes without Commit, as when making the content fails half-way, changes nothing.
    {
        TAtomicFileWriter writer(path);
        writer.Write("new", 3);
    }
    EXPECT_TRUE(ReadBytes(path) == content);
    EXPECT_EQ(Entries(folder.path()), QStringList { "memory.mmem" });
}

TEST_F(AtomicWrite, SeveralFilesAreWrittenWholeBeforeAnyIsReplaced)
{
    const QStringList names { "listname.ini", "listfile.ini", "trained.ini" };
    const QByteArray content[] = { "new names", "new files", "new trained" };
    auto group = [&] {
        std::vector<TFileWrite> files;
        for (int i = 0; i < 3; ++i)
            files.push_back({ Here(names[i]), { PieceOf(content[i]) } });
        return files;
    };
    auto writeOld = [&] {
        for (const QString& name : names)
            WriteBytes(Here(name), "old " + name.toUtf8());
    };
    auto allOld = [&] {
        for (const QString& name : names)
            EXPECT_EQ(ReadBytes(Here(name)), "old " + name.toUtf8()) << name.toStdString();
        EXPECT_EQ(Entries(folder.path()).size(), 3);
    };

    // A failure while the temporary files are made replaces nothing, whichever file it strikes.
    for (const char* step : { "create", "write", "sync", "close" }) {
        for (int call = 1; call <= 3; ++call) {
            writeOld();
            TFailingWrites system;
            system.failing = QString::fromLatin1(step);
            system.failingCall = call;
            EXPECT_EQ(ErrorOf([&] { WriteFilesAtomically(group()); }),
                QStringLiteral("Cannot create file \"%1\". %2")
                    .arg(Here(names[call - 1]), qt_error_string(ENOSPC)))
                << step << call;
            allOld();
        }
    }

    // When the first rename comes, every temporary file is complete and on the disk: a program killed then
    // leaves only old files and temporaries.
    writeOld();
    {
        TFailingWrites system;
        system.failing = "rename";
        system.beforeRename = [&] {
            EXPECT_EQ(system.calls["sync"], 3);
            EXPECT_EQ(system.calls["close"], 3);
            QByteArrayList temporaries;
            for (const QString& entry : Entries(folder.path())) {
                for (const QString& name : names) {
                    if (IsAtomicTemporaryOf(entry, name))
                        temporaries.append(ReadBytes(Here(entry)));
                }
            }
            std::sort(temporaries.begin(), temporaries.end());
            EXPECT_EQ(temporaries, QByteArrayList({ content[1], content[0], content[2] }));
        };
        EXPECT_TRUE(ErrorOf([&] {
            WriteFilesAtomically(group());
        }).startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(Here(names[0]))));
    }
    allOld();

    // A rename that fails after the first one keeps the later files old; the error names the failing one.
    {
        TFailingWrites system;
        system.failing = "rename";
        system.failingCall = 2;
        EXPECT_TRUE(ErrorOf([&] {
            WriteFilesAtomically(group());
        }).startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(Here(names[1]))));
    }
    EXPECT_EQ(ReadBytes(Here(names[0])), content[0]);
    EXPECT_EQ(ReadBytes(Here(names[1])), "old " + names[1].toUtf8());
    EXPECT_EQ(Entries(folder.path()).size(), 3);

    // All renamed, in order, and the folder flushed.
    TFailingWrites system;
    WriteFilesAtomically(group());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ReadBytes(Here(names[i])), content[i]);
    EXPECT_EQ(system.calls["folder"], 1);
    system.failing = "folder";
    system.failingCall = 2;
    system.error = EIO;
    EXPECT_EQ(ErrorOf([&] { WriteFilesAtomically(group()); }),
        QStringLiteral("Cannot create file \"%1\". %2").arg(Here(names[0]), qt_error_string(EIO)));
}

TEST_F(AtomicWrite, PermissionsAndLinksAreKept)
{
    const QString path = Here("app.ini");
    WriteBytes(path, "old");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    WriteFileAtomically(path, "new");
    struct stat status
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);

    // The super-user writing a user's file leaves it the user's.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
        WriteFileAtomically(path, "newer");
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &status), 0);
        EXPECT_EQ(status.st_uid, 65534u);
        EXPECT_EQ(status.st_gid, 65534u);
        EXPECT_EQ(status.st_mode & 07777, 0640u);
    }

    const mode_t mask = ::umask(022);
    WriteFileAtomically(Here("fresh.ini"), "x");
    ::umask(mask);
    ASSERT_EQ(::stat(QFile::encodeName(Here("fresh.ini")).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0644u);

    // A link keeps pointing at its target, which takes the new content.
    ASSERT_TRUE(QDir(folder.path()).mkdir("elsewhere"));
    WriteBytes(Here("elsewhere/real.ini"), "old");
    ASSERT_TRUE(QFile::link(Here("elsewhere/real.ini"), Here("linked.ini")));
    WriteFileAtomically(Here("linked.ini"), "through the link");
    EXPECT_TRUE(QFileInfo(Here("linked.ini")).isSymLink());
    EXPECT_EQ(ReadBytes(Here("elsewhere/real.ini")), QByteArray("through the link"));

    // Only a regular file is replaced: a folder, a pipe or a device in its place stays.
    ASSERT_TRUE(QDir(folder.path()).mkdir("folder.ini"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(Here("pipe.ini")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link("/dev/null", Here("null.ini")));
    for (const char* name : { "folder.ini", "pipe.ini", "null.ini" }) {
        EXPECT_EQ(ErrorOf([&] { WriteFileAtomically(Here(name), "x"); }),
            QStringLiteral("Cannot create file \"%1\". Not a regular file").arg(Here(name)));
    }
    EXPECT_TRUE(QFileInfo(Here("folder.ini")).isDir());
    EXPECT_TRUE(QFileInfo(Here("null.ini")).isSymLink());
}

TEST_F(AtomicWrite, OnlyOwnTemporaryNamesCountAsLeftovers)
{
    EXPECT_TRUE(IsAtomicTemporaryOf("listname.ini.tmp-aB3xY9", "listname.ini"));
    for (const char* other : { "listname.ini", "listname.ini.tmp-aB3xY", "listname.ini.tmp-aB3xY90",
             "listname.ini.tmp-aB3-Y9", "listname.ini.backup", "listname.ini.XyZ123",
             "listfile.ini.tmp-aB3xY9", "xlistname.ini.tmp-aB3xY9" })
        EXPECT_FALSE(IsAtomicTemporaryOf(QString::fromLatin1(other), "listname.ini")) << other;
}
