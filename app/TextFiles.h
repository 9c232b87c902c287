#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <sys/types.h>
#include <vector>

// The system calls behind atomic writes, gathered in one place so that tests can make any of them fail (a
// full disk, a short write, a failed flush or rename). The default instance calls the operating system. Each
// call answers as the system call does: -1 (or a short count) with errno set on failure.
class TFileWriteSystem
{
public:
    virtual ~TFileWriteSystem() = default;

    // open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode): a new file, never an existing one.
    virtual int CreateExclusive(const char* path, mode_t mode);
    virtual ssize_t Write(int fd, const void* data, size_t size);
    virtual int SetMode(int fd, mode_t mode); // fchmod
    virtual int SetOwner(int fd, uid_t owner, gid_t group); // fchown
    // Starts sending a written range of the file to the disk without waiting (sync_file_range); a hint whose
    // failure changes nothing.
    virtual int StartWriteback(int fd, off_t offset, off_t size);
    virtual int Sync(int fd); // fsync
    virtual int Close(int fd);
    virtual int Rename(const char* from, const char* to);
    virtual int Remove(const char* path); // unlink
    // Flushes a folder's entries (a rename inside it) to the disk; errors of file systems that cannot do
    // that for folders count as success.
    virtual int SyncFolder(const char* path);

    // The instance that writes use. Never null.
    static TFileWriteSystem* Default();
    // Replaces the default instance (nullptr restores the operating system's); returns the previous one.
    // Meant for tests; not owned.
    static TFileWriteSystem* SetDefault(TFileWriteSystem* system);
};

// A run of bytes to write, not owned: the caller keeps it alive during the write.
struct TFilePiece
{
    const void* Data = nullptr;
    size_t Size = 0;
};

inline TFilePiece PieceOf(const QByteArray& bytes)
{
    return { bytes.constData(), size_t(bytes.size()) };
}

// One file of a group written as one: the whole content is the pieces in turn.
struct TFileWrite
{
    QString Path;
    std::vector<TFilePiece> Pieces;
};

// Writes the whole file into a new temporary file beside its final place ("<name>.tmp-XXXXXX"), checks that
// every byte reached it, flushes it to the disk, and renames it over the old file; then flushes the folder.
// A link is followed and its target replaced. The new file takes the old one's permissions (0666 less the
// umask for a new file) and, where the system lets it, its owner and group. Throws TAppError "Cannot create
// file "<path>". <reason>" on failure; the old file then stays as it was and the temporary file is removed.
void WriteFileAtomically(const QString& path, const QByteArray& content);
// The same for content made of several pieces written in turn, never joined into one buffer (a header and a
// large mapped store, say).
void WritePiecesAtomically(const QString& path, std::span<const TFilePiece> pieces);
void WritePiecesAtomically(const QString& path, std::initializer_list<TFilePiece> pieces);

// The same written piece by piece, for content that is made while it is written: the constructor creates the
// temporary file, Write appends to it, Commit flushes it to the disk and renames it over the old file. Each
// throws TAppError "Cannot create file "<path>". <reason>" on failure, and then, like a writer that goes
// without Commit, removes the temporary file and leaves the old file as it was.
class TAtomicFileWriter
{
public:
    explicit TAtomicFileWriter(const QString& path);
    ~TAtomicFileWriter();
    TAtomicFileWriter(const TAtomicFileWriter&) = delete;
    TAtomicFileWriter& operator=(const TAtomicFileWriter&) = delete;

    void Write(const void* data, size_t size);
    void Commit();

private:
    struct TState;
    std::unique_ptr<TState> state; // none after Commit or a failure
};
// Several files replaced as one: every temporary file is written whole and flushed before the first rename,
// and the renames follow the given order. A failure before the renames leaves every old file as it was.
// Only a rename that fails after an earlier one succeeded (which a folder that took the temporary files
// hardly ever does) leaves the earlier files new; the error names the file that failed.
void WriteFilesAtomically(std::span<const TFileWrite> files);
// The same, whole also across a kill: once every temporary file is on the disk, the journal `journalPath`
// (one line "<temporary path>\t<final path>" per file, absolute, in rename order) is put in place before the
// first rename and removed after the last. A program killed between two renames leaves the journal behind,
// and FinishInterruptedWrite then completes the renames it names.
void WriteFilesAtomically(std::span<const TFileWrite> files, const QString& journalPath);
// Completes the write that a journal left behind names: for each line whose final path is the file that one
// of `paths` stands for and whose temporary path is a temporary file of it, a temporary file still there
// (a regular file) is renamed over the final one, in the journal's order; then the journal goes. A journal
// that cannot be read or names other files is only removed. Nothing is done when there is no journal.
void FinishInterruptedWrite(const QString& journalPath, const QStringList& paths);

// True when entry is the name of a temporary file that a write of fileName makes: "<fileName>.tmp-" and six
// letters or digits. Only such names may be cleared away as leftovers of an interrupted write.
bool IsAtomicTemporaryOf(const QString& entry, const QString& fileName);

// The integer rules of the configuration reader and of the command argument: optional sign, then decimal
// digits, or hexadecimal digits after "$" or "0x" (either letter case). Anything else, an empty text or a
// value outside 32 bits gives no value.
std::optional<int> ParseInteger(const QString& text);

// Removes leading and trailing white space and control characters (every character up to U+0020).
QString TrimControl(const QString& text);
