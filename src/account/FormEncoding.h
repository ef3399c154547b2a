#pragma once

#include <QByteArray>
#include <QString>

// The server decodes form values and upload bodies as GB18030 (a superset of GB2312, so every
// character the server's own pages use keeps its bytes).
QByteArray ToGb18030(const QString &text);
QString FromGb18030(const QByteArray &bytes);

// A character that takes exactly two bytes in GB18030: the Chinese characters and full-width
// punctuation. Characters of the four-byte range (rare ideographs, emoji) are not.
bool IsDoubleByteChar(QChar ch);

// Free-text values of form bodies: letters A-Z and a-z stay, every byte of anything else
// (digits included) becomes "%" and its upper-case hexadecimal value without leading zeros.
QString EncodeFormValue(const QString &text);

// Plausibility only: the first "@" is not the first character, some "." stands at the third
// character or later, and the text does not end in ".". The order of "@" and "." is not checked.
bool IsPlausibleEmail(const QString &text);

// Letters, digits, "_" and double-byte characters; the empty text passes (length is checked apart).
bool IsValidUserNameChars(const QString &text);
