#include "reader/ReaderResume.h"

#include "library/LibraryDb.h"
#include "reader/ReaderPage.h"
#include "reader/ReadingPositionKeeper.h"
#include "reader/ReadingView.h"
#include "reader/ResumeBar.h"

#include <QFileInfo>

namespace {

QString offeredKey(const ReadingPosition &place)
{
    return place.path + QLatin1Char('\n') + place.saved.toString(Qt::ISODateWithMs);
}

} // namespace

ReaderResume::ReaderResume(LibraryDb &db, ReaderPage &page, ReadingView *view, QObject *parent)
    : QObject(parent), m_db(db), m_page(page), m_positions(new ReadingPositionKeeper(db, this))
{
    m_bar = new ResumeBar(view);
    view->insertAbovePage(m_bar);
    connect(m_bar, &ResumeBar::resumeRequested, this, &ReaderResume::resume);
    connect(view, &ReadingView::pageScrolled, this, &ReaderResume::onPageScrolled);
    connect(&m_page, &ReaderPage::jumping, this, &ReaderResume::onJumping);
    connect(&m_page, &ReaderPage::textShown, this, &ReaderResume::onTextShown);
    connect(m_positions, &ReadingPositionKeeper::saved, this, &ReaderResume::positionSaved);
}

void ReaderResume::flush()
{
    m_positions->flush();
}

QString ReaderResume::lastBookToReopen() const
{
    if (m_db.option(LibraryDb::reopenLastBookOption()) != u"1")
        return {};
    const std::optional<ReadingPosition> last = m_db.lastReadingPosition();
    // A book that has gone since is simply not reopened; nobody asked for it just now.
    if (!last || !QFileInfo(last->path).isFile())
        return {};
    return last->path;
}

void ReaderResume::bookOpened(int openedChapter)
{
    m_openedChapter = openedChapter;
    const bool resumeNow = std::exchange(m_resumeOnOpen, false);
    m_bar->hide();
    m_resumeChapter.reset();
    m_armed = true;
    const QList<ChapterEntry> &entries = m_page.entries();
    std::optional<ReadingPosition> kept = m_db.readingPosition(m_page.path());
    // A later place reached on another computer of the same account is offered instead; a book
    // reopened by itself goes back to this computer's own place.
    const std::optional<ReadingPosition> elsewhere =
        resumeNow ? std::nullopt : m_db.sync().remotePositionAhead(m_page.path());
    if (elsewhere)
        kept = elsewhere;
    if (!kept)
        return;
    const int chapter = ResumeChapter(entries, *kept);
    if (chapter < 1 || (chapter == m_openedChapter && kept->fraction <= 0))
        return; // the book opens where it was left anyway
    if (resumeNow) {
        m_page.prepare(chapter, kept->fraction);
        return;
    }
    m_armed = false;
    offer(chapter, *kept, elsewhere.has_value());
}

void ReaderResume::offerPlaceFromElsewhere()
{
    if (m_page.path().isEmpty())
        return;
    const std::optional<ReadingPosition> elsewhere = m_db.sync().remotePositionAhead(m_page.path());
    // A round that changed something else must not bring back an offer the reader closed.
    if (!elsewhere || offeredKey(*elsewhere) == m_offeredElsewhere)
        return;
    const int chapter = ResumeChapter(m_page.entries(), *elsewhere);
    if (chapter >= 1)
        offer(chapter, *elsewhere, true);
}

void ReaderResume::offer(int chapter, const ReadingPosition &place, bool elsewhere)
{
    if (elsewhere)
        m_offeredElsewhere = offeredKey(place);
    m_resumeChapter = chapter;
    m_resumeFraction = place.fraction;
    ReadingPosition offered = place;
    offered.chapterTitle = m_page.shownTitle(chapter); // only shown: as the list shows it
    m_bar->offer(elsewhere ? ElsewhereOfferText(offered) : ResumeOfferText(offered));
}

void ReaderResume::resume()
{
    if (!m_resumeChapter)
        return;
    m_bar->hide();
    m_armed = true;
    m_page.showAt(*std::exchange(m_resumeChapter, std::nullopt), m_resumeFraction);
}

void ReaderResume::onJumping(int position, bool atTop)
{
    if (position != m_openedChapter || !atTop)
        m_armed = true;
}

void ReaderResume::onTextShown(int position, double scroll)
{
    if (m_armed)
        m_positions->update(PositionInBook(m_page.path(), m_page.entries(), position, scroll, scroll));
}

void ReaderResume::onPageScrolled(double top, double seen)
{
    const int shown = m_page.shown();
    if (shown < 1 || shown > m_page.entries().size())
        return;
    if (!m_armed) {
        if (shown == m_openedChapter && top <= 0)
            return;
        m_armed = true;
    }
    m_positions->update(PositionInBook(m_page.path(), m_page.entries(), shown, top, seen));
}
