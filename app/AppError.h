#pragma once

#include <QString>
#include <stdexcept>

// A failure of the shell, carrying the message shown to the user.
class TAppError : public std::runtime_error
{
public:
    explicit TAppError(const QString& message)
        : std::runtime_error(message.toStdString())
    { }
};
