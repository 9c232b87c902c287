#include "app/TextFiles.h"

#include "app/AppError.h"
#include "pictures/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

int TFileWriteSystem::CreateExclusive(const char* path, mode_t mode)
{
    return ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
}

ssize_t TFileWriteSystem::Write(int fd, const void* data, size_t size)
{
    return ::write(fd, data, size);
}

int TFileWriteSystem::SetMode(int fd, mode_t mode)
{
    return ::fchmod(fd, mode);
}

int TFileWriteSystem::SetOwner(int fd, uid_t owner, gid_t group)
{
    return ::fchown(fd, owner, group);
}

int TFileWriteSystem::StartWriteback(int fd, off_t offset, off_t size)
{
    return ::sync_file_range(fd, offset, size, SYNC_FILE_RANGE_WRITE);
}

int TFileWriteSystem::Sync(int fd)
{
    return ::fsync(fd);
}

int TFileWriteSystem::Close(int fd)
{
    return ::close(fd);
}

int TFileWriteSystem::Rename(const char* from, const char* to)
{
    return ::rename(from, to);
}

int TFileWriteSystem::Remove(const char* path)
{
    return ::unlink(path);
}

int TFileWriteSystem::SyncFolder(const char* path)
{
    const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 0; // a folder that cannot be opened for reading cannot be flushed either
    int result = ::fsync(fd);
    if (result != 0 && (errno == EINVAL || errno == ENOTSUP || errno == EROFS))
        result = 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    return result;
}

namespace {
TFileWriteSystem operatingSystem;
TFileWriteSystem* currentSystem = &operatingSystem;

constexpr char TemporaryAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr int TemporaryAlphabetLength = 62;
constexpr int TemporaryNameLength = 6;
const QString TemporaryInfix = QStringLiteral(".tmp-");
constexpr int NameTries = 100;
constexpr int LinkDepth = 40;
// One write call never asks for more, so that a huge piece still makes progress in steps.
constexpr size_t WriteStep = size_t(1) << 30;
// How much of a file is written before it is sent on to the disk.
constexpr uint64_t WritebackStep = uint64_t(8) << 20;

[[noreturn]] void Fail(const QString& shownPath, const QString& reason)
{
    throw TAppError(QStringLiteral("Cannot create file \"%1\". %2").arg(shownPath, reason));
}

[[noreturn]] void FailWithErrno(const QString& shownPath, int error)
{
    Fail(shownPath, qt_error_string(error));
}

// A journal names a few files; anything larger is no journal of this program.
constexpr qint64 JournalLimit = 64 * 1024;

QByteArray AbsolutePath(const QByteArray& path)
{
    return QFile::encodeName(QFileInfo(QFile::decodeName(path)).absoluteFilePath());
}

// A file of a group on its way: written to its temporary file, not yet renamed.
struct TPendingFile
{
    QString shownPath; // as the caller named it, for messages
    QByteArray finalPath; // the link target when the caller named a link
    QByteArray temporaryPath;
    QByteArray folder;
};

// The file the caller's path stands for: links are followed to their target, so that a configuration file
// kept elsewhere through a link stays there. Only a regular file (or none yet) may be replaced.
struct TOldFile
{
    bool exists = false;
    mode_t mode = 0666; // less the umask for a new file
    uid_t owner = 0;
    gid_t group = 0;
};

QString TargetOf(const QString& path, TOldFile* old)
{
    QString target = path;
    for (int depth = 0;; ++depth) {
        const QFileInfo info(target);
        if (!info.isSymLink())
            break;
        if (depth == LinkDepth)
            FailWithErrno(path, ELOOP);
        target = info.symLinkTarget();
    }
    struct stat status
    {
    };
    if (::stat(QFile::encodeName(target).constData(), &status) != 0) {
        if (errno != ENOENT)
            FailWithErrno(path, errno);
        return target;
    }
    if (!S_ISREG(status.st_mode))
        Fail(path, QStringLiteral("Not a regular file"));
    old->exists = true;
    old->mode = status.st_mode & 07777;
    old->owner = status.st_uid;
    old->group = status.st_gid;
    return target;
}

QByteArray TemporaryPathFor(const QByteArray& finalPath)
{
    QByteArray path = finalPath + TemporaryInfix.toLatin1();
    for (int i = 0; i < TemporaryNameLength; ++i)
        path += TemporaryAlphabet[QRandomGenerator::global()->bounded(TemporaryAlphabetLength)];
    return path;
}

// Removes the temporary file again; a failure here changes nothing for the old file.
void Discard(TFileWriteSystem* system, const TPendingFile& file)
{
    const int error = errno;
    system->Remove(file.temporaryPath.constData());
    errno = error;
}

// A temporary file on its way: created beside its final place with the old file's owner and permissions,
// written in turn, then flushed to the disk and closed. Every failure throws with the file removed.
class TTemporaryFile
{
public:
    TTemporaryFile(TFileWriteSystem* system, const QString& path)
        : system(system)
    {
        file.shownPath = path;
        TOldFile old;
        const QString target = TargetOf(path, &old);
        file.finalPath = QFile::encodeName(target);
        file.folder = QFile::encodeName(QFileInfo(target).absolutePath());
        for (int attempt = 0; attempt < NameTries && fd < 0; ++attempt) {
            file.temporaryPath = TemporaryPathFor(file.finalPath);
            fd = system->CreateExclusive(file.temporaryPath.constData(), old.mode);
            if (fd < 0 && errno != EEXIST)
                FailWithErrno(path, errno);
        }
        if (fd < 0)
            FailWithErrno(path, EEXIST);
        if (old.exists) {
            // A file of another user (the program run as root in a user's folder) stays theirs; only the
            // super-user may give a file away, so anyone else keeps the file as their own.
            if (old.owner != ::geteuid() || old.group != ::getegid())
                system->SetOwner(fd, old.owner, old.group);
            // The umask must not narrow the permissions the old file had; set after the owner, which clears
            // the set-id bits.
            if (system->SetMode(fd, old.mode) != 0)
                FailOpen(errno);
        }
    }
    ~TTemporaryFile()
    {
        if (fd >= 0) {
            system->Close(fd);
            Discard(system, file);
        }
    }
    TTemporaryFile(const TTemporaryFile&) = delete;
    TTemporaryFile& operator=(const TTemporaryFile&) = delete;

    void Write(const void* data, size_t size)
    {
        const char* bytes = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t written = system->Write(fd, bytes, std::min(size, WriteStep));
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                FailOpen(errno);
            }
            if (written == 0)
                FailOpen(ENOSPC); // no progress and no reason: the disk took nothing more
            bytes += written;
            size -= size_t(written);
            length += uint64_t(written);
        }
        // A large file goes to the disk while the rest is still being written, so that the flush at the end
        // waits only for the last part.
        if (length - sentToDisk >= WritebackStep) {
            system->StartWriteback(fd, off_t(sentToDisk), off_t(length - sentToDisk));
            sentToDisk = length;
        }
    }

    // Flushes and closes the file; from then on it is the caller's to rename or discard.
    TPendingFile Finish()
    {
        if (system->Sync(fd) != 0)
            FailOpen(errno);
        // A file system may report a failed write only when the file is closed.
        const int closing = system->Close(fd);
        fd = -1;
        if (closing != 0) {
            const int error = errno;
            Discard(system, file);
            FailWithErrno(file.shownPath, error);
        }
        return file;
    }

private:
    [[noreturn]] void FailOpen(int error)
    {
        system->Close(fd);
        fd = -1;
        Discard(system, file);
        FailWithErrno(file.shownPath, error);
    }

    TFileWriteSystem* system;
    TPendingFile file;
    int fd = -1;
    uint64_t length = 0;
    uint64_t sentToDisk = 0;
};

// Writes one temporary file whole, flushed to the disk and closed. Throws with the file removed on failure.
TPendingFile WriteTemporary(TFileWriteSystem* system, const QString& path, std::span<const TFilePiece> pieces)
{
    TTemporaryFile file(system, path);
    for (const TFilePiece& piece : pieces)
        file.Write(piece.Data, piece.Size);
    return file.Finish();
}

// Puts a written temporary file in the place of its final one and flushes the folder.
void RenameInPlace(TFileWriteSystem* system, const TPendingFile& file)
{
    if (system->Rename(file.temporaryPath.constData(), file.finalPath.constData()) != 0) {
        const int error = errno;
        Discard(system, file);
        FailWithErrno(file.shownPath, error);
    }
    if (system->SyncFolder(file.folder.constData()) != 0)
        FailWithErrno(file.shownPath, errno);
}
} // namespace

TFileWriteSystem* TFileWriteSystem::Default()
{
    return currentSystem;
}

TFileWriteSystem* TFileWriteSystem::SetDefault(TFileWriteSystem* system)
{
    TFileWriteSystem* previous = currentSystem;
    currentSystem = system ? system : &operatingSystem;
    return previous;
}

void WriteFilesAtomically(std::span<const TFileWrite> files)
{
    WriteFilesAtomically(files, QString());
}

void WriteFilesAtomically(std::span<const TFileWrite> files, const QString& journalPath)
{
    TFileWriteSystem* system = TFileWriteSystem::Default();
    std::vector<TPendingFile> pending;
    pending.reserve(files.size());
    QByteArray journalFile;
    try {
        for (const TFileWrite& file : files)
            pending.push_back(WriteTemporary(system, file.Path, file.Pieces));
        if (!journalPath.isEmpty()) {
            // The journal is this program's own file: a link in its place is never followed.
            struct stat status
            {
            };
            if (::lstat(QFile::encodeName(journalPath).constData(), &status) == 0 && !S_ISREG(status.st_mode))
                Fail(journalPath, QStringLiteral("Not a regular file"));
            QByteArray journal;
            for (const TPendingFile& file : pending)
                journal += AbsolutePath(file.temporaryPath) + '\t' + AbsolutePath(file.finalPath) + '\n';
            const TFilePiece piece = PieceOf(journal);
            const TPendingFile written
                = WriteTemporary(system, journalPath, std::span<const TFilePiece>(&piece, 1));
            if (system->Rename(written.temporaryPath.constData(), written.finalPath.constData()) != 0) {
                const int error = errno;
                Discard(system, written);
                FailWithErrno(journalPath, error);
            }
            journalFile = written.finalPath;
            // The journal must be on the disk before the first rename it stands for.
            if (system->SyncFolder(written.folder.constData()) != 0) {
                const int error = errno;
                system->Remove(journalFile.constData());
                FailWithErrno(journalPath, error);
            }
        }
    } catch (...) {
        for (const TPendingFile& file : pending)
            Discard(system, file);
        throw;
    }
    for (size_t i = 0; i < pending.size(); ++i) {
        if (system->Rename(pending[i].temporaryPath.constData(), pending[i].finalPath.constData()) != 0) {
            const int error = errno;
            for (size_t j = i; j < pending.size(); ++j)
                Discard(system, pending[j]);
            if (!journalFile.isEmpty())
                system->Remove(journalFile.constData());
            FailWithErrno(pending[i].shownPath, error);
        }
    }
    // Every rename is done: a kill from here on leaves only the journal, which then names nothing left.
    if (!journalFile.isEmpty())
        system->Remove(journalFile.constData());
    // The renames reach the disk only with their folders.
    std::vector<QByteArray> synced;
    for (const TPendingFile& file : pending) {
        if (std::find(synced.begin(), synced.end(), file.folder) != synced.end())
            continue;
        if (system->SyncFolder(file.folder.constData()) != 0)
            FailWithErrno(file.shownPath, errno);
        synced.push_back(file.folder);
    }
}

struct TAtomicFileWriter::TState
{
    TFileWriteSystem* system;
    TTemporaryFile file;
};

TAtomicFileWriter::TAtomicFileWriter(const QString& path)
{
    TFileWriteSystem* system = TFileWriteSystem::Default();
    state.reset(new TState { system, TTemporaryFile(system, path) });
}

TAtomicFileWriter::~TAtomicFileWriter() = default;

void TAtomicFileWriter::Write(const void* data, size_t size)
{
    if (!state)
        throw std::logic_error("TAtomicFileWriter::Write after Commit or a failure");
    try {
        state->file.Write(data, size);
    } catch (...) {
        state.reset();
        throw;
    }
}

void TAtomicFileWriter::Commit()
{
    if (!state)
        throw std::logic_error("TAtomicFileWriter::Commit after Commit or a failure");
    const std::unique_ptr<TState> done = std::move(state);
    RenameInPlace(done->system, done->file.Finish());
}

void WritePiecesAtomically(const QString& path, std::span<const TFilePiece> pieces)
{
    TAtomicFileWriter writer(path);
    for (const TFilePiece& piece : pieces)
        writer.Write(piece.Data, piece.Size);
    writer.Commit();
}

void WritePiecesAtomically(const QString& path, std::initializer_list<TFilePiece> pieces)
{
    WritePiecesAtomically(path, std::span<const TFilePiece>(pieces.begin(), pieces.size()));
}

void WriteFileAtomically(const QString& path, const QByteArray& content)
{
    const TFilePiece piece = PieceOf(content);
    WritePiecesAtomically(path, std::span<const TFilePiece>(&piece, 1));
}

void FinishInterruptedWrite(const QString& journalPath, const QStringList& paths)
{
    QString error;
    const std::optional<QByteArray> journal = ReadRegularFile(journalPath, JournalLimit, &error);
    if (!journal && !QFileInfo(journalPath).isFile())
        return;
    // The files the journal may name: the targets of the caller's paths, as the write found them.
    std::vector<QByteArray> targets;
    for (const QString& path : paths) {
        try {
            TOldFile old;
            targets.push_back(AbsolutePath(QFile::encodeName(TargetOf(path, &old))));
        } catch (const TAppError&) {
            // a final path that is no regular file takes no rename
        }
    }
    std::vector<std::pair<QByteArray, QByteArray>> renames;
    bool sound = journal.has_value();
    for (const QByteArray& line : journal.value_or(QByteArray()).split('\n')) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> parts = line.split('\t');
        if (parts.size() != 2 || std::find(targets.begin(), targets.end(), parts[1]) == targets.end()) {
            sound = false;
            break;
        }
        const QFileInfo temporary(QFile::decodeName(parts[0])), final(QFile::decodeName(parts[1]));
        if (temporary.absolutePath() != final.absolutePath()
            || !IsAtomicTemporaryOf(temporary.fileName(), final.fileName())) {
            sound = false;
            break;
        }
        renames.emplace_back(parts[0], parts[1]);
    }
    TFileWriteSystem* system = TFileWriteSystem::Default();
    if (sound) {
        for (const auto& [temporary, final] : renames) {
            struct stat status
            {
            };
            if (::lstat(temporary.constData(), &status) == 0 && S_ISREG(status.st_mode))
                system->Rename(temporary.constData(), final.constData());
        }
        std::vector<QByteArray> synced;
        for (const auto& rename : renames) {
            const QByteArray folder = QFile::encodeName(QFileInfo(QFile::decodeName(rename.second)).path());
            if (std::find(synced.begin(), synced.end(), folder) == synced.end()) {
                system->SyncFolder(folder.constData());
                synced.push_back(folder);
            }
        }
    }
    system->Remove(QFile::encodeName(journalPath).constData());
}

bool IsAtomicTemporaryOf(const QString& entry, const QString& fileName)
{
    const qsizetype prefix = fileName.size() + TemporaryInfix.size();
    if (entry.size() != prefix + TemporaryNameLength || !entry.startsWith(fileName + TemporaryInfix))
        return false;
    for (qsizetype i = prefix; i < entry.size(); ++i) {
        const char16_t c = entry[i].unicode();
        if (!((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')))
            return false;
    }
    return true;
}

std::optional<int> ParseInteger(const QString& text)
{
    int pos = 0;
    const int length = int(text.size());
    bool negative = false;
    if (pos < length && (text[pos] == u'+' || text[pos] == u'-')) {
        negative = text[pos] == u'-';
        ++pos;
    }
    int base = 10;
    if (pos < length && text[pos] == u'$') {
        base = 16;
        ++pos;
    } else if (pos + 1 < length && text[pos] == u'0' && (text[pos + 1] == u'x' || text[pos + 1] == u'X')) {
        base = 16;
        pos += 2;
    }
    if (pos >= length)
        return std::nullopt;
    qint64 value = 0;
    for (; pos < length; ++pos) {
        const char16_t c = text[pos].unicode();
        int digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            return std::nullopt;
        value = value * base + digit;
        if (value > qint64(std::numeric_limits<int>::max()) + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min())
        return std::nullopt;
    return int(value);
}

QString TrimControl(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 0x20)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 0x20)
        --end;
    return text.mid(begin, end - begin);
}
