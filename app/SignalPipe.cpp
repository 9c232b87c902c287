#include "app/SignalPipe.h"

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// The write end of the pipe of each signal number, -1 when none; read by the handler.
std::atomic<int> writeEnds[NSIG];

// Signals that came while only the early handler was there, and the handling they had before it.
std::atomic<bool> cameEarly[NSIG];
struct sigaction beforeEarly[NSIG];

// What runs in the handler itself, before the rest; null for none.
std::atomic<TSignalPipe::TImmediate> immediate[NSIG];

void RunImmediate(int signalNumber)
{
    if (const TSignalPipe::TImmediate action = immediate[signalNumber].load())
        action(signalNumber);
}

void EarlyHandler(int signalNumber)
{
    const int savedErrno = errno;
    RunImmediate(signalNumber);
    cameEarly[signalNumber].store(true);
    errno = savedErrno;
}

void WriteByte(int end)
{
    const char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(end, &byte, 1);
}

void SignalHandler(int signalNumber)
{
    const int savedErrno = errno;
    RunImmediate(signalNumber);
    const int end = writeEnds[signalNumber].load();
    if (end >= 0)
        WriteByte(end);
    errno = savedErrno;
}
} // namespace

void TSignalPipe::CatchEarly(std::initializer_list<int> signalNumbers)
{
    struct sigaction action = {};
    action.sa_handler = EarlyHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int signalNumber : signalNumbers) {
        ::sigaction(signalNumber, &action, &beforeEarly[signalNumber]);
        sigaddset(&blocked, signalNumber);
    }
    // Whoever started the program may have left them blocked: they are let through now, so that one that is
    // already pending is remembered at once instead of waiting for ever.
    ::pthread_sigmask(SIG_UNBLOCK, &blocked, nullptr);
}

void TSignalPipe::SetImmediate(std::initializer_list<int> signalNumbers, TImmediate action)
{
    for (int signalNumber : signalNumbers)
        immediate[signalNumber].store(action);
}

TSignalPipe::TSignalPipe(std::initializer_list<int> signalNumbers, TAfterwards afterwards, QObject* parent)
    : QObject(parent)
    , signalNumbers(signalNumbers)
    , previous(signalNumbers.size())
    , afterwards(afterwards)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pipeEnds) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = SignalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < this->signalNumbers.size(); ++i) {
        const int signalNumber = this->signalNumbers[i];
        writeEnds[signalNumber].store(pipeEnds[1]);
        ::sigaction(signalNumber, &action, &previous[i]);
        // The early handler was only a stand-in: what came before it comes back when this pipe goes.
        if (!(previous[i].sa_flags & SA_SIGINFO) && previous[i].sa_handler == EarlyHandler)
            previous[i] = beforeEarly[signalNumber];
        // A signal that came before the pipe was there is answered now, once the event loop runs.
        if (cameEarly[signalNumber].exchange(false))
            WriteByte(pipeEnds[1]);
    }
    notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TSignalPipe::PipeReadable);
}

TSignalPipe::~TSignalPipe()
{
    if (notifier) {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        for (size_t i = 0; i < signalNumbers.size(); ++i) {
            ::sigaction(signalNumbers[i], afterwards == IgnoreAfterwards ? &ignore : &previous[i], nullptr);
            writeEnds[signalNumbers[i]].store(-1);
        }
    }
    for (int end : pipeEnds) {
        if (end >= 0)
            ::close(end);
    }
}

void TSignalPipe::PipeReadable()
{
    char buffer[64];
    while (::read(pipeEnds[0], buffer, sizeof buffer) > 0) { }
    emit Raised();
}
