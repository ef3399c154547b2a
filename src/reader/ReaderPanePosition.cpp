#include "reader/ReaderPane.h"

#include "library/LibraryDb.h"
#include "reader/BookSearch.h"
#include "reader/ChapterJumpBox.h"
#include "reader/ReaderKeys.h"
#include "reader/ReadingPositionKeeper.h"
#include "reader/ResumeBar.h"

#include <QFileInfo>
#include <QToolBar>
#include <QTreeWidget>

// The reading pane's additions around the chapters: the kept reading position and the resume
// bar, paging on across chapter ends, search hits, the chapter box and full screen.

void ReaderPane::offerResume()
{
    const bool resumeNow = std::exchange(m_resumeOnOpen, false);
    m_resumeBar->hide();
    m_resumeChapter.reset();
    m_positionArmed = true;
    const std::optional<ReadingPosition> kept = m_db.readingPosition(m_chaptersPath);
    if (!kept)
        return;
    const int chapter = ResumeChapter(m_entries, *kept);
    if (chapter < 1 || (chapter == m_openedChapter && kept->fraction <= 0))
        return; // the book opens where it was left anyway
    if (resumeNow) {
        selectChapter(chapter);
        m_scrollAfterShow = kept->fraction;
        return;
    }
    m_positionArmed = false;
    m_resumeChapter = chapter;
    m_resumeFraction = kept->fraction;
    ReadingPosition offered = *kept;
    offered.chapterTitle = m_entries.at(chapter - 1).title;
    m_resumeBar->offer(ResumeOfferText(offered));
}

void ReaderPane::resumeReading()
{
    if (!m_resumeChapter)
        return;
    m_resumeBar->hide();
    m_positionArmed = true;
    showChapterAt(*std::exchange(m_resumeChapter, std::nullopt), m_resumeFraction);
}

void ReaderPane::flushPosition()
{
    m_positions->flush();
}

bool ReaderPane::reopenLastBook()
{
    if (!m_currentBookPath.isEmpty() || isOpening() || m_db.option(LibraryDb::reopenLastBookOption()) != u"1")
        return false;
    const std::optional<ReadingPosition> last = m_db.lastReadingPosition();
    // A book that has gone since is simply not reopened; nobody asked for it just now.
    if (!last || !QFileInfo(last->path).isFile())
        return false;
    m_resumeOnOpen = true;
    if (!openBook(last->path)) {
        m_resumeOnOpen = false;
        return false;
    }
    return true;
}

void ReaderPane::onPageScrolled(double top, double seen)
{
    if (m_shownPosition < 1 || m_shownPosition > m_entries.size())
        return;
    if (!m_positionArmed) {
        if (m_shownPosition == m_openedChapter && top <= 0)
            return;
        m_positionArmed = true;
    }
    m_positions->update(PositionInBook(m_chaptersPath, m_entries, m_shownPosition, top, seen));
}

void ReaderPane::showChapterAt(int position, double fraction)
{
    if (position < 1 || position > m_entries.size())
        return;
    selectChapter(position);
    m_scrollAfterShow = fraction;
    if (position != m_openedChapter || fraction > 0)
        m_positionArmed = true;
    ListView2_dblClick();
}

void ReaderPane::showSearchHit(const BookSearchHit &hit)
{
    if (hit.chapter < 1 || hit.chapter > m_entries.size())
        return;
    selectChapter(hit.chapter);
    m_highlightAfterShow = hit.word;
    m_highlightOccurrence = hit.occurrence;
    m_positionArmed = true;
    ListView2_dblClick();
}

void ReaderPane::onPageKey(int keyCode)
{
    if (m_entries.isEmpty())
        return;
    // Paging on past the first or the last chapter just stops there; the boxes that say so
    // belong to the arrows and the toolbar.
    switch (keyCode) {
    case 34: // PageDown or Space at the end of the chapter
        if (m_shownPosition < m_entries.size())
            showChapterAt(m_shownPosition + 1, 0);
        break;
    case 33: // PageUp at its top: the end of the chapter before
        if (m_shownPosition > 1)
            showChapterAt(m_shownPosition - 1, 1);
        break;
    default:
        keyNavigation(keyCode);
    }
}

void ReaderPane::openChapterJump()
{
    if (m_entries.isEmpty())
        return;
    const QRect page = m_view->geometry();
    m_jump->setGeometry(page.left() + 16, page.top() + 8, std::min(360, std::max(200, page.width() - 32)),
                        std::max(160, std::min(420, page.height() - 16)));
    m_jump->open(m_entries, m_shownPosition);
}

void ReaderPane::setFullScreen(bool on)
{
    if (on == m_fullScreen)
        return;
    m_fullScreen = on;
    m_keys->setFullScreen(on);
    m_toolbar->setVisible(!on);
    m_splitter->setVisible(!on);
    m_chapters->setVisible(!on && m_chapterListVisible);
    if (on)
        m_view->setGeometry(rect());
    Q_EMIT layoutRequested();
}
