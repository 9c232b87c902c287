#pragma once

#include <QObject>
#include <csignal>

class QSocketNotifier;
class TMainForm;

// Ends the program the way closing its window does when the process is asked to stop (SIGTERM, SIGINT,
// SIGHUP: a logout, a kill, Ctrl+C in the terminal): app.ini is written back and the network's store file is
// deleted instead of being left behind. The signal handler only writes one byte into a pipe; the window is
// closed on the GUI thread.
class TQuitSignals : public QObject
{
    Q_OBJECT
public:
    explicit TQuitSignals(TMainForm* form);
    ~TQuitSignals() override;
    bool Installed() const { return notifier != nullptr; }

private:
    void PipeReadable();

    TMainForm* form;
    QSocketNotifier* notifier = nullptr;
    struct sigaction previous[3] = {};
};
