#include "app/AppError.h"
#include "app/IniFile.h"
#include "app/MemoProcessor.h"
#include "support/FileBytes.h"
#include "support/SmallTmpfs.h"
#include "support/StripedPerson.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

// Writes on a real file system that is full: the old files stay whole and the error is reported, instead of
// an empty file and success.
namespace {
QString NoSpace()
{
    return qt_error_string(ENOSPC);
}
} // namespace

TEST(FullDisk, TheConfigurationKeepsItsOldContentAndTheErrorIsReported)
{
    TSmallTmpfs disk;
    if (disk.Path().isEmpty())
        GTEST_SKIP() << disk.Reason().toStdString();
    const QString path = disk.Path() + QStringLiteral("/app.ini");
    const QByteArray old = "; kept by hand\n[user]\nname=Anna\n[globalconst]\nsubfieldXcount=4\n";
    WriteBytes(path, old);
    ASSERT_GT(disk.Fill("filler"), 0);

    TAppConfig config;
    config.SubfieldXCount = 5;
    try {
        config.Write(path);
        FAIL() << "no error";
    } catch (const TAppError& error) {
        EXPECT_EQ(QString::fromUtf8(error.what()),
            QStringLiteral("Cannot create file \"%1\". %2").arg(path, NoSpace()));
    }
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_EQ(QDir(disk.Path()).entryList(QDir::Files | QDir::Hidden), (QStringList { "app.ini", "filler" }));

    ASSERT_TRUE(QFile::remove(disk.Path() + QStringLiteral("/filler")));
    config.Write(path);
    EXPECT_EQ(TAppConfig::Read(path).SubfieldXCount, 5);
}

TEST(FullDisk, AMemoriseKeepsTheOldSlotFilesAndLeavesNoTrace)
{
    TSmallTmpfs disk;
    if (disk.Path().isEmpty())
        GTEST_SKIP() << disk.Reason().toStdString();
    TMemoProcessor memo;
    memo.StateFilePrefix = disk.Path() + u'/';
    memo.SetUpNetwork();
    const TInputPattern anna = SampleCorner(StripedPerson(0));
    const TInputPattern bert = SampleCorner(StripedPerson(1));
    memo.Memorise("Anna", "/a.bmp", anna);
    const QStringList files { "listname.ini", "listfile.ini", "trained.ini" };
    QByteArrayList old;
    for (const QString& name : files)
        old.append(ReadBytes(memo.StateFilePrefix + name));
    const std::vector<float> outputs = memo.Recognise(bert).Outputs;
    const QStringList names = memo.NameList;
    ASSERT_GT(disk.Fill("filler"), 0);

    try {
        memo.Memorise("Bert", "/b.bmp", bert);
        FAIL() << "no error";
    } catch (const TAppError& error) {
        EXPECT_EQ(QString::fromUtf8(error.what()),
            QStringLiteral("Cannot create file \"%1listname.ini\". %2").arg(memo.StateFilePrefix, NoSpace()));
    }
    for (int i = 0; i < files.size(); ++i)
        EXPECT_EQ(ReadBytes(memo.StateFilePrefix + files[i]), old[i]) << files[i].toStdString();
    EXPECT_EQ(QDir(disk.Path()).entryList(QDir::Files | QDir::Hidden).size(), 5); // three, filler, lock
    EXPECT_EQ(memo.NameList, names);
    EXPECT_EQ(memo.Recognise(bert).Outputs, outputs);

    // With room again the next memorise takes the second slot.
    ASSERT_TRUE(QFile::remove(disk.Path() + QStringLiteral("/filler")));
    EXPECT_EQ(memo.Memorise("Bert", "/b.bmp", bert), 1);
    EXPECT_TRUE(ReadBytes(memo.StateFilePrefix + "listname.ini").startsWith("Anna\r\nBert\r\n"));
}
