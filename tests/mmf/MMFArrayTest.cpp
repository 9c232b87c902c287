#include "mmf/MMFArray.h"

#include "mmf/TestSystem.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

float* Floats(TMMFArray& array)
{
    return static_cast<float*>(array.ItemPtr(0));
}

// The error's text: its fixed opening words, then the file or folder and the system's reason.
void ExpectThrowsMessage(
    const std::function<void()>& action, const char* message, const std::string& path, int error)
{
    try {
        action();
        ADD_FAILURE() << "expected \"" << message << "\"";
    } catch (const TMMFError& caught) {
        EXPECT_EQ(
            std::string(caught.what()), std::string(message) + " " + path + ": " + std::strerror(error));
    }
}

// The text of the TMMFError that the action throws.
std::string ThrownMessage(const std::function<void()>& action)
{
    try {
        action();
    } catch (const TMMFError& caught) {
        return caught.what();
    }
    ADD_FAILURE() << "nothing was thrown";
    return {};
}

void Touch(const std::string& path, const std::string& text = "left behind")
{
    std::ofstream(path, std::ios::binary) << text;
}

// A child process that holds the lock of a store file, as the store of another running Mirava
// does, until it is killed.
struct THolder
{
    pid_t pid = -1;

    explicit THolder(const std::string& path, const std::string& text = {})
    {
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        pid = ::fork();
        if (pid == 0) {
            const int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0600);
            const bool held = fd >= 0 && ::flock(fd, LOCK_EX) == 0
                && ::write(fd, text.data(), text.size()) == ssize_t(text.size());
            const char byte = held ? '1' : '0';
            [[maybe_unused]] const auto written = ::write(ready[1], &byte, 1);
            for (;;)
                ::pause();
        }
        char byte = 0;
        ::close(ready[1]);
        if (pid < 0 || ::read(ready[0], &byte, 1) != 1 || byte != '1')
            ADD_FAILURE() << "the holding process did not start";
        ::close(ready[0]);
    }
    // As kill -9 would: the process cannot tidy up, the system drops its lock.
    void Kill()
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        pid = -1;
    }
    ~THolder() { Kill(); }
};

TEST(MMFArray, NameHasFolderEightAlphabetCharactersAndExtension)
{
    TTestSystem system;
    std::set<std::string> names;
    for (int i = 0; i < 200; ++i) {
        TMMFArray array(&system);
        const std::string& name = array.FileName();
        const std::string folder = system.StoreFolder() + "/";
        ASSERT_EQ(array.StoreFolder(), folder);
        ASSERT_EQ(name.size(), folder.size() + 8 + 4) << name;
        EXPECT_EQ(name.substr(0, folder.size()), folder);
        EXPECT_EQ(name.substr(name.size() - 4), ".tmp");
        for (char c : name.substr(folder.size(), 8))
            EXPECT_NE(std::strchr(TempNameAlphabet, c), nullptr) << name;
        EXPECT_TRUE(TMMFArray::IsStoreFileName(name.substr(folder.size())));
        names.insert(name);
    }
    // 63^8 names: 200 draws in a row never repeat unless the drawing is broken.
    EXPECT_EQ(names.size(), 200u);
    EXPECT_EQ(std::strlen(TempNameAlphabet), 63u);
}

TEST(MMFArray, NameSkipsNamesThatExist)
{
    TTestSystem system;
    system.TakenNames = 3;
    TMMFArray array(&system);
    EXPECT_EQ(system.ExistsCalls, 4);
    EXPECT_FALSE(FileExists(array.FileName()));
}

TEST(MMFArray, NoFileUntilElementsAreHeld)
{
    TTestSystem system;
    TMMFArray array(&system);
    EXPECT_EQ(array.Count(), 0u);
    EXPECT_EQ(array.Size(), 0u);
    EXPECT_EQ(array.DataType(), 2);
    EXPECT_TRUE(array.DeleteOnRelease());
    EXPECT_FALSE(array.Mapped());
    array.SetCount(0);
    EXPECT_EQ(system.FileCount(), 0);
    EXPECT_EQ(system.MapCalls, 0);
}

TEST(MMFArray, FileAppearsGrowsShrinksAndDisappears)
{
    TTestSystem system;
    std::string first;
    {
        TMMFArray array(&system);
        array.SetDataType(TMMFArray::Float32);
        array.SetCount(1000);
        first = array.FileName();
        EXPECT_TRUE(array.Mapped());
        EXPECT_EQ(array.Count(), 1000u);
        EXPECT_EQ(array.Size(), 4000u);
        EXPECT_EQ(FileSize(first), 4000);
        struct stat info;
        ASSERT_EQ(::stat(first.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        for (uint32_t i = 0; i < 1000; ++i)
            ASSERT_EQ(Floats(array)[i], 0.0f) << i;
        for (uint32_t i = 0; i < 1000; ++i)
            *static_cast<float*>(array.ItemPtr(i)) = float(i) + 0.5f;

        array.SetCount(2000);
        EXPECT_EQ(array.FileName(), first);
        EXPECT_EQ(FileSize(first), 8000);
        for (uint32_t i = 0; i < 1000; ++i)
            ASSERT_EQ(Floats(array)[i], float(i) + 0.5f) << i;
        for (uint32_t i = 1000; i < 2000; ++i)
            ASSERT_EQ(Floats(array)[i], 0.0f) << i;

        // Shrinking maps less but the file keeps its length and the kept values.
        array.SetCount(500);
        EXPECT_EQ(array.Size(), 2000u);
        EXPECT_EQ(FileSize(first), 8000);
        EXPECT_EQ(Floats(array)[499], 499.5f);

        // The values live in the file itself.
        std::ifstream file(first, std::ios::binary);
        float stored[3];
        file.read(reinterpret_cast<char*>(stored), sizeof stored);
        EXPECT_EQ(stored[2], 2.5f);

        // Growing again: the elements gained read as zero, although the file still holds the
        // values they had before the array shrank.
        array.SetCount(1500);
        EXPECT_EQ(FileSize(first), 8000);
        EXPECT_EQ(Floats(array)[499], 499.5f);
        for (uint32_t i = 500; i < 1500; ++i)
            ASSERT_EQ(Floats(array)[i], 0.0f) << i;

        array.SetCount(0);
        EXPECT_FALSE(FileExists(first));
        EXPECT_FALSE(array.Mapped());
        EXPECT_EQ(array.Count(), 0u);
        EXPECT_NE(array.FileName(), first);
        EXPECT_EQ(system.FileCount(), 0);

        array.SetCount(10);
        EXPECT_NE(array.FileName(), first);
        EXPECT_TRUE(FileExists(array.FileName()));
        EXPECT_EQ(Floats(array)[0], 0.0f);
    }
    // Destroying a mapped array deletes its file.
    EXPECT_EQ(system.FileCount(), 0);
}

TEST(MMFArray, ReleaseDeletesFileAndKeepsName)
{
    TTestSystem system;
    TMMFArray array(&system);
    array.SetCount(16);
    const std::string name = array.FileName();
    array.Release();
    EXPECT_FALSE(FileExists(name));
    EXPECT_EQ(array.FileName(), name);
    EXPECT_EQ(array.Count(), 0u);
    EXPECT_EQ(array.Size(), 0u);
    EXPECT_FALSE(array.Mapped());
    array.SetCount(4);
    EXPECT_TRUE(FileExists(array.FileName()));
}

TEST(MMFArray, ElementSizesAndAddresses)
{
    const int sizes[] = { 1, 2, 1, 4, 4, 8, 4, 8, 10, 0, 0, 4, 0, 0 };
    for (int code = 0; code < 14; ++code)
        EXPECT_EQ(TMMFArray::ElementSize(uint8_t(code)), sizes[code]) << code;

    TTestSystem system;
    TMMFArray array(&system);
    array.SetDataType(8);
    array.SetCount(5);
    EXPECT_EQ(FileSize(array.FileName()), 50);
    auto* base = static_cast<uint8_t*>(array.ItemPtr(0));
    EXPECT_EQ(static_cast<uint8_t*>(array.ItemPtr(3)), base + 30);
    EXPECT_EQ(array.LastItemPtr(), base + 30);
}

TEST(MMFArray, RefusesTypeCodesWithoutSizeAndChangesWhileMapped)
{
    TTestSystem system;
    TMMFArray array(&system);
    for (int code : { 9, 10, 12, 200, 255 }) {
        EXPECT_THROW(array.SetDataType(uint8_t(code)), TMMFError) << code;
        EXPECT_EQ(array.DataType(), 2);
    }
    array.SetDataType(TMMFArray::Float32);
    array.SetCount(4);
    EXPECT_THROW(array.SetDataType(3), TMMFError);
    EXPECT_EQ(array.DataType(), TMMFArray::Float32);
    array.SetCount(0);
    array.SetDataType(3);
    EXPECT_EQ(array.DataType(), 3);
}

TEST(MMFArray, NameTakenMeanwhileIsNeverOpened)
{
    TTestSystem system;
    TMMFArray array(&system);
    const std::string chosen = array.FileName();
    // Another running program of the user creates its store under the chosen name before the
    // array sizes itself.
    ASSERT_EQ(::mkdir(system.StoreFolder().c_str(), 0700), 0);
    THolder other(chosen, "someone else's data");
    array.SetCount(8);
    EXPECT_NE(array.FileName(), chosen);
    EXPECT_EQ(FileSize(chosen), 19);
    array.SetCount(0);
    EXPECT_TRUE(FileExists(chosen));
}

TEST(MMFArray, FailuresNameFileAndReasonAndLeaveNothingBehind)
{
    TTestSystem system;
    const int before = OpenDescriptors();
    {
        TMMFArray array(&system);
        system.FailCreate = true;
        ExpectThrowsMessage(
            [&] { array.SetCount(10); }, "Failed to open or create file!", array.FileName(), EACCES);
        EXPECT_FALSE(array.Mapped());
        EXPECT_EQ(system.FileCount(), 0);
        EXPECT_EQ(OpenDescriptors(), before);
        system.FailCreate = false;
    }
    {
        // A full disk: no space can be reserved for the file. The file goes at once, with the
        // space it took so far.
        TMMFArray array(&system);
        system.FailReserve = true;
        ExpectThrowsMessage(
            [&] { array.SetCount(10); }, "Failed to create file mapping!", array.FileName(), ENOSPC);
        EXPECT_EQ(array.Count(), 10u);
        EXPECT_FALSE(array.Mapped());
        EXPECT_EQ(OpenDescriptors(), before);
        EXPECT_EQ(system.FileCount(), 0);
        system.FailReserve = false;
    }
    {
        TMMFArray array(&system);
        system.FailMap = true;
        ExpectThrowsMessage(
            [&] { array.SetCount(10); }, "Failed to map view of file!", array.FileName(), ENOMEM);
        EXPECT_FALSE(array.Mapped());
        EXPECT_EQ(OpenDescriptors(), before);
        EXPECT_EQ(system.FileCount(), 0);
        system.FailMap = false;
        // A later size works again.
        array.SetCount(20);
        EXPECT_TRUE(array.Mapped());
        EXPECT_EQ(FileSize(array.FileName()), 20);
    }
    {
        // A file system without locks: the file could not be told from a leftover later.
        TMMFArray array(&system);
        system.FailLock = true;
        ExpectThrowsMessage(
            [&] { array.SetCount(10); }, "Failed to open or create file!", array.FileName(), ENOLCK);
        EXPECT_EQ(system.FileCount(), 0);
        EXPECT_EQ(OpenDescriptors(), before);
        system.FailLock = false;
    }
    EXPECT_EQ(system.FileCount(), 0);
    EXPECT_EQ(system.OpenCalls, system.CloseCalls);
}

TEST(MMFArray, GrowingOnFullDiskGivesTheFileBack)
{
    TTestSystem system;
    TMMFArray array(&system);
    array.SetCount(100);
    const std::string name = array.FileName();
    system.FailReserve = true;
    ExpectThrowsMessage([&] { array.SetCount(1000); }, "Failed to create file mapping!", name, ENOSPC);
    EXPECT_FALSE(array.Mapped());
    EXPECT_FALSE(FileExists(name));
    system.FailReserve = false;
    array.Release();
    array.SetCount(50);
    EXPECT_TRUE(array.Mapped());
}

TEST(MMFArray, ArrayHoldsOneLockedDescriptorWhileItHasAFile)
{
    TTestSystem system;
    const int before = OpenDescriptors();
    {
        TMMFArray array(&system);
        array.SetCount(1 << 16);
        EXPECT_EQ(OpenDescriptors(), before + 1);
        // Resizing reuses the open file rather than opening the name again.
        array.SetCount(1 << 17);
        EXPECT_EQ(OpenDescriptors(), before + 1);
        EXPECT_EQ(system.OpenCalls, 1);
        EXPECT_EQ(system.CloseCalls, 0);
        // Its lock is held: nobody else can take it.
        const int other = ::open(array.FileName().c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(other, 0);
        EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
        ::close(other);
        array.SetCount(0);
        EXPECT_EQ(OpenDescriptors(), before);
    }
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_EQ(system.OpenCalls, system.CloseCalls);
}

TEST(MMFArray, FailedDeleteIsIgnoredAndRetried)
{
    TTestSystem system;
    std::string name;
    {
        TMMFArray array(&system);
        array.SetCount(8);
        std::memset(array.ItemPtr(0), 0x5A, 8);
        name = array.FileName();
        system.FailRemove = true;
        EXPECT_NO_THROW(array.Release());
        EXPECT_TRUE(FileExists(name));
        system.FailRemove = false;
        // A new allocation in the file left behind starts from zeros, not from what it held.
        array.SetCount(8);
        for (uint32_t i = 0; i < 8; ++i)
            EXPECT_EQ(*static_cast<uint8_t*>(array.ItemPtr(i)), 0) << i;
        // The array still knows its file and deletes it when destroyed.
    }
    EXPECT_FALSE(FileExists(name));
    {
        TMMFArray array(&system);
        array.SetCount(8);
        name = array.FileName();
        system.FailRemove = true;
        EXPECT_NO_THROW(array.SetCount(0));
        EXPECT_NE(array.FileName(), name);
        system.FailRemove = false;
    }
}

TEST(MMFArray, DefaultSystemUsesTheTemporaryFolder)
{
    TTestSystem folder;
    const char* saved = std::getenv("TMPDIR");
    const std::string restore = saved ? saved : "";
    ::setenv("TMPDIR", folder.Folder().c_str(), 1);
    {
        TMMFArray array;
        EXPECT_EQ(array.GetTempDir(), folder.Folder() + "/");
        array.SetDataType(TMMFArray::Float32);
        array.SetCount(256);
        EXPECT_EQ(FileSize(array.FileName()), 1024);
        EXPECT_EQ(folder.FileCount(), 1);
    }
    EXPECT_EQ(folder.FileCount(), 0);
    if (saved)
        ::setenv("TMPDIR", restore.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
}

TEST(MMFArray, ASignalHandlerRemovesTheFilesOfTheArraysInUse)
{
    TTestSystem system;
    // In a child, which ends from its handler as a program stopped at once does.
    const pid_t child = ::fork();
    if (child == 0) {
        TMMFArray first(&system), second(&system), released(&system);
        first.SetCount(4);
        second.SetCount(8);
        released.SetCount(4);
        released.SetCount(0);
        Touch(system.StoreFolder() + "/other.txt");
        struct sigaction action = {};
        action.sa_handler = [](int) {
            TMMFArray::RemoveAllFilesNow();
            ::_exit(3);
        };
        ::sigaction(SIGTERM, &action, nullptr);
        if (system.FileCount() != 3)
            ::_exit(2);
        ::raise(SIGTERM);
        ::_exit(1);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 3) << "2: the arrays had not made their files";
    // Only the stores went; the other file stays.
    EXPECT_EQ(system.FileCount(), 1);
    EXPECT_TRUE(FileExists(system.StoreFolder() + "/other.txt"));
}

// ---------------------------------------------------------------------------------------------
// The private folder and the files that dead processes left

TEST(MMFStoreFolder, IsMadeForTheUserAloneAtTheFirstAllocation)
{
    TTestSystem system;
    TMMFArray array(&system);
    EXPECT_FALSE(FileExists(system.StoreFolder())) << "nothing is made before the first allocation";
    array.SetCount(4);
    struct stat info;
    ASSERT_EQ(::lstat(system.StoreFolder().c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    EXPECT_EQ(info.st_uid, ::geteuid());
    EXPECT_EQ(array.FileName().rfind(system.StoreFolder() + "/", 0), 0u) << array.FileName();
    EXPECT_EQ(system.FileCount(), 1);
}

TEST(MMFStoreFolder, FolderThatIsNotPrivateIsRefused)
{
    // Open to others.
    {
        TTestSystem system;
        ASSERT_EQ(::mkdir(system.StoreFolder().c_str(), 0700), 0);
        ASSERT_EQ(::chmod(system.StoreFolder().c_str(), 0755), 0);
        TMMFArray array(&system);
        const std::string message = ThrownMessage([&] { array.SetCount(4); });
        EXPECT_EQ(message.rfind("Failed to open or create file! " + system.StoreFolder() + ": ", 0), 0u)
            << message;
        EXPECT_NE(message.find("open to other users (mode 0755)"), std::string::npos) << message;
        EXPECT_EQ(system.FileCount(), 0);
        EXPECT_FALSE(array.Mapped());
    }
    // A link that someone put in its place, to a folder of theirs: never followed.
    {
        TTestSystem system;
        const std::string target = system.Folder() + "/elsewhere";
        ASSERT_EQ(::mkdir(target.c_str(), 0700), 0);
        ASSERT_EQ(::symlink(target.c_str(), system.StoreFolder().c_str()), 0);
        TMMFArray array(&system);
        const std::string message = ThrownMessage([&] { array.SetCount(4); });
        EXPECT_EQ(
            message.rfind("Failed to open or create file! " + system.StoreFolder() + ": not a folder", 0), 0u)
            << message;
        EXPECT_TRUE(std::filesystem::is_empty(target));
    }
    // A plain file of that name.
    {
        TTestSystem system;
        Touch(system.StoreFolder());
        TMMFArray array(&system);
        EXPECT_THROW(array.SetCount(4), TMMFError);
        EXPECT_EQ(FileSize(system.StoreFolder()), 11);
    }
    // Another user's folder (here: the folder of this user, seen by an array acting for another).
    {
        TTestSystem system;
        system.User = ::geteuid() + 1;
        TMMFArray array(&system);
        const std::string message = ThrownMessage([&] { array.SetCount(4); });
        EXPECT_NE(message.find(
                      system.StoreFolder() + ": the folder belongs to user " + std::to_string(::geteuid())),
            std::string::npos)
            << message;
        EXPECT_EQ(system.FileCount(), 0);
    }
}

TEST(MMFStoreFolder, SetUpRemovesTheStoresThatNobodyHoldsAndNothingElse)
{
    TTestSystem system;
    TMMFArray live(&system);
    live.SetCount(8);
    const std::string folder = system.StoreFolder() + "/";

    const std::string dead = folder + "Dead_one.tmp";
    Touch(dead);
    const std::string held = folder + "Held1234.tmp";
    THolder holder(held);
    // Files of other names, and things of the store's naming that are not regular files.
    const std::string outside = system.Folder() + "/outside.tmp";
    Touch(outside);
    const std::string others[] = { folder + "notes.txt", folder + "Short12.tmp", folder + "Dead_one.tmp.bak",
        folder + "Dead-one.tmp", folder + "Dead_one.TMP" };
    for (const std::string& other : others)
        Touch(other);
    ASSERT_EQ(::mkdir((folder + "Folder12.tmp").c_str(), 0700), 0);
    ASSERT_EQ(::symlink(outside.c_str(), (folder + "Linked12.tmp").c_str()), 0);
    ASSERT_EQ(::mkfifo((folder + "Fifo1234.tmp").c_str(), 0600), 0);
    const int filesBefore = system.FileCount();

    TMMFArray next(&system);
    next.SetCount(8);
    EXPECT_FALSE(FileExists(dead)) << "a store of a process that is gone stays behind";
    EXPECT_TRUE(FileExists(held)) << "a store held by another process was removed";
    EXPECT_TRUE(FileExists(live.FileName())) << "a store of this process was removed";
    EXPECT_TRUE(live.Mapped());
    for (const std::string& other : others)
        EXPECT_EQ(FileSize(other), 11) << other;
    EXPECT_TRUE(FileExists(folder + "Folder12.tmp"));
    EXPECT_TRUE(FileExists(folder + "Fifo1234.tmp"));
    EXPECT_TRUE(FileExists(folder + "Linked12.tmp"));
    EXPECT_EQ(FileSize(outside), 11);
    // One file gone, one new.
    EXPECT_EQ(system.FileCount(), filesBefore);

    // Once the holder is killed its store is a leftover too, and the next set-up removes it.
    holder.Kill();
    EXPECT_TRUE(FileExists(held));
    TMMFArray third(&system);
    third.SetCount(8);
    EXPECT_FALSE(FileExists(held));
    EXPECT_TRUE(FileExists(live.FileName()));
    EXPECT_TRUE(FileExists(next.FileName()));
}

TEST(MMFStoreFolder, NewFileTakenByAnotherCleanUpBeforeItsLockIsGivenUp)
{
    TTestSystem system;
    TMMFArray array(&system);
    const std::string first = array.FileName();
    // Another process's clean-up locks the new file before this array can.
    system.BusyLocks = 1;
    array.SetCount(8);
    EXPECT_NE(array.FileName(), first);
    EXPECT_TRUE(array.Mapped());
    // The file given up has no lock: the clean-up that found it removes it, or the next set-up does.
    EXPECT_TRUE(FileExists(first));
    TMMFArray next(&system);
    next.SetCount(8);
    EXPECT_FALSE(FileExists(first));
    EXPECT_TRUE(FileExists(array.FileName()));
}

TEST(MMFStoreFolder, StoreOfAnArrayThatCouldNotDeleteItIsRemovedLater)
{
    TTestSystem system;
    std::string name;
    {
        TMMFArray array(&system);
        array.SetCount(8);
        name = array.FileName();
        system.FailRemove = true;
    }
    system.FailRemove = false;
    EXPECT_TRUE(FileExists(name));
    TMMFArray next(&system);
    next.SetCount(8);
    EXPECT_FALSE(FileExists(name));
}

} // namespace
