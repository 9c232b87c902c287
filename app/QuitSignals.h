#pragma once

#include <QObject>

class TMainForm;
class TSignalPipe;

// Ends the program the way closing its window does when the process is asked to stop (SIGTERM, SIGINT,
// SIGHUP: a logout, a kill, Ctrl+C in the terminal): app.ini is written back and the network's store file is
// deleted instead of being left behind. The window is closed on the GUI thread.
class TQuitSignals : public QObject
{
    Q_OBJECT
public:
    explicit TQuitSignals(TMainForm* form);
    bool Installed() const;

private:
    TMainForm* form;
    TSignalPipe* pipe;
};
