#include "pictures/RegularFile.h"

#include "support/SpecialFiles.h"

#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>

namespace {

QByteArray WriteNative(const QByteArray& path, const QByteArray& bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
    ::close(fd);
    return path;
}

} // namespace

TEST(RegularFileTest, ReadsAFileWholeUpToItsLimit)
{
    QTemporaryDir dir;
    const QByteArray bytes("line one\nline two\n");
    const QByteArray path = WriteNative(QFile::encodeName(dir.filePath("a.ini")), bytes);
    EXPECT_EQ(ReadRegularFile(path, bytes.size()), bytes);
    QString error;
    EXPECT_FALSE(ReadRegularFile(path, bytes.size() - 1, &error));
    EXPECT_TRUE(error.contains("too large")) << error.toStdString();
    EXPECT_EQ(ReadRegularFile(WriteNative(path + ".empty", {}), 10), QByteArray());

    // A header is read without the rest; the whole read then goes on from there.
    TRegularFile file;
    ASSERT_TRUE(file.Open(path));
    EXPECT_EQ(file.Size(), bytes.size());
    EXPECT_EQ(file.ReadAtMost(4), QByteArray("line"));
    EXPECT_EQ(file.ReadAll(100), bytes.mid(4));
    EXPECT_EQ(file.ReadAtMost(10), QByteArray());

    EXPECT_FALSE(ReadRegularFile(QFile::encodeName(dir.filePath("absent")), 10, &error));
    EXPECT_TRUE(error.contains("No such file")) << error.toStdString();
}

TEST(RegularFileTest, NamesThatAreNotUtf8AreOpened)
{
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.path()) + "/caf\xE9\xFF.bmp";
    WriteNative(path, "bytes");
    EXPECT_EQ(ReadRegularFile(path, 100), QByteArray("bytes"));
    ::unlink(path.constData()); // the temporary folder cannot remove such a name itself
}

// Each returns at once with its reason; nothing is read from an endless source.
TEST(RegularFileTest, SpecialFilesAreRefusedAtOnce)
{
    QTemporaryDir dir;
    const THangGuard guard;
    for (const TSpecialFile& special : MakeSpecialFiles(dir.path(), "x", ".ini")) {
        QString error;
        EXPECT_FALSE(ReadRegularFile(special.path, 1 << 20, &error)) << special.kind;
        EXPECT_FALSE(error.isEmpty()) << special.kind;
        // A system file gives whatever reason its first read brings; the others say what they are.
        if (!QString(special.kind).contains("pagemap")) {
            const QString expected = QString(special.kind) == "folder" ? "folder" : "not a regular file";
            EXPECT_TRUE(error.contains(expected)) << special.kind << ": " << error.toStdString();
        }
        // A bounded read of a header gets no more than asked for, even from a system file.
        TRegularFile file;
        if (file.Open(special.path)) {
            const std::optional<QByteArray> head = file.ReadAtMost(64);
            ASSERT_TRUE(head.has_value()) << special.kind;
            EXPECT_LE(head->size(), 64) << special.kind;
        }
    }
    // A descriptor opened elsewhere is checked the same way.
    TRegularFile adopted;
    EXPECT_FALSE(adopted.Adopt(::open("/dev/zero", O_RDONLY | O_CLOEXEC)));
    EXPECT_TRUE(adopted.Error().contains("not a regular file"));
    EXPECT_FALSE(adopted.Adopt(-1));
}
