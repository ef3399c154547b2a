#include "reader/ReadingStatus.h"

#include "reader/ReaderPage.h"
#include "reader/ReadingPositionKeeper.h"
#include "reader/ReadingView.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QMouseEvent>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 LongestStretchMs = 3 * 60 * 1000;
constexpr double FastestReading = 25; // characters a second
constexpr double LeastSeconds = 120;
constexpr int NearBottom = 48; // pixels from the page's bottom that bring the line back in full screen

// Characters of the page text that a reader reads: markup and white space left out, an entity
// counted as one.
double ReadableChars(const QString &html)
{
    qsizetype count = 0;
    bool inTag = false;
    bool inEntity = false;
    for (const QChar c : html) {
        if (inTag) {
            inTag = c != u'>';
        } else if (c == u'<') {
            inTag = true;
        } else if (inEntity) {
            inEntity = c != u';' && !c.isSpace();
        } else if (!c.isSpace()) {
            ++count;
            inEntity = c == u'&';
        }
    }
    return double(count);
}

} // namespace

void ReadingPace::moved(qint64 ms, int chapter, double charsSeen)
{
    // Time spent on one screen belongs to the move that leaves it.
    if (m_lastMs >= 0 && chapter == m_lastChapter && charsSeen == m_lastChars)
        return;
    if (m_lastMs >= 0 && chapter == m_lastChapter) {
        const double seconds = double(ms - m_lastMs) / 1000.0;
        const double chars = charsSeen - m_lastChars;
        if (seconds > 0 && ms - m_lastMs <= LongestStretchMs && chars > 0 && chars <= FastestReading * seconds) {
            m_seconds += seconds;
            m_chars += chars;
        }
    }
    m_lastMs = ms;
    m_lastChapter = chapter;
    m_lastChars = charsSeen;
}

std::optional<double> ReadingPace::charsPerSecond() const
{
    if (m_seconds < LeastSeconds || m_chars <= 0)
        return std::nullopt;
    return m_chars / m_seconds;
}

ReadingStatus::ReadingStatus(ReaderPage &page, ReadingView *view) : QWidget(view), m_page(page), m_view(view)
{
    setObjectName(QStringLiteral("ReadingStatus"));
    m_elapsed.start();
    m_clock = [this] { return m_elapsed.elapsed(); };
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(6, 1, 6, 1);
    m_place = new QLabel(this);
    m_note = new QLabel(this);
    for (QLabel *label : {m_place, m_note}) {
        QFont font = label->font();
        if (font.pointSizeF() > 0) {
            font.setPointSizeF(font.pointSizeF() * 0.9);
            label->setFont(font);
        }
        label->setTextFormat(Qt::PlainText);
    }
    // A long chapter title is cut at the right rather than widening the page.
    m_place->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    row->addWidget(m_place, 1);
    row->addWidget(m_note);
    m_noteTimer = new QTimer(this);
    m_noteTimer->setSingleShot(true);
    m_noteTimer->setInterval(4000);
    connect(m_noteTimer, &QTimer::timeout, this, [this] {
        m_noteShown.clear();
        refresh();
    });
    view->layout()->addWidget(this);
    hide();

    connect(&page, &ReaderPage::textShown, this, &ReadingStatus::onTextShown);
    connect(&page, &ReaderPage::jumping, this, [this] { m_pace.breakStretch(); });
    connect(view, &ReadingView::pageScrolled, this, &ReadingStatus::onScrolled);
}

void ReadingStatus::onTextShown(int position, double scroll)
{
    // A pace belongs to a book: an old novel does not read at the speed of a new one.
    if (m_page.path() != m_book) {
        m_book = m_page.path();
        m_pace = ReadingPace();
    }
    m_noteShown.clear(); // the note was about the chapter before
    m_noteTimer->stop();
    m_chapter = position;
    m_chapterChars = ReadableChars(m_view->shownText());
    m_top = scroll;
    m_seen = scroll;
    if (scroll < 1)
        m_pace.moved(m_clock(), m_chapter, scroll * m_chapterChars);
    if (!m_fullScreen)
        show();
    refresh();
}

void ReadingStatus::onScrolled(double top, double seen)
{
    if (m_chapter < 1)
        return;
    m_top = top;
    m_seen = seen;
    if (m_top < 1)
        m_pace.moved(m_clock(), m_chapter, shareAboveWindow() * m_chapterChars);
    refresh();
}

double ShareAboveWindow(double top, double seen)
{
    // The window's share of the chapter follows from the two figures the page reports (except at
    // the very end, where what is left is on screen anyway).
    if (top >= 1)
        return 1;
    const double window = std::clamp((seen - top) / (1 - top), 0.0, 1.0);
    return std::clamp(seen - window, 0.0, 1.0);
}

double ReadingStatus::shareAboveWindow() const
{
    return ShareAboveWindow(m_top, m_seen);
}

void ReadingStatus::refresh()
{
    const QList<ChapterEntry> &entries = m_page.entries();
    if (m_chapter < 1 || m_chapter > entries.size()) {
        m_place->clear();
        m_note->clear();
        return;
    }
    const ReadingPosition where = PositionInBook(m_page.path(), entries, m_chapter, m_top, m_seen);
    m_place->setText(QStringLiteral("%1　　%2 / %3　　全书 %4%")
                         .arg(m_page.shownTitle(m_chapter))
                         .arg(m_chapter)
                         .arg(entries.size())
                         .arg(where.progressPercent()));

    QString left;
    if (m_top < 1) {
        if (const std::optional<double> pace = m_pace.charsPerSecond()) {
            const double seconds = (1 - shareAboveWindow()) * m_chapterChars / *pace;
            left = seconds < 60 ? QStringLiteral("本章剩不到 1 分钟")
                                : QStringLiteral("本章约剩 %1 分钟").arg(std::lround(std::ceil(seconds / 60)));
        }
    }
    m_note->setText(m_noteShown.isEmpty() ? left : m_noteShown);
}

void ReadingStatus::showNote(const QString &note)
{
    m_noteShown = note;
    m_noteTimer->start();
    refresh();
}

QString ReadingStatus::placeText() const
{
    return m_place->text();
}

QString ReadingStatus::noteText() const
{
    return m_note->text();
}

void ReadingStatus::setFullScreen(bool on)
{
    if (on == m_fullScreen)
        return;
    m_fullScreen = on;
    // The page hands its mouse moves to a child of its own; the application sees them all.
    if (on)
        qApp->installEventFilter(this);
    else
        qApp->removeEventFilter(this);
    setVisible(!on && m_chapter > 0);
}

bool ReadingStatus::eventFilter(QObject *watched, QEvent *event)
{
    if (m_fullScreen && event->type() == QEvent::MouseMove && m_chapter > 0) {
        const QPoint at = m_view->mapFromGlobal(static_cast<QMouseEvent *>(event)->globalPosition().toPoint());
        const bool near = m_view->rect().contains(at) && at.y() >= m_view->height() - NearBottom;
        if (near != isVisible())
            setVisible(near);
    }
    return QWidget::eventFilter(watched, event);
}
