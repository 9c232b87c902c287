#pragma once

#include "input/Framing.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// A small INI reader and writer that keeps the file as it was: writing a key changes that one line (or adds
// it), and every other section, key, comment, blank line and line ending stays byte for byte. Section and key
// names match case-insensitively, as on the platform the format comes from.
class TIniFile
{
public:
    explicit TIniFile(QString path);

    // The largest file read; a larger one reads as absent.
    static constexpr qint64 MaxBytes = 1 << 20;

    // Reads the file; an absent or unreadable file, or anything but a regular file, reads as empty.
    void Load();
    // Replaces the file atomically; throws TAppError "Cannot create file ..." on failure.
    void Save() const;

    QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const;
    // The key's value, or nothing when the section or the key is absent.
    std::optional<QString> Value(const QString& section, const QString& key) const;
    // Decimal, or hexadecimal after "$" or "0x"; an absent key or any other text gives the default.
    int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
    // Changes the key's value in place; adds the key at the end of its section, or the section at the end of
    // the file, when absent.
    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, int value);

    QByteArray Content() const;
    const QString& Path() const { return path; }

private:
    struct TLine
    {
        QByteArray text; // without its line end
        QByteArray end; // "\r\n", "\n" or "" for a last line without one
    };
    QString path;
    QList<TLine> lines;
    bool byteOrderMark = false; // the file starts with a UTF-8 byte-order mark

    static QString SectionName(const QByteArray& text, bool* isSection);
    static bool KeyOf(const QByteArray& text, QString* key, QString* value);
    QByteArray LineEnd() const;
};

// The configuration in "app.ini", read at start and written back at close: the three values of section
// "globalconst", on which no operation of the program depends, and in section "mirava" the framing of the
// pictures ("corner", "fit" or "face"; an absent or unknown value reads as "corner").
struct TAppConfig
{
    int SubfieldXCount = 4;
    int SubfieldYCount = 4;
    int SubfieldWorkCount = 16;
    TFraming Framing = TFraming::Corner;

    static TAppConfig Read(const QString& path);
    // Creates the file and section "globalconst" when absent; otherwise changes only these three keys. The
    // framing is written when the file has the key already or when it is not "corner" (a file that never
    // named a framing stays as it was while the default is in use).
    void Write(const QString& path) const;
};
