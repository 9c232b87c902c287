// Where the movie player's code comes from: a player library image, loaded by the host itself from a stream
// (an anonymous in-memory file handed to the dynamic loader), and its class factory.
#pragma once

#include "player/MoviePlayerInterfaces.h"

#include <QIODevice>
#include <QString>
#include <memory>

namespace Mrv {

// Loads a library image from a stream. Its one overridable operation says which host services the library
// gets when it is loaded (none here).
class TDLLLoader
{
public:
    static constexpr qint64 MaxImageBytes = 256 * 1024 * 1024;

    TDLLLoader() = default;
    virtual ~TDLLLoader();
    TDLLLoader(const TDLLLoader&) = delete;
    TDLLLoader& operator=(const TDLLLoader&) = delete;

    // Throws std::runtime_error with the reason when the image cannot be loaded.
    void Load(QIODevice& stream);
    void* FindExport(const char* name) const;
    bool Loaded() const { return handle != nullptr; }

protected:
    virtual const TPlayerHostServices* HostServices() const { return nullptr; }

private:
    void* handle = nullptr;
};

// The loader for player libraries: hands them the host's file, URL and sound services.
class TPlayerCodeLoader final : public TDLLLoader
{
protected:
    const TPlayerHostServices* HostServices() const override;
};

class TPlayerCodeProvider
{
public:
    virtual ~TPlayerCodeProvider() = default;
    // Creates a player object and returns the asked interface in object; ResultFail when there is no code.
    virtual HResult CreatePlayer(const TGuid& iid, void** object);
    // The library's packed version: major * 2^24 + minor * 2^16 + build * 2^8 + revision; 0 when unknown.
    virtual std::uint32_t Version() const { return 0; }
};

class TPlayerCodeProviderBasedOnStream : public TPlayerCodeProvider
{
public:
    explicit TPlayerCodeProviderBasedOnStream(QIODevice& stream);
    ~TPlayerCodeProviderBasedOnStream() override;
    HResult CreatePlayer(const TGuid& iid, void** object) override;
    std::uint32_t Version() const override { return version; }
    // Why the library could not be loaded (empty when it was).
    QString LoadError() const { return loadError; }

protected:
    TPlayerCodeProviderBasedOnStream();
    void LoadFrom(QIODevice& stream);

private:
    std::unique_ptr<TPlayerCodeLoader> loader;
    TGetClassObjectFunction getClassObject = nullptr;
    std::uint32_t version = 0;
    QString loadError;
};

// Finds the installed player library through its registration: the first line of the file
// AppFolder + "registry/CLSID/{7A3C51E2-94B0-4F6D-8C1E-2B5D9A60F314}/InprocServer32" is the library's path
// (a relative path counts from AppFolder).
class TPlayerCodeProviderBasedOnInstalledLibrary final : public TPlayerCodeProviderBasedOnStream
{
public:
    explicit TPlayerCodeProviderBasedOnInstalledLibrary(const QString& appFolder);
    static QString RegistrationPath(const QString& appFolder);
    static QString RegisteredLibrary(const QString& appFolder);
};

std::uint32_t PackVersion(unsigned major, unsigned minor, unsigned build, unsigned revision);

} // namespace Mrv
