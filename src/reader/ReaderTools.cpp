#include "reader/ReaderTools.h"

#include "library/LibraryDb.h"
#include "library/LocalBookFiles.h"
#include "platform/Prompter.h"
#include "platform/SpeechEngine.h"
#include "platform/WindowPlacement.h"
#include "reader/BookSearchPanel.h"
#include "reader/ChapterRulesWindow.h"
#include "reader/ReaderCommands.h"
#include "reader/ReaderPage.h"
#include "reader/ReaderPane.h"
#include "reader/ReadingView.h"
#include "reader/ResumeBar.h"
#include "reader/VoiceController.h"
#include "settings/TextRulesWindow.h"
#include "text/TextRules.h"

#include <QActionGroup>
#include <QFileInfo>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QShortcut>
#include <QToolButton>

#include <algorithm>

namespace {

// How a book is read is kept in the Options table under the book's path.
QString readingOptionName(const QString &path)
{
    return BookOptionName(u"BookReading", path);
}

// The script a book is shown in, beside how it is read.
QString conversionOptionName(const QString &path)
{
    return BookOptionName(u"BookScript", path);
}

const struct
{
    const char *objectName;
    const char *caption;
    ScriptConversion conversion;
} ConversionItems[] = {{"Menue_ScriptOriginal", "原文", ScriptConversion::None},
                       {"Menue_ScriptSimplified", "转为简体", ScriptConversion::ToSimplified},
                       {"Menue_ScriptTraditional", "转为繁体", ScriptConversion::ToTraditional}};

// The encoding items, by the name each stands for; the empty name is detection.
const struct
{
    const char *objectName;
    const char *caption;
    const char *encoding;
} EncodingItems[] = {{"Menue_EncodingAuto", "自动识别编码", ""},
                     {"Menue_EncodingGB18030", "以 GB18030 重新打开", "GB18030"},
                     {"Menue_EncodingUTF8", "以 UTF-8 重新打开", "UTF-8"},
                     {"Menue_EncodingUTF16", "以 UTF-16 重新打开", "UTF-16"},
                     {"Menue_EncodingBig5", "以 Big5 重新打开", "Big5"}};

} // namespace

ReaderTools::ReaderTools(ReaderPane &pane, ReaderPage &page, ReadingView *view, LibraryDb &db)
    : QObject(&pane), m_pane(pane), m_page(page), m_view(view), m_db(db)
{
    m_smartBar = new ResumeBar(QStringLiteral("智能分章"), QStringLiteral("按句子分段，在长行中找出章节"), m_view);
    m_smartBar->setObjectName(QStringLiteral("SmartChaptersBar"));
    m_view->insertAbovePage(m_smartBar);
    connect(m_smartBar, &ResumeBar::resumeRequested, this, [this] { setSmartChapters(true); });

    m_search = new BookSearchPanel(m_view);
    m_view->insertBelowPage(m_search);
    m_view->addToFindBar(m_search->wholeBookSwitch());
    connect(m_view->findBox(), &QLineEdit::textChanged, m_search, &BookSearchPanel::search);
    connect(m_search->wholeBookSwitch(), &QToolButton::toggled, this, [this](bool on) {
        if (on)
            m_search->search(m_view->findBox()->text());
    });
    connect(m_view, &ReadingView::findBarClosed, m_search->wholeBookSwitch(),
            [this] { m_search->wholeBookSwitch()->setChecked(false); });
    connect(m_search, &BookSearchPanel::hitChosen, &m_page, &ReaderPage::showHit);
    connect(m_view, &ReadingView::pageScrolled, this, [this](double top) { m_scrolledTo = top; });
    connect(&m_page, &ReaderPage::textShown, this, [this](int, double scroll) { m_scrolledTo = scroll; });

    connect(&m_page, &ReaderPage::chapterShown, this, [this] {
        if (std::exchange(m_readOnPending, false) && m_voice)
            m_voice->readClicked();
    });

    // Only a library where the rules window was opened has rules; any other reads as it always did.
    const auto cleaner = [this](const QString &path) { return textCleaner(path); };
    m_page.setTextCleanerSource(cleaner);
    m_search->setTextCleanerSource(cleaner);
    connect(&m_page, &ReaderPage::textRulesStopped, this, [this](const QStringList &names) {
        QStringList fresh;
        for (const QString &name : names) {
            if (!m_reportedStops.contains(name))
                fresh.append(name);
        }
        if (fresh.isEmpty())
            return;
        m_reportedStops += fresh;
        m_page.prompter().message(
            QStringLiteral("净化规则“%1”匹配太慢，已停止，这条规则没有用在本章。请在“净化规则”中修改或关闭它。")
                .arg(fresh.join(QStringLiteral("”、“"))),
            Prompter::Icon::Exclamation, QStringLiteral("净化规则"));
    });
}

void ReaderTools::addCommands(QToolBar *toolbar)
{
    m_commands = new ReaderCommands(m_pane, toolbar);
    connect(m_commands, &ReaderCommands::readFromHereRequested, this, [this] {
        if (m_voice)
            m_voice->readFromChosenPlace();
    });
    addReadingModeItems();
    connect(m_view, &ReadingView::contextMenuRequested, readingMenu(),
            [this](const QPoint &globalPos) { readingMenu()->popup(globalPos); });

    // Ctrl+F wherever the focus is inside the pane, the page included.
    auto *find = new QShortcut(QKeySequence::Find, &m_pane);
    find->setContext(Qt::WidgetWithChildrenShortcut);
    connect(find, &QShortcut::activated, &m_pane, &ReaderPane::openFind);
}

void ReaderTools::openFind()
{
    m_view->openFindBar();
}

// ---- How the book is read

void ReaderTools::addReadingModeItems()
{
    readingMenu()->addSeparator();
    QAction *smart = readingMenu()->addAction(QStringLiteral("智能分章"));
    smart->setObjectName(QStringLiteral("Menue_SmartChapters"));
    smart->setCheckable(true);
    smart->setToolTip(QStringLiteral("按句子把很长的行分成段落，在长行中找出章节，去掉目录页和误认的章节（只对本书）"));
    connect(smart, &QAction::triggered, &m_pane, &ReaderPane::setSmartChapters);
    AddChapterRuleMenu(
        readingMenu(), m_db, [this] { return m_page.reading().rule; },
        [this](const QString &rule) { setChapterRule(rule); }, [this] { ShowCentred(chapterRulesWindow()); });

    m_encodingMenu = readingMenu()->addMenu(QStringLiteral("文字编码"));
    m_encodingMenu->setObjectName(QStringLiteral("Menue_Encoding"));
    auto *group = new QActionGroup(m_encodingMenu);
    for (const auto &item : EncodingItems) {
        QAction *a = m_encodingMenu->addAction(QString::fromUtf8(item.caption));
        a->setObjectName(QString::fromLatin1(item.objectName));
        a->setCheckable(true);
        group->addAction(a);
        const QString name = QString::fromLatin1(item.encoding);
        connect(a, &QAction::triggered, this,
                [this, name] { setBookEncoding(name.isEmpty() ? std::nullopt : EncodingFromName(name)); });
    }
    readingMenuItem(QStringLiteral("Menue_EncodingAuto"))->setChecked(true);
    addConversionItems();

    readingMenu()->addSeparator();
    QAction *rules = readingMenu()->addAction(QStringLiteral("净化规则..."));
    rules->setObjectName(QStringLiteral("Menue_TextRules"));
    rules->setToolTip(QStringLiteral("去掉或替换正文中的广告、网址等文字（只改变显示和朗读，不改动文件）"));
    connect(rules, &QAction::triggered, this, &ReaderTools::openTextRules);
}

// ---- 繁简转换

void ReaderTools::addConversionItems()
{
    m_conversionMenu = readingMenu()->addMenu(QStringLiteral("繁简转换"));
    m_conversionMenu->setObjectName(QStringLiteral("Menue_Script"));
    m_conversionMenu->setToolTipsVisible(true);
    m_conversionMenu->menuAction()->setToolTip(QStringLiteral("把本书显示为简体或繁体（只改显示和朗读，不改文件）"));
    auto *group = new QActionGroup(m_conversionMenu);
    for (const auto &item : ConversionItems) {
        QAction *a = m_conversionMenu->addAction(QString::fromUtf8(item.caption));
        a->setObjectName(QString::fromLatin1(item.objectName));
        a->setCheckable(true);
        group->addAction(a);
        connect(a, &QAction::triggered, this, [this, c = item.conversion] { setConversion(c); });
    }
    readingMenuItem(QStringLiteral("Menue_ScriptOriginal"))->setChecked(true);
    // Built without the conversion tables, the program shows every book as it stands.
    m_conversionMenu->menuAction()->setVisible(ScriptConversionAvailable());
}

ScriptConversion ReaderTools::storedConversion(const QString &path) const
{
    if (!ScriptConversionAvailable())
        return ScriptConversion::None;
    return ScriptConversionFromName(m_db.option(conversionOptionName(path)));
}

void ReaderTools::setConversion(ScriptConversion conversion)
{
    const QString path = m_page.path();
    if (path.isEmpty()) {
        applyConversion(ScriptConversion::None);
        return;
    }
    m_db.setOption(conversionOptionName(path), ScriptConversionName(conversion));
    applyConversion(conversion);
    if (m_page.shown() >= 1)
        m_page.showAt(m_page.shown(), m_scrolledTo);
}

void ReaderTools::applyConversion(ScriptConversion conversion)
{
    for (const auto &item : ConversionItems)
        readingMenuItem(QString::fromLatin1(item.objectName))->setChecked(item.conversion == conversion);
    m_page.setConversion(conversion);
    m_search->setConversion(conversion);
}

// ---- 净化规则

TextRulesWindow *ReaderTools::openTextRules()
{
    // One window at a time, for the book on the page now.
    delete m_pane.findChild<TextRulesWindow *>(QString(), Qt::FindDirectChildrenOnly);
    auto *window = new TextRulesWindow(m_db, m_page.prompter(), m_page.path(), &m_pane);
    window->setAttribute(Qt::WA_DeleteOnClose);
    connect(window, &TextRulesWindow::rulesChanged, this, &ReaderTools::applyTextRules);
    ShowCentred(window);
    return window;
}

void ReaderTools::applyTextRules()
{
    m_page.reloadTextCleaner();
    if (m_page.shown() >= 1) {
        m_page.select(m_page.shown());
        m_page.showSelected();
    }
    m_search->search(m_view->findBox()->text());
}

std::shared_ptr<const TextCleaner> ReaderTools::textCleaner(const QString &path)
{
    // The library keeps the rules once read; only a change to them, or another book, makes the
    // expressions again.
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QList<TextRule> rules = m_db.textRules(false);
    if (!m_cleaner.made || m_cleaner.path != absolute || m_cleaner.rules != rules) {
        auto cleaner = std::make_shared<const TextCleaner>(rules, absolute);
        m_cleaner = {true, absolute, std::move(rules), cleaner->isEmpty() ? nullptr : std::move(cleaner)};
    }
    return m_cleaner.cleaner;
}

BookReading ReaderTools::storedReading(const QString &path) const
{
    return BookReading::fromText(m_db.option(readingOptionName(path)));
}

void ReaderTools::setSmartChapters(bool on)
{
    BookReading reading = m_page.reading();
    reading.smart = on;
    m_skipEmptyFirst = on;
    reopenWith(reading);
}

void ReaderTools::setBookEncoding(std::optional<TextEncoding> encoding)
{
    BookReading reading = m_page.reading();
    reading.encoding = encoding;
    reopenWith(reading);
}

void ReaderTools::setChapterRule(const QString &expression)
{
    BookReading reading = m_page.reading();
    reading.rule = expression;
    reopenWith(reading);
}

ChapterRulesWindow *ReaderTools::chapterRulesWindow()
{
    if (!m_rulesWindow) {
        m_rulesWindow = new ChapterRulesWindow(m_db, m_pane.prompter(), &m_pane);
        connect(m_rulesWindow, &ChapterRulesWindow::ruleChosen, this, &ReaderTools::setChapterRule);
    }
    m_rulesWindow->setBook(m_page.path(), m_page.reading());
    return m_rulesWindow;
}

void ReaderTools::reopenWith(const BookReading &reading)
{
    const QString path = m_page.path();
    if (path.isEmpty()) {
        showReadingMode({});
        return;
    }
    m_db.setOption(readingOptionName(path), reading.toText());
    const QList<ChapterEntry> &entries = m_page.entries();
    const int shown = m_page.shown();
    m_pane.openBook(path, shown >= 1 && shown <= entries.size() ? entries.at(shown - 1).title : QString());
}

void ReaderTools::showReadingMode(const ChapterList &list)
{
    const BookReading &reading = list.reading;
    readingMenuItem(QStringLiteral("Menue_SmartChapters"))->setChecked(reading.smart);
    if (m_rulesWindow && !list.path.isEmpty())
        m_rulesWindow->setBook(list.path, reading); // the preview follows the book on the page
    const QString chosen = reading.encoding ? EncodingName(*reading.encoding) : QString();
    for (const auto &item : EncodingItems) {
        const QString name = QString::fromLatin1(item.encoding);
        const bool utf16 = name == u"UTF-16" && chosen.startsWith(u"UTF-16");
        readingMenuItem(QString::fromLatin1(item.objectName))->setChecked(name == chosen || utf16);
    }
    applyConversion(storedConversion(list.path));
    if (list.smartWouldHelp)
        m_smartBar->offer(
            QStringLiteral("这本书只找到一章，而且有很长的行。“智能分章”可以按句子分段，并在长行中找出章节。"));
    else
        m_smartBar->hide();
}

// ---- Reading aloud

void ReaderTools::setSpeechEngine(SpeechEngine *engine)
{
    disconnect(m_engineGone);
    delete m_voice; // before its panel: it watches the voice list
    m_voice = nullptr;
    delete m_voicePanel;
    m_voicePanel = nullptr;

    for (int position : {ReaderPane::ReadAloudTool, ReaderPane::StopReadingTool, ReaderPane::VoicePanelTool}) {
        // Enabled before the controller takes the buttons over: a change of the action resets
        // its button's text, picture and tip, which carry the reading state from then on.
        toolAction(position)->setEnabled(engine != nullptr);
        toolButton(position)->setDefaultAction(toolAction(position));
    }
    readingMenuItem(QStringLiteral("Menue_ReadFromHere"))->setEnabled(engine != nullptr);
    if (!engine)
        return;

    // Above the page rather than over it, so that it never hides the text being read.
    const VoiceController::VoicePanel panel = VoiceController::createVoicePanel(m_view);
    m_voicePanel = panel.panel;
    m_view->insertAbovePage(m_voicePanel);
    m_view->layout()->setAlignment(m_voicePanel, Qt::AlignLeft);

    VoiceController::Page page;
    page.contentText = [view = m_view](std::function<void(const QString &)> reply) {
        view->contentText(std::move(reply));
    };
    page.highlight = [view = m_view](int start, int length) { view->highlightContent(start, length); };
    page.chosenPlace = [view = m_view](std::function<void(const QString &, int)> reply) {
        view->chosenReadingPlace(std::move(reply));
    };
    m_voice = new VoiceController(engine,
                                  {toolButton(ReaderPane::ReadAloudTool), toolButton(ReaderPane::StopReadingTool),
                                   toolButton(ReaderPane::VoicePanelTool), panel.panel, panel.voiceList},
                                  std::move(page), &m_pane);
    m_voice->attachOptions(panel, VoiceOptions::fromText(m_db.option(LibraryDb::voiceOptionsOption())));
    connect(m_voice, &VoiceController::optionsChanged, this,
            [this](const VoiceOptions &options) { m_db.setOption(LibraryDb::voiceOptionsOption(), options.toText()); });
    connect(m_voice, &VoiceController::finishedReading, this, &ReaderTools::readOnIntoNextChapter);
    m_engineGone = connect(engine, &QObject::destroyed, this, [this] { setSpeechEngine(nullptr); });
}

void ReaderTools::readOnIntoNextChapter()
{
    // The last chapter read to its end ends the reading, without the last-chapter message.
    const int next = m_page.shown() + 1;
    if (next < 2 || next > m_page.entries().size())
        return;
    m_readOnPending = true;
    m_page.select(next);
    m_page.showSelected();
}
