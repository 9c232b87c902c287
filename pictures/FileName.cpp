#include "pictures/FileName.h"

namespace {
constexpr char16_t EscapeBase = 0xF700; // byte b (0x80..0xFF) is kept as U+F700 + b
constexpr char32_t FirstEscape = 0xF780;
constexpr char32_t LastEscape = 0xF7FF;

bool IsEscape(char32_t codePoint)
{
    return codePoint >= FirstEscape && codePoint <= LastEscape;
}

// The length of the valid UTF-8 sequence at `at` and its code point, or 0 when the bytes there are none
// (overlong forms, surrogates and values beyond U+10FFFF are not valid).
int ValidSequence(const QByteArray& bytes, qsizetype at, char32_t& codePoint)
{
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    int length;
    char32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        minimum = 0x80;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        minimum = 0x800;
        codePoint = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        minimum = 0x10000;
        codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    for (int i = 1; i < length; ++i) {
        const unsigned char next = byte(at + i);
        if ((next & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}
} // namespace

QString DecodeFileName(const QByteArray& bytes)
{
    QString path;
    path.reserve(bytes.size());
    qsizetype at = 0;
    while (at < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[at]);
        if (lead < 0x80) {
            path.append(QChar(lead));
            ++at;
            continue;
        }
        char32_t codePoint = 0;
        const int length = ValidSequence(bytes, at, codePoint);
        if (length > 0 && !IsEscape(codePoint)) {
            if (QChar::requiresSurrogates(codePoint)) {
                path.append(QChar(QChar::highSurrogate(codePoint)));
                path.append(QChar(QChar::lowSurrogate(codePoint)));
            } else {
                path.append(QChar(char16_t(codePoint))); // also U+FEFF, which fromUcs4 would drop
            }
            at += length;
            continue;
        }
        // A stray byte, or a character that reads like an escape: each byte is kept on its own.
        const int count = length > 0 ? length : 1;
        for (int i = 0; i < count; ++i)
            path.append(QChar(char16_t(EscapeBase + static_cast<unsigned char>(bytes[at + i]))));
        at += count;
    }
    return path;
}

QByteArray EncodeFileName(const QString& path)
{
    QByteArray bytes;
    bytes.reserve(path.size());
    qsizetype start = 0; // the first character not yet encoded
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t unit = path[i].unicode();
        if (!IsEscape(unit))
            continue;
        bytes.append(QStringView(path).mid(start, i - start).toUtf8());
        bytes.append(static_cast<char>(unit - EscapeBase));
        start = i + 1;
    }
    bytes.append(QStringView(path).mid(start).toUtf8());
    return bytes;
}

QString ShownFileName(const QString& path)
{
    QString shown = path;
    for (QChar& character : shown) {
        if (IsEscape(character.unicode()))
            character = QChar::ReplacementCharacter;
    }
    return shown;
}
