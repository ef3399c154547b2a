#pragma once

#include <QString>
#include <QStringView>

// The chapter-heading rule. A line is a heading when this ECMAScript expression, with
// ignore-case and without multi-line, matches it:
//
//   ^(.{0,6})(第|正文|作品|VIP|vip)(.{0,30}$)|^[一二两三四五六七八九十○零百千0-9１２３４５６７８９０]{1,4}(、|，|：|\s|\u3000)(.{0,20}$)
//
// The answer is that of a JavaScript engine for every input: counts are UTF-16 units (a
// surrogate pair counts two), "." refuses LF, CR, U+2028 and U+2029, "$" is only the very end
// of the line, "\s" is JavaScript's white space, and ignore-case widens only the ASCII letters
// of VIP. Tested against the raw line, before any trimming.
bool IsChapterHeading(QStringView line);

// The expression itself, for tools and tests that want to compare with a regular-expression engine.
QString ChapterHeadingPattern();
