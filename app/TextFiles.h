#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Writes the whole file beside its final place, flushes it and renames it over the old one, so a crash or a
// full disk never leaves a torn file. Throws TAppError "Cannot create file "<path>". <reason>" on failure;
// the old file then stays as it was.
void WriteFileAtomically(const QString& path, const QByteArray& content);

// The integer rules of the configuration reader and of the command argument: optional sign, then decimal
// digits, or hexadecimal digits after "$" or "0x" (either letter case). Anything else, an empty text or a
// value outside 32 bits gives no value.
std::optional<int> ParseInteger(const QString& text);

// Removes leading and trailing white space and control characters (every character up to U+0020).
QString TrimControl(const QString& text);
