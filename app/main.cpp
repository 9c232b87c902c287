#include "app/CommandLine.h"
#include "app/MainForm.h"
#include "app/MiravaApplication.h"
#include "app/QuitSignals.h"
#include "app/SignalPipe.h"
#include "app/StateReport.h"

int main(int argc, char** argv)
{
    // SIGUSR1 asks for the state report, and would end the program by default: it is caught before anything
    // else happens, and a report asked for before the window exists is written once it does.
    TSignalPipe::CatchEarly({ SIGUSR1 });
    // A stop signal is caught from here on too: one that comes before the window exists stops it once it
    // does, and the program ends in time even if the window never comes up.
    TQuitSignals::CatchEarly();
    if (const auto status = AnswerInfoOptions(argc, argv, QStringLiteral("mirava"),
            QStringLiteral("Mirava Smart Memo Processor: memorises pictures of faces under names and "
                           "recognises them.")))
        return *status;
    TMiravaApplication application(argc, argv); // named and titled
    // Desktop shells match the window to the installed desktop entry (its icon and name) by this id.
    TMiravaApplication::setDesktopFileName(QStringLiteral("org.mirava.Mirava"));
    if (const auto status = RejectArguments(TMiravaApplication::arguments(), QStringLiteral("mirava")))
        return *status;
    TMainForm mainForm;
    TStateReport stateReport(&mainForm);
    TQuitSignals quitSignals(&mainForm);
    mainForm.show();
    return TMiravaApplication::exec();
}
