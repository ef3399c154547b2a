#include "ReaderGuiSupport.h"
#include "ScriptedPrompter.h"
#include "library/LibraryDb.h"
#include "platform/SpeechEngine.h"
#include "reader/VoiceController.h"

#include <QTemporaryDir>
#include <QToolButton>

using namespace ReaderGui;

namespace {

const QString Start = QStringLiteral("开始朗读");
const QString Pause = QStringLiteral("暂停朗读");
const QString Continue = QStringLiteral("继续朗读");

} // namespace

// Reading aloud from a real reading pane and page, with speech synthesized in real time and
// played silently. The button states and an empty page are the controller's, in
// tst_voicecontroller; here the text the page gives and the highlight it shows.
class TestReaderVoice : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    LibraryDb m_db;
    ScriptedPrompter m_prompter;
    std::unique_ptr<ReaderPane> m_reader;
    std::unique_ptr<SpeechEngine> m_engine;
    QList<QPair<int, int>> m_words; // (position, length) in the spoken text

    QToolButton *button(int position) const { return m_reader->toolButton(position); }
    QString state() const { return button(ReaderPane::ReadAloudTool)->toolTip(); }
    void click(int position) { QTest::mouseClick(button(position), Qt::LeftButton); }
    QString page(const QString &script) { return js(m_reader->readingView()->webView(), script).toString(); }

    // Opens `lines` as a book (line 0 is its title); entry 1 is shown first.
    void show(const QString &name, const QStringList &lines, int position, const QString &html)
    {
        QVERIFY(writeBook(m_dir.filePath(name), lines) && m_reader->openBook(m_dir.filePath(name)));
        QTRY_VERIFY_WITH_TIMEOUT(!m_reader->isOpening() && m_reader->shownChapter() == 1, 15000);
        m_reader->selectChapter(position);
        m_reader->ListView2_dblClick();
        QVERIFY(waitShown(m_reader.get(), position, html));
    }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("FOLIOWAY_SILENT_AUDIO", "1");
        QVERIFY(m_db.open(m_dir.filePath(QStringLiteral("DataFile/Data.db"))));
        m_reader = std::make_unique<ReaderPane>(m_db, m_prompter);
        m_reader->resize(900, 600);
        m_reader->show();
        m_reader->loadReadingPage(m_dir.path());
        QTRY_VERIFY_WITH_TIMEOUT(m_reader->readingView()->isPageReady(), 60000);

        for (int position : {ReaderPane::ReadAloudTool, ReaderPane::StopReadingTool, ReaderPane::VoicePanelTool})
            QVERIFY(!m_reader->toolAction(position)->isEnabled());
        m_engine = SpeechEngine::create();
        if (m_engine->voices().isEmpty())
            QSKIP("no speech voices on this machine");
        m_reader->setSpeechEngine(m_engine.get());
        for (int position : {ReaderPane::ReadAloudTool, ReaderPane::StopReadingTool, ReaderPane::VoicePanelTool})
            QVERIFY(button(position)->isEnabled());
        QCOMPARE(state(), Start);
        connect(m_engine.get(), &SpeechEngine::word, this, [this](int, int at, int length) {
            m_words.append({at, length});
        });
    }
    void init() { m_words.clear(); }
    void cleanup()
    {
        m_reader->readingView()->setSnippets({}, {}, {});
        if (state() != Start)
            click(ReaderPane::StopReadingTool);
        QTRY_COMPARE_WITH_TIMEOUT(state(), Start, 5000);
    }
    void cleanupTestCase()
    {
        m_engine.reset(); // the pane lets go of it and disables the buttons
        QVERIFY(!button(ReaderPane::ReadAloudTool)->isEnabled() && !m_reader->voicePanel());
    }

    // With the reading paused on a word, the page's selection is that word of the spoken text:
    // the page's markup, collapsed spaces and the server's snippet are all in between.
    void highlightIsTheSpokenWord()
    {
        const QString before = QStringLiteral("<p class=\"before\">卷首</p>");
        m_reader->readingView()->setSnippets({}, before, {});
        const QStringList lines{QStringLiteral("书名"), QStringLiteral("第一章 诗"),
                                QStringLiteral("   白日<b>依山</b>尽，  黄河入海流。"),
                                QStringLiteral("<p>欲穷千里目，</p>更上一层楼。")};
        show(QStringLiteral("poem.txt"), lines, 2, before + linesHtml(lines, 1, 3));

        const QString pageText = page(QStringLiteral("document.getElementById('Content').innerText")).remove(u'\r');
        QVERIFY2(pageText.startsWith(QStringLiteral("　　\n")), qPrintable(pageText)); // the indent, then the snippet
        const QString spoken = pageText.mid(VoiceController::LeadLength);
        const int fromAt = int(spoken.indexOf(QStringLiteral("千里")));
        QVERIFY(fromAt > 0);

        click(ReaderPane::ReadAloudTool);
        QCOMPARE(state(), Pause);
        QTRY_VERIFY_WITH_TIMEOUT(!m_words.isEmpty() && m_words.last().first >= fromAt, 30000);
        click(ReaderPane::ReadAloudTool);
        QCOMPARE(state(), Continue);
        QTest::qWait(300); // the last highlight reaches the page
        const auto [at, length] = m_words.last();
        QVERIFY(length > 0);
        QCOMPARE(page(QStringLiteral("getSelection().toString()")), spoken.mid(at, length));

        // The menu item has nothing to do with the reading.
        m_reader->readingMenuItem(QStringLiteral("Menue_VoiceRead"))->trigger();
        QCOMPARE(state(), Continue);
    }
};

QTEST_MAIN(TestReaderVoice)
#include "tst_readervoice.moc"
