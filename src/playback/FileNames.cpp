#include "FileNames.h"

namespace {
constexpr char16_t kEscapeBase = 0xDC00; // a byte b >= 0x80 that is not UTF-8 becomes U+DC00 + b

bool isContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// The length of the valid UTF-8 sequence starting at bytes[i], or 0 where there is none.
int validSequenceAt(const QByteArray &bytes, qsizetype i)
{
    const auto at = [&](qsizetype k) { return k < bytes.size() ? static_cast<unsigned char>(bytes[k]) : 0u; };
    const unsigned char c = at(i);
    if (c < 0x80)
        return 1;
    // Second-byte ranges exclude overlong forms, UTF-16 surrogates and code points past U+10FFFF.
    unsigned lo = 0x80, hi = 0xBF;
    int length = 0;
    if (c >= 0xC2 && c <= 0xDF)
        length = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0)
            lo = 0xA0;
        else if (c == 0xED)
            hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0)
            lo = 0x90;
        else if (c == 0xF4)
            hi = 0x8F;
    } else
        return 0;
    if (i + length > bytes.size() || at(i + 1) < lo || at(i + 1) > hi)
        return 0;
    for (int k = 2; k < length; ++k)
        if (!isContinuation(static_cast<unsigned char>(at(i + k))))
            return 0;
    return length;
}
} // namespace

QString fileNameFromBytes(const QByteArray &bytes)
{
    QString name;
    name.reserve(bytes.size());
    qsizetype i = 0;
    while (i < bytes.size()) {
        const int length = validSequenceAt(bytes, i);
        if (length == 0) {
            name.append(QChar(char16_t(kEscapeBase + static_cast<unsigned char>(bytes[i]))));
            ++i;
            continue;
        }
        name.append(QString::fromUtf8(bytes.constData() + i, length));
        i += length;
    }
    return name;
}

QByteArray fileNameBytes(const QString &name)
{
    QByteArray bytes;
    bytes.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name[i];
        if (c.isHighSurrogate() && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            bytes.append(QString(name.constData() + i, 2).toUtf8());
            ++i;
        } else if (c.unicode() >= kEscapeBase + 0x80 && c.unicode() <= kEscapeBase + 0xFF) {
            bytes.append(char(c.unicode() - kEscapeBase));
        } else {
            bytes.append(QString(c).toUtf8());
        }
    }
    return bytes;
}

QString shownFileName(const QString &name)
{
    QString shown = name;
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const QChar c = shown[i];
        if (c.isHighSurrogate() && i + 1 < shown.size() && shown[i + 1].isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            shown[i] = QChar::ReplacementCharacter;
    }
    return shown;
}
