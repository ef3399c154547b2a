#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>
#include <optional>

struct LibraryConnection;

// The single settings row.
struct SysSetRow
{
    QString downSavePath;
    bool autoRun = false;
    QString bossKey = QStringLiteral("Alt|Q");
    QString txtColor = QStringLiteral("000000");
    QString txtSize = QStringLiteral("中号");
    QString backColor = QStringLiteral("C7EDCC");
};

// Where a reader left a book: the chapter (position and title, so that a changed book is not
// resumed in the wrong place), how far down the chapter the page was scrolled, and how many of
// the book's lines lay above the bottom of the window, for the shelf's progress figure.
struct ReadingPosition
{
    QString path;
    int chapter = 0; // 1-based position in the chapter list
    QString chapterTitle;
    double fraction = 0; // 0 top of the chapter .. 1 scrolled to its end
    qint64 linesRead = 0;
    qint64 lineCount = 0;
    QDateTime saved;
    // Where a place from elsewhere was read, when that reader names it ("手机浏览器").
    QString device;

    // Whole percent of the book's lines read, 0..100.
    int progressPercent() const;
};

// What the library keeps beside the shelf: the settings row (SysSet), the reading position of
// each book (ReadingPosition, one row per path) and the named options the settings row has no
// column for (Options).
class LibraryOptions
{
public:
    explicit LibraryOptions(LibraryConnection &connection) : m_connection(connection) {}

    // Each value from the first settings row.
    QString downSavePath() const;
    QString bossKey() const;
    bool autoRun() const;
    QString txtColor() const;
    QString txtSize() const;
    QString backColor() const;
    bool setDownSavePath(const QString &folder); // every settings row
    // Adds the settings row when there is none, then writes all six values.
    bool saveSettings(const SysSetRow &row);

    bool saveReadingPosition(const ReadingPosition &position);
    std::optional<ReadingPosition> readingPosition(const QString &path) const;
    // The most recently saved position of any book.
    std::optional<ReadingPosition> lastReadingPosition() const;

    QString option(const QString &name, const QString &fallback) const;
    bool setOption(const QString &name, const QString &value);

private:
    QVariant sysSetValue(const char *column) const;

    LibraryConnection &m_connection;
};
