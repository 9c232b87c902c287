#include "app/Messages.h"

#include "app/MiravaApplication.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>

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
    QMessageBox box(QMessageBox::Information, TMiravaApplication::Title(), QString(), QMessageBox::Ok,
        QApplication::activeWindow());
    // Messages name files and persons: shown as they are, never taken for markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
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

TSaveAnswer AskSaveFirst(const QString& text)
{
    QMessageBox box(QMessageBox::Question, TMiravaApplication::Title(), text,
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QApplication::activeWindow());
    box.setObjectName(QStringLiteral("SaveQuestion"));
    box.setTextFormat(Qt::PlainText);
    box.button(QMessageBox::Discard)->setText(QStringLiteral("Don't save"));
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (RunModal(box)) {
    case QMessageBox::Save:
        return TSaveAnswer::Save;
    case QMessageBox::Discard:
        return TSaveAnswer::DontSave;
    default:
        return TSaveAnswer::Cancel;
    }
}

bool AskYesNo(const QString& text, const QString& name)
{
    QMessageBox box(QMessageBox::Question, TMiravaApplication::Title(), text,
        QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
    box.setObjectName(name);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return RunModal(box) == QMessageBox::Yes;
}
