#include "app/IniFile.h"

#include "app/AppError.h"
#include "app/TextFiles.h"
#include "pictures/RegularFile.h"

#include <QFileInfo>

namespace {
const QString GlobalSection = QStringLiteral("globalconst");
const QString XKey = QStringLiteral("subfieldXcount");
const QString YKey = QStringLiteral("subfieldYcount");
const QString WorkKey = QStringLiteral("subfieldworkcount");
const QString MiravaSection = QStringLiteral("mirava");
const QString FramingKey = QStringLiteral("framing");
const QByteArray Utf8ByteOrderMark("\xEF\xBB\xBF");

QByteArray Trimmed(const QByteArray& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && quint8(text[begin]) <= 0x20)
        ++begin;
    while (end > begin && quint8(text[end - 1]) <= 0x20)
        --end;
    return text.mid(begin, end - begin);
}
} // namespace

TIniFile::TIniFile(QString path)
    : path(std::move(path))
{ }

void TIniFile::Load()
{
    lines.clear();
    byteOrderMark = false;
    // A named pipe, a device or a link to one, or a file beyond the size limit, reads as an absent file:
    // the program neither waits on it nor fills its memory from it.
    const std::optional<QByteArray> read = ReadRegularFile(path, MaxBytes);
    if (!read)
        return;
    const QByteArray& content = *read;
    // A byte-order mark that an editor put at the start is no part of the first line; it is kept on saving.
    byteOrderMark = content.startsWith(Utf8ByteOrderMark);
    qsizetype start = byteOrderMark ? Utf8ByteOrderMark.size() : 0;
    while (start < content.size()) {
        qsizetype newline = content.indexOf('\n', start);
        if (newline < 0) {
            lines.append({ content.mid(start), QByteArray() });
            break;
        }
        QByteArray text = content.mid(start, newline - start);
        QByteArray end = "\n";
        if (text.endsWith('\r')) {
            text.chop(1);
            end = "\r\n";
        }
        lines.append({ text, end });
        start = newline + 1;
    }
}

QByteArray TIniFile::Content() const
{
    QByteArray content = byteOrderMark ? Utf8ByteOrderMark : QByteArray();
    for (const TLine& line : lines)
        content += line.text + line.end;
    return content;
}

void TIniFile::Save() const
{
    WriteFileAtomically(path, Content());
}

QString TIniFile::SectionName(const QByteArray& text, bool* isSection)
{
    const QByteArray trimmed = Trimmed(text);
    *isSection = trimmed.startsWith('[');
    if (!*isSection)
        return {};
    qsizetype close = trimmed.indexOf(']');
    QByteArray name = close < 0 ? trimmed.mid(1) : trimmed.mid(1, close - 1);
    return QString::fromUtf8(Trimmed(name));
}

bool TIniFile::KeyOf(const QByteArray& text, QString* key, QString* value)
{
    const QByteArray trimmed = Trimmed(text);
    if (trimmed.isEmpty() || trimmed.startsWith(';') || trimmed.startsWith('#'))
        return false;
    qsizetype equals = trimmed.indexOf('=');
    if (equals <= 0)
        return false;
    *key = QString::fromUtf8(Trimmed(trimmed.left(equals)));
    QByteArray raw = Trimmed(trimmed.mid(equals + 1));
    // A value wrapped in one pair of quotes reads without them.
    if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') && raw.back() == raw.front())
        raw = raw.mid(1, raw.size() - 2);
    *value = QString::fromUtf8(raw);
    return true;
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& defaultValue) const
{
    return Value(section, key).value_or(defaultValue);
}

std::optional<QString> TIniFile::Value(const QString& section, const QString& key) const
{
    bool inSection = false;
    for (const TLine& line : lines) {
        bool isSection = false;
        const QString name = SectionName(line.text, &isSection);
        if (isSection) {
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        QString lineKey, value;
        if (inSection && KeyOf(line.text, &lineKey, &value) && lineKey.compare(key, Qt::CaseInsensitive) == 0)
            return value;
    }
    return std::nullopt;
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int defaultValue) const
{
    return ParseInteger(ReadString(section, key, QString())).value_or(defaultValue);
}

QByteArray TIniFile::LineEnd() const
{
    for (const TLine& line : lines) {
        if (!line.end.isEmpty())
            return line.end;
    }
    return "\n";
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    const QByteArray newLine = key.toUtf8() + '=' + value.toUtf8();
    qsizetype sectionLine = -1;
    qsizetype lastContent = -1; // last non-blank line of the section found
    for (qsizetype i = 0; i < lines.size(); ++i) {
        bool isSection = false;
        const QString name = SectionName(lines[i].text, &isSection);
        if (isSection) {
            if (sectionLine >= 0)
                break; // the end of the first matching section
            if (name.compare(section, Qt::CaseInsensitive) == 0) {
                sectionLine = i;
                lastContent = i;
            }
            continue;
        }
        if (sectionLine < 0)
            continue;
        QString lineKey, lineValue;
        if (KeyOf(lines[i].text, &lineKey, &lineValue) && lineKey.compare(key, Qt::CaseInsensitive) == 0) {
            // Keep the key as spelt in the file; only the value changes.
            const QByteArray text = lines[i].text;
            const qsizetype equals = text.indexOf('=');
            lines[i].text = Trimmed(text.left(equals)) + '=' + value.toUtf8();
            return;
        }
        if (!Trimmed(lines[i].text).isEmpty())
            lastContent = i;
    }
    const QByteArray end = LineEnd();
    if (sectionLine < 0) {
        if (!lines.isEmpty()) {
            if (lines.back().end.isEmpty())
                lines.back().end = end;
            if (!Trimmed(lines.back().text).isEmpty())
                lines.append({ QByteArray(), end });
        }
        lines.append({ '[' + section.toUtf8() + ']', end });
        lines.append({ newLine, end });
        return;
    }
    if (lines[lastContent].end.isEmpty())
        lines[lastContent].end = end;
    lines.insert(lastContent + 1, { newLine, end });
}

void TIniFile::WriteInteger(const QString& section, const QString& key, int value)
{
    WriteString(section, key, QString::number(value));
}

TAppConfig TAppConfig::Read(const QString& path)
{
    TIniFile ini(path);
    ini.Load();
    TAppConfig config;
    config.SubfieldXCount = ini.ReadInteger(GlobalSection, XKey, 4);
    config.SubfieldYCount = ini.ReadInteger(GlobalSection, YKey, 4);
    config.SubfieldWorkCount = ini.ReadInteger(GlobalSection, WorkKey, 16);
    config.Framing
        = FramingFromName(ini.ReadString(MiravaSection, FramingKey, QString())).value_or(TFraming::Corner);
    return config;
}

void TAppConfig::Write(const QString& path) const
{
    TIniFile ini(path);
    ini.Load();
    // A file that is there but could not be read would lose everything else it holds: it stays as it is.
    if (ini.Content().isEmpty()) {
        const QFileInfo old(path);
        if (old.exists() && old.size() > 0)
            throw TAppError(QStringLiteral(
                "Cannot create file \"%1\". The old file cannot be read, so it is kept as it is")
                                .arg(path));
    }
    ini.WriteInteger(GlobalSection, XKey, SubfieldXCount);
    ini.WriteInteger(GlobalSection, YKey, SubfieldYCount);
    ini.WriteInteger(GlobalSection, WorkKey, SubfieldWorkCount);
    if (Framing != TFraming::Corner || ini.Value(MiravaSection, FramingKey))
        ini.WriteString(MiravaSection, FramingKey, FramingName(Framing));
    ini.Save();
}
