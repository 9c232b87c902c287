#pragma once

#include <QString>
#include <chrono>
#include <functional>

// Writing a memory file means reading it (or holding its memories), changing them and writing the file back
// whole. Two writers at once would each start from the same old file, and the later write would drop what the
// other added; so every writer (a memorise from the command line, the window's Save) holds an exclusive lock
// on the folder of the memory file (the folder, because the write replaces the file itself) until its write
// is done, and the next one waits its turn. File systems without locks on folders go without.
class TMemoryFolderLock
{
public:
    // Takes the lock, waiting up to `waitLimit`; `whileWaiting` runs between tries and may throw to give up.
    // Throws TAppError when the lock stays taken for the whole wait.
    explicit TMemoryFolderLock(const QString& memory, std::chrono::seconds waitLimit = DefaultWait,
        const std::function<void()>& whileWaiting = {});
    ~TMemoryFolderLock();
    TMemoryFolderLock(const TMemoryFolderLock&) = delete;
    TMemoryFolderLock& operator=(const TMemoryFolderLock&) = delete;

    // Removes temporary files of this memory file ("<name>.tmp-XXXXXX", regular files only) that a writer
    // killed while writing left behind, each up to 90 MB; only those older than a few minutes, so that a
    // write under way is never touched, even one by a program that does not lock.
    static void RemoveLeftovers(const QString& memory);

    static constexpr std::chrono::seconds DefaultWait { 120 };

private:
    int fd = -1;
};
