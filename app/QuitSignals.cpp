#include "app/QuitSignals.h"

#include "app/MainForm.h"
#include "app/SignalPipe.h"
#include "mmf/MMFArray.h"

#include <QCoreApplication>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <semaphore.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {
// What the signal handler shares with the rest: lock-free atomics and a semaphore, nothing else.
std::atomic<int> stopSignalsSeen { 0 };
std::atomic<int> firstStopSignal { 0 };
// The stop's exit status once it has written everything it could; -1 before.
std::atomic<int> finishedStatus { -1 };
sem_t stopAsked;
std::chrono::milliseconds stopTimeLimit = TQuitSignals::TimeLimit;

void WriteError(const char* text)
{
    [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, text, std::strlen(text));
}

// Ends the process now, from a signal handler or the watch thread: only async-signal-safe calls. The store
// file goes, as it would at a normal end; whatever else has not been written is lost.
[[noreturn]] void EndNow(int signalNumber, const char* why)
{
    TMMFArray::RemoveAllFilesNow();
    const int status = finishedStatus.load();
    if (status >= 0)
        ::_exit(status); // everything was written: only the rest of the ending is skipped
    WriteError(why);
    ::_exit(TQuitSignals::CutShortBase + signalNumber);
}

// Runs inside the handler of each stop signal, before the GUI thread hears of it.
void OnStopSignal(int signalNumber)
{
    if (stopSignalsSeen.fetch_add(1) > 0)
        EndNow(signalNumber,
            "mirava: a second signal ended the stop at once; what it had not written is lost\n");
    firstStopSignal.store(signalNumber);
    // A log or terminal that went away (a logout) must not end the stop with SIGPIPE while it reports.
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
    ::sem_post(&stopAsked);
}

// The watch thread: sleeps until the first stop signal, then gives the stop its time and cuts it short
// when the process is still there after it.
void WatchStop(std::string tooLong)
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (int signalNumber : { SIGTERM, SIGINT, SIGHUP })
        sigaddset(&stopSignals, signalNumber);
    ::pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    while (::sem_wait(&stopAsked) != 0 && errno == EINTR) { }
    timespec deadline {};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    const long long limit = stopTimeLimit.count();
    deadline.tv_sec += time_t(limit / 1000);
    deadline.tv_nsec += long(limit % 1000) * 1'000'000;
    if (deadline.tv_nsec >= 1'000'000'000) {
        ++deadline.tv_sec;
        deadline.tv_nsec -= 1'000'000'000;
    }
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) { }
    EndNow(firstStopSignal.load(), tooLong.c_str());
}
} // namespace

void TQuitSignals::CatchEarly(std::chrono::milliseconds timeLimit)
{
    stopTimeLimit = timeLimit;
    ::sem_init(&stopAsked, 0, 0);
    std::thread(WatchStop,
        "mirava: the stop did not end within " + std::to_string(timeLimit.count())
            + " ms and was cut short; what it had not written is lost\n")
        .detach();
    TSignalPipe::SetImmediate({ SIGTERM, SIGINT, SIGHUP }, OnStopSignal);
    TSignalPipe::CatchEarly({ SIGTERM, SIGINT, SIGHUP });
}

TQuitSignals::TQuitSignals(TMainForm* form)
    : TQuitSignals(form, [form] { return form->StopBySignal(); })
{ }

TQuitSignals::TQuitSignals(QObject* parent, TStop stop)
    : QObject(parent)
    , stop(std::move(stop))
    , pipe(new TSignalPipe({ SIGTERM, SIGINT, SIGHUP }, TSignalPipe::RestorePrevious, this))
{
    connect(pipe, &TSignalPipe::Raised, this, &TQuitSignals::Stop);
}

bool TQuitSignals::Installed() const
{
    return pipe->Installed();
}

void TQuitSignals::Stop()
{
    if (!stop)
        return; // a stop is under way already
    const TStop running = std::move(stop);
    stop = nullptr;
    const int status = running();
    finishedStatus.store(status);
    // Ends every event loop, also those of dialogs that the stop closed and that are still unwinding.
    QCoreApplication::exit(status);
}
