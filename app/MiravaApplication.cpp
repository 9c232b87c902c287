#include "app/MiravaApplication.h"

#include "app/Messages.h"

#include <exception>

TMiravaApplication::TMiravaApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{ }

bool TMiravaApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowMessage(QString::fromUtf8(error.what()));
    } catch (...) {
        ShowMessage(QStringLiteral("An unknown error occurred"));
    }
    return false;
}
