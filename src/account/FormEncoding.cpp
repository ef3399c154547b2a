#include "account/FormEncoding.h"

#include <QStringDecoder>
#include <QStringEncoder>

QByteArray ToGb18030(const QString &text)
{
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

QString FromGb18030(const QByteArray &bytes)
{
    QStringDecoder decoder("GB18030");
    return decoder.decode(bytes);
}

bool IsDoubleByteChar(QChar ch)
{
    if (ch.unicode() < 0x80 || ch.isSurrogate())
        return false;
    return ToGb18030(QString(ch)).size() == 2;
}

static bool IsAsciiLetter(char32_t c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

QString EncodeFormValue(const QString &text)
{
    QString out;
    out.reserve(text.size() * 3);
    // Whole code points, so a surrogate pair is encoded as its one four-byte GB18030 sequence.
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype width =
            (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) ? 2 : 1;
        const QString piece = text.mid(i, width);
        i += width;
        if (width == 1 && IsAsciiLetter(piece.at(0).unicode())) {
            out += piece;
            continue;
        }
        for (const char byte : ToGb18030(piece)) {
            out += QLatin1Char('%');
            out += QString::number(static_cast<uchar>(byte), 16).toUpper();
        }
    }
    return out;
}

bool IsPlausibleEmail(const QString &text)
{
    const qsizetype at = text.indexOf(QLatin1Char('@'));
    const qsizetype dot = text.indexOf(QLatin1Char('.'), 2);
    return at >= 1 && dot >= 2 && !text.endsWith(QLatin1Char('.'));
}

bool IsValidUserNameChars(const QString &text)
{
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        const bool ok = IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '_' || IsDoubleByteChar(ch);
        if (!ok)
            return false;
    }
    return true;
}
