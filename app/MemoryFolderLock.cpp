#include "app/MemoryFolderLock.h"

#include "app/AppError.h"
#include "app/TextFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int LeftoverAge = 300; // seconds

} // namespace

TMemoryFolderLock::TMemoryFolderLock(
    const QString& memory, std::chrono::seconds waitLimit, const std::function<void()>& whileWaiting)
{
    const QFileInfo file(memory);
    const QString target
        = file.isSymLink() ? QFileInfo(file.symLinkTarget()).absolutePath() : file.absolutePath();
    fd = ::open(QFile::encodeName(target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return; // the read or the write names the reason
    const auto end = std::chrono::steady_clock::now() + waitLimit;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            return; // no locks here
        if (whileWaiting) {
            try {
                whileWaiting();
            } catch (...) {
                ::close(fd); // given up: the folder is not kept open
                fd = -1;
                throw;
            }
        }
        if (std::chrono::steady_clock::now() > end) {
            ::close(fd);
            fd = -1;
            throw TAppError(
                QStringLiteral("Another program has been writing a memory file in \"%1\" for %2 s; "
                               "try again later")
                    .arg(target)
                    .arg(waitLimit.count()));
        }
        ::usleep(20000);
    }
}

TMemoryFolderLock::~TMemoryFolderLock()
{
    if (fd >= 0)
        ::close(fd); // closing gives the lock up
}

void TMemoryFolderLock::RemoveLeftovers(const QString& memory)
{
    const QFileInfo file(memory);
    const QFileInfo target = file.isSymLink() ? QFileInfo(file.symLinkTarget()) : file;
    const QDir folder = target.absoluteDir();
    const time_t before = ::time(nullptr) - LeftoverAge;
    for (const QString& entry : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (!IsAtomicTemporaryOf(entry, target.fileName()))
            continue;
        const QByteArray path = QFile::encodeName(folder.filePath(entry));
        struct stat status
        {
        };
        if (::lstat(path.constData(), &status) == 0 && S_ISREG(status.st_mode) && status.st_mtime < before)
            ::unlink(path.constData());
    }
}
