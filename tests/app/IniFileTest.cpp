#include "app/IniFile.h"

#include "app/AppError.h"
#include "support/SpecialFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}
} // namespace

TEST(AppIni, AbsentFileGivesDefaultsAndIsCreatedInKeyOrder)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("app.ini");
    const TAppConfig config = TAppConfig::Read(path);
    EXPECT_EQ(config.SubfieldXCount, 4);
    EXPECT_EQ(config.SubfieldYCount, 4);
    EXPECT_EQ(config.SubfieldWorkCount, 16);
    config.Write(path);
    EXPECT_EQ(ReadBytes(path),
        QByteArray("[globalconst]\nsubfieldXcount=4\nsubfieldYcount=4\nsubfieldworkcount=16\n"));
}

TEST(AppIni, HexadecimalIsReadAndWrittenBackInDecimal)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("app.ini");
    WriteBytes(path, "[globalconst]\nsubfieldXcount=$10\nsubfieldYcount = 0x10\nsubfieldworkcount=junk\n");
    const TAppConfig config = TAppConfig::Read(path);
    EXPECT_EQ(config.SubfieldXCount, 16);
    EXPECT_EQ(config.SubfieldYCount, 16);
    EXPECT_EQ(config.SubfieldWorkCount, 16); // the default for a value that is not an integer
    config.Write(path);
    EXPECT_EQ(ReadBytes(path),
        QByteArray("[globalconst]\nsubfieldXcount=16\nsubfieldYcount=16\nsubfieldworkcount=16\n"));

    // A bare "x" is no hexadecimal mark: the defaults stand.
    WriteBytes(path, "[globalconst]\nsubfieldXcount=x10\nsubfieldYcount=X10\nsubfieldworkcount=$x20\n");
    const TAppConfig bare = TAppConfig::Read(path);
    EXPECT_EQ(bare.SubfieldXCount, 4);
    EXPECT_EQ(bare.SubfieldYCount, 4);
    EXPECT_EQ(bare.SubfieldWorkCount, 16);
}

TEST(AppIni, AByteOrderMarkAtTheStartIsReadOverAndKept)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("app.ini");
    WriteBytes(
        path, "\xEF\xBB\xBF[globalconst]\r\nsubfieldXcount=5\r\nsubfieldYcount=6\r\nsubfieldworkcount=7\r\n");
    TAppConfig config = TAppConfig::Read(path);
    EXPECT_EQ(config.SubfieldXCount, 5);
    EXPECT_EQ(config.SubfieldYCount, 6);
    EXPECT_EQ(config.SubfieldWorkCount, 7);
    config.SubfieldWorkCount = 8;
    config.Write(path);
    EXPECT_EQ(ReadBytes(path),
        QByteArray(
            "\xEF\xBB\xBF[globalconst]\r\nsubfieldXcount=5\r\nsubfieldYcount=6\r\nsubfieldworkcount=8\r\n"));
}

TEST(AppIni, NamesMatchWithoutRegardToCaseAndOtherContentStays)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("app.ini");
    const QByteArray before = "; Mirava settings\r\n"
                              "[Other]\r\n"
                              "subfieldXcount=99\r\n"
                              "\r\n"
                              "[GLOBALCONST]\r\n"
                              "; the grid\r\n"
                              "SUBFIELDXCOUNT=7\r\n"
                              "extra=keep me\r\n"
                              "subfieldworkcount=\"9\"\r\n"
                              "\r\n"
                              "[last]\r\n"
                              "a=b";
    WriteBytes(path, before);
    TAppConfig config = TAppConfig::Read(path);
    EXPECT_EQ(config.SubfieldXCount, 7);
    EXPECT_EQ(config.SubfieldYCount, 4);
    EXPECT_EQ(config.SubfieldWorkCount, 9);
    config.SubfieldXCount = 5;
    config.Write(path);
    EXPECT_EQ(ReadBytes(path),
        QByteArray("; Mirava settings\r\n"
                   "[Other]\r\n"
                   "subfieldXcount=99\r\n"
                   "\r\n"
                   "[GLOBALCONST]\r\n"
                   "; the grid\r\n"
                   "SUBFIELDXCOUNT=5\r\n"
                   "extra=keep me\r\n"
                   "subfieldworkcount=9\r\n"
                   "subfieldYcount=4\r\n"
                   "\r\n"
                   "[last]\r\n"
                   "a=b"));
}

TEST(AppIni, SectionIsAppendedToAFileWithoutIt)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("app.ini");
    WriteBytes(path, "[window]\nleft=3");
    TAppConfig::Read(path).Write(path);
    EXPECT_EQ(ReadBytes(path),
        QByteArray(
            "[window]\nleft=3\n\n[globalconst]\nsubfieldXcount=4\nsubfieldYcount=4\nsubfieldworkcount=16\n"));
}

TEST(AppIni, ReadStringIgnoresCommentsAndOtherSections)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("x.ini");
    WriteBytes(path, "k=top\n[a]\n;k=comment\n#k=comment\n[b]\nk=b\n[a]\nK = second\n");
    TIniFile ini(path);
    ini.Load();
    EXPECT_EQ(ini.ReadString("A", "k", "none"), QStringLiteral("second"));
    EXPECT_EQ(ini.ReadString("b", "K", "none"), QStringLiteral("b"));
    EXPECT_EQ(ini.ReadString("c", "k", "none"), QStringLiteral("none"));
    EXPECT_EQ(ini.ReadInteger("b", "k", -3), -3);
}

// A named pipe, a folder or a link to an endless source in place of app.ini reads at once as an absent
// file; so does a file beyond the size limit.
TEST(AppIni, SpecialFilesAndHugeFilesReadAsAbsent)
{
    QTemporaryDir dir;
    const THangGuard guard;
    for (const TSpecialFile& special : MakeSpecialFiles(dir.path(), "app", ".ini")) {
        TIniFile ini(special.path);
        ini.Load();
        EXPECT_TRUE(ini.Content().isEmpty()) << special.kind;
        EXPECT_EQ(TAppConfig::Read(special.path).SubfieldWorkCount, 16) << special.kind;
    }
    const QString huge = dir.filePath("huge.ini");
    WriteBytes(huge, "[globalconst]\nsubfieldworkcount=9\n" + QByteArray(TIniFile::MaxBytes, ';'));
    EXPECT_EQ(TAppConfig::Read(huge).SubfieldWorkCount, 16);
    const QString limit = dir.filePath("limit.ini");
    const QByteArray head = "[globalconst]\nsubfieldworkcount=9\n";
    WriteBytes(limit, head + QByteArray(TIniFile::MaxBytes - head.size(), ';'));
    EXPECT_EQ(TAppConfig::Read(limit).SubfieldWorkCount, 9);
}

// Writing back over a file that could not be read (too large, or no regular file) would drop everything
// else it holds: it stays as it is and the error says why.
TEST(AppIni, AFileThatCouldNotBeReadIsNotReplaced)
{
    QTemporaryDir dir;
    const THangGuard guard;
    const QString huge = dir.filePath("huge.ini");
    const QByteArray content = "[user]\nname=Anna\n" + QByteArray(TIniFile::MaxBytes, ';');
    WriteBytes(huge, content);
    try {
        TAppConfig().Write(huge);
        FAIL() << "no error";
    } catch (const TAppError& error) {
        EXPECT_EQ(QString::fromUtf8(error.what()),
            QStringLiteral("Cannot create file \"%1\". The old file cannot be read, so it is kept as it is")
                .arg(huge));
    }
    EXPECT_EQ(ReadBytes(huge), content);
    for (const TSpecialFile& special : MakeSpecialFiles(dir.path(), "app", ".ini")) {
        EXPECT_THROW(TAppConfig().Write(special.path), TAppError) << special.kind;
        EXPECT_TRUE(QFileInfo(special.path).isSymLink() || !QFileInfo(special.path).isFile())
            << special.kind; // still there
    }
}

TEST(AppIni, FramingIsReadFromItsOwnSectionAndWrittenBackBesideGlobalconst)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("app.ini");
    // Absent, unknown and known values; letter case and white space do not count.
    EXPECT_EQ(TAppConfig::Read(path).Framing, TFraming::Corner);
    const std::pair<const char*, TFraming> cases[] = { { "face", TFraming::Face }, { " FIT ", TFraming::Fit },
        { "corner", TFraming::Corner }, { "eyes", TFraming::Corner }, { "", TFraming::Corner } };
    for (const auto& [text, framing] : cases) {
        WriteBytes(path, QByteArray("[mirava]\nframing=") + text + "\n");
        EXPECT_EQ(TAppConfig::Read(path).Framing, framing) << text;
    }
    // A key of the same name in another section is not the framing.
    WriteBytes(path, "[globalconst]\nframing=face\n");
    EXPECT_EQ(TAppConfig::Read(path).Framing, TFraming::Corner);

    // The default adds nothing to a file that never named a framing; another framing adds the section at
    // the end, and globalconst stays as it is.
    const QByteArray global
        = "[globalconst]\r\nsubfieldXcount=4\r\nsubfieldYcount=4\r\nsubfieldworkcount=16\r\n";
    WriteBytes(path, global);
    TAppConfig config = TAppConfig::Read(path);
    config.Write(path);
    EXPECT_EQ(ReadBytes(path), global);
    config.Framing = TFraming::Face;
    config.Write(path);
    EXPECT_EQ(ReadBytes(path), global + "\r\n[mirava]\r\nframing=face\r\n");
    EXPECT_EQ(TAppConfig::Read(path).Framing, TFraming::Face);
    // Back to the default, the key keeps its line; an unknown value is written back as the default.
    config.Framing = TFraming::Corner;
    config.Write(path);
    EXPECT_EQ(ReadBytes(path), global + "\r\n[mirava]\r\nframing=corner\r\n");
    WriteBytes(path, "[Mirava]\nFraming=sideways\n");
    TAppConfig::Read(path).Write(path);
    EXPECT_EQ(ReadBytes(path),
        QByteArray("[Mirava]\nFraming=corner\n\n[globalconst]\nsubfieldXcount=4\nsubfieldYcount=4\n"
                   "subfieldworkcount=16\n"));
}
