#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The one way Mirava reads a file. The file is opened without waiting (a named pipe or a device never holds
// the program), anything that is not a regular file is refused, and never more than a fixed number of bytes
// is read. The size the file system reports is not trusted alone: files under /proc report 0 and still
// deliver data, and a file being written grows while it is read; both are refused rather than read without
// end. Every failure gives a reason in plain words ("it is not a regular file", the system's message, ...).
class TRegularFile
{
public:
    TRegularFile() = default;
    ~TRegularFile();
    TRegularFile(const TRegularFile&) = delete;
    TRegularFile& operator=(const TRegularFile&) = delete;

    // Opens the file at `nativePath`, the file system's own bytes of the name (names that are not valid
    // UTF-8 open too). False, with Error() set, when it cannot be opened or is not a regular file.
    bool Open(const QByteArray& nativePath);
    // Opens the file at a path as the program keeps it (see EncodeFileName).
    bool Open(const QString& path);
    // Takes over a descriptor opened elsewhere (closed here from now on) and checks it the same way; a
    // negative one fails.
    bool Adopt(int descriptor);

    // The whole rest of the file, at most `maxBytes`; no value, with Error() set, when the file is larger,
    // is not whole after reading, or a read fails.
    std::optional<QByteArray> ReadAll(qint64 maxBytes);
    // Up to `count` bytes from the current position: fewer only at the end of the file. No value, with
    // Error() set, when a read fails.
    std::optional<QByteArray> ReadAtMost(qint64 count);

    // The open descriptor (-1 when closed); it stays owned by this object.
    int Descriptor() const { return fd; }
    // The size the file system reports for the open file.
    qint64 Size() const { return size; }
    const QString& Error() const { return error; }
    void Close();

private:
    int fd = -1;
    qint64 size = 0;
    qint64 position = 0;
    QString error;

    bool Fail(const QString& reason);
};

// Opens, checks and reads a whole file of at most `maxBytes`. On failure the value is empty and `error`
// (when given) holds the reason.
std::optional<QByteArray> ReadRegularFile(const QString& path, qint64 maxBytes, QString* error = nullptr);
std::optional<QByteArray> ReadRegularFile(
    const QByteArray& nativePath, qint64 maxBytes, QString* error = nullptr);
