#pragma once

#include "text/Chapters.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include "text/RegexSteps.h"

#include <memory>

// A chapter-heading rule of the reader's own: an ECMAScript expression which, like the built-in
// rule, is tried with ignore-case against each raw line short enough to be a heading. The
// matching is the C++ library's ECMAScript engine, on code points.
//
// Like the clean-up rules, an expression has a budget of matching steps (text/RegexSteps.h), so
// that one which backtracks without end, such as (a+)+$, stops the chapter detection of a book
// within a fraction of a second with TooSlowMessage() instead of keeping a core busy for minutes.
class HeadingExpression
{
public:
    // Steps allowed over one book: BookSteps, and StepsPerUnit more for every UTF-16 unit of the
    // lines the rule is tried on; never more than LineSteps on one line. A step costs about
    // 0.1 µs, so a runaway rule stops within a tenth of a second on its first bad line, and one
    // that is merely slow on every line within about half a second more than the book's own
    // share. Rules of the usual kind take a few steps a unit.
    static constexpr qint64 BookSteps = 5'000'000;
    static constexpr qint64 StepsPerUnit = 32;
    static constexpr qint64 LineSteps = 1'000'000;

    // What is left of one book's allowance.
    struct Budget
    {
        qint64 left = BookSteps;
    };

    enum class Match
    {
        No,
        Yes,
        TooSlow // the line would take more steps than the budget allows
    };

    // Null when the engine refuses the expression; *error then holds its message.
    static std::shared_ptr<const HeadingExpression> compile(const QString &pattern, QString *error = nullptr);

    Match match(QStringView line, Budget &budget) const;
    // One line with a fresh budget; a line that is too slow is no heading.
    bool matches(QStringView line) const;
    const QString &pattern() const { return m_pattern; }

    // "规则匹配太慢，已停止", with the rule and the line (counted from 1) where it stopped.
    QString tooSlowMessage(qint64 lineNumber) const;

private:
    QString m_pattern;
    RegexSteps::Regex m_regex;
};

// What a rule makes of a book before it is applied: the number of chapters and the titles of
// the first and the last few (the same titles once when the list is short).
struct ChapterPreview
{
    static constexpr qsizetype Shown = 10;

    qsizetype count = 0;
    QStringList first;
    QStringList last;

    static ChapterPreview of(const QList<ChapterEntry> &entries);
    QString text() const;
};
