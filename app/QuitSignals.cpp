#include "app/QuitSignals.h"

#include "app/MainForm.h"
#include "app/SignalPipe.h"

#include <QCoreApplication>

TQuitSignals::TQuitSignals(TMainForm* form)
    : QObject(form)
    , form(form)
    , pipe(new TSignalPipe({ SIGTERM, SIGINT, SIGHUP }, TSignalPipe::RestorePrevious, this))
{
    connect(pipe, &TSignalPipe::Raised, this, [this] {
        // The window keeps unsaved memories and runs its closing steps without asking; quitting also ends a
        // message box or dialog still open.
        this->form->StopBySignal();
        QCoreApplication::quit();
    });
}

bool TQuitSignals::Installed() const
{
    return pipe->Installed();
}
