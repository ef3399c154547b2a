#pragma once

#include "library/LibraryDb.h"
#include "text/Chapters.h"

#include <QObject>
#include <QTimer>

#include <optional>

// Keeps the reader's place in the library as the user reads: the newest position is written at
// most once per SaveIntervalMs, and whatever is still unwritten goes out on flush() (another
// book, closing the program).
class ReadingPositionKeeper : public QObject
{
    Q_OBJECT
public:
    static constexpr int SaveIntervalMs = 3000;

    explicit ReadingPositionKeeper(LibraryDb &db, QObject *parent = nullptr);
    ~ReadingPositionKeeper() override;

    void update(const ReadingPosition &position);
    void flush();
    bool hasUnsaved() const { return m_pending.has_value(); }

Q_SIGNALS:
    // The position is in the library now.
    void saved(const ReadingPosition &position);

private:
    LibraryDb &m_db;
    QTimer m_timer;
    std::optional<ReadingPosition> m_pending;
};

// The position of a reader in chapter `chapter` (1-based) of `entries`, scrolled `top` of the way
// down with the share `seen` of the chapter above the bottom of the window.
ReadingPosition PositionInBook(const QString &path, const QList<ChapterEntry> &entries, int chapter, double top,
                               double seen);
// The chapter a remembered position leads to in the book as it is now: its position when the
// title there is unchanged, else the first chapter with that title; 0 when the title is gone.
int ResumeChapter(const QList<ChapterEntry> &entries, const ReadingPosition &position);
// "上次读到：第十章 风起（35%）", with the share of the book read.
QString ResumeOfferText(const ReadingPosition &position);
// The offer of a place read elsewhere: "在另一台电脑上读到：…（35%）", or with the device named when
// its reader named it: "在另一台设备上读到：…（35%），来自手机浏览器".
QString ElsewhereOfferText(const ReadingPosition &position);
