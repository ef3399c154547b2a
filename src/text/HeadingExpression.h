#pragma once

#include "text/Chapters.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <memory>
#include <regex>

// A chapter-heading rule of the reader's own: an ECMAScript expression which, like the built-in
// rule, is tried with ignore-case against each raw line short enough to be a heading. The
// matching is the C++ library's ECMAScript engine, on code points.
class HeadingExpression
{
public:
    // Null when the engine refuses the expression; *error then holds its message.
    static std::shared_ptr<const HeadingExpression> compile(const QString &pattern, QString *error = nullptr);

    bool matches(QStringView line) const;
    const QString &pattern() const { return m_pattern; }

private:
    QString m_pattern;
    std::wregex m_regex;
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
