#include "mmf/MMFArray.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

const char TempNameAlphabet[] = "_QWERTYUIOPASDFGHJKLZXCVBNMqwertyuiopasdfghjklzxcvbnm1234567890";
static_assert(sizeof(TempNameAlphabet) - 1 == TempNameAlphabetLength);

namespace {

// How often SetCount draws a new name when the drawn one is taken before it gives up.
constexpr int CreateAttempts = 100;

std::atomic<TMMFSystem*> defaultSystem { nullptr };

TMMFSystem& OperatingSystem()
{
    static TMMFSystem system;
    return system;
}

} // namespace

std::string TMMFSystem::TempDir()
{
    const char* dir = std::getenv("TMPDIR");
    std::string path = dir && *dir ? dir : "/tmp";
    if (path.back() != '/')
        path += '/';
    return path;
}

uint32_t TMMFSystem::ClockSeed()
{
    return static_cast<uint32_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
}

bool TMMFSystem::Exists(const std::string& path)
{
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

int TMMFSystem::CreateExclusive(const std::string& path)
{
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
}

int TMMFSystem::OpenExisting(const std::string& path)
{
    return ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
}

bool TMMFSystem::Reserve(int fd, uint64_t size)
{
    // posix_fallocate extends the file when needed and never shrinks it; the space is
    // reserved now, so that writing into the mapping cannot fail later.
    return ::posix_fallocate(fd, 0, static_cast<off_t>(size)) == 0;
}

void* TMMFSystem::Map(int fd, uint64_t size)
{
    // The view starts on a 2 MB boundary and asks for large pages where the kernel can map
    // file pages that way: the network's scattered reads then need far fewer page walks.
    // Where it cannot, the view is an ordinary shared mapping.
    constexpr uint64_t LargePage = uint64_t(2) << 20;
    void* address = MAP_FAILED;
    if (size >= LargePage) {
        void* reserved = ::mmap(
            nullptr, size + LargePage, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (reserved != MAP_FAILED) {
            const auto start = reinterpret_cast<uintptr_t>(reserved);
            const uintptr_t aligned = (start + LargePage - 1) & ~(LargePage - 1);
            address = ::mmap(reinterpret_cast<void*>(aligned), size, PROT_READ | PROT_WRITE,
                MAP_SHARED | MAP_FIXED, fd, 0);
            // Give back the parts of the reservation around the view (or all of it on failure).
            if (address == MAP_FAILED) {
                ::munmap(reserved, size + LargePage);
            } else {
                if (aligned > start)
                    ::munmap(reserved, aligned - start);
                const uintptr_t end = aligned + size;
                const uintptr_t reservedEnd = start + size + LargePage;
                const uintptr_t pageEnd = (end + 4095) & ~uintptr_t(4095);
                if (reservedEnd > pageEnd)
                    ::munmap(reinterpret_cast<void*>(pageEnd), reservedEnd - pageEnd);
                ::madvise(address, size, MADV_HUGEPAGE);
            }
        }
    }
    if (address == MAP_FAILED)
        address = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED)
        return nullptr;
    // Fault the whole view in now rather than page by page during the first computations.
    ::madvise(address, size, MADV_POPULATE_WRITE);
    return address;
}

void TMMFSystem::Unmap(void* address, uint64_t size)
{
    ::munmap(address, size);
}

void TMMFSystem::Close(int fd)
{
    ::close(fd);
}

bool TMMFSystem::Remove(const std::string& path)
{
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

TMMFSystem* TMMFSystem::Default()
{
    TMMFSystem* system = defaultSystem.load();
    return system ? system : &OperatingSystem();
}

TMMFSystem* TMMFSystem::SetDefault(TMMFSystem* system)
{
    TMMFSystem* previous = defaultSystem.exchange(system);
    return previous ? previous : &OperatingSystem();
}

TMMFArray::TMMFArray(TMMFSystem* system)
    : system(system ? system : TMMFSystem::Default())
{
    fileName = MakeTempFileName();
}

TMMFArray::~TMMFArray()
{
    Release();
}

int TMMFArray::ElementSize(uint8_t code)
{
    switch (code) {
    case 0:
    case 2:
        return 1;
    case 1:
        return 2;
    case 3:
    case 4:
    case 6:
    case 11:
        return 4;
    case 5:
    case 7:
        return 8;
    case 8:
        return 10;
    default:
        return 0;
    }
}

void TMMFArray::SetDataType(uint8_t code)
{
    if (ElementSize(code) == 0)
        throw TMMFError("Unsupported element type code " + std::to_string(code) + "!");
    if (mapped)
        throw TMMFError("The element type cannot change while the array is mapped!");
    dataType = code;
    elementSize = ElementSize(code);
}

std::string TMMFArray::GetTempDir()
{
    return system->TempDir();
}

std::string TMMFArray::MakeTempFileName()
{
    // Successive calls within one clock tick still draw different names.
    static std::atomic<uint32_t> calls { 0 };
    std::mt19937 generator(system->ClockSeed() ^ (calls.fetch_add(1) * 0x9E3779B9u));
    // 64 values: 0 restarts the name, 1 to 63 pick a character, so each character is
    // uniform over the alphabet.
    std::uniform_int_distribution<int> draw(0, TempNameAlphabetLength);
    const std::string dir = system->TempDir();
    for (;;) {
        std::string name;
        while (name.size() < 8) {
            const int r = draw(generator);
            if (r == 0)
                name.clear();
            else
                name += TempNameAlphabet[r - 1];
        }
        std::string path = dir + name + ".tmp";
        if (!system->Exists(path))
            return path;
    }
}

void TMMFArray::MapFile(bool createNew, uint64_t kept)
{
    int fd = -1;
    if (createNew) {
        // The file is created exclusively: a name taken meanwhile by anyone else is never
        // opened, a new one is drawn instead.
        for (int attempt = 0; attempt < CreateAttempts; ++attempt) {
            fd = system->CreateExclusive(fileName);
            if (fd >= 0 || errno != EEXIST)
                break;
            fileName = MakeTempFileName();
        }
        if (fd >= 0) {
            fileMade = true;
            fileLength = 0;
        }
    } else {
        fd = system->OpenExisting(fileName);
    }
    if (fd < 0)
        throw TMMFError("Failed to open or create file!");

    mapSize = static_cast<uint64_t>(count) * static_cast<uint64_t>(elementSize);
    size = mapSize;
    const bool reserved = system->Reserve(fd, mapSize);
    void* view = reserved ? system->Map(fd, mapSize) : nullptr;
    system->Close(fd);
    if (!reserved)
        throw TMMFError("Failed to create file mapping!");
    if (!view)
        throw TMMFError("Failed to map view of file!");
    base = static_cast<uint8_t*>(view);
    mapped = true;
    // The file keeps its length when the array shrinks, so growing again would bring back the
    // values of elements that were given up. Elements gained read as zero.
    const uint64_t stale = std::min(fileLength, mapSize);
    if (stale > kept)
        std::memset(base + kept, 0, stale - kept);
    fileLength = std::max(fileLength, mapSize);
}

void TMMFArray::SetCount(uint32_t n)
{
    if (count == 0 && n == 0)
        return;
    if (n == 0) {
        Release();
        if (fileMade)
            system->Remove(fileName);
        fileMade = false;
        deleteOnRelease = true;
        fileName = MakeTempFileName();
        return;
    }
    const bool createNew = !fileMade;
    const uint64_t kept = static_cast<uint64_t>(std::min(count, n)) * static_cast<uint64_t>(elementSize);
    if (mapped) {
        system->Unmap(base, mapSize);
        base = nullptr;
        mapped = false;
    }
    count = n;
    MapFile(createNew, kept);
}

void TMMFArray::Release()
{
    if (mapped)
        system->Unmap(base, mapSize);
    base = nullptr;
    lastItem = nullptr;
    mapped = false;
    count = 0;
    size = 0;
    // Only a file this array created is ever deleted; when deleting fails it stays known,
    // so that a later SetCount(0) tries again.
    if (deleteOnRelease && fileMade && system->Remove(fileName))
        fileMade = false;
    deleteOnRelease = true;
}
