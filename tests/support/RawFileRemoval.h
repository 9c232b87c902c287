#pragma once

#include <QByteArray>
#include <unistd.h>
#include <utility>

// Removes a file by the bytes of its path when it goes. QTemporaryDir cannot see a name that is not valid
// UTF-8, so a test that makes one removes it itself, also when it fails half-way.
class TRawFileRemoval
{
public:
    explicit TRawFileRemoval(QByteArray nativePath)
        : nativePath(std::move(nativePath))
    { }
    ~TRawFileRemoval() { ::unlink(nativePath.constData()); }
    TRawFileRemoval(const TRawFileRemoval&) = delete;
    TRawFileRemoval& operator=(const TRawFileRemoval&) = delete;

private:
    QByteArray nativePath;
};
