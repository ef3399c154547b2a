#include "text/HeadingRule.h"

namespace {

// The units "." does not match.
inline bool isLineTerminator(char16_t c)
{
    return c == u'\n' || c == u'\r' || c == 0x2028 || c == 0x2029;
}

// ECMAScript \s: WhiteSpace (including every Zs character) plus LineTerminator.
inline bool isEcmaSpace(char16_t c)
{
    if (c <= 0x20)
        return c == 0x20 || (c >= 0x09 && c <= 0x0D);
    if (c < 0xA0)
        return false;
    return c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

inline bool isNumeral(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return true;
    if (c >= u'０' && c <= u'９')
        return true;
    switch (c) {
    case u'一':
    case u'二':
    case u'两':
    case u'三':
    case u'四':
    case u'五':
    case u'六':
    case u'七':
    case u'八':
    case u'九':
    case u'十':
    case u'○':
    case u'零':
    case u'百':
    case u'千':
        return true;
    default:
        return false;
    }
}

// Under non-unicode ignore-case only the ASCII letters fold onto V, I and P: JavaScript's
// Canonicalize refuses to map a non-ASCII character (such as U+0131) to an ASCII one.
inline bool isLetter(char16_t c, char16_t upper)
{
    return c == upper || c == upper + 0x20;
}

// Length of the keyword starting at `at`, or 0.
inline qsizetype keywordAt(QStringView line, qsizetype at)
{
    const qsizetype left = line.size() - at;
    const char16_t c = line[at].unicode();
    if (c == u'第')
        return 1;
    if (left >= 2 && ((c == u'正' && line[at + 1] == u'文') || (c == u'作' && line[at + 1] == u'品')))
        return 2;
    if (left >= 3 && isLetter(c, u'V') && isLetter(line[at + 1].unicode(), u'I') &&
        isLetter(line[at + 2].unicode(), u'P'))
        return 3;
    return 0;
}

// "(.{0,max}$)" from `from`: the rest of the line is short enough and holds no terminator.
inline bool restFits(QStringView line, qsizetype from, qsizetype max)
{
    if (line.size() - from > max)
        return false;
    for (qsizetype i = from; i < line.size(); ++i) {
        if (isLineTerminator(line[i].unicode()))
            return false;
    }
    return true;
}

} // namespace

bool IsChapterHeading(QStringView line)
{
    const qsizetype n = line.size();

    // First alternative: the keyword may start after 0 to 6 units; every start is tried, as
    // the expression backtracks over them.
    for (qsizetype at = 0; at <= 6 && at < n; ++at) {
        if (at > 0 && isLineTerminator(line[at - 1].unicode()))
            break;
        const qsizetype length = keywordAt(line, at);
        if (length > 0 && restFits(line, at + length, 30))
            return true;
    }

    // Second alternative: no separator is a numeral, so the numeral run is fixed and giving
    // back numerals can never help.
    qsizetype numerals = 0;
    while (numerals < n && numerals < 5 && isNumeral(line[numerals].unicode()))
        ++numerals;
    if (numerals == 0 || numerals > 4 || numerals >= n)
        return false;
    const char16_t separator = line[numerals].unicode();
    if (separator != u'、' && separator != u'，' && separator != u'：' && !isEcmaSpace(separator))
        return false;
    return restFits(line, numerals + 1, 20);
}

QString ChapterHeadingPattern()
{
    return QStringLiteral(
        "^(.{0,6})(第|正文|作品|VIP|vip)(.{0,30}$)|^[一二两三四五六七八九十○零百千0-9１２３４５６７８９０]{1,4}"
        "(、|，|：|\\s|\\u3000)(.{0,20}$)");
}
