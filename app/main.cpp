#include "app/MainForm.h"
#include "app/MiravaApplication.h"
#include "app/StateReport.h"

int main(int argc, char** argv)
{
    TMiravaApplication application(argc, argv);
    TMiravaApplication::setApplicationName(QStringLiteral("Mirava"));
    TMiravaApplication::setApplicationDisplayName(QStringLiteral("Mirava Smart Memo Processor"));
    TMainForm mainForm;
    TStateReport stateReport(&mainForm);
    mainForm.show();
    return TMiravaApplication::exec();
}
