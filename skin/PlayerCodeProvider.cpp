#include "PlayerCodeProvider.h"

#include "SkinSubsystem.h"
#include "pictures/RegularFile.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <dlfcn.h>
#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>

namespace Mrv {

std::uint32_t PackVersion(unsigned major, unsigned minor, unsigned build, unsigned revision)
{
    return major * 16777216u + minor * 65536u + build * 256u + revision;
}

// --- loader ------------------------------------------------------------------------------------------------

TDLLLoader::~TDLLLoader()
{
    // The image is opened with RTLD_NODELETE: types the library registered with Qt may outlive this object,
    // so its code stays mapped until the process ends.
    if (handle)
        ::dlclose(handle);
}

void TDLLLoader::Load(QIODevice& stream)
{
    if (handle)
        throw std::runtime_error("A library image is already loaded.");
    const QByteArray image = stream.read(MaxImageBytes + 1);
    if (image.size() > MaxImageBytes)
        throw std::runtime_error("The library image is too large.");
    if (image.size() < 4
        || !image.startsWith("\x7f"
                             "ELF"))
        throw std::runtime_error("The stream does not hold a library image.");

    const int fd = ::memfd_create("mirava-player", MFD_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("No in-memory file could be created for the library image.");
    qsizetype done = 0;
    while (done < image.size()) {
        const ssize_t n = ::write(fd, image.constData() + done, static_cast<size_t>(image.size() - done));
        if (n <= 0) {
            ::close(fd);
            throw std::runtime_error("The library image could not be written to memory.");
        }
        done += n;
    }
    const QByteArray path = "/proc/self/fd/" + QByteArray::number(fd);
    handle = ::dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    ::close(fd);
    if (!handle) {
        const char* reason = ::dlerror();
        throw std::runtime_error(reason ? reason : "The library image could not be loaded.");
    }
    if (const TPlayerHostServices* services = HostServices())
        if (auto setServices = reinterpret_cast<TSetHostServicesFunction>(FindExport(ExportSetHostServices)))
            setServices(services);
}

void* TDLLLoader::FindExport(const char* name) const
{
    return handle ? ::dlsym(handle, name) : nullptr;
}

const TPlayerHostServices* TPlayerCodeLoader::HostServices() const
{
    return TSkinSubsystem::HostServices();
}

// --- providers ---------------------------------------------------------------------------------------------

HResult TPlayerCodeProvider::CreatePlayer(const TGuid&, void** object)
{
    if (object)
        *object = nullptr;
    return ResultFail;
}

TPlayerCodeProviderBasedOnStream::TPlayerCodeProviderBasedOnStream() = default;

TPlayerCodeProviderBasedOnStream::TPlayerCodeProviderBasedOnStream(QIODevice& stream)
{
    LoadFrom(stream);
}

TPlayerCodeProviderBasedOnStream::~TPlayerCodeProviderBasedOnStream() = default;

void TPlayerCodeProviderBasedOnStream::LoadFrom(QIODevice& stream)
{
    auto newLoader = std::make_unique<TPlayerCodeLoader>();
    try {
        newLoader->Load(stream);
    } catch (const std::exception& error) {
        loadError = QString::fromLocal8Bit(error.what());
        return;
    }
    loader = std::move(newLoader);
    // The version is read whether or not the library has a class factory: it still tells what the library is.
    getClassObject = reinterpret_cast<TGetClassObjectFunction>(loader->FindExport(ExportGetClassObject));
    const auto* record = static_cast<const TPlayerVersionRecord*>(loader->FindExport(ExportVersionRecord));
    if (record && record->magic == VersionRecordMagic)
        version = PackVersion(record->major, record->minor, record->build, record->revision);
}

HResult TPlayerCodeProviderBasedOnStream::CreatePlayer(const TGuid& iid, void** object)
{
    if (!object)
        return ResultPointer;
    *object = nullptr;
    if (!getClassObject)
        return ResultFail;
    void* factoryObject = nullptr;
    if (Failed(getClassObject(&ClsidMoviePlayer, &IidClassFactory, &factoryObject)) || !factoryObject)
        return ResultFail;
    auto* factory = static_cast<IClassFactory*>(factoryObject);
    factory->CreateInstance(nullptr, iid, object);
    factory->Release();
    return ResultOk;
}

QString TPlayerCodeProviderBasedOnInstalledLibrary::RegistrationPath(const QString& appFolder)
{
    return appFolder + QStringLiteral("registry/CLSID/{7A3C51E2-94B0-4F6D-8C1E-2B5D9A60F314}/InprocServer32");
}

QString TPlayerCodeProviderBasedOnInstalledLibrary::RegisteredLibrary(const QString& appFolder)
{
    // Only the first line counts; a named pipe or a device in its place reads as no registration.
    TRegularFile registration;
    if (!registration.Open(RegistrationPath(appFolder)))
        return {};
    const std::optional<QByteArray> head = registration.ReadAtMost(4096);
    if (!head)
        return {};
    const QString path = QString::fromUtf8(head->left(head->indexOf('\n'))).trimmed();
    if (path.isEmpty() || QFileInfo(path).isAbsolute())
        return path;
    return QDir(appFolder).filePath(path);
}

TPlayerCodeProviderBasedOnInstalledLibrary::TPlayerCodeProviderBasedOnInstalledLibrary(
    const QString& appFolder)
{
    const QString path = RegisteredLibrary(appFolder);
    if (path.isEmpty())
        return;
    // A pipe or a device would hold the start-up, and a system file could be read without end: the library is
    // read only as a regular file of at most the size of a library image.
    const std::optional<QByteArray> image = ReadRegularFile(path, TDLLLoader::MaxImageBytes);
    if (!image)
        return;
    QBuffer library;
    library.setData(*image);
    library.open(QIODevice::ReadOnly);
    LoadFrom(library);
}

} // namespace Mrv
