#include "app/SignalPipe.h"

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// The write end of the pipe of each signal number, -1 when none; read by the handler.
std::atomic<int> writeEnds[NSIG];

void SignalHandler(int signalNumber)
{
    const int savedErrno = errno;
    const int end = writeEnds[signalNumber].load();
    if (end >= 0) {
        const char byte = 1;
        [[maybe_unused]] ssize_t written = ::write(end, &byte, 1);
    }
    errno = savedErrno;
}
} // namespace

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
        writeEnds[this->signalNumbers[i]].store(pipeEnds[1]);
        ::sigaction(this->signalNumbers[i], &action, &previous[i]);
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
