#pragma once

#include <QByteArray>
#include <QString>

// File names are bytes on Linux and need not be valid UTF-8. The program keeps every path as a QString that
// turns back into the exact bytes: a byte that is not part of valid UTF-8 becomes one character of the
// private-use range U+F780..U+F7FF (byte 0x80..0xFF), and so does every byte of a valid character that falls
// into that range itself. Everything else is plain UTF-8. Paths pass through EncodeFileName on their way to
// the system and through DecodeFileName on their way back, and ShownFileName before they are shown.

// The path as the program keeps it; EncodeFileName(DecodeFileName(bytes)) == bytes for any bytes.
QString DecodeFileName(const QByteArray& bytes);
// The bytes of a path that DecodeFileName made (or of any other text: plain UTF-8 outside the escapes).
QByteArray EncodeFileName(const QString& path);
// The path for display: every escaped byte shows as the replacement character U+FFFD.
QString ShownFileName(const QString& path);
