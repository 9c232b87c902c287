#pragma once

#include <QObject>
#include <csignal>
#include <initializer_list>
#include <vector>

class QSocketNotifier;

// Turns POSIX signals into a Qt signal on the GUI thread. The handler only writes one byte into a
// socket pair; `Raised` is emitted when the GUI thread finds the pair readable. One pipe per signal
// number at a time; the previous handlers come back when the object goes, unless `IgnoreAfterwards`
// asks for the signals to be ignored from then on (for signals whose default would end the process
// while it shuts down).
class TSignalPipe : public QObject
{
    Q_OBJECT
public:
    enum TAfterwards { RestorePrevious, IgnoreAfterwards };

    TSignalPipe(std::initializer_list<int> signalNumbers, TAfterwards afterwards, QObject* parent = nullptr);
    // Catches the signals from the first moment of the program on, before any pipe exists (and unblocks
    // them): a signal that comes then is remembered, and the first pipe made for it later raises it once.
    static void CatchEarly(std::initializer_list<int> signalNumbers);
    // Runs `action` inside the handler itself each time one of the signals comes, early or with a pipe,
    // before anything else: for what must happen even while the GUI thread cannot answer. Only
    // async-signal-safe calls may be made in it.
    using TImmediate = void (*)(int signalNumber);
    static void SetImmediate(std::initializer_list<int> signalNumbers, TImmediate action);
    ~TSignalPipe() override;
    bool Installed() const { return notifier != nullptr; }

signals:
    void Raised();

private:
    void PipeReadable();

    std::vector<int> signalNumbers;
    std::vector<struct sigaction> previous;
    TAfterwards afterwards;
    int pipeEnds[2] = { -1, -1 };
    QSocketNotifier* notifier = nullptr;
};
