#pragma once

// Root reads every file and lists every folder, so what a user who may not is told cannot be seen in tests
// that run as root. Such checks run, under root, in a child process that has given up root first and become
// the user "nobody" (65534); the files and folders they use must be open to that user where they should be.

#include <QByteArray>
#include <functional>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

inline constexpr uid_t UnprivilegedUser = 65534;

// Gives up root for good: the supplementary groups, the group, then the user. False when any step fails.
inline bool GiveUpRoot()
{
    return ::setgroups(0, nullptr) == 0 && ::setgid(UnprivilegedUser) == 0 && ::setuid(UnprivilegedUser) == 0;
}

// Runs `work` as a user other than root and returns what it returned: in this process when it does not run as
// root, else in a child that gave up root first. The child ends without running any destructor, so nothing it
// shares with this process (a store file, say) is touched by its end.
inline QByteArray RunUnprivileged(const std::function<QByteArray()>& work)
{
    if (::geteuid() != 0)
        return work();
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return "<no pipe>";
    const pid_t child = ::fork();
    if (child < 0)
        return "<no child>";
    if (child == 0) {
        ::close(pipeEnds[0]);
        if (!GiveUpRoot())
            ::_exit(1);
        const QByteArray result = work();
        const bool written = ::write(pipeEnds[1], result.constData(), size_t(result.size())) == result.size();
        ::_exit(written ? 0 : 1);
    }
    ::close(pipeEnds[1]);
    QByteArray result;
    char buffer[512];
    ssize_t got;
    while ((got = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0)
        result.append(buffer, got);
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "<the unprivileged child failed>";
    return result;
}
