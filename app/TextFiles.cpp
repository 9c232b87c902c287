#include "app/TextFiles.h"

#include "app/AppError.h"

#include <QSaveFile>
#include <limits>

void WriteFileAtomically(const QString& path, const QByteArray& content)
{
    QSaveFile file(path);
    auto fail = [&path, &file]() {
        QString reason = file.errorString();
        file.cancelWriting();
        throw TAppError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, reason));
    };
    if (!file.open(QIODevice::WriteOnly))
        fail();
    if (file.write(content) != content.size())
        fail();
    if (!file.commit())
        fail();
}

std::optional<int> ParseInteger(const QString& text)
{
    int pos = 0;
    const int length = int(text.size());
    bool negative = false;
    if (pos < length && (text[pos] == u'+' || text[pos] == u'-')) {
        negative = text[pos] == u'-';
        ++pos;
    }
    int base = 10;
    if (pos < length && text[pos] == u'$') {
        base = 16;
        ++pos;
    } else if (pos + 1 < length && text[pos] == u'0' && (text[pos + 1] == u'x' || text[pos + 1] == u'X')) {
        base = 16;
        pos += 2;
    }
    if (pos >= length)
        return std::nullopt;
    qint64 value = 0;
    for (; pos < length; ++pos) {
        const char16_t c = text[pos].unicode();
        int digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            return std::nullopt;
        value = value * base + digit;
        if (value > qint64(std::numeric_limits<int>::max()) + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min())
        return std::nullopt;
    return int(value);
}

QString TrimControl(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 0x20)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 0x20)
        --end;
    return text.mid(begin, end - begin);
}
