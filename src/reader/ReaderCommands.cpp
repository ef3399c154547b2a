#include "reader/ReaderCommands.h"

#include "reader/ReaderPage.h"
#include "reader/ReaderPane.h"

#include <QColor>
#include <QIcon>
#include <QMenu>
#include <QPainterPath>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>

namespace {

QIcon bookmarkIcon()
{
    QPainterPath ribbon;
    ribbon.moveTo(4, 1);
    ribbon.lineTo(12, 1);
    ribbon.lineTo(12, 15);
    ribbon.lineTo(8, 11);
    ribbon.lineTo(4, 15);
    ribbon.closeSubpath();
    return DrawnReaderIcon(ribbon, QColor(0xC6, 0x28, 0x28));
}

} // namespace

ReaderCommands::ReaderCommands(ReaderPane &pane, QToolBar *toolbar)
    : QObject(&pane), m_pane(pane), m_toolbar(toolbar), m_toolActions(ReaderPane::ToolCount)
{
    addToolbarActions();
    addReadingMenu();
}

void ReaderCommands::addToolbarActions()
{
    QStyle *s = m_pane.style();
    ReaderPane *pane = &m_pane;
    auto add = [this](int position, const QIcon &icon, const QString &text, const QString &tip) {
        QAction *a = m_toolbar->addAction(icon, text);
        a->setToolTip(tip);
        m_toolActions[position - 1] = a;
        return a;
    };
    auto separator = [this](int position) { m_toolActions[position - 1] = m_toolbar->addSeparator(); };

    connect(add(ReaderPane::OpenTool, s->standardIcon(QStyle::SP_DialogOpenButton), QStringLiteral("打开"),
                QStringLiteral("打开电子书 (Ctrl+O)")),
            &QAction::triggered, pane, &ReaderPane::OpenFile);
    separator(2);

    m_bookmarkMenu = new QMenu(QStringLiteral("书签"), pane);
    m_bookmarkMenu->setObjectName(QStringLiteral("BookmarkMenu"));
    connect(m_bookmarkMenu->addAction(QStringLiteral("添加书签")), &QAction::triggered, pane,
            &ReaderPane::insertBookmark);
    m_bookmarkMenu->addSeparator();
    connect(m_bookmarkMenu->addAction(QStringLiteral("跳转到书签")), &QAction::triggered, pane,
            &ReaderPane::gotoBookmark);
    // After the bookmark's own items: the book's list of every bookmark set.
    m_bookmarkMenu->addSeparator();
    QAction *withNote = m_bookmarkMenu->addAction(QStringLiteral("添加书签…"));
    withNote->setObjectName(QStringLiteral("Menue_InsertSQNote"));
    withNote->setToolTip(QStringLiteral("添加书签并写下备注"));
    connect(withNote, &QAction::triggered, pane, &ReaderPane::insertBookmarkWithNote);
    QAction *list = m_bookmarkMenu->addAction(QStringLiteral("书签列表"));
    list->setObjectName(QStringLiteral("Menue_BookmarkList"));
    list->setToolTip(QStringLiteral("本书的全部书签：单击跳转，可写备注、删除"));
    connect(list, &QAction::triggered, pane, &ReaderPane::showBookmarkList);
    m_bookmarkMenu->setToolTipsVisible(true);
    auto *bookmarkButton = new QToolButton(m_toolbar);
    bookmarkButton->setIcon(bookmarkIcon());
    bookmarkButton->setText(QStringLiteral("书签"));
    bookmarkButton->setToolTip(QStringLiteral("书签 (Ctrl+D 添加书签)"));
    bookmarkButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    bookmarkButton->setMenu(m_bookmarkMenu);
    // A click on the button itself opens the menu, not only its arrow.
    bookmarkButton->setPopupMode(QToolButton::InstantPopup);
    m_toolActions[ReaderPane::BookmarkTool - 1] = m_toolbar->addWidget(bookmarkButton);

    connect(add(ReaderPane::FindTool,
                QIcon::fromTheme(QStringLiteral("edit-find"), s->standardIcon(QStyle::SP_FileDialogContentsView)),
                QStringLiteral("查找"), QStringLiteral("查找内容 (Ctrl+F)")),
            &QAction::triggered, pane, &ReaderPane::openFind);
    separator(5);
    connect(add(ReaderPane::FirstChapterTool, s->standardIcon(QStyle::SP_MediaSkipBackward), QStringLiteral("首章"),
                QStringLiteral("第一章")),
            &QAction::triggered, pane, &ReaderPane::firstChapter);
    connect(add(ReaderPane::PreviousChapterTool, s->standardIcon(QStyle::SP_ArrowBack), QStringLiteral("上一章"),
                QStringLiteral("上一章 (←；在章首按 PageUp 到上一章的末尾)")),
            &QAction::triggered, pane, [pane] { pane->keyNavigation(37); });
    connect(add(ReaderPane::NextChapterTool, s->standardIcon(QStyle::SP_ArrowForward), QStringLiteral("下一章"),
                QStringLiteral("下一章 (→；在章末按 PageDown 或空格进入下一章；Home/End 到本章开头/结尾)")),
            &QAction::triggered, pane, [pane] { pane->keyNavigation(39); });
    connect(add(ReaderPane::LastChapterTool, s->standardIcon(QStyle::SP_MediaSkipForward), QStringLiteral("末章"),
                QStringLiteral("最后一章")),
            &QAction::triggered, pane, &ReaderPane::lastChapter);
    separator(10);
    // Disabled until setSpeechEngine() gives them an engine.
    add(ReaderPane::ReadAloudTool, s->standardIcon(QStyle::SP_MediaPlay), QStringLiteral("朗读"),
        QStringLiteral("开始朗读"));
    add(ReaderPane::StopReadingTool, s->standardIcon(QStyle::SP_MediaStop), QStringLiteral("停止"),
        QStringLiteral("停止朗读"));
    add(ReaderPane::VoicePanelTool, s->standardIcon(QStyle::SP_MediaVolume), QStringLiteral("语音"),
        QStringLiteral("显示/隐藏语音面板"));
    for (int position : {ReaderPane::ReadAloudTool, ReaderPane::StopReadingTool, ReaderPane::VoicePanelTool})
        toolAction(position)->setEnabled(false);
}

void ReaderCommands::addReadingMenu()
{
    ReaderPane *pane = &m_pane;
    m_readingMenu = new QMenu(QStringLiteral("阅读操作"), pane);
    m_readingMenu->setObjectName(QStringLiteral("Menue_ReadPage"));
    const struct
    {
        const char *name;
        const char *caption;
    } items[] = {{"Menue_VoiceRead", "语音朗读"},
                 {"Menue_InsertSQ", "添加书签"},
                 {"Menue_GotoSQ", "跳转到书签"},
                 {"Menue_Find", "查找内容"},
                 {"ShareThisBook", "共享本书到网络"}};
    bool first = true;
    for (const auto &it : items) {
        if (!first)
            m_readingMenu->addSeparator();
        first = false;
        m_readingMenu->addAction(QString::fromUtf8(it.caption))->setObjectName(QString::fromLatin1(it.name));
    }
    connect(readingMenuItem(QStringLiteral("Menue_VoiceRead")), &QAction::triggered, pane,
            &ReaderPane::voiceReadRequested);
    connect(readingMenuItem(QStringLiteral("Menue_InsertSQ")), &QAction::triggered, pane, &ReaderPane::insertBookmark);
    connect(readingMenuItem(QStringLiteral("Menue_GotoSQ")), &QAction::triggered, pane, &ReaderPane::gotoBookmark);
    connect(readingMenuItem(QStringLiteral("Menue_Find")), &QAction::triggered, pane, &ReaderPane::openFind);
    connect(readingMenuItem(QStringLiteral("ShareThisBook")), &QAction::triggered, pane,
            [pane] { Q_EMIT pane->shareRequested(pane->currentBookPath()); });

    // Added after the items above; each command's key is in its tool tip.
    m_readingMenu->setToolTipsVisible(true);
    readingMenuItem(QStringLiteral("Menue_InsertSQ"))->setToolTip(QStringLiteral("添加书签 (Ctrl+D)"));
    readingMenuItem(QStringLiteral("Menue_Find"))
        ->setToolTip(QStringLiteral("查找内容 (Ctrl+F)，勾选“全书”可查找整本书"));
    m_readingMenu->addSeparator();
    QAction *readHere = m_readingMenu->addAction(QStringLiteral("从这里开始朗读"));
    readHere->setObjectName(QStringLiteral("Menue_ReadFromHere"));
    readHere->setToolTip(QStringLiteral("从右击处或选中的文字开始朗读"));
    readHere->setEnabled(false); // until there is a speech engine
    connect(readHere, &QAction::triggered, this, &ReaderCommands::readFromHereRequested);
    QAction *jump = m_readingMenu->addAction(QStringLiteral("转到章节..."));
    jump->setObjectName(QStringLiteral("Menue_GotoChapter"));
    jump->setToolTip(QStringLiteral("转到章节 (Ctrl+G)：输入章节名称中的字筛选章节"));
    connect(jump, &QAction::triggered, pane, &ReaderPane::openChapterJump);
    QAction *full = m_readingMenu->addAction(QStringLiteral("全屏阅读"));
    full->setObjectName(QStringLiteral("Menue_FullScreen"));
    full->setToolTip(QStringLiteral("全屏阅读 (F11，Esc 退出)"));
    connect(full, &QAction::triggered, pane, [pane] { Q_EMIT pane->fullScreenRequested(!pane->isFullScreen()); });
}

QToolButton *ReaderCommands::toolButton(int position) const
{
    return qobject_cast<QToolButton *>(m_toolbar->widgetForAction(toolAction(position)));
}

QAction *ReaderCommands::readingMenuItem(const QString &name) const
{
    return m_readingMenu->findChild<QAction *>(name);
}
