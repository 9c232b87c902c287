#pragma once

// A system-call seam for tests: works in a private temporary folder and can be told to fail
// the way a full disk, a refused mapping, a failed delete or a file system without locks
// would, or to act for another user.

#include "mmf/MMFArray.h"

#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

class TTestSystem : public TMMFSystem
{
public:
    bool FailCreate = false;
    bool FailReserve = false;
    bool FailMap = false;
    bool FailRemove = false;
    bool FailLock = false;
    // How many lock attempts find the lock held by someone else before locks work again.
    int BusyLocks = 0;
    // The user the arrays act for; the real one unless a test says otherwise.
    uint32_t User = ::geteuid();
    // How many Exists calls answer "taken" before the real answer is given.
    int TakenNames = 0;
    int ExistsCalls = 0;
    int MapCalls = 0;
    int CloseCalls = 0;
    int OpenCalls = 0; // descriptors handed out

    TTestSystem()
    {
        std::string pattern = std::filesystem::temp_directory_path().string() + "/mirava-mmf-XXXXXX";
        folder = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TTestSystem() override
    {
        std::error_code ignored;
        if (!folder.empty())
            std::filesystem::remove_all(folder, ignored);
    }

    const std::string& Folder() const { return folder; }
    // The private folder of store files inside the temporary folder.
    std::string StoreFolder() const { return folder + "/mirava-" + std::to_string(User); }

    std::string TempDir() override { return folder + "/"; }
    uint32_t UserId() override { return User; }
    bool TryLock(int fd) override
    {
        if (FailLock) {
            errno = ENOLCK;
            return false;
        }
        if (BusyLocks > 0) {
            --BusyLocks;
            errno = EWOULDBLOCK;
            return false;
        }
        return TMMFSystem::TryLock(fd);
    }
    bool Exists(const std::string& path) override
    {
        ++ExistsCalls;
        if (TakenNames > 0) {
            --TakenNames;
            return true;
        }
        return TMMFSystem::Exists(path);
    }
    int CreateExclusive(const std::string& path) override
    {
        if (FailCreate) {
            errno = EACCES;
            return -1;
        }
        const int fd = TMMFSystem::CreateExclusive(path);
        OpenCalls += fd >= 0;
        return fd;
    }
    int OpenExisting(const std::string& path) override
    {
        if (FailCreate) {
            errno = EACCES;
            return -1;
        }
        const int fd = TMMFSystem::OpenExisting(path);
        OpenCalls += fd >= 0;
        return fd;
    }
    bool Reserve(int fd, uint64_t size) override
    {
        if (FailReserve) {
            errno = ENOSPC;
            return false;
        }
        return TMMFSystem::Reserve(fd, size);
    }
    void* Map(int fd, uint64_t size) override
    {
        ++MapCalls;
        if (FailMap) {
            errno = ENOMEM;
            return nullptr;
        }
        return TMMFSystem::Map(fd, size);
    }
    void Close(int fd) override
    {
        ++CloseCalls;
        TMMFSystem::Close(fd);
    }
    bool Remove(const std::string& path) override
    {
        if (FailRemove) {
            errno = EBUSY;
            return false;
        }
        return TMMFSystem::Remove(path);
    }

    // Number of files in the private store folder (0 when it does not exist yet).
    int FileCount() const
    {
        int count = 0;
        std::error_code error;
        for (std::filesystem::directory_iterator entry(StoreFolder(), error), end; !error && entry != end;
             entry.increment(error))
            ++count;
        return count;
    }

private:
    std::string folder;
};

inline bool FileExists(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

inline long FileSize(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

// Open descriptors of this process.
inline int OpenDescriptors()
{
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir))
            ++count;
        ::closedir(dir);
    }
    return count;
}
