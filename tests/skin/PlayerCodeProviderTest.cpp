#include "skin/PlayerCodeProvider.h"

#include "support/SpecialFiles.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Mrv;

namespace {

std::unique_ptr<TPlayerCodeProviderBasedOnStream> FromFile(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return std::make_unique<TPlayerCodeProviderBasedOnStream>(file);
}

// Creates an object and reports whether one came back; releases it again.
bool Creates(TPlayerCodeProvider& provider, const TGuid& iid = IidUnknown)
{
    void* object = reinterpret_cast<void*>(1);
    provider.CreatePlayer(iid, &object);
    if (!object)
        return false;
    static_cast<IUnknownBase*>(object)->Release();
    return true;
}

void Register(const QString& appFolder, const QByteArray& firstLine)
{
    const QString path = TPlayerCodeProviderBasedOnInstalledLibrary::RegistrationPath(appFolder);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(firstLine + "\nsecond line is ignored\n");
}

} // namespace

TEST(SkinPlayerCode, TheStreamProviderLoadsThePlayerLibraryAndReadsItsVersion)
{
    auto provider = FromFile(QStringLiteral(MIRAVA_PLAYER_LIBRARY));
    EXPECT_TRUE(provider->LoadError().isEmpty()) << provider->LoadError().toStdString();
    EXPECT_EQ(provider->Version(), PackVersion(8, 0, 0, 0));
    EXPECT_EQ(provider->Version(), 0x08000000u);

    void* object = nullptr;
    EXPECT_EQ(provider->CreatePlayer(IidMoviePlayer, &object), ResultOk);
    ASSERT_NE(object, nullptr);
    auto* player = static_cast<IMoviePlayer*>(object);
    std::int32_t version = 0;
    EXPECT_EQ(player->EngineVersion(&version), ResultOk);
    EXPECT_EQ(version, 0x00080000);
    void* view = nullptr;
    EXPECT_EQ(player->QueryInterface(IidViewObjectEx, &view), ResultOk);
    static_cast<IViewObjectEx*>(view)->Release();
    player->Release();

    // An interface the player does not have: success is judged by whether an object came back.
    EXPECT_FALSE(Creates(*provider, IidClientSite));
}

TEST(SkinPlayerCode, ALibraryWithoutVersionRecordHasVersionZero)
{
    auto provider = FromFile(QStringLiteral(MIRAVA_NOVERSION_LIBRARY));
    EXPECT_TRUE(provider->LoadError().isEmpty()) << provider->LoadError().toStdString();
    EXPECT_EQ(provider->Version(), 0u);
    EXPECT_TRUE(Creates(*provider));
}

TEST(SkinPlayerCode, ALibraryWithoutClassFactoryStillReportsItsVersion)
{
    auto provider = FromFile(QStringLiteral(MIRAVA_NOFACTORY_LIBRARY));
    EXPECT_TRUE(provider->LoadError().isEmpty()) << provider->LoadError().toStdString();
    EXPECT_FALSE(Creates(*provider));
    EXPECT_EQ(provider->Version(), PackVersion(3, 1, 2, 4));
}

TEST(SkinPlayerCode, WithoutALibraryNoPlayerIsCreated)
{
    TPlayerCodeProvider abstractProvider;
    EXPECT_FALSE(Creates(abstractProvider));
    EXPECT_EQ(abstractProvider.Version(), 0u);

    for (const QByteArray& bytes : { QByteArray(), QByteArray("not a library at all"),
             QByteArray("\x7f"
                        "ELF truncated") }) {
        QBuffer stream;
        stream.setData(bytes);
        stream.open(QIODevice::ReadOnly);
        TPlayerCodeProviderBasedOnStream provider(stream);
        EXPECT_FALSE(provider.LoadError().isEmpty());
        EXPECT_FALSE(Creates(provider));
        EXPECT_EQ(provider.Version(), 0u);
    }
}

TEST(SkinPlayerCode, TheInstalledLibraryIsFoundThroughItsRegistration)
{
    QTemporaryDir folder;
    const QString appFolder = folder.path() + QLatin1Char('/');
    {
        TPlayerCodeProviderBasedOnInstalledLibrary unregistered(appFolder);
        EXPECT_FALSE(Creates(unregistered));
        EXPECT_EQ(unregistered.Version(), 0u);
    }
    Register(appFolder, "/nonexistent/libplayer.so");
    {
        TPlayerCodeProviderBasedOnInstalledLibrary missingFile(appFolder);
        EXPECT_FALSE(Creates(missingFile));
    }
    Register(appFolder, MIRAVA_PLAYER_LIBRARY);
    {
        TPlayerCodeProviderBasedOnInstalledLibrary installed(appFolder);
        EXPECT_TRUE(Creates(installed, IidMoviePlayer));
        EXPECT_EQ(installed.Version(), 0x08000000u);
    }
    // A relative path counts from the program's folder.
    ASSERT_TRUE(QDir().mkpath(folder.filePath(QStringLiteral("lib"))));
    ASSERT_TRUE(
        QFile::copy(QStringLiteral(MIRAVA_PLAYER_LIBRARY), folder.filePath(QStringLiteral("lib/p.so"))));
    Register(appFolder, "lib/p.so");
    TPlayerCodeProviderBasedOnInstalledLibrary relative(appFolder);
    EXPECT_TRUE(Creates(relative));
}

TEST(SkinPlayerCode, ARegisteredNamedPipeIsNotWaitedOn)
{
    QTemporaryDir folder;
    const QString appFolder = folder.path() + QLatin1Char('/');
    const QByteArray fifo = QFile::encodeName(folder.filePath(QStringLiteral("player.so")));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    Register(appFolder, fifo);
    auto version = std::async(
        std::launch::async, [&] { return TPlayerCodeProviderBasedOnInstalledLibrary(appFolder).Version(); });
    if (version.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "the provider waits for a writer";
        const int writer = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK); // lets the provider go on
        ::close(writer);
        version.wait();
    }
    EXPECT_EQ(version.get(), 0u);
}

TEST(SkinPlayerCode, TheBuildRegistersThePlayerBesideTheProgram)
{
    const QString registered
        = TPlayerCodeProviderBasedOnInstalledLibrary::RegisteredLibrary(QStringLiteral(MIRAVA_APP_DIR "/"));
    EXPECT_EQ(QFileInfo(registered).canonicalFilePath(),
        QFileInfo(QStringLiteral(MIRAVA_PLAYER_LIBRARY)).canonicalFilePath());
}

// The registration itself, or the library it names, as a named pipe, a folder or a link to an endless source:
// the start-up goes on at once without a player.
TEST(SkinPlayerCode, SpecialFilesInTheRegistrationAreNotWaitedOn)
{
    QTemporaryDir folder;
    const QString appFolder = folder.path() + QLatin1Char('/');
    const THangGuard guard;
    for (const TSpecialFile& special : MakeSpecialFiles(folder.path(), "player", ".so")) {
        Register(appFolder, QFile::encodeName(special.path));
        TPlayerCodeProviderBasedOnInstalledLibrary provider(appFolder);
        EXPECT_EQ(provider.Version(), 0u) << special.kind;
        EXPECT_FALSE(Creates(provider)) << special.kind;
    }
    const QString registration = TPlayerCodeProviderBasedOnInstalledLibrary::RegistrationPath(appFolder);
    ASSERT_TRUE(QFile::remove(registration));
    ASSERT_EQ(::mkfifo(QFile::encodeName(registration).constData(), 0600), 0);
    EXPECT_TRUE(TPlayerCodeProviderBasedOnInstalledLibrary::RegisteredLibrary(appFolder).isEmpty());
}
