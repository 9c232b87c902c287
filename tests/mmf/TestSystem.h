#pragma once

// A system-call seam for tests: works in a private temporary folder and can be told to fail
// the way a full disk, a refused mapping or a failed delete would.

#include "mmf/MMFArray.h"

#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>

class TTestSystem : public TMMFSystem
{
public:
    bool FailCreate = false;
    bool FailReserve = false;
    bool FailMap = false;
    bool FailRemove = false;
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

    std::string TempDir() override { return folder + "/"; }
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
        const int fd = FailCreate ? -1 : TMMFSystem::OpenExisting(path);
        OpenCalls += fd >= 0;
        return fd;
    }
    bool Reserve(int fd, uint64_t size) override { return !FailReserve && TMMFSystem::Reserve(fd, size); }
    void* Map(int fd, uint64_t size) override
    {
        ++MapCalls;
        return FailMap ? nullptr : TMMFSystem::Map(fd, size);
    }
    void Close(int fd) override
    {
        ++CloseCalls;
        TMMFSystem::Close(fd);
    }
    bool Remove(const std::string& path) override { return !FailRemove && TMMFSystem::Remove(path); }

    // Number of files in the private folder.
    int FileCount() const
    {
        int count = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
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
