#pragma once

#include <QApplication>

// The application object. An exception that escapes an event handler is shown in a message box with its
// message, and the program goes on.
class TMiravaApplication : public QApplication
{
    Q_OBJECT
public:
    TMiravaApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
