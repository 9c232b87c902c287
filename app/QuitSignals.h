#pragma once

#include <QObject>
#include <chrono>
#include <functional>

class TMainForm;
class TSignalPipe;

// Ends the program the way closing its window does when the process is asked to stop (SIGTERM, SIGINT,
// SIGHUP: a logout, a kill, Ctrl+C in the terminal), without waiting for anybody: the stop runs on the GUI
// thread, shows nothing and asks nothing, writes what it can (app.ini, the memories not saved) and ends the
// event loop with its exit status.
//
// Once CatchEarly has armed them, two guards make sure that the process ends whatever the GUI thread does: a
// stop that has not ended TimeLimit after the signal is cut short, and so is any stop by a second signal.
// Either removes the network's store file and ends the process at once with 128 + the signal's number.
class TQuitSignals : public QObject
{
    Q_OBJECT
public:
    // Exit statuses of a stop by signal.
    static constexpr int AllWritten = 0;
    static constexpr int NotAllWritten = 1; // each file that could not be written is named on standard error
    static constexpr int CutShortBase = 128; // + the signal's number
    static constexpr std::chrono::milliseconds TimeLimit { 4000 };

    // What the stop does on the GUI thread; it returns AllWritten or NotAllWritten.
    using TStop = std::function<int()>;

    // Catches the stop signals from the program's first moment on (a stop asked for before the window exists
    // is carried out once it does) and arms both guards. For the program's main only, first thing: a test
    // process that raises a stop signal must not be ended by them.
    static void CatchEarly(std::chrono::milliseconds timeLimit = TimeLimit);

    // The stop closes the window through its StopBySignal.
    explicit TQuitSignals(TMainForm* form);
    TQuitSignals(QObject* parent, TStop stop);
    bool Installed() const;

private:
    void Stop();

    TStop stop;
    TSignalPipe* pipe;
};
