#include "text/HeadingExpression.h"

#include "text/RegexProblem.h"

#include <limits>

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
    // With icase the matcher passes every character it compares through translate_nocase(),
    // which counts the step.
    RegexSteps::t_left = std::numeric_limits<qint64>::max();
    try {
        rule->m_regex = RegexSteps::Regex(pattern.toStdWString(), std::regex::ECMAScript | std::regex::icase);
    } catch (const std::regex_error &e) {
        setError(QStringLiteral("表达式有误：") + RegexProblemText(e));
        return nullptr;
    }
    return rule;
}

HeadingExpression::Match HeadingExpression::match(QStringView line, Budget &budget) const
{
    budget.left += StepsPerUnit * line.size();
    const qint64 allowed = qMin(budget.left, LineSteps);
    RegexSteps::t_left = allowed;
    Match result = Match::No;
    try {
        if (std::regex_search(line.toString().toStdWString(), m_regex))
            result = Match::Yes;
    } catch (const RegexSteps::OutOfSteps &) {
        result = Match::TooSlow;
    } catch (const std::regex_error &) {
        result = Match::TooSlow; // the engine gave up on its own (its complexity or stack limits)
    }
    budget.left -= allowed - qMax<qint64>(RegexSteps::t_left, 0);
    return result;
}

bool HeadingExpression::matches(QStringView line) const
{
    Budget budget;
    return match(line, budget) == Match::Yes;
}

QString HeadingExpression::tooSlowMessage(qint64 lineNumber) const
{
    return QStringLiteral("规则匹配太慢，已停止。\r\n章节规则：%1\r\n它在第 %2 行用完了允许的匹配步数（多半是嵌套的重复，"
                          "如 (a+)+ 或 (.*)*），请改写这条规则。")
        .arg(m_pattern)
        .arg(lineNumber);
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
