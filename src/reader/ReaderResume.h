#pragma once

#include "library/LibraryOptions.h"

#include <QObject>

#include <optional>

class LibraryDb;
class ReaderPage;
class ReadingPositionKeeper;
class ReadingView;
class ResumeBar;

// Where the reader is in the book on screen, kept as they read (ReadingPositionKeeper), and the
// resume bar that offers the place remembered when a book is opened.
//
// Positions are kept once the reader leaves the top of the chapter the book opened at, so opening
// a book does not overwrite the place it offers to resume.
class ReaderResume : public QObject
{
    Q_OBJECT
public:
    // Puts the resume bar above the page of `view`.
    ReaderResume(LibraryDb &db, ReaderPage &page, ReadingView *view, QObject *parent = nullptr);

    ResumeBar *bar() const { return m_bar; }

    // Another book is about to be opened: the place in this one is written first.
    void flush();
    // The book is being opened at the place it was left, without the bar (reopening the last book).
    void setResumeOnOpen(bool on) { m_resumeOnOpen = on; }
    // With the option to reopen the last book on: the path of the book read last when it is still
    // there, else empty.
    QString lastBookToReopen() const;
    // The book's chapters are listed with `openedChapter` selected and about to be shown: offers
    // the remembered place, or goes there when the book is opened to resume.
    void bookOpened(int openedChapter);
    // The library learned a newer place in the open book from another computer (a sync round):
    // the bar offers it, once; the page stays where the reader is.
    void offerPlaceFromElsewhere();
    // Goes to the place the bar offers.
    void resume();

Q_SIGNALS:
    // A place was written to the library: as the reader reads, and when the book is left.
    void positionSaved(const ReadingPosition &position);

private:
    void offer(int chapter, const ReadingPosition &place, bool elsewhere);
    void onJumping(int position, bool atTop);
    void onTextShown(int position, double scroll);
    void onPageScrolled(double top, double seen);

    LibraryDb &m_db;
    ReaderPage &m_page;
    ReadingPositionKeeper *m_positions;
    ResumeBar *m_bar;
    std::optional<int> m_resumeChapter;
    double m_resumeFraction = 0;
    bool m_resumeOnOpen = false;
    bool m_armed = false;
    int m_openedChapter = 0;
    QString m_offeredElsewhere; // the place from elsewhere last offered: path and time
};
