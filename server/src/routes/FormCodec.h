#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

// Decoding of the two value encodings the desktop client sends: query strings are
// percent-encoded UTF-8, form bodies are its legacy encoding of GB18030 bytes.
namespace FormCodec {

using Fields = QList<QPair<QString, QString>>;

// Percent-decodes a query component (two hex digits after every '%', '+' kept as is)
// and reads the bytes as UTF-8, falling back to GB18030 for legacy clients.
// Empty optional when the escapes or the bytes are malformed.
std::optional<QString> decodeQueryValue(QByteArrayView raw);
std::optional<Fields> parseQuery(QByteArrayView query);

// Decodes one value of the client's form encoding: letters kept, every other byte
// written as '%' plus upper-case hex without leading zeros, so a byte below 0x10 has
// a single digit. Where a digit after '%' could belong to the escape or be a literal,
// the reading that makes valid GB18030 wins, the two-digit reading first.
// Raw bytes are taken literally; if no GB18030 reading exists, strict UTF-8 is tried.
std::optional<QString> decodeGbFormValue(QByteArrayView raw);
std::optional<QString> decodeUtf8FormValue(QByteArrayView raw);

// Splits an application/x-www-form-urlencoded body; utf8 selects the standard encoding
// (for browsers that declare charset=utf-8), otherwise the client's GB18030 one.
std::optional<Fields> parseForm(QByteArrayView body, bool utf8);

QString value(const Fields &fields, QStringView key);
bool has(const Fields &fields, QStringView key);

// The client's own encoding, used by tests and the benchmark to build bodies as it does.
QByteArray encodeGbFormValue(const QString &text);

QByteArray toGb18030(const QString &text);
std::optional<QString> fromGb18030(QByteArrayView bytes);
std::optional<QString> fromUtf8Strict(QByteArrayView bytes);

} // namespace FormCodec
