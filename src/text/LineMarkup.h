#pragma once

#include "text/BookText.h"

#include <QByteArray>
#include <QByteArrayView>

// One whole line of a book straight from its bytes to the paragraph ParagraphWriter makes of it
// (EpubDocument.h): "<p>" + the line decoded, without its leading and trailing white space,
// escaped into UTF-8 + "</p>\n", or nothing when no text is left. One pass over the bytes, with
// no UTF-16 text in between; a chapter document is mostly made this way.
//
// It takes the common lines of GB18030 and UTF-8 books: ASCII, two-byte GB18030 codes, and
// well-formed UTF-8. For any other line (another encoding, a malformed or four-byte GB18030
// code, malformed UTF-8, more than maxUnits UTF-16 units after the leading white space) it
// returns false and appends nothing: the caller decodes the line and hands it to
// ParagraphWriter::addText(), which gives the same bytes the slow way.
bool AppendLineMarkup(QByteArray &out, TextEncoding encoding, QByteArrayView line, qsizetype maxUnits);

// The same into memory with room for LineMarkupRoom() bytes; the bytes written, or -1 when the
// line is left to the general path (and what `out` holds then is of no use).
// "&amp;" is the most a byte becomes; eight bytes of room for the last entry written whole.
constexpr qsizetype LineMarkupRoom(qsizetype lineBytes)
{
    return 3 + 5 * lineBytes + 8 + 5;
}
qsizetype WriteLineMarkup(char *out, TextEncoding encoding, QByteArrayView line, qsizetype maxUnits);
