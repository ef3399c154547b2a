#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// A clean-up rule: what to find in the shown text (plain text, or an ECMAScript regular
// expression like the heading rule's) and what to put in its place (empty removes it). Rules
// change only what the page shows and reads aloud, never the book's file.
struct TextRule
{
    qint64 id = 0; // 0 until stored
    QString name;
    QString pattern;
    bool regex = false;
    QString replacement;
    QString bookPath; // empty: every book
    bool enabled = false;

    bool operator==(const TextRule &) const = default;
};

// The rules that come with the program, every one switched off.
QList<TextRule> BuiltInTextRules();

// The regular-expression engine's own message for a rule that cannot be used; empty when it can.
QString TextRuleProblem(const TextRule &rule);

// The enabled rules that apply to the book at `path`, ready to clean its chapters.
class TextCleaner
{
public:
    TextCleaner() = default;
    TextCleaner(const QList<TextRule> &rules, const QString &path);
    ~TextCleaner();
    TextCleaner(const TextCleaner &) = delete;
    TextCleaner &operator=(const TextCleaner &) = delete;

    bool isEmpty() const { return m_rules.empty(); }

    struct Result
    {
        QString fragment;
        // Names of the rules that went over their budget: left out of this chapter.
        QStringList stopped;
        // The match asked for, counted again on the cleaned text; -1 when a rule took it away.
        int occurrence = -1;
        // Where the line that held it stands, 0 (top) to 1, for a match taken away.
        double lineFraction = 0;
    };

    // Cleans a page fragment (lines each followed by "<br>"), one line at a time, rule after
    // rule; a line that had text and has none left goes away with its break. A regular
    // expression gets a budget of matching steps per chapter that grows with the chapter's
    // length; a rule that runs over it is stopped and its changes to this chapter are dropped.
    // `word` and `occurrence` name an exact match among the fragment's lines, to find again.
    Result clean(const QString &fragment, const QString &word = {}, int occurrence = -1) const;

    // Which matches of `word` in one line of the book (exact, in order, not overlapping) the
    // rules leave on the page, reckoned as clean() does when it looks for a match again.
    QList<bool> keptMatches(const QString &line, const QString &word) const;

    // Steps allowed to each expression per chapter: base + perUnit for every UTF-16 unit of the
    // chapter; a few milliseconds at most. The built-in rules take fewer than 8 steps a unit.
    static constexpr qint64 StepBase = 100000;
    static constexpr qint64 StepsPerUnit = 32;

private:
    // Where the match at `at` of the raw line stands among the matches of the cleaned line
    // (`inClean` of them); -1 when the rules took it away.
    int matchAfterCleaning(const QString &raw, qsizetype at, const QString &word, int inClean) const;

    struct Compiled;
    std::vector<std::unique_ptr<Compiled>> m_rules;
};
