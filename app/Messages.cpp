#include "app/Messages.h"

#include "app/MiravaApplication.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>

namespace {
TMessageHandler& MessageHandler()
{
    static TMessageHandler handler;
    return handler;
}

TDialogRunner& DialogRunner()
{
    static TDialogRunner runner;
    return runner;
}
} // namespace

void ShowMessage(const QString& text)
{
    if (MessageHandler()) {
        MessageHandler()(text);
        return;
    }
    QMessageBox box(QMessageBox::Information, TMiravaApplication::Title(), text, QMessageBox::Ok,
        QApplication::activeWindow());
    box.exec();
}

TMessageHandler SetMessageHandler(TMessageHandler handler)
{
    TMessageHandler previous = std::move(MessageHandler());
    MessageHandler() = std::move(handler);
    return previous;
}

int RunModal(QDialog& dialog)
{
    if (DialogRunner())
        return DialogRunner()(dialog);
    return dialog.exec();
}

TDialogRunner SetDialogRunner(TDialogRunner runner)
{
    TDialogRunner previous = std::move(DialogRunner());
    DialogRunner() = std::move(runner);
    return previous;
}
