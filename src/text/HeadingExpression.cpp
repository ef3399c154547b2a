#include "text/HeadingExpression.h"

#include "text/RegexProblem.h"

std::shared_ptr<const HeadingExpression> HeadingExpression::compile(const QString &pattern, QString *error)
{
    auto setError = [error](const QString &text) {
        if (error)
            *error = text;
    };
    if (pattern.isEmpty()) {
        setError(QStringLiteral("表达式不能为空"));
        return nullptr;
    }
    auto rule = std::make_shared<HeadingExpression>();
    rule->m_pattern = pattern;
    try {
        rule->m_regex = std::wregex(pattern.toStdWString(), std::regex::ECMAScript | std::regex::icase);
    } catch (const std::regex_error &e) {
        setError(QStringLiteral("表达式有误：") + RegexProblemText(e));
        return nullptr;
    }
    return rule;
}

bool HeadingExpression::matches(QStringView line) const
{
    try {
        return std::regex_search(line.toString().toStdWString(), m_regex);
    } catch (const std::regex_error &) {
        return false; // the engine gave up on this line (too complex): not a heading
    }
}

ChapterPreview ChapterPreview::of(const QList<ChapterEntry> &entries)
{
    ChapterPreview preview;
    preview.count = entries.size();
    for (qsizetype i = 0; i < qMin(Shown, entries.size()); ++i)
        preview.first.append(entries.at(i).title);
    for (qsizetype i = qMax<qsizetype>(0, entries.size() - Shown); i < entries.size(); ++i)
        preview.last.append(entries.at(i).title);
    return preview;
}

QString ChapterPreview::text() const
{
    QString out = QStringLiteral("共 %1 章\n\n前 %2 章：\n").arg(count).arg(first.size()) + first.join(u'\n');
    if (count > first.size())
        out += QStringLiteral("\n\n后 %1 章：\n").arg(last.size()) + last.join(u'\n');
    return out;
}
