#pragma once

#include <QString>
#include <functional>

class QDialog;

// Every message box and every modal dialog of the program goes through these two seams, so that tests can
// record the texts and open dialogs without blocking.
using TMessageHandler = std::function<void(const QString& text)>;
using TDialogRunner = std::function<int(QDialog& dialog)>;

// Shows an information box titled with the application's name, its text as plain text (or hands the text to
// the installed handler).
void ShowMessage(const QString& text);
// Installs a handler; an empty one restores the message box. Returns the handler it replaces.
TMessageHandler SetMessageHandler(TMessageHandler handler);

// Runs a dialog modally (or through the installed runner) and returns its result.
int RunModal(QDialog& dialog);
TDialogRunner SetDialogRunner(TDialogRunner runner);

// From a stop by signal on nobody is there to answer. Every text that would be shown goes to standard error
// instead (WriteErrorLine), no dialog opens (RunModal answers QDialog::Rejected at once, AskSaveFirst
// Cancel), and the dialogs that are open now are closed without acting on them (each returns Rejected to
// whoever opened it). The window's tests end it again with `false`.
void SetUnattended(bool unattended);
bool Unattended();
// Writes "mirava: <text>" to standard error as one line: line breaks in the text become spaces.
void WriteErrorLine(const QString& text);

// The question asked before memories that were not saved would be lost.
enum class TSaveAnswer { Save, DontSave, Cancel };
// Asks `text` with Save / Don't save / Cancel in a box named "SaveQuestion", through RunModal. Closing the
// box or anything but the first two buttons counts as Cancel.
TSaveAnswer AskSaveFirst(const QString& text);

// Asks `text` with Yes / No in a box with the object name `name`, through RunModal. Closing the box counts as
// No.
bool AskYesNo(const QString& text, const QString& name);
