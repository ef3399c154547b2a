#include "reader/ReadingView.h"

#include "reader/PageFindBar.h"
#include "reader/ReadingPageScript.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNativeGestureEvent>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWheelEvent>

#include <algorithm>
#include <utility>
#include <cmath>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

static void initReaderResources()
{
    // The resources live in a static library: without this reference the linker drops them.
    Q_INIT_RESOURCE(reader);
}

// Chromium will not run its sandbox for root and ends the whole program instead; reading a
// book as root is unwise but must not crash. Only effective before the first web view exists.
static void allowRootWithoutSandbox()
{
#ifdef Q_OS_UNIX
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
#endif
}

namespace {

const QString &templateName()
{
    static const QString name = QStringLiteral("Reader.html");
    return name;
}

QString jsString(const QString &text)
{
    return ReadingPageScript::jsString(text);
}

} // namespace

ReadingView::ReadingView(QWidget *parent) : QWidget(parent)
{
    initReaderResources();
    allowRootWithoutSandbox();

    m_web = new QWebEngineView(this);
    m_web->setObjectName(QStringLiteral("HTMLDOC"));
    m_script = new ReadingPageScript(m_web);
    m_web->setContextMenuPolicy(Qt::CustomContextMenu);
    // The view's input arrives at the child widget it renders into: watched for Ctrl+wheel.
    m_web->installEventFilter(this);
    for (QWidget *child : m_web->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        child->installEventFilter(this);
    connect(m_web, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { Q_EMIT contextMenuRequested(m_web->mapToGlobal(pos)); });

    connect(m_script, &ReadingPageScript::keyPressed, this, &ReadingView::keyPressedInPage);
    connect(m_script, &ReadingPageScript::scrolledTo, this,
            [this](int generation, double top, double seen, const QString &words) {
                // A report from before the last text change is about text no longer on the page.
                if (generation != m_textGeneration)
                    return;
                m_topWords = words;
                Q_EMIT pageScrolled(top, seen);
            });
    connect(m_script, &ReadingPageScript::connected, this, [this] {
        m_bridgeReady = true;
        if (m_loaded)
            Q_EMIT pageReady();
    });
    QWebEnginePage *page = m_web->page();
    connect(page, &QWebEnginePage::loadStarted, this, [this] {
        m_loaded = false;
        m_bridgeReady = false;
    });
    connect(page, &QWebEnginePage::loadFinished, this, &ReadingView::onLoadFinished);

    m_findBar = new PageFindBar(*m_script, this);
    connect(m_findBar, &PageFindBar::closed, this, [this] {
        m_web->setFocus();
        Q_EMIT findBarClosed();
    });

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(m_web, 1);
    column->addWidget(m_findBar);
}

QUrl ReadingView::templateUrl(const QString &programFolder)
{
    const QString builtIn = QStringLiteral(":/reader/") + templateName();
    const QString path = programFolder + u'/' + templateName();
    if (!QFileInfo::exists(path)) {
        QDir().mkpath(programFolder);
        if (!QFile::copy(builtIn, path))
            return QUrl(QStringLiteral("qrc") + builtIn);
        // Copies of resources are read-only; the user may want to edit the template.
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    }
    return QUrl::fromLocalFile(path);
}

void ReadingView::loadPage(const QString &programFolder)
{
    m_pageUrl = templateUrl(programFolder);
    m_script->setPageUrl(m_pageUrl);
    m_web->setUrl(m_pageUrl);
}

void ReadingView::onLoadFinished(bool ok)
{
    m_loaded = ok;
    if (!ok)
        return;
    writeStyle();
    // A reload starts from the bare template; the reader's text goes back in.
    if (m_textPending || m_textShown)
        writeText();
    if (m_scrollPending > 0)
        scrollToFraction(std::exchange(m_scrollPending, 0));
    if (m_bridgeReady)
        Q_EMIT pageReady();
}

void ReadingView::setSnippets(const QString &ads, const QString &before, const QString &after)
{
    m_ads = ads;
    m_before = before;
    m_after = after;
}

void ReadingView::showText(const QString &fragment)
{
    ++m_textGeneration;
    m_scrollPending = 0;
    m_text = m_before + fragment + m_after;
    m_textPending = true;
    m_textShown = true;
    m_topWords.clear();
    m_findBar->pageChanged();
    m_web->setFocus();
    if (m_loaded)
        writeText();
}

void ReadingView::writeText()
{
    m_textPending = false;
    runScript(QStringLiteral("(function (text, ads) {"
                             " var txt = document.getElementById('TXT'); if (txt) txt.innerHTML = text;"
                             " var adsDiv = document.getElementById('AdsDiv'); if (adsDiv) adsDiv.innerHTML = ads;"
                             " var box = document.getElementById('Content_Txt');"
                             " if (box) { box.scrollTop = 0; box.focus({preventScroll: true}); }"
                             " if (typeof folioway === 'object') {"
                             "   folioway.generation = %1; if (folioway.textWritten) folioway.textWritten(); }"
                             "})(")
                  .arg(m_textGeneration) +
              jsString(m_text) + u',' + jsString(m_ads) + u')');
}

void ReadingView::askPage(const QString &script, const QVariant &none, std::function<void(const QVariant &)> reply)
{
    if (!m_loaded)
        reply(none);
    else
        m_script->run(script, std::move(reply));
}

void ReadingView::contentText(std::function<void(const QString &)> reply)
{
    askPage(QStringLiteral("typeof folioway === 'object' ? folioway.contentText() : ''"), QString(),
            [reply = std::move(reply)](const QVariant &text) { reply(text.toString()); });
}

void ReadingView::chosenReadingPlace(std::function<void(const QString &, int)> reply)
{
    askPage(QStringLiteral("typeof folioway === 'object' ? folioway.chosenPlace() : null"), QVariant(),
            [reply = std::move(reply)](const QVariant &answer) {
                const QVariantMap map = answer.toMap();
                reply(map.value(QStringLiteral("text")).toString(), map.value(QStringLiteral("place"), -1).toInt());
            });
}

void ReadingView::highlightContent(int start, int length)
{
    if (m_loaded)
        runScript(QStringLiteral("typeof folioway === 'object' && folioway.highlight(%1, %2)").arg(start).arg(length));
}

void ReadingView::scrollToFraction(double fraction)
{
    // A book reopened at start-up is shown before the page has loaded.
    if (!m_loaded)
        m_scrollPending = fraction;
    else
        runScript(QStringLiteral("typeof folioway === 'object' && folioway.scrollToFraction(%1)").arg(fraction));
}

void ReadingView::setAutoScroll(bool on, bool paused, int linesPerMinute)
{
    if (m_loaded)
        runScript(QStringLiteral("typeof folioway === 'object' && folioway.autoScroll(%1, %2, %3)")
                      .arg(on ? u"true" : u"false", paused ? u"true" : u"false")
                      .arg(linesPerMinute));
}

void ReadingView::stepAutoScroll(int ms)
{
    if (m_loaded)
        runScript(QStringLiteral("typeof folioway === 'object' && folioway.autoScrollTick(%1)").arg(ms));
}

void ReadingView::autoScrollState(std::function<void(const QVariantMap &)> reply)
{
    askPage(QStringLiteral("typeof folioway === 'object' ? folioway.autoScrollState() : null"), QVariant(),
            [reply = std::move(reply)](const QVariant &stats) { reply(stats.toMap()); });
}

void ReadingView::highlightOccurrence(const QString &word, int occurrence)
{
    if (!m_loaded)
        return;
    // The find bar's counter still speaks of the page before; it follows the selected match.
    m_script->run(QStringLiteral("typeof folioway === 'object' ? folioway.highlightOccurrence(%1, %2) : null")
                      .arg(jsString(word))
                      .arg(occurrence),
                  [this](const QVariant &answer) {
                      const QVariantMap found = answer.toMap();
                      if (found.value(QStringLiteral("count")).toInt() > 0)
                          m_findBar->followSelection(found.value(QStringLiteral("at")).toInt());
                  });
}

void ReadingView::insertAbovePage(QWidget *bar)
{
    static_cast<QVBoxLayout *>(layout())->insertWidget(0, bar);
}

void ReadingView::insertBelowPage(QWidget *panel)
{
    auto *column = static_cast<QVBoxLayout *>(layout());
    column->insertWidget(column->indexOf(m_findBar), panel);
}

void ReadingView::addToFindBar(QWidget *widget)
{
    m_findBar->addWidget(widget);
}

void ReadingView::setPageStyle(const ReadingPageStyle &style)
{
    m_style = style;
    if (m_loaded)
        writeStyle();
}

int ReadingView::textSizePx() const
{
    if (m_style.look.fontSize > 0)
        return m_style.look.fontSize;
    bool ok = false;
    const int px = QString(m_style.fontSize).remove(QLatin1String("px")).toInt(&ok);
    return ok && px > 0 ? px : 14;
}

void ReadingView::zoomText(int steps)
{
    if (steps == 0) {
        Q_EMIT textSizeRequested(0);
        return;
    }
    const int current = textSizePx();
    const int px = std::clamp(current + steps * ReadingLook::FontSizeStep, int(ReadingLook::MinFontSize),
                              int(ReadingLook::MaxFontSize));
    if (px != current)
        Q_EMIT textSizeRequested(px);
}

namespace {

// The reading highlight (the selection): the text colour softened towards the page, with the
// page colour as its text, so it stands out on every pair of colours that can be read at all.
QString selectionBackground(const QString &color, const QString &background)
{
    const QColor text = QColor::fromString(color), page = QColor::fromString(background);
    if (!text.isValid() || !page.isValid())
        return {};
    const auto mix = [](int a, int b) { return (a * 3 + b) / 4; };
    return QColor(mix(text.red(), page.red()), mix(text.green(), page.green()), mix(text.blue(), page.blue())).name();
}

} // namespace

void ReadingView::writeStyle()
{
    // The look beyond the colours and size: left to the page's own sheet while at its defaults.
    ReadingLook look = m_style.look;
    const QString fontSize = look.fontSize > 0 ? QStringLiteral("%1px").arg(look.fontSize) : m_style.fontSize;
    look.fontSize = 0;
    const QString marked = selectionBackground(m_style.color, m_style.background);
    const QString markedText = marked.isEmpty() ? QString() : QColor::fromString(m_style.background).name();
    runScript(QStringLiteral("(function (background, color, fontSize, font, lineHeight, spacing, width, keepIndent,"
                             " marked, markedText) {"
                             " var box = document.getElementById('Content_Txt'); if (!box) return;"
                             " box.style.background = background; box.style.color = color;"
                             " box.style.fontSize = fontSize;"
                             " box.style.fontFamily = font ? '\"' + font + '\", ' +"
                             "   getComputedStyle(document.body).fontFamily : '';"
                             " var content = document.getElementById('Content');"
                             " content.style.lineHeight = lineHeight; content.style.maxWidth = width;"
                             " document.getElementById('TXT').style.whiteSpace = keepIndent ? 'pre-wrap' : '';"
                             " var sheet = document.getElementById('LookSheet');"
                             " if (!sheet) { sheet = document.createElement('style'); sheet.id = 'LookSheet';"
                             "   document.head.appendChild(sheet); }"
                             " sheet.textContent = (spacing ? '#TXT br { display: block; content: \"\";"
                             "   margin-bottom: ' + spacing + 'em; }' : '') + (marked ? ' #Content_Txt ::selection {"
                             "   background-color: ' + marked + '; color: ' + markedText + '; }' : '');"
                             "})(") +
              jsString(m_style.background) + u',' + jsString(m_style.color) + u',' + jsString(fontSize) + u',' +
              jsString(look.fontFamily) + u',' +
              jsString(look == ReadingLook{} ? QString() : QString::number(look.lineHeight)) + u',' +
              QString::number(look.paragraphSpacing) + u',' +
              jsString(look == ReadingLook{} ? QString() : QString::number(look.pageWidth) + QStringLiteral("em")) +
              u',' + (look.keepIndent ? QStringLiteral("true") : QStringLiteral("false")) + u',' + jsString(marked) +
              u',' + jsString(markedText) + u')');
}

void ReadingView::runScript(const QString &script)
{
    m_script->run(script);
}

void ReadingView::openFindBar()
{
    m_findBar->openBar();
}

void ReadingView::closeFindBar()
{
    m_findBar->closeBar();
}

bool ReadingView::findBarVisible() const
{
    return m_findBar->isVisibleTo(const_cast<ReadingView *>(this));
}

void ReadingView::findNext(bool backward)
{
    m_findBar->findNext(backward);
}

QWidget *ReadingView::findBar() const
{
    return m_findBar;
}

QLineEdit *ReadingView::findBox() const
{
    return m_findBar->box();
}

QLabel *ReadingView::findStatus() const
{
    return m_findBar->status();
}

bool ReadingView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_web && event->type() == QEvent::ChildAdded) {
        if (QObject *child = static_cast<QChildEvent *>(event)->child(); child->isWidgetType())
            child->installEventFilter(this);
    } else if (watched != m_web && watched->parent() == m_web) {
        if (event->type() == QEvent::Wheel) {
            const auto *wheel = static_cast<QWheelEvent *>(event);
            if (wheel->modifiers().testFlag(Qt::ControlModifier)) {
                m_wheelZoom += wheel->angleDelta().y();
                const int steps = m_wheelZoom / QWheelEvent::DefaultDeltasPerStep;
                m_wheelZoom -= steps * QWheelEvent::DefaultDeltasPerStep;
                if (steps != 0)
                    zoomText(steps);
                return true;
            }
        } else if (event->type() == QEvent::NativeGesture &&
                   static_cast<QNativeGestureEvent *>(event)->gestureType() == Qt::ZoomNativeGesture) {
            return true; // a pinch would zoom the web view itself
        }
    }
    return QWidget::eventFilter(watched, event);
}

