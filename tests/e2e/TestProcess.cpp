#include "tests/e2e/TestProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace E2e {

namespace {

std::vector<char*> Pointers(TStrings& strings)
{
    std::vector<char*> pointers;
    for (std::string& text : strings)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

TStrings Environment(const TStrings& drop, const TStrings& add)
{
    TStrings result;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        bool dropped = false;
        for (const std::string& unwanted : drop)
            dropped = dropped || name == unwanted;
        if (!dropped)
            result.push_back(text);
    }
    result.insert(result.end(), add.begin(), add.end());
    return result;
}

bool TProcess::Start(const TLaunch& launch, std::string& error)
{
    Stop();
    TStrings arguments = launch.Arguments;
    TStrings environment = launch.Environment;
    if (arguments.empty()) {
        error = "no program given";
        return false;
    }
    // Everything the child needs is prepared before the fork: after it only async-signal-safe calls follow.
    std::vector<char*> argv = Pointers(arguments);
    std::vector<char*> envp = Pointers(environment);
    const std::string logPath = launch.LogPath.empty() ? std::string("/dev/null") : launch.LogPath;
    const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (log < 0) {
        error = "cannot open " + logPath + ": " + std::strerror(errno);
        return false;
    }
    int failurePipe[2];
    if (::pipe2(failurePipe, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        ::close(log);
        return false;
    }
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        // The child dies with the test, so a test killed by a timeout leaves no X server or program behind.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::setpgid(0, 0);
        const int input = ::open("/dev/null", O_RDONLY);
        ::dup2(input, 0);
        ::dup2(log, 1);
        ::dup2(log, 2);
        if (launch.PassFd >= 0)
            ::dup2(launch.PassFd, 3); // dup2 clears close-on-exec on the copy
        if (!launch.Folder.empty() && ::chdir(launch.Folder.c_str()) != 0) {
            const int code = errno;
            [[maybe_unused]] ssize_t written = ::write(failurePipe[1], &code, sizeof code);
            ::_exit(127);
        }
        if (launch.PendingSignal > 0) {
            sigset_t blocked;
            sigemptyset(&blocked);
            sigaddset(&blocked, launch.PendingSignal);
            ::sigprocmask(SIG_BLOCK, &blocked, nullptr); // the mask and the pending signal outlive exec
            ::kill(::getpid(), launch.PendingSignal);
        }
        ::execve(argv[0], argv.data(), envp.data());
        const int code = errno;
        [[maybe_unused]] ssize_t written = ::write(failurePipe[1], &code, sizeof code);
        ::_exit(127);
    }
    ::close(log);
    ::close(failurePipe[1]);
    if (child < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        ::close(failurePipe[0]);
        return false;
    }
    // The pipe closes on a successful exec; a number in it is the child's errno.
    int code = 0;
    ssize_t got;
    do
        got = ::read(failurePipe[0], &code, sizeof code);
    while (got < 0 && errno == EINTR);
    ::close(failurePipe[0]);
    pid = child;
    if (got == sizeof code) {
        error = "cannot start " + arguments.front() + ": " + std::strerror(code);
        Stop();
        return false;
    }
    return true;
}

bool TProcess::Running()
{
    if (pid <= 0)
        return false;
    int waitStatus = 0;
    const pid_t done = ::waitpid(pid, &waitStatus, WNOHANG);
    if (done == 0)
        return true;
    status = waitStatus;
    pid = -1;
    return false;
}

void TProcess::Stop(std::chrono::milliseconds grace)
{
    if (!Running())
        return;
    ::kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (Running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!Running())
        return;
    ::kill(pid, SIGKILL);
    int waitStatus = 0;
    while (::waitpid(pid, &waitStatus, 0) < 0 && errno == EINTR) { }
    status = waitStatus;
    pid = -1;
}

int Run(const TLaunch& launch, std::chrono::milliseconds timeout, std::string& error)
{
    TProcess process;
    if (!process.Start(launch, error))
        return -1;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (process.Running()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            process.Stop(std::chrono::milliseconds(0));
            error = launch.Arguments.front() + " did not finish in time";
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const int status = process.ExitStatus();
    if (!WIFEXITED(status)) {
        error = launch.Arguments.front() + " was ended by signal " + std::to_string(WTERMSIG(status));
        return -1;
    }
    return WEXITSTATUS(status);
}

} // namespace E2e
