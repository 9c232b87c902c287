#include "app/MainForm.h"
#include "app/MiravaApplication.h"
#include "app/QuitSignals.h"
#include "app/StateReport.h"

int main(int argc, char** argv)
{
    TMiravaApplication application(argc, argv); // named and titled
    TMainForm mainForm;
    TStateReport stateReport(&mainForm);
    TQuitSignals quitSignals(&mainForm);
    mainForm.show();
    return TMiravaApplication::exec();
}
