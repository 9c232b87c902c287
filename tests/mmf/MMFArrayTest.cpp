#include "mmf/MMFArray.h"

#include "mmf/TestSystem.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

namespace {

float* Floats(TMMFArray& array)
{
    return static_cast<float*>(array.ItemPtr(0));
}

void ExpectThrowsMessage(const std::function<void()>& action, const char* message)
{
    try {
        action();
        ADD_FAILURE() << "expected \"" << message << "\"";
    } catch (const TMMFError& error) {
        EXPECT_STREQ(error.what(), message);
    }
}

TEST(MMFArray, NameHasFolderEightAlphabetCharactersAndExtension)
{
    TTestSystem system;
    std::set<std::string> names;
    for (int i = 0; i < 200; ++i) {
        TMMFArray array(&system);
        const std::string& name = array.FileName();
        ASSERT_EQ(name.size(), system.TempDir().size() + 8 + 4) << name;
        EXPECT_EQ(name.substr(0, system.TempDir().size()), system.TempDir());
        EXPECT_EQ(name.substr(name.size() - 4), ".tmp");
        for (char c : name.substr(system.TempDir().size(), 8))
            EXPECT_NE(std::strchr(TempNameAlphabet, c), nullptr) << name;
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
    // Someone else creates a file under the chosen name before the array sizes itself.
    {
        std::ofstream other(chosen, std::ios::binary);
        other << "someone else's data";
    }
    array.SetCount(8);
    EXPECT_NE(array.FileName(), chosen);
    EXPECT_EQ(FileSize(chosen), 19);
    array.SetCount(0);
    EXPECT_TRUE(FileExists(chosen));
}

TEST(MMFArray, FailuresRaiseTheirMessagesAndLeakNoDescriptor)
{
    TTestSystem system;
    const int before = OpenDescriptors();
    {
        TMMFArray array(&system);
        system.FailCreate = true;
        ExpectThrowsMessage([&] { array.SetCount(10); }, "Failed to open or create file!");
        EXPECT_FALSE(array.Mapped());
        EXPECT_EQ(system.FileCount(), 0);
        EXPECT_EQ(OpenDescriptors(), before);
        system.FailCreate = false;
    }
    {
        // A full disk: no space can be reserved for the file.
        TMMFArray array(&system);
        system.FailReserve = true;
        ExpectThrowsMessage([&] { array.SetCount(10); }, "Failed to create file mapping!");
        EXPECT_EQ(array.Count(), 10u);
        EXPECT_FALSE(array.Mapped());
        EXPECT_EQ(OpenDescriptors(), before);
        EXPECT_EQ(system.FileCount(), 1);
        system.FailReserve = false;
    }
    // Destroying the failed array still deletes the file it made.
    EXPECT_EQ(system.FileCount(), 0);
    {
        TMMFArray array(&system);
        system.FailMap = true;
        ExpectThrowsMessage([&] { array.SetCount(10); }, "Failed to map view of file!");
        EXPECT_FALSE(array.Mapped());
        EXPECT_EQ(OpenDescriptors(), before);
        system.FailMap = false;
        // A later size works again on the same file.
        array.SetCount(20);
        EXPECT_TRUE(array.Mapped());
        EXPECT_EQ(FileSize(array.FileName()), 20);
    }
    EXPECT_EQ(system.FileCount(), 0);
    EXPECT_EQ(system.OpenCalls, system.CloseCalls);
}

TEST(MMFArray, GrowingOnFullDiskKeepsFileForCleanUp)
{
    TTestSystem system;
    TMMFArray array(&system);
    array.SetCount(100);
    const std::string name = array.FileName();
    system.FailReserve = true;
    ExpectThrowsMessage([&] { array.SetCount(1000); }, "Failed to create file mapping!");
    EXPECT_FALSE(array.Mapped());
    array.Release();
    EXPECT_FALSE(FileExists(name));
}

TEST(MMFArray, SuccessfulSizingClosesEveryDescriptor)
{
    TTestSystem system;
    const int before = OpenDescriptors();
    TMMFArray array(&system);
    array.SetCount(1 << 16);
    EXPECT_EQ(OpenDescriptors(), before);
    array.SetCount(1 << 17);
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_EQ(system.OpenCalls, 2);
    EXPECT_EQ(system.CloseCalls, 2);
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

} // namespace
