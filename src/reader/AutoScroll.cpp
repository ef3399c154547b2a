#include "reader/AutoScroll.h"

#include "library/LibraryDb.h"
#include "reader/ReaderPane.h"
#include "reader/ReadingStatus.h"
#include "reader/ReadingView.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QShortcut>
#include <QWebEngineView>

#include <algorithm>

AutoScroll::AutoScroll(ReaderPane &pane, ReadingView *view, LibraryDb &db)
    : QObject(&pane), m_pane(pane), m_view(view), m_db(db)
{
    bool ok = false;
    const int kept = m_db.option(speedOption()).toInt(&ok);
    m_speed = ok ? std::clamp(kept, int(MinSpeed), int(MaxSpeed)) : int(DefaultSpeed);

    m_action = new QAction(QStringLiteral("自动翻页"), this);
    m_action->setObjectName(QStringLiteral("Menue_AutoScroll"));
    m_action->setCheckable(true);
    m_action->setToolTip(QStringLiteral("自动翻页 (F9)：空格暂停/继续，+/- 调整速度，滚动或按其他键停止"));
    connect(m_action, &QAction::triggered, this, [this](bool on) { on ? start() : stop(); });

    auto *shortcut = new QShortcut(key(), &pane);
    shortcut->setContext(Qt::WidgetWithChildrenShortcut);
    connect(shortcut, &QShortcut::activated, this, &AutoScroll::toggle);

    connect(m_view, &ReadingView::keyPressedInPage, this, &AutoScroll::onPageKey);
    // The chapter whose text the page is scrolling; the chapter list moves on to the next one as
    // soon as the page asks for it, before this hears the same request.
    connect(&pane, &ReaderPane::chapterShown, this, [this](int position) { m_onPage = position; });
    // A reloaded page starts without it.
    connect(m_view, &ReadingView::pageReady, this, [this] {
        if (m_running)
            tellPage();
    });
}

AutoScroll::~AutoScroll()
{
    qApp->removeEventFilter(this);
}

void AutoScroll::addTo(QMenu *menu)
{
    menu->addSeparator();
    m_action->setParent(menu); // found by name among the menu's items
    menu->addAction(m_action);
}

void AutoScroll::start()
{
    if (m_running || m_pane.chapters().isEmpty()) {
        m_action->setChecked(m_running);
        return;
    }
    m_running = true;
    m_paused = false;
    m_action->setChecked(true);
    qApp->installEventFilter(this);
    tellPage();
    note(QStringLiteral("自动翻页：每分钟 %1 行（空格暂停，+/- 调整速度，按其他键停止）").arg(m_speed));
}

void AutoScroll::stop()
{
    stop(QStringLiteral("自动翻页已停止"));
}

void AutoScroll::stop(const QString &why)
{
    if (!m_running)
        return;
    m_running = false;
    m_paused = false;
    m_action->setChecked(false);
    qApp->removeEventFilter(this);
    tellPage();
    note(why);
}

void AutoScroll::toggle()
{
    m_running ? stop() : start();
}

void AutoScroll::togglePause()
{
    if (!m_running)
        return;
    m_paused = !m_paused;
    tellPage();
    note(m_paused ? QStringLiteral("自动翻页已暂停（空格继续）") : QStringLiteral("自动翻页：继续"));
}

void AutoScroll::setSpeed(int linesPerMinute)
{
    const int speed = std::clamp(linesPerMinute, int(MinSpeed), int(MaxSpeed));
    if (speed == m_speed)
        return;
    m_speed = speed;
    m_db.setOption(speedOption(), QString::number(speed));
    if (m_running) {
        tellPage();
        note(QStringLiteral("自动翻页：每分钟 %1 行").arg(speed));
    }
}

void AutoScroll::tellPage()
{
    m_view->setAutoScroll(m_running, m_paused, m_speed);
}

void AutoScroll::note(const QString &text)
{
    if (ReadingStatus *status = m_pane.readingStatus())
        status->showNote(text);
}

void AutoScroll::onPageKey(int keyCode)
{
    // The page asks for the next chapter at the end of one; after the last there is none.
    if (m_running && keyCode == 34 && m_onPage >= m_pane.chapters().size())
        stop(QStringLiteral("自动翻页已停止：已到全书末尾"));
}

bool AutoScroll::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::ShortcutOverride && type != QEvent::KeyPress && type != QEvent::Wheel &&
        type != QEvent::MouseButtonPress)
        return false;
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || !m_pane.isAncestorOf(widget))
        return false;
    QWebEngineView *web = m_view->webView();
    const bool onPage = widget == web || web->isAncestorOf(widget);
    if (type == QEvent::Wheel) {
        stop();
        return false;
    }
    if (type == QEvent::MouseButtonPress) {
        // The right button brings the reading menu, where the item stops it.
        if (onPage && static_cast<QMouseEvent *>(event)->button() != Qt::RightButton)
            stop();
        return false;
    }
    const auto *key = static_cast<QKeyEvent *>(event);
    switch (key->key()) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_Meta:
    case Qt::Key_AltGr:
        return false;
    default:
        break;
    }
    if (QKeySequence(key->keyCombination()) == AutoScroll::key())
        return false; // its own key stops it through the shortcut
    const Qt::KeyboardModifiers mods = key->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
    const int k = key->key();
    if (onPage && mods == Qt::NoModifier &&
        (k == Qt::Key_Space || k == Qt::Key_Plus || k == Qt::Key_Equal || k == Qt::Key_Minus)) {
        event->accept();
        if (type == QEvent::KeyPress && !(k == Qt::Key_Space && key->isAutoRepeat())) {
            if (k == Qt::Key_Space)
                togglePause();
            else
                setSpeed(m_speed + (k == Qt::Key_Minus ? -SpeedStep : SpeedStep));
        }
        return true;
    }
    stop();
    return false;
}
