#include "reader/ReadingPositionKeeper.h"

#include <algorithm>
#include <cmath>

ReadingPositionKeeper::ReadingPositionKeeper(LibraryDb &db, QObject *parent) : QObject(parent), m_db(db)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(SaveIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &ReadingPositionKeeper::flush);
}

ReadingPositionKeeper::~ReadingPositionKeeper()
{
    flush();
}

void ReadingPositionKeeper::update(const ReadingPosition &position)
{
    // A position of another book must not wait behind the timer of this one.
    if (m_pending && m_pending->path != position.path)
        flush();
    m_pending = position;
    if (!m_timer.isActive())
        m_timer.start();
}

void ReadingPositionKeeper::flush()
{
    m_timer.stop();
    if (!m_pending)
        return;
    const ReadingPosition position = *m_pending;
    m_pending.reset();
    if (m_db.isOpen() && m_db.saveReadingPosition(position))
        Q_EMIT saved(position);
}

ReadingPosition PositionInBook(const QString &path, const QList<ChapterEntry> &entries, int chapter, double top,
                               double seen)
{
    ReadingPosition p;
    p.path = path;
    if (chapter < 1 || chapter > entries.size())
        return p;
    const ChapterEntry &entry = entries.at(chapter - 1);
    p.chapter = chapter;
    p.chapterTitle = entry.title;
    p.fraction = std::clamp(top, 0.0, 1.0);
    // Lines 0 .. lastShownLine of the last entry make up the book.
    p.lineCount = entries.last().lastShownLine() + 1;
    const qint64 shown = std::max<qint64>(0, entry.lastShownLine() - entry.firstShownLine() + 1);
    p.linesRead = entry.firstShownLine() + std::llround(std::clamp(seen, 0.0, 1.0) * double(shown));
    return p;
}

int ResumeChapter(const QList<ChapterEntry> &entries, const ReadingPosition &position)
{
    if (position.chapter >= 1 && position.chapter <= entries.size() &&
        entries.at(position.chapter - 1).title == position.chapterTitle)
        return position.chapter;
    for (const ChapterEntry &e : entries) {
        if (e.title == position.chapterTitle)
            return e.number;
    }
    return 0;
}

QString ResumeOfferText(const ReadingPosition &position)
{
    // The share of the book, as the shelf and the status line give it; a place kept before the
    // book's size was known gives the share of its chapter.
    const long percent = position.lineCount > 0 ? position.progressPercent() : std::lround(position.fraction * 100);
    return QStringLiteral("上次读到：%1（%2%）").arg(position.chapterTitle).arg(percent);
}

QString ElsewhereOfferText(const ReadingPosition &position)
{
    if (position.device.isEmpty())
        return QStringLiteral("在另一台电脑上读到：%1（%2%）").arg(position.chapterTitle).arg(position.progressPercent());
    return QStringLiteral("在另一台设备上读到：%1（%2%），来自%3")
        .arg(position.chapterTitle)
        .arg(position.progressPercent())
        .arg(position.device);
}
