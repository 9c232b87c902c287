#include "SkinSubsystem.h"

#include "ContentManager.h"
#include "PlayerCodeProvider.h"

#include <QCoreApplication>
#include <atomic>
#include <cstring>
#include <mutex>

namespace Mrv {

namespace {

int useCount = 0;
QString appFolder;
std::unique_ptr<TPlayerCodeProvider> provider;
std::unique_ptr<TContentManager> contentManager;
std::atomic<bool> soundOn { true };
std::mutex soundLock;
std::function<int(const void*, std::size_t)> soundOutput;

int OpenFileService(const char* name, int flags, int mode)
{
    return TSkinSubsystem::ContentManager()->FileOpen(QString::fromLocal8Bit(name), flags, mode);
}

HResult BindToStorageService(const QString& url, IBindStatusCallback* consumer)
{
    return TSkinSubsystem::ContentManager()->BindToStorage(url, consumer);
}

const TPlayerHostServices services = {
    sizeof(TPlayerHostServices),
    &OpenFileService,
    &BindToStorageService,
    &TSkinSubsystem::WriteSound,
};

} // namespace

void TSkinSubsystem::Start()
{
    if (useCount++ > 0)
        return;
    if (!contentManager)
        contentManager = std::make_unique<TContentManager>();
    soundOn = true;
    if (!provider)
        provider = std::make_unique<TPlayerCodeProviderBasedOnInstalledLibrary>(AppFolder());
}

void TSkinSubsystem::Stop()
{
    if (useCount == 0 || --useCount > 0)
        return;
    provider.reset();
    contentManager.reset();
}

void TSkinSubsystem::SetAppFolder(const QString& folder)
{
    appFolder = folder;
    if (!appFolder.isEmpty() && !appFolder.endsWith(QLatin1Char('/')))
        appFolder += QLatin1Char('/');
}

QString TSkinSubsystem::AppFolder()
{
    if (appFolder.isEmpty() && QCoreApplication::instance())
        return QCoreApplication::applicationDirPath() + QLatin1Char('/');
    return appFolder;
}

void TSkinSubsystem::SetPlayerCodeProvider(std::unique_ptr<TPlayerCodeProvider> newProvider)
{
    provider = std::move(newProvider);
}

TPlayerCodeProvider* TSkinSubsystem::PlayerCodeProvider()
{
    return provider.get();
}

TContentManager* TSkinSubsystem::ContentManager()
{
    if (!contentManager)
        contentManager = std::make_unique<TContentManager>();
    return contentManager.get();
}

void TSkinSubsystem::SetSoundOn(bool on)
{
    soundOn = on;
}

bool TSkinSubsystem::SoundOn()
{
    return soundOn;
}

int TSkinSubsystem::WriteSound(void* data, std::size_t size, TSoundSink sink, void* context)
{
    std::lock_guard guard(soundLock);
    if (!soundOn && data)
        std::memset(data, 0, size);
    if (soundOutput)
        return soundOutput(data, size);
    return sink ? sink(data, size, context) : -1;
}

void TSkinSubsystem::SetSoundOutput(std::function<int(const void*, std::size_t)> output)
{
    std::lock_guard guard(soundLock);
    soundOutput = std::move(output);
}

const TPlayerHostServices* TSkinSubsystem::HostServices()
{
    return &services;
}

} // namespace Mrv
