#include "app/UserFolders.h"

#include "app/CommandLine.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

mode_t ModeOf(const QString& path)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

} // namespace

TEST(UserFolders, AWritableProgramFolderKeepsEverythingWhereItWas)
{
    const TUserFolders folders = TUserFolders::For(QStringLiteral("/build/bin/"), true,
        QStringLiteral("/home/ida"), QStringLiteral("/x/config"), QStringLiteral("/x/data"));
    EXPECT_FALSE(folders.PerUser);
    EXPECT_EQ(folders.ConfigFolder, QStringLiteral("/build/bin/"));
    EXPECT_EQ(folders.ReportFolder, QStringLiteral("/build/bin/"));
    EXPECT_EQ(folders.StateFilePrefix, QString()); // the slot files go to the current folder
    EXPECT_EQ(folders.DataFolder, QString());
    EXPECT_TRUE(folders.Create()); // and nothing is made
}

TEST(UserFolders, AnInstalledProgramUsesTheXdgFoldersOrTheirDefaults)
{
    const TUserFolders given = TUserFolders::For(QStringLiteral("/usr/lib/mirava/"), false,
        QStringLiteral("/home/ida"), QStringLiteral("/x/config/"), QStringLiteral("/x//data"));
    EXPECT_TRUE(given.PerUser);
    EXPECT_EQ(given.ConfigFolder, QStringLiteral("/x/config/mirava/"));
    EXPECT_EQ(given.DataFolder, QStringLiteral("/x/data/mirava/"));
    EXPECT_EQ(given.StateFilePrefix, given.DataFolder);
    EXPECT_EQ(given.ReportFolder, given.DataFolder);

    // Unset, empty or relative values count as unset.
    for (const QString& value : { QString(), QStringLiteral("config"), QStringLiteral("./x") }) {
        const TUserFolders fallback = TUserFolders::For(
            QStringLiteral("/usr/lib/mirava/"), false, QStringLiteral("/home/ida"), value, value);
        EXPECT_EQ(fallback.ConfigFolder, QStringLiteral("/home/ida/.config/mirava/")) << value.toStdString();
        EXPECT_EQ(fallback.DataFolder, QStringLiteral("/home/ida/.local/share/mirava/"))
            << value.toStdString();
    }
}

TEST(UserFolders, MissingFoldersAreMadePrivateAndExistingOnesKeepTheirMode)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    ASSERT_TRUE(QDir(home.path()).mkdir(QStringLiteral("shared")));
    ASSERT_EQ(::chmod(QFile::encodeName(home.filePath(QStringLiteral("shared"))).constData(), 0755), 0);
    const mode_t umask = ::umask(0); // a permissive umask must not open the new folders up
    const TUserFolders folders = TUserFolders::For(QStringLiteral("/usr/lib/mirava/"), false, home.path(),
        home.filePath(QStringLiteral("shared")), QString());
    const bool made = folders.Create();
    ::umask(umask);
    ASSERT_TRUE(made);
    EXPECT_EQ(ModeOf(home.filePath(QStringLiteral("shared"))), 0755u);
    EXPECT_EQ(ModeOf(home.filePath(QStringLiteral("shared/mirava"))), 0700u);
    EXPECT_EQ(ModeOf(home.filePath(QStringLiteral(".local"))), 0700u);
    EXPECT_EQ(ModeOf(home.filePath(QStringLiteral(".local/share"))), 0700u);
    EXPECT_EQ(ModeOf(home.filePath(QStringLiteral(".local/share/mirava"))), 0700u);
    EXPECT_TRUE(folders.Create()); // a second run finds them there

    // A file where a folder should be is a failure, not a success.
    QFile blocker(home.filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_FALSE(MakePrivateFolder(home.filePath(QStringLiteral("file"))));
    EXPECT_FALSE(MakePrivateFolder(home.filePath(QStringLiteral("file/mirava"))));
    EXPECT_FALSE(MakePrivateFolder(QStringLiteral("relative/mirava")));
}

TEST(UserFolders, TheProgramsFolderDecidesFromItsWritabilityAndTheInstalledMarker)
{
    QTemporaryDir appFolder;
    ASSERT_TRUE(appFolder.isValid());
    const QString folder = appFolder.path() + u'/';
    EXPECT_TRUE(TUserFolders::IsOwnFolder(folder));
    EXPECT_FALSE(TUserFolders::For(folder).PerUser);
    // A folder that does not exist cannot be written to either.
    EXPECT_FALSE(TUserFolders::IsOwnFolder(appFolder.filePath(QStringLiteral("gone/"))));
    // An installed tree is never written to, even by a user who could (root).
    QFile marker(folder + QString::fromLatin1(TUserFolders::InstalledMarker));
    ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
    marker.close();
    EXPECT_FALSE(TUserFolders::IsOwnFolder(folder));
    EXPECT_TRUE(TUserFolders::For(folder).PerUser);
}

TEST(CommandLine, TheWindowRefusesArgumentsButTakesNone)
{
    EXPECT_EQ(RejectArguments({ QStringLiteral("mirava") }, QStringLiteral("mirava")), std::nullopt);
    EXPECT_EQ(RejectArguments(
                  { QStringLiteral("mirava"), QStringLiteral("--frobnicate") }, QStringLiteral("mirava")),
        2);
    EXPECT_EQ(
        RejectArguments({ QStringLiteral("mirava"), QStringLiteral("faces/") }, QStringLiteral("mirava")), 2);
    EXPECT_FALSE(ProgramVersion().isEmpty());
}
