#include "app/StateReport.h"

#include "app/MainForm.h"
#include "app/Messages.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int pipeEnds[2] = { -1, -1 };

void SignalHandler(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(pipeEnds[1], &byte, 1);
    errno = savedErrno;
}
} // namespace

TStateReport::TStateReport(TMainForm* form)
    : QObject(form)
    , form(form)
{
    if (pipeEnds[0] < 0
        && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pipeEnds) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = SignalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGUSR1, &action, nullptr) != 0)
        return;
    notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TStateReport::PipeReadable);
}

TStateReport::~TStateReport()
{
    if (notifier) {
        struct sigaction action = {};
        action.sa_handler = SIG_IGN; // a late signal must not end the process while it shuts down
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGUSR1, &action, nullptr);
    }
}

void TStateReport::PipeReadable()
{
    char buffer[64];
    while (::read(pipeEnds[0], buffer, sizeof buffer) > 0) { }
    try {
        form->WriteStateReport();
    } catch (const std::exception& error) {
        ShowMessage(QString::fromUtf8(error.what()));
    }
}
