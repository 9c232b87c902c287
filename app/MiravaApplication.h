#pragma once

#include <QApplication>

// The application object. An exception that escapes an event handler is shown in a message box with its
// message, and the program goes on.
class TMiravaApplication : public QApplication
{
    Q_OBJECT
public:
    // Names the program "Mirava" and titles it "Mirava Smart Memo Processor".
    TMiravaApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // The application's title, the caption of its message boxes. It is kept apart from the platform's display
    // name, which would be added to the caption of every window ("Mirava", "About").
    static QString Title();
    static void SetTitle(const QString& title);
};
