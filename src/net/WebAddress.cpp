#include "net/WebAddress.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QUrl>

QString EncodeQueryValue(const QString &value)
{
    // "/" and ":" are legal inside a query and keep the rnt value readable in server logs.
    return QString::fromLatin1(QUrl::toPercentEncoding(value, QByteArrayLiteral("/:")));
}

QString QueryPair(const QString &key, const QString &value, bool first)
{
    return (first ? QStringLiteral("?") : QStringLiteral("&")) + key + QLatin1Char('=') + EncodeQueryValue(value);
}

QString RequestTimeText(const QDateTime &when)
{
    return when.toString(QStringLiteral("yyyy/M/d H:mm:ss"));
}

QString WithRequestTime(const QString &address, const QDateTime &when)
{
    return address + QueryPair(QStringLiteral("rnt"), RequestTimeText(when));
}

namespace {

QByteArray codecName(const QString &charset)
{
    const QString name = charset.trimmed().toLower();
    if (name.isEmpty() || name == QLatin1String("utf-8") || name == QLatin1String("utf8"))
        return QByteArrayLiteral("UTF-8");
    if (name == QLatin1String("gb2312") || name == QLatin1String("gbk") || name == QLatin1String("ansi") ||
        name == QLatin1String("gb18030") || name == QLatin1String("cp936") || name == QLatin1String("x-gbk"))
        return QByteArrayLiteral("GB18030");
    return charset.trimmed().toLatin1();
}

} // namespace

QString BytesToString(const QByteArray &bytes, const QString &charset)
{
    QStringDecoder decoder(codecName(charset).constData());
    if (!decoder.isValid())
        decoder = QStringDecoder(QStringDecoder::Utf8);
    return decoder.decode(bytes);
}

QByteArray StringToBytes(const QString &text, const QString &charset)
{
    QStringEncoder encoder(codecName(charset).constData());
    if (!encoder.isValid())
        encoder = QStringEncoder(QStringEncoder::Utf8);
    return encoder.encode(text);
}
