#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// Addresses are built as text from pieces; every value that goes into a query is
// percent-encoded as UTF-8 here (the server decodes query values as UTF-8 and keeps "+" as a
// plus sign, so a blank travels as %20).
QString EncodeQueryValue(const QString &value);

// "&" + key + "=" + encoded value; the first pair of an address uses "?" instead (first = true).
QString QueryPair(const QString &key, const QString &value, bool first = false);

// The "rnt" value every address carries: local date and time as 2024/3/7 9:05:33.
QString RequestTimeText(const QDateTime &when = QDateTime::currentDateTime());

// The address with "&rnt=" and the current request time appended, the last part of every
// address the client builds (the time only has to change from request to request).
QString WithRequestTime(const QString &address, const QDateTime &when = QDateTime::currentDateTime());

// Decodes answer bytes in a named character set. "gb2312", "gbk", "ansi" and "GB18030" all
// read as GB18030, the superset the legacy two-byte Chinese code page belongs to; an unknown
// name reads as UTF-8. Undecodable bytes become U+FFFD.
QString BytesToString(const QByteArray &bytes, const QString &charset);
// The inverse, for bodies the server expects in a legacy encoding.
QByteArray StringToBytes(const QString &text, const QString &charset);
