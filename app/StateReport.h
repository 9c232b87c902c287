#pragma once

#include <QObject>

class QSocketNotifier;
class TMainForm;

// Writes the main window's state report whenever the process receives SIGUSR1. The signal handler only
// writes one byte into a pipe; the report is written on the GUI thread when the pipe becomes readable.
class TStateReport : public QObject
{
    Q_OBJECT
public:
    explicit TStateReport(TMainForm* form);
    ~TStateReport() override;
    bool Installed() const { return notifier != nullptr; }

private:
    void PipeReadable();

    TMainForm* form;
    QSocketNotifier* notifier = nullptr;
};
