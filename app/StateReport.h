#pragma once

#include <QObject>

class TMainForm;
class TSignalPipe;

// Writes the main window's state report whenever the process receives SIGUSR1, on the GUI thread.
class TStateReport : public QObject
{
    Q_OBJECT
public:
    explicit TStateReport(TMainForm* form);
    bool Installed() const;

private:
    TMainForm* form;
    TSignalPipe* pipe;
};
