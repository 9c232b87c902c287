#include "app/MiravaApplication.h"

#include "app/Messages.h"

#include <exception>

namespace {
QString& TitleText()
{
    static QString title;
    return title;
}
} // namespace

TMiravaApplication::TMiravaApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Mirava"));
    SetTitle(QStringLiteral("Mirava Smart Memo Processor"));
}

QString TMiravaApplication::Title()
{
    return TitleText().isEmpty() ? QCoreApplication::applicationName() : TitleText();
}

void TMiravaApplication::SetTitle(const QString& title)
{
    TitleText() = title;
}

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
