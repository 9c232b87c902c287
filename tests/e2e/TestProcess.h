// Child processes for the whole-window test: started with a chosen environment, folder and log file, ended
// by the parent on every path (and by the kernel if the test process itself dies).
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace E2e {

using TStrings = std::vector<std::string>;

struct TLaunch
{
    TStrings Arguments; // the program's path first
    TStrings Environment; // full environment, NAME=value
    std::string Folder; // working folder; empty keeps the test's
    std::string LogPath; // standard output and error go here; empty means /dev/null
    int PassFd = -1; // when set, handed to the child as its file descriptor 3
    int PendingSignal
        = 0; // when set, blocked and raised in the child, so that it waits when the program starts
};

// The test's environment without the variables named in `drop`, plus `add`.
TStrings Environment(const TStrings& drop, const TStrings& add);

class TProcess
{
public:
    TProcess() = default;
    ~TProcess() { Stop(); }
    TProcess(const TProcess&) = delete;
    TProcess& operator=(const TProcess&) = delete;

    // Starts the program; false (with the reason in `error`) when it cannot be started.
    bool Start(const TLaunch& launch, std::string& error);
    pid_t Pid() const { return pid; }
    // True while the child has not ended; reaps it once it has.
    bool Running();
    int ExitStatus() const { return status; }
    // Asks the child to end with SIGTERM, waits up to `grace`, then kills it.
    void Stop(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));

private:
    pid_t pid = -1;
    int status = -1;
};

// Runs a program to its end, killing it after `timeout`; returns its exit code, or -1 when it could not be
// started, was killed or timed out (the reason in `error`).
int Run(const TLaunch& launch, std::chrono::milliseconds timeout, std::string& error);

} // namespace E2e
