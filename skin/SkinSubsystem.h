// Process-wide state of the skin host: the player-code provider, the content manager, the sound switch and
// the services table handed to player libraries. Started and stopped with a use count; GUI thread only,
// except the sound lock.
#pragma once

#include "player/MoviePlayerInterfaces.h"

#include <QString>
#include <functional>
#include <memory>

namespace Mrv {

class TContentManager;
class TPlayerCodeProvider;

class TSkinSubsystem
{
public:
    // The first start creates the provider (unless one was set) and the content manager; the last stop frees
    // them.
    static void Start();
    static void Stop();

    // The folder whose registration names the installed player library; by default the executable's folder.
    static void SetAppFolder(const QString& folder);
    static QString AppFolder();
    // Replaces the player-code provider (for example one built from a stream).
    static void SetPlayerCodeProvider(std::unique_ptr<TPlayerCodeProvider> provider);
    static TPlayerCodeProvider* PlayerCodeProvider();
    static TContentManager* ContentManager();

    static void SetSoundOn(bool on);
    static bool SoundOn();
    static int WriteSound(void* data, std::size_t size, TSoundSink sink, void* context);
    // Replaces the player's sound output (tests): what would be played goes to output instead.
    static void SetSoundOutput(std::function<int(const void* data, std::size_t size)> output);
    static const TPlayerHostServices* HostServices();
};

} // namespace Mrv
