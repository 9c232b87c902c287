#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

// A small tmpfs of its own for a test, so that a real full disk can be made without touching the machine's
// file systems. A child process mounts it in a mount name space of its own (as root, or as a user inside a
// user name space) and keeps it alive; the test reaches it through the child's root, "/proc/<pid>/root".
// When mounting is not possible, Path() is empty and Reason() says why.
class TSmallTmpfs
{
public:
    explicit TSmallTmpfs(const QByteArray& options = "size=256k")
    {
        if (!mountPoint.isValid()) {
            reason = QStringLiteral("no temporary folder");
            return;
        }
        const QByteArray point = mountPoint.path().toLocal8Bit();
        // Everything the child needs is made before the fork: after it, only system calls.
        const QByteArray uidMap = "0 " + QByteArray::number(::getuid()) + " 1";
        const QByteArray gidMap = "0 " + QByteArray::number(::getgid()) + " 1";
        int ready[2], hold[2];
        if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(hold, O_CLOEXEC) != 0) {
            reason = QStringLiteral("no pipe");
            return;
        }
        child = ::fork();
        if (child == 0) {
            ::close(ready[0]);
            ::close(hold[1]);
            int error = 0;
            if (::unshare(CLONE_NEWNS) != 0) {
                if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
                    error = errno;
                else if (WriteProc("/proc/self/setgroups", "deny"),
                    !WriteProc("/proc/self/uid_map", uidMap) || !WriteProc("/proc/self/gid_map", gidMap))
                    error = errno ? errno : EPERM;
            }
            if (error == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
                error = errno;
            if (error == 0
                && ::mount("tmpfs", point.constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData())
                    != 0)
                error = errno;
            (void)!::write(ready[1], &error, sizeof error);
            char byte;
            while (::read(hold[0], &byte, 1) > 0) { }
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(hold[0]);
        holdFd = hold[1];
        int error = EAGAIN;
        if (child < 0 || ::read(ready[0], &error, sizeof error) != sizeof error) {
            reason = QStringLiteral("the mounting process did not answer");
        } else if (error != 0) {
            reason = QStringLiteral("cannot mount a tmpfs: %1")
                         .arg(QString::fromLocal8Bit(std::strerror(error)));
        } else {
            path = QStringLiteral("/proc/%1/root%2").arg(child).arg(mountPoint.path());
        }
        ::close(ready[0]);
    }

    ~TSmallTmpfs()
    {
        if (holdFd >= 0)
            ::close(holdFd); // the child sees the end of the pipe and leaves, and the tmpfs goes with it
        if (child > 0) {
            int status = 0;
            ::waitpid(child, &status, 0);
        }
    }
    TSmallTmpfs(const TSmallTmpfs&) = delete;
    TSmallTmpfs& operator=(const TSmallTmpfs&) = delete;

    // The mounted folder as this process reaches it, or "" when there is none.
    const QString& Path() const { return path; }
    const QString& Reason() const { return reason; }

    // Fills the file system up with a file of the given name; returns the bytes it took.
    qint64 Fill(const QString& name) const
    {
        const int fd
            = ::open((path + u'/' + name).toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return -1;
        const QByteArray block(4096, 'x');
        qint64 total = 0;
        for (;;) {
            const ssize_t written = ::write(fd, block.constData(), size_t(block.size()));
            if (written <= 0)
                break;
            total += written;
        }
        ::close(fd);
        return total;
    }

private:
    static bool WriteProc(const char* file, const QByteArray& text)
    {
        const int fd = ::open(file, O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        const bool done = ::write(fd, text.constData(), size_t(text.size())) == text.size();
        ::close(fd);
        return done;
    }

    QTemporaryDir mountPoint;
    pid_t child = -1;
    int holdFd = -1;
    QString path;
    QString reason;
};
