#include "app/Messages.h"

#include "app/MiravaApplication.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <cstdio>

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

bool unattended = false;
} // namespace

void SetUnattended(bool value)
{
    unattended = value;
    if (!unattended)
        return;
    // The innermost dialog first: the top of the stack of modal windows, until none is left.
    while (QPointer<QWidget> modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal.data()))
            dialog->reject();
        else
            modal->close();
        if (modal && modal->isVisible())
            break; // it would not close; the end of the event loops takes it down
    }
}

bool Unattended()
{
    return unattended;
}

void WriteErrorLine(const QString& text)
{
    QString line = text;
    line.replace(u'\r', u' ').replace(u'\n', u' ');
    const QByteArray bytes = "mirava: " + line.toLocal8Bit() + '\n';
    // One write for the whole line, so that lines of other writers never cut into it.
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void ShowMessage(const QString& text)
{
    if (unattended) {
        WriteErrorLine(text);
        return;
    }
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
    if (unattended)
        return QDialog::Rejected;
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
    const int answer = RunModal(box);
    // A box closed by a stop is no answer.
    if (unattended)
        return TSaveAnswer::Cancel;
    switch (answer) {
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
