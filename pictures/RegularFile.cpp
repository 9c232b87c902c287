#include "pictures/RegularFile.h"

#include "pictures/FileName.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 ChunkBytes = 64 * 1024;

QString SystemReason(int number)
{
    if (number == EAGAIN || number == EWOULDBLOCK)
        return QStringLiteral("reading it would wait: it is not an ordinary file on disk");
    return QString::fromLocal8Bit(std::strerror(number));
}

} // namespace

TRegularFile::~TRegularFile()
{
    Close();
}

void TRegularFile::Close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    size = 0;
    position = 0;
}

bool TRegularFile::Fail(const QString& reason)
{
    error = reason;
    return false;
}

bool TRegularFile::Open(const QString& path)
{
    return Open(EncodeFileName(path));
}

bool TRegularFile::Open(const QByteArray& nativePath)
{
    Close();
    error.clear();
    if (nativePath.isEmpty())
        return Fail(QStringLiteral("no file name given"));
    // O_NONBLOCK: opening a named pipe without a writer, or a device, returns at once instead of waiting.
    // O_NOCTTY: a terminal opened here never becomes the program's controlling terminal.
    const int opened = ::open(nativePath.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (opened < 0)
        return Fail(SystemReason(errno));
    return Adopt(opened);
}

bool TRegularFile::Adopt(int descriptor)
{
    Close();
    error.clear();
    if (descriptor < 0)
        return Fail(QStringLiteral("the file could not be opened"));
    fd = descriptor;
    struct stat info = {};
    if (::fstat(fd, &info) != 0) {
        const int number = errno;
        Close();
        return Fail(SystemReason(number));
    }
    if (S_ISDIR(info.st_mode)) {
        Close();
        return Fail(QStringLiteral("it is a folder, not a file"));
    }
    if (!S_ISREG(info.st_mode)) {
        Close();
        return Fail(QStringLiteral("it is not a regular file"));
    }
    size = qint64(info.st_size);
    return true;
}

std::optional<QByteArray> TRegularFile::ReadAtMost(qint64 count)
{
    if (fd < 0) {
        Fail(QStringLiteral("the file is not open"));
        return std::nullopt;
    }
    // Memory grows with what is really read: a file reporting no size may still deliver the whole count.
    const qint64 wanted = std::max<qint64>(count, 0);
    const qint64 guess = std::min(wanted, std::max<qint64>(size - position, 0) + 1);
    QByteArray bytes;
    qsizetype done = 0;
    while (done < wanted) {
        const qint64 chunk = std::min(wanted - done, std::max<qint64>(guess - done, ChunkBytes));
        bytes.resize(qsizetype(done + chunk));
        const ssize_t n = ::read(fd, bytes.data() + done, size_t(chunk));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            Fail(SystemReason(errno));
            return std::nullopt;
        }
        if (n == 0)
            break;
        done += n;
    }
    bytes.truncate(done);
    position += done;
    return bytes;
}

std::optional<QByteArray> TRegularFile::ReadAll(qint64 maxBytes)
{
    if (fd < 0) {
        Fail(QStringLiteral("the file is not open"));
        return std::nullopt;
    }
    if (size > maxBytes) {
        Fail(QStringLiteral("the file is too large (%1 bytes, at most %2 are read)").arg(size).arg(maxBytes));
        return std::nullopt;
    }
    // One byte more than the file should still hold tells a file that grows, or a system file that reports
    // no size, from a whole one, without reading it to its end.
    const qint64 expected = std::max<qint64>(size - position, 0);
    std::optional<QByteArray> bytes = ReadAtMost(expected + 1);
    if (!bytes)
        return std::nullopt;
    if (bytes->size() > expected) {
        Fail(QStringLiteral(
            "the file holds more than its size says (a system file, or a file being written)"));
        return std::nullopt;
    }
    if (bytes->size() < expected) {
        Fail(QStringLiteral("the file became shorter while it was read"));
        return std::nullopt;
    }
    return bytes;
}

std::optional<QByteArray> ReadRegularFile(const QByteArray& nativePath, qint64 maxBytes, QString* error)
{
    TRegularFile file;
    std::optional<QByteArray> bytes;
    if (file.Open(nativePath))
        bytes = file.ReadAll(maxBytes);
    if (!bytes && error)
        *error = file.Error();
    return bytes;
}

std::optional<QByteArray> ReadRegularFile(const QString& path, qint64 maxBytes, QString* error)
{
    return ReadRegularFile(EncodeFileName(path), maxBytes, error);
}
