#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

// How the bytes of a book file become text.
//
// A file starting with the UTF-16 byte-order mark (FF FE or FE FF) is UTF-16 of that order;
// a file starting with the UTF-8 mark, or one whose bytes are entirely valid UTF-8, is UTF-8;
// everything else is GB18030, which accepts any bytes (GBK's user-defined area becomes Private
// Use code points, malformed bytes become U+FFFD). The mark is not part of the text.
//
// Every decoder here treats the end of its input exactly like a byte that cannot continue a
// sequence, and a line feed can never continue one. Decoding a file line by line therefore
// gives the same text as decoding it whole and splitting afterwards; the line index relies on it.

enum class TextEncoding
{
    Gb18030,
    Utf8,
    Utf16LE,
    Utf16BE,
    Big5 // never detected; only when chosen for a book
};

struct DetectedEncoding
{
    TextEncoding encoding = TextEncoding::Gb18030;
    qsizetype bomLength = 0;
};

DetectedEncoding DetectTextEncoding(QByteArrayView bytes);
// Only the byte-order mark at the start of `head`; bomLength is 0 when there is none.
DetectedEncoding DetectByteOrderMark(QByteArrayView head);
QString EncodingName(TextEncoding encoding);
// The encoding an EncodingName() stands for; "UTF-16" is little-endian. Empty when unknown.
std::optional<TextEncoding> EncodingFromName(QStringView name);

// Strict UTF-8 (no overlong forms, surrogates or values above U+10FFFF).
bool IsValidUtf8(QByteArrayView bytes);

// Decodes bytes (without a byte-order mark) into dst and returns the number of UTF-16 units
// written. No encoding yields more units than bytes, so dst needs room for bytes.size() units,
// or maxUnits + 1 when a limit is given: decoding stops at the first character boundary at or
// past maxUnits units (negative: no limit). *consumed, when given, receives the bytes used.
qsizetype DecodeTextInto(TextEncoding encoding, QByteArrayView bytes, char16_t *dst, qsizetype maxUnits = -1,
                         qsizetype *consumed = nullptr);
QString DecodeText(TextEncoding encoding, QByteArrayView bytes);

// The whole text of a file's bytes, detected and decoded as above.
QString DecodeBookText(QByteArrayView bytes);

// The lines of a text: split at every line feed; a carriage return directly before a line feed
// belongs to the line break, any other carriage return stays in its line. A final line feed
// ends the last line rather than starting an empty one, so "" has no lines and "\n" has one.
QStringList SplitBookLines(QStringView text);
