#include "app/QuitSignals.h"

#include "app/MainForm.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int QuitSignals[] = { SIGTERM, SIGINT, SIGHUP };
int pipeEnds[2] = { -1, -1 };

void SignalHandler(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(pipeEnds[1], &byte, 1);
    errno = savedErrno;
}
} // namespace

TQuitSignals::TQuitSignals(TMainForm* form)
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
    for (size_t i = 0; i < std::size(QuitSignals); ++i)
        ::sigaction(QuitSignals[i], &action, &previous[i]);
    notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TQuitSignals::PipeReadable);
}

TQuitSignals::~TQuitSignals()
{
    if (!notifier)
        return;
    for (size_t i = 0; i < std::size(QuitSignals); ++i)
        ::sigaction(QuitSignals[i], &previous[i], nullptr);
}

void TQuitSignals::PipeReadable()
{
    char buffer[64];
    while (::read(pipeEnds[0], buffer, sizeof buffer) > 0) { }
    // Closing the window runs its closing steps; quitting also ends a message box or dialog still open.
    form->close();
    QCoreApplication::quit();
}
