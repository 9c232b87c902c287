#include "app/StateReport.h"

#include "app/MainForm.h"
#include "app/Messages.h"
#include "app/SignalPipe.h"

// SIGUSR1 would end the process by default, so a late one during shut-down is ignored.
TStateReport::TStateReport(TMainForm* form)
    : QObject(form)
    , form(form)
    , pipe(new TSignalPipe({ SIGUSR1 }, TSignalPipe::IgnoreAfterwards, this))
{
    connect(pipe, &TSignalPipe::Raised, this, [this] {
        try {
            this->form->WriteStateReport();
        } catch (const std::exception& error) {
            ShowMessage(QString::fromUtf8(error.what()));
        }
    });
}

bool TStateReport::Installed() const
{
    return pipe->Installed();
}
