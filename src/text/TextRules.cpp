#include "text/TextRules.h"

#include "text/RegexProblem.h"
#include "text/RegexSteps.h"

#include <limits>
#include <regex>
#include <string>

namespace {

using RegexSteps::OutOfSteps;
using CountingRegex = RegexSteps::Regex;

constexpr auto RegexFlags = std::regex_constants::ECMAScript | std::regex_constants::collate;

// The matcher recurses along the line, so very long lines (a book without line breaks) are left
// to plain-text rules rather than risk the worker's stack.
constexpr qsizetype MaxRegexLine = 4000;

int countIn(const QString &line, const QString &word)
{
    int n = 0;
    for (qsizetype at = line.indexOf(word); at >= 0; at = line.indexOf(word, at + word.size()))
        ++n;
    return n;
}

bool hasText(const QString &line)
{
    return !line.trimmed().isEmpty();
}

} // namespace

struct TextCleaner::Compiled
{
    TextRule rule;
    CountingRegex expression;
};

QList<TextRule> BuiltInTextRules()
{
    auto make = [](const char *name, const char *pattern, bool regex) {
        TextRule r;
        r.name = QString::fromUtf8(name);
        r.pattern = QString::fromUtf8(pattern);
        r.regex = regex;
        return r;
    };
    return {
        // A short line that ends in a web address is the site's line as a whole; elsewhere the
        // bracketed banner, or the bare address.
        make("带网址的站点横幅",
             "^.{0,30}(?:https?://|[wWｗＷ]{3}[.．。])[A-Za-z0-9\\-._~/?=&%#．。]+\\s*$|"
             "【[^【】]{0,30}(?:https?://|[wWｗＷ]{3}[.．。])[^【】]{0,40}】|(?:https?://|[wWｗＷ]{3}[.．。])"
             "[A-Za-z0-9\\-._~/?=&%#．。]+",
             true),
        make("本章未完，请点击下一页", "[（(]?本章未完[，,]?\\s*请点击下一页(?:继续阅读)?[)）]?[。！!]*", true),
        make("手机用户请浏览…阅读", "手机用户请(?:浏览|访问).{0,60}?阅读(?:[，,]?更优质的阅读体验)?[。！!]?", true),
        make("天才一秒记住本站地址", "天才一秒记住.{0,30}?(?:地址|网址)[：:]?\\s*[A-Za-z0-9\\-._/．。]*", true),
    };
}

QString TextRuleProblem(const TextRule &rule)
{
    if (rule.pattern.isEmpty())
        return QStringLiteral("规则内容是空的");
    if (!rule.regex)
        return {};
    RegexSteps::t_left = std::numeric_limits<qint64>::max();
    try {
        CountingRegex(rule.pattern.toStdWString(), RegexFlags);
    } catch (const std::regex_error &e) {
        return RegexProblemText(e);
    } catch (const std::exception &e) {
        return QString::fromLocal8Bit(e.what());
    }
    return {};
}

TextCleaner::TextCleaner(const QList<TextRule> &rules, const QString &path)
{
    for (const TextRule &rule : rules) {
        if (!rule.enabled || rule.pattern.isEmpty())
            continue;
        if (!rule.bookPath.isEmpty() && rule.bookPath.compare(path, Qt::CaseInsensitive) != 0)
            continue;
        auto compiled = std::make_unique<Compiled>();
        compiled->rule = rule;
        if (rule.regex) {
            RegexSteps::t_left = std::numeric_limits<qint64>::max();
            try {
                compiled->expression = CountingRegex(rule.pattern.toStdWString(), RegexFlags);
            } catch (const std::exception &) {
                continue; // refused where it is written; never stored that way by the window
            }
        }
        m_rules.push_back(std::move(compiled));
    }
}

TextCleaner::~TextCleaner() = default;

TextCleaner::Result TextCleaner::clean(const QString &fragment, const QString &word, int occurrence) const
{
    Result result;
    const QString br = QStringLiteral("<br>");
    QStringList raw = fragment.split(br);
    const bool closed = fragment.endsWith(br);
    if (closed)
        raw.removeLast();
    QStringList lines = raw;

    for (const auto &compiled : m_rules) {
        const TextRule &rule = compiled->rule;
        if (!rule.regex) {
            for (QString &line : lines)
                line.replace(rule.pattern, rule.replacement);
            continue;
        }
        QStringList changed = lines;
        const std::wstring replacement = rule.replacement.toStdWString();
        RegexSteps::t_left = StepBase + StepsPerUnit * fragment.size();
        try {
            for (QString &line : changed) {
                if (line.isEmpty() || line.size() > MaxRegexLine)
                    continue;
                line = QString::fromStdWString(
                    std::regex_replace(line.toStdWString(), compiled->expression, replacement));
            }
        } catch (const OutOfSteps &) {
            result.stopped.append(rule.name.isEmpty() ? rule.pattern : rule.name);
            continue;
        } catch (const std::exception &) {
            // The engine gave up (its own complexity or stack limits): the same as a stop.
            result.stopped.append(rule.name.isEmpty() ? rule.pattern : rule.name);
            continue;
        }
        lines = std::move(changed);
    }

    // Lines the rules emptied go with their breaks; the match asked for is counted again.
    int before = 0; // matches of `word` in the raw lines passed so far
    int after = 0;  // and in the cleaned lines kept so far
    bool placed = word.isEmpty() || occurrence < 0;
    QStringList kept;
    kept.reserve(lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const bool gone = lines.at(i) != raw.at(i) && hasText(raw.at(i)) && !hasText(lines.at(i));
        if (!placed) {
            const int inRaw = countIn(raw.at(i), word);
            if (occurrence < before + inRaw) {
                placed = true;
                const int inClean = gone ? 0 : countIn(lines.at(i), word);
                qsizetype at = -word.size();
                for (int k = before; k <= occurrence; ++k)
                    at = raw.at(i).indexOf(word, at + word.size());
                if (const int kept = matchAfterCleaning(raw.at(i), at, word, inClean); kept >= 0)
                    result.occurrence = after + kept;
                result.lineFraction = lines.isEmpty() ? 0 : double(i) / double(lines.size());
            }
            before += inRaw;
        }
        if (gone)
            continue;
        if (!word.isEmpty())
            after += countIn(lines.at(i), word);
        kept.append(lines.at(i));
    }
    result.fragment = kept.join(br);
    if (closed && !kept.isEmpty())
        result.fragment += br;
    return result;
}

int TextCleaner::matchAfterCleaning(const QString &raw, qsizetype at, const QString &word, int inClean) const
{
    if (inClean == 0)
        return -1;
    // The matches before it are those the rules leave in the text before it.
    const int earlier = countIn(clean(raw.left(at)).fragment, word);
    return earlier < inClean ? earlier : -1;
}

QList<bool> TextCleaner::keptMatches(const QString &line, const QString &word) const
{
    QList<bool> kept;
    if (word.isEmpty())
        return kept;
    const QString cleaned = clean(line).fragment;
    const int inClean = countIn(cleaned, word);
    // A line the rules leave as it is keeps every match; most lines are such.
    if (cleaned == line) {
        kept.fill(true, inClean);
        return kept;
    }
    for (qsizetype at = line.indexOf(word); at >= 0; at = line.indexOf(word, at + word.size()))
        kept.append(matchAfterCleaning(line, at, word, inClean) >= 0);
    return kept;
}
