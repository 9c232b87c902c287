#pragma once

// A resizable array of fixed-size elements kept in a memory-mapped temporary file.
// The file exists only while the array holds elements; it is deleted when the array
// is emptied or destroyed. The files live in a private folder of the user inside the
// temporary folder ("mirava-<uid>"); each is locked while an array uses it, so that the
// files of a process that died (kill -9, a crash) are recognised and removed when the
// next store is set up.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// The 63 characters from which temporary file names are drawn.
extern const char TempNameAlphabet[];
inline constexpr int TempNameAlphabetLength = 63;

// Every error of the memory-mapped array.
class TMMFError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// What the system tells about a file or folder (a link itself, never what it points to).
struct TMMFFileInfo
{
    bool isFolder = false;
    bool isLink = false;
    bool isRegular = false;
    uint32_t owner = 0;
    uint32_t mode = 0; // permission bits only
    uint64_t device = 0;
    uint64_t inode = 0;
};

// The system calls behind the array, gathered in one place so that tests can replace
// them (full disk, refused mapping, failed delete, a foreign folder). The default
// instance calls the operating system. Calls that fail set errno.
class TMMFSystem
{
public:
    virtual ~TMMFSystem() = default;

    // The temporary folder: $TMPDIR or "/tmp", always ending in "/".
    virtual std::string TempDir();
    // A seed for drawing file names (from a high-resolution clock).
    virtual uint32_t ClockSeed();
    virtual bool Exists(const std::string& path);
    // Creates the file exclusively (mode 0600, close-on-exec, never through a link).
    // Returns the descriptor, or -1 with errno set (EEXIST when the name is taken).
    virtual int CreateExclusive(const std::string& path);
    // Opens an existing file for reading and writing (close-on-exec, never through a link,
    // never waiting on a special file). -1 on failure.
    virtual int OpenExisting(const std::string& path);
    // Reserves disk space so that the file is at least size bytes long. False on failure.
    virtual bool Reserve(int fd, uint64_t size);
    // The user whose private folder holds the store files (the effective user id).
    virtual uint32_t UserId();
    // Creates a folder with mode 0700. False on failure (EEXIST when the name is taken).
    virtual bool MakeFolder(const std::string& path);
    // Describes the file or folder of the path without following a link. False on failure.
    virtual bool Inspect(const std::string& path, TMMFFileInfo& info);
    // Describes the open file. False on failure.
    virtual bool InspectOpen(int fd, TMMFFileInfo& info);
    // Takes the exclusive lock of the open file without waiting. False (EWOULDBLOCK) when
    // another descriptor, of this or of any other process, holds it.
    virtual bool TryLock(int fd);
    // Names of the entries of a folder, without "." and "..". Empty when it cannot be read.
    virtual std::vector<std::string> ListFolder(const std::string& path);
    // Maps size bytes of the file shared, read-write, from offset 0. nullptr on failure.
    virtual void* Map(int fd, uint64_t size);
    virtual void Unmap(void* address, uint64_t size);
    virtual void Close(int fd);
    // Deletes the file. True when it is gone afterwards.
    virtual bool Remove(const std::string& path);

    // The instance that new arrays use when none is given. Never null.
    static TMMFSystem* Default();
    // Replaces the default instance (nullptr restores the operating system's); returns the
    // previous one. Meant for tests; not owned.
    static TMMFSystem* SetDefault(TMMFSystem* system);
};

class TMMFArray
{
public:
    // Element type codes; Float32 (11) is what the network store uses.
    static constexpr uint8_t DefaultDataType = 2;
    static constexpr uint8_t Float32 = 11;

    // system: the system-call seam to use, not owned; nullptr means TMMFSystem::Default().
    explicit TMMFArray(TMMFSystem* system = nullptr);
    ~TMMFArray();
    TMMFArray(const TMMFArray&) = delete;
    TMMFArray& operator=(const TMMFArray&) = delete;

    uint32_t Count() const { return count; }
    // Byte size of the mapped region: Count() x element size; 0 when released.
    uint64_t Size() const { return size; }
    uint64_t MapSize() const { return mapSize; }
    const std::string& FileName() const { return fileName; }
    bool DeleteOnRelease() const { return deleteOnRelease; }
    bool Mapped() const { return mapped; }
    uint8_t DataType() const { return dataType; }

    // Element size in bytes of a type code, 0 for the codes without one (9, 10, above 11).
    static int ElementSize(uint8_t code);

    // Sets the element type. Throws TMMFError for codes without an element size and
    // while a view is mapped.
    void SetDataType(uint8_t code);
    // Makes the array hold n elements; elements kept keep their values, new ones read 0.
    // Throws TMMFError("Failed to open or create file!" / "Failed to create file
    // mapping!" / "Failed to map view of file!", each followed by the path and the
    // system's reason). A failure leaves Count at n, no view and no file.
    // The first allocation of a file also removes the store files that no living process
    // holds from the private folder.
    void SetCount(uint32_t n);
    // Address of element index inside the view; no bounds check.
    void* ItemPtr(uint32_t index)
    {
        lastItem = base + static_cast<size_t>(index) * elementSize;
        return lastItem;
    }
    // The address ItemPtr returned last.
    void* LastItemPtr() const { return lastItem; }
    // Unmaps the view, zeroes Count and Size and deletes the file (errors ignored).
    void Release();
    // A fresh full path in the private store folder that no file has yet.
    std::string MakeTempFileName();
    // The system's temporary folder, ending in "/".
    std::string GetTempDir();
    // The user's private folder of store files: GetTempDir() + "mirava-<uid>/".
    std::string StoreFolder();
    // Whether a file name (without folder) has the form of a store file: 8 characters of
    // TempNameAlphabet and ".tmp".
    static bool IsStoreFileName(const std::string& name);
    // Deletes the file of every array that has one now, for a process that must end at once (a second stop
    // signal): only async-signal-safe calls, so it may run in a signal handler or on any thread while the
    // arrays are in use. The arrays must not be used afterwards; the process is meant to end right after.
    static void RemoveAllFilesNow();

private:
    // kept: bytes at the start of the file that hold the array's elements and stay as they are.
    void MapFile(bool createNew, uint64_t kept);
    // Creates the private folder or makes sure that the existing one is a real folder of this
    // user that nobody else may enter. Throws TMMFError otherwise.
    void PreparePrivateFolder(const std::string& folder);
    // Removes the store files of the folder whose lock nobody holds.
    void RemoveLeftovers(const std::string& folder);
    // Creates, locks and keeps open a new file of a fresh name; throws TMMFError.
    void CreateLockedFile();
    // Deletes the file (when it is gone, its descriptor is closed and the lock dropped).
    bool RemoveFile();
    void CloseFile();
    // Enters the file in the table that RemoveAllFilesNow reads, and takes it out again.
    void RecordLiveFile();
    void ForgetLiveFile();

    TMMFSystem* system;
    uint32_t count = 0;
    uint64_t size = 0;
    uint64_t mapSize = 0;
    std::string fileName;
    bool deleteOnRelease = true;
    bool mapped = false;
    bool fileMade = false;
    // The open file while fileMade: it holds the lock that marks the file as in use.
    int fd = -1;
    int liveEntry = -1; // the file's entry in the table of RemoveAllFilesNow, -1 when it has none
    // Bytes the file is known to hold: it never shrinks while the array uses it.
    uint64_t fileLength = 0;
    uint8_t dataType = DefaultDataType;
    int elementSize = 1;
    uint8_t* base = nullptr;
    void* lastItem = nullptr;
};
