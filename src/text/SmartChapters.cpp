#include "text/SmartChapters.h"

#include <QSet>

#include <algorithm>
#include <functional>
#include <optional>

namespace {

// Heading length limit inside a long line: "第" and the 30 units the heading rule allows after it.
constexpr qsizetype MaxInlineHeading = 31;
// A heading this close to the start of a long line needs no sentence end before it (a book
// title often stands in front of the first chapter).
constexpr qsizetype HeadingStartWindow = 20;
// Units at the end of an unfinished piece that are not looked at: the character cut by the
// piece's end, and the closing quotes and heading text that may follow a sentence end.
constexpr qsizetype PieceTail = MaxInlineHeading + 8;
constexpr qsizetype MinContentsRun = 5;

bool isSentenceEnd(QChar c)
{
    return c == u'。' || c == u'！' || c == u'？' || c == u'!' || c == u'?' || c == u'…';
}

bool isClosingMark(QChar c)
{
    return c == u'”' || c == u'’' || c == u'」' || c == u'』' || c == u'）' || c == u')' || c == u'》' || c == u'"';
}

bool isNumeral(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'０' && c <= u'９') ||
           QStringView(u"一二三四五六七八九十百千零〇○两兩").contains(c);
}

bool isChapterUnit(QChar c)
{
    return QStringView(u"回章节節卷集部篇").contains(c);
}

// The words that open a chapter's story.
bool opensStory(QStringView text, qsizetype at)
{
    static const QStringView openers[] = {u"话说", u"話說", u"却说", u"卻說", u"且说", u"且說",
                                          u"诗曰", u"詩曰", u"词曰", u"詞曰"};
    const QStringView rest = text.sliced(at);
    for (QStringView opener : openers) {
        if (rest.startsWith(opener))
            return true;
    }
    return false;
}

// Where an inline heading's title stops: punctuation, or the story's opening words.
bool endsInlineHeading(QStringView text, qsizetype at)
{
    static const QStringView marks = u"。，！？：；、,.!?:;“”「」『』（(";
    return marks.contains(text[at]) || opensStory(text, at);
}

// Where the title of a heading starting at text[at] begins (after "第", numerals and a unit
// such as 回 or 章), or 0 when there is no heading there.
qsizetype inlineTitleStart(QStringView text, qsizetype at)
{
    if (text[at] != u'第')
        return 0;
    qsizetype i = at + 1;
    while (i < text.size() && i - at <= 8 && isNumeral(text[i]))
        ++i;
    if (i == at + 1 || i >= text.size() || i - at > 8 || !isChapterUnit(text[i]))
        return 0;
    return i + 1;
}

// Where the run of a heading's title that starts at `from` stops.
qsizetype inlineTitleStop(QStringView text, qsizetype at, qsizetype from)
{
    const qsizetype limit = std::min(text.size(), at + MaxInlineHeading);
    qsizetype i = from;
    while (i < limit && !endsInlineHeading(text, i))
        ++i;
    return i;
}

// A run stopped by a mark that closes a clause or a sentence has taken in the story's first
// words: a title in running text is followed by the story's opening words or an opening quote.
bool stoppedByClause(QStringView text, qsizetype i)
{
    return i < text.size() && QStringView(u"。，！？：；、,.!?:;”」』").contains(text[i]);
}

// The title length the headings of this text have where the story's opening words show where
// they end: the most common one (the shorter of equals), 0 without any.
qsizetype usualTitleLength(QStringView text)
{
    QList<std::pair<qsizetype, int>> counts;
    for (qsizetype at = text.indexOf(u'第'); at >= 0; at = text.indexOf(u'第', at + 1)) {
        const qsizetype from = inlineTitleStart(text, at);
        if (from == 0)
            continue;
        const qsizetype stop = inlineTitleStop(text, at, from);
        if (stop == text.size() || !opensStory(text, stop) || stop == from)
            continue;
        auto it = std::find_if(counts.begin(), counts.end(), [&](const auto &c) { return c.first == stop - from; });
        if (it == counts.end())
            counts.append({stop - from, 1});
        else
            ++it->second;
    }
    qsizetype best = 0;
    int bestCount = 0;
    for (const auto &[length, count] : std::as_const(counts)) {
        if (count > bestCount || (count == bestCount && length < best)) {
            best = length;
            bestCount = count;
        }
    }
    return best;
}

// Length of the heading starting at text[at] ("第", numerals, a unit such as 回 or 章, a title),
// 0 when there is none or, without `final`, when the piece may end before the heading does.
// Unless `placed` (it stands where a heading may), only a heading the story's opening words
// follow counts. A title run that has taken in the story's first clause is cut back to
// `usualTitle` units when that is shorter; otherwise the mark that stopped it stays with the
// heading, so the story never starts with a mark of the heading's clause.
qsizetype inlineHeadingLength(QStringView text, qsizetype at, bool final, bool placed,
                              const std::function<qsizetype()> &usualTitle)
{
    qsizetype from = inlineTitleStart(text, at);
    if (from == 0)
        return 0;
    qsizetype i = inlineTitleStop(text, at, from);
    if (i == from && i + 1 < text.size() && (text[i] == u'：' || text[i] == u':'))
        i = inlineTitleStop(text, at, ++from); // "第一章：" and its title
    if (!final && i == text.size())
        return 0;
    if (!placed && (i == text.size() || !opensStory(text, i)))
        return 0;
    if (i > from && stoppedByClause(text, i)) {
        const qsizetype usual = usualTitle();
        if (usual > 0 && from + usual < i)
            i = from + usual;
        else
            ++i;
    }
    if (i < text.size() && text[i].isLowSurrogate())
        --i;
    return i - at;
}

// Whether text[at] follows a sentence end (closing quotes after it allowed).
bool afterSentenceEnd(QStringView text, qsizetype at)
{
    qsizetype i = at;
    while (i > 0 && isClosingMark(text[i - 1]))
        --i;
    return i > 0 && isSentenceEnd(text[i - 1]);
}

// Digits read as a number ("012", "一〇一"); with 十, 百 or 千 the Chinese way ("一百零二").
int numeralValue(QStringView digits)
{
    auto digit = [](QChar c) -> int {
        if (c >= u'0' && c <= u'9')
            return c.unicode() - u'0';
        if (c >= u'０' && c <= u'９')
            return c.unicode() - u'０';
        const qsizetype k = QStringView(u"零一二三四五六七八九").indexOf(c);
        if (k >= 0)
            return int(k);
        if (c == u'〇' || c == u'○')
            return 0;
        if (c == u'两' || c == u'兩')
            return 2;
        return -1;
    };
    const bool positional = !digits.contains(u'十') && !digits.contains(u'百') && !digits.contains(u'千');
    int total = 0;
    int current = 0;
    for (QChar c : digits) {
        const int d = digit(c);
        if (positional) {
            total = total * 10 + d;
            continue;
        }
        if (d >= 0) {
            current = d;
            continue;
        }
        const int scale = c == u'十' ? 10 : c == u'百' ? 100 : 1000;
        total += (current == 0 ? 1 : current) * scale;
        current = 0;
    }
    return positional ? total : total + current;
}

QString withoutBlanks(QStringView text)
{
    QString out;
    for (QChar c : text) {
        if (!c.isSpace() && !c.isPunct())
            out += c;
    }
    return out;
}

// A line that is a sentence rather than a title: a full stop, a quotation opening it, or a
// clause mark together with an exclamation or question.
bool isProse(QStringView heading)
{
    const QStringView text = heading.trimmed();
    if (text.isEmpty())
        return false;
    if (text.contains(u'。') || QStringView(u"“「『‘\"").contains(text.front()))
        return true;
    const bool clause = text.contains(u'，') || text.contains(u'：') || text.contains(u'；');
    return clause && (text.contains(u'！') || text.contains(u'？'));
}

struct HeadingKeys
{
    QString full;   // number, unit and title: what a contents line and its chapter share
    QString number; // number and unit alone, for a contents line without titles
};

HeadingKeys keysOf(QStringView heading)
{
    const qsizetype at = heading.indexOf(u'第');
    const int number = HeadingNumber(heading);
    if (number < 0)
        return {withoutBlanks(heading), {}};
    qsizetype unit = at + 1;
    while (isNumeral(heading[unit]))
        ++unit;
    const QString numberKey = u'#' + QString::number(number) + heading[unit];
    const QString title = withoutBlanks(heading.sliced(unit + 1));
    return {numberKey + u'|' + title, title.isEmpty() ? numberKey : QString()};
}

} // namespace

LineSplit SplitLongLine(QStringView text, qsizetype lineOffset, bool final)
{
    LineSplit split;
    const qsizetype n = text.size();
    const qsizetype limit = final ? n : n - PieceTail;
    qsizetype start = 0; // of the line being built
    auto cut = [&](qsizetype at) {
        if (at > start && at < n) {
            split.cuts.push_back(at);
            start = at;
        }
    };
    std::optional<qsizetype> usual;
    const std::function<qsizetype()> usualTitle = [&] {
        if (!usual)
            usual = usualTitleLength(text);
        return *usual;
    };
    for (qsizetype i = 0; i < limit;) {
        const QChar c = text[i];
        if (c == u'第') {
            const bool placed = i == start || lineOffset + i < HeadingStartWindow || afterSentenceEnd(text, i);
            const qsizetype length = inlineHeadingLength(text, i, final, placed, usualTitle);
            if (length > 0) {
                cut(i);
                cut(i + length);
                i += length;
                continue;
            }
        }
        if (isSentenceEnd(c)) {
            qsizetype end = i + 1;
            while (end < n && (isClosingMark(text[end]) || text[end] == u'…'))
                ++end;
            if (end - start >= SmartMinParagraph && (final || end < limit))
                cut(end);
            i = end;
            continue;
        }
        if (i - start >= SmartMaxParagraph)
            cut(text[i].isLowSurrogate() ? i - 1 : i);
        ++i;
    }
    split.resume = final ? 0 : start;
    return split;
}

int HeadingNumber(QStringView heading)
{
    const qsizetype at = heading.indexOf(u'第');
    if (at < 0 || at > 6)
        return -1;
    qsizetype end = at + 1;
    while (end < heading.size() && isNumeral(heading[end]))
        ++end;
    if (end == at + 1 || end - at > 9 || end >= heading.size() || !isChapterUnit(heading[end]))
        return -1;
    return numeralValue(heading.sliced(at + 1, end - at - 1));
}

void DropFalseHeadings(std::vector<qint64> &lines, QStringList &texts)
{
    std::vector<bool> drop(lines.size(), false);
    for (size_t i = 0; i < lines.size(); ++i)
        drop[i] = isProse(texts.at(qsizetype(i)));

    // A heading "comes again" when a later heading has its number and title (or its number, when
    // it has no title); a contents page is a run of such headings, so the chapters themselves,
    // however close together, never join it.
    std::vector<bool> again(lines.size(), false);
    QSet<QString> later;
    for (size_t k = lines.size(); k-- > 0;) {
        const HeadingKeys keys = keysOf(texts.at(qsizetype(k)));
        again[k] = later.contains(keys.number.isEmpty() ? keys.full : keys.number);
        later.insert(keys.full);
        later.insert(keys.full.section(u'|', 0, 0));
    }
    // A numbered line between two that come again, its title garbled, belongs to their run.
    for (size_t k = 1; k + 1 < lines.size(); ++k) {
        if (!again[k] && again[k - 1] && again[k + 1] && lines[k + 1] - lines[k - 1] <= 4 &&
            HeadingNumber(texts.at(qsizetype(k))) >= 0)
            again[k] = true;
    }
    for (size_t first = 0; first < lines.size();) {
        size_t end = first;
        while (end < lines.size() && again[end] && (end == first || lines[end] - lines[end - 1] <= 2))
            ++end;
        if (end - first >= MinContentsRun)
            std::fill(drop.begin() + qsizetype(first), drop.begin() + qsizetype(end), true);
        first = std::max(end, first + 1);
    }

    size_t kept = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (drop[i])
            continue;
        lines[kept] = lines[i];
        texts[qsizetype(kept)] = texts.at(qsizetype(i));
        ++kept;
    }
    lines.resize(kept);
    texts.resize(qsizetype(kept));
}
