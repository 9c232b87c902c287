#include "mmf/MMFArray.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

const char TempNameAlphabet[] = "_QWERTYUIOPASDFGHJKLZXCVBNMqwertyuiopasdfghjklzxcvbnm1234567890";
static_assert(sizeof(TempNameAlphabet) - 1 == TempNameAlphabetLength);

namespace {

// How often SetCount draws a new name when the drawn one is taken before it gives up.
constexpr int CreateAttempts = 100;

std::atomic<TMMFSystem*> defaultSystem { nullptr };

// The three errors of SetCount; callers recognise them by these opening words.
const char* const OpenFailed = "Failed to open or create file!";
const char* const MappingFailed = "Failed to create file mapping!";
const char* const ViewFailed = "Failed to map view of file!";

std::string Reason(int error)
{
    char buffer[256];
    return ::strerror_r(error, buffer, sizeof buffer);
}

// An error names what failed, the file or folder, and why.
[[noreturn]] void Fail(const char* what, const std::string& path, const std::string& why)
{
    throw TMMFError(std::string(what) + " " + path + ": " + why);
}

[[noreturn]] void Fail(const char* what, const std::string& path, int error)
{
    Fail(what, path, Reason(error));
}

bool SameFile(const TMMFFileInfo& a, const TMMFFileInfo& b)
{
    return a.isRegular && b.isRegular && a.device == b.device && a.inode == b.inode;
}

void Describe(const struct stat& status, TMMFFileInfo& info)
{
    info.isFolder = S_ISDIR(status.st_mode);
    info.isLink = S_ISLNK(status.st_mode);
    info.isRegular = S_ISREG(status.st_mode);
    info.owner = status.st_uid;
    info.mode = status.st_mode & 07777;
    info.device = status.st_dev;
    info.inode = status.st_ino;
}

// The files of the arrays that have one, for RemoveAllFilesNow. An entry is Free, being Written (by the array
// that took it), Live (its path complete), or Removing (claimed by RemoveAllFilesNow, which then reads the
// path while no one may change it). A path too long for an entry is left out; the next set-up removes it.
enum TLiveState : int { Free, Written, Live, Removing };
constexpr int LiveEntries = 32;
constexpr size_t LivePathCapacity = 4096;
struct TLiveFile
{
    std::atomic<int> state { Free };
    char path[LivePathCapacity];
};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may only use lock-free atomics");
TLiveFile liveFiles[LiveEntries];

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
    return ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
}

bool TMMFSystem::Reserve(int fd, uint64_t size)
{
    // posix_fallocate extends the file when needed and never shrinks it; the space is
    // reserved now, so that writing into the mapping cannot fail later.
    const int error = ::posix_fallocate(fd, 0, static_cast<off_t>(size));
    errno = error;
    return error == 0;
}

uint32_t TMMFSystem::UserId()
{
    return ::geteuid();
}

bool TMMFSystem::MakeFolder(const std::string& path)
{
    return ::mkdir(path.c_str(), 0700) == 0;
}

bool TMMFSystem::Inspect(const std::string& path, TMMFFileInfo& info)
{
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0)
        return false;
    Describe(status, info);
    return true;
}

bool TMMFSystem::InspectOpen(int fd, TMMFFileInfo& info)
{
    struct stat status;
    if (::fstat(fd, &status) != 0)
        return false;
    Describe(status, info);
    return true;
}

bool TMMFSystem::TryLock(int fd)
{
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

std::vector<std::string> TMMFSystem::ListFolder(const std::string& path)
{
    std::vector<std::string> names;
    DIR* folder = ::opendir(path.c_str());
    if (!folder)
        return names;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(folder);
    return names;
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
    // A file that could not be deleted stays without its lock: the next set-up of a store
    // removes it.
    CloseFile();
    ForgetLiveFile();
}

void TMMFArray::RecordLiveFile()
{
    if (liveEntry >= 0 || fileName.size() >= LivePathCapacity)
        return;
    for (int i = 0; i < LiveEntries; ++i) {
        int expected = Free;
        if (!liveFiles[i].state.compare_exchange_strong(expected, Written))
            continue;
        std::memcpy(liveFiles[i].path, fileName.c_str(), fileName.size() + 1);
        liveFiles[i].state.store(Live);
        liveEntry = i;
        return;
    }
}

void TMMFArray::ForgetLiveFile()
{
    if (liveEntry < 0)
        return;
    // An entry that RemoveAllFilesNow has claimed stays claimed: the process ends.
    int expected = Live;
    liveFiles[liveEntry].state.compare_exchange_strong(expected, Free);
    liveEntry = -1;
}

void TMMFArray::RemoveAllFilesNow()
{
    for (TLiveFile& entry : liveFiles) {
        int expected = Live;
        if (entry.state.compare_exchange_strong(expected, Removing))
            ::unlink(entry.path);
    }
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

std::string TMMFArray::StoreFolder()
{
    return GetTempDir() + "mirava-" + std::to_string(system->UserId()) + "/";
}

bool TMMFArray::IsStoreFileName(const std::string& name)
{
    if (name.size() != 12 || name.compare(8, 4, ".tmp") != 0)
        return false;
    for (size_t i = 0; i < 8; ++i)
        if (name[i] == '\0' || !std::strchr(TempNameAlphabet, name[i]))
            return false;
    return true;
}

std::string TMMFArray::MakeTempFileName()
{
    // Successive calls within one clock tick still draw different names.
    static std::atomic<uint32_t> calls { 0 };
    std::mt19937 generator(system->ClockSeed() ^ (calls.fetch_add(1) * 0x9E3779B9u));
    // 64 values: 0 restarts the name, 1 to 63 pick a character, so each character is
    // uniform over the alphabet.
    std::uniform_int_distribution<int> draw(0, TempNameAlphabetLength);
    const std::string dir = StoreFolder();
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

void TMMFArray::PreparePrivateFolder(const std::string& folder)
{
    // Without the closing "/": a link must be seen as a link, not as what it points to.
    const std::string path = folder.substr(0, folder.size() - 1);
    if (!system->MakeFolder(path) && errno != EEXIST)
        Fail(OpenFailed, path, errno);
    // The folder that was there already may have been put there by someone else: the files
    // go only into a real folder of this user that nobody else can enter. Inside the sticky
    // temporary folder nobody else can then rename or replace it either.
    TMMFFileInfo info;
    if (!system->Inspect(path, info))
        Fail(OpenFailed, path, errno);
    if (info.isLink || !info.isFolder)
        Fail(OpenFailed, path,
            "not a folder (a link or a file has its name); store files go only into a private folder");
    const uint32_t user = system->UserId();
    if (info.owner != user)
        Fail(OpenFailed, path,
            "the folder belongs to user " + std::to_string(info.owner) + ", not to this user ("
                + std::to_string(user) + ")");
    if ((info.mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", info.mode & 07777);
        Fail(OpenFailed, path,
            std::string("the folder is open to other users (mode ") + mode + "), store files need mode 0700");
    }
}

void TMMFArray::RemoveLeftovers(const std::string& folder)
{
    // Every array holds the lock of its file as long as it uses it, and the system drops a
    // lock when its holder's last descriptor closes, also when the process is killed. A lock
    // that can be taken thus marks a file that nobody uses any more.
    for (const std::string& name : system->ListFolder(folder.substr(0, folder.size() - 1))) {
        if (!IsStoreFileName(name))
            continue;
        const std::string path = folder + name;
        const int other = system->OpenExisting(path);
        if (other < 0)
            continue;
        TMMFFileInfo opened, named;
        // The name must still lead to the file that was locked: never delete a file that took
        // its place meanwhile.
        if (system->InspectOpen(other, opened) && opened.isRegular && system->TryLock(other)
            && system->Inspect(path, named) && SameFile(opened, named))
            system->Remove(path);
        system->Close(other);
    }
}

void TMMFArray::CreateLockedFile()
{
    for (int attempt = 1;; ++attempt) {
        // The file is created exclusively: a name taken meanwhile by anyone else is never
        // opened, a new one is drawn instead.
        const int made = system->CreateExclusive(fileName);
        if (made < 0) {
            const int error = errno;
            if (error != EEXIST || attempt >= CreateAttempts)
                Fail(OpenFailed, fileName, error);
            fileName = MakeTempFileName();
            continue;
        }
        if (!system->TryLock(made)) {
            const int error = errno;
            if (error != EWOULDBLOCK) {
                // A file system without locks: a store there could not be told from a leftover.
                system->Remove(fileName);
                system->Close(made);
                Fail(OpenFailed, fileName, error);
            }
            // The clean-up of another process found the new file before its lock and removes it.
            system->Close(made);
            if (attempt >= CreateAttempts)
                Fail(OpenFailed, fileName, error);
            fileName = MakeTempFileName();
            continue;
        }
        TMMFFileInfo opened, named;
        errno = ENOENT;
        if (system->InspectOpen(made, opened) && system->Inspect(fileName, named)
            && SameFile(opened, named)) {
            fd = made;
            fileMade = true;
            fileLength = 0;
            RecordLiveFile();
            return;
        }
        // Removed by such a clean-up before the lock was taken: the name is not this array's.
        const int error = errno;
        system->Close(made);
        if (attempt >= CreateAttempts)
            Fail(OpenFailed, fileName, error);
        fileName = MakeTempFileName();
    }
}

void TMMFArray::CloseFile()
{
    if (fd >= 0)
        system->Close(fd);
    fd = -1;
}

bool TMMFArray::RemoveFile()
{
    // The file goes before its descriptor: it is never there without its lock.
    if (!system->Remove(fileName))
        return false;
    CloseFile();
    fileMade = false;
    ForgetLiveFile();
    return true;
}

void TMMFArray::MapFile(bool createNew, uint64_t kept)
{
    if (createNew) {
        const std::string folder = StoreFolder();
        PreparePrivateFolder(folder);
        RemoveLeftovers(folder);
        CreateLockedFile();
    }

    mapSize = static_cast<uint64_t>(count) * static_cast<uint64_t>(elementSize);
    size = mapSize;
    // A failure leaves nothing behind: on a full disk the space reserved so far is given back.
    if (!system->Reserve(fd, mapSize)) {
        const int error = errno;
        RemoveFile();
        Fail(MappingFailed, fileName, error);
    }
    void* view = system->Map(fd, mapSize);
    if (!view) {
        const int error = errno;
        RemoveFile();
        Fail(ViewFailed, fileName, error);
    }
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
        CloseFile();
        fileMade = false;
        ForgetLiveFile();
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
    // Only a file this array created is ever deleted; when deleting fails it stays known (and
    // locked), so that a later SetCount(0) tries again.
    if (deleteOnRelease && fileMade)
        RemoveFile();
    deleteOnRelease = true;
}
