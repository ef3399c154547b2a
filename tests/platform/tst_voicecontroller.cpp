#include "platform/SpeechAudioOutput.h"
#include "platform/SpeechEspeakEngine.h"
#include "reader/VoiceController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QSlider>
#include <QFocusEvent>
#include <QToolButton>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QString Start = u"开始朗读"_s;
const QString Pause = u"暂停朗读"_s;
const QString Continue = u"继续朗读"_s;
const QString Lead = u"　　"_s;

} // namespace

// The reading toolbar's voice controls over real synthesis played by the silent output, with a
// page that answers from a string and records highlights.
class VoiceControllerTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_window = std::make_unique<QWidget>();
        m_read = new QToolButton(m_window.get());
        m_stop = new QToolButton(m_window.get());
        m_panelButton = new QToolButton(m_window.get());
        m_panel = VoiceController::createVoicePanel(m_window.get());
        m_engine = std::make_unique<EspeakSpeechEngine>(
            std::make_unique<SilentAudioOutput>(EspeakSpeechEngine::sampleRate()), u"cmn"_s, u"天地"_s);
        m_content.clear();
        m_deferReply = false;
        m_pendingReply = nullptr;
        m_highlights.clear();

        VoiceController::Page page;
        page.contentText = [this](std::function<void(const QString &)> reply) {
            if (m_deferReply)
                m_pendingReply = std::move(reply);
            else
                reply(m_content);
        };
        page.highlight = [this](int start, int length) { m_highlights.append({start, length}); };
        page.chosenPlace = [this](std::function<void(const QString &, int)> reply) { reply(m_content, m_place); };
        m_controller = new VoiceController(
            m_engine.get(), {m_read, m_stop, m_panelButton, m_panel.panel, m_panel.voiceList}, page, m_window.get());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void cleanup()
    {
        m_window.reset(); // the controller goes with its window, before the engine
        m_engine.reset();
    }

    // Highlights land on the spoken characters of the page text, in order, held while paused.
    void startPauseContinueToEnd()
    {
        m_content = Lead + u"春眠不觉晓，\r\n处处闻啼鸟。"_s;
        const QString pageText = QString(m_content).remove(u'\r');

        click(m_read);
        QCOMPARE(m_controller->state(), Pause);
        QVERIFY(iconIs(QStyle::SP_MediaPause));
        QTRY_VERIFY_WITH_TIMEOUT(m_highlights.size() >= 2, 10000);

        click(m_read);
        QCOMPARE(m_controller->state(), Continue);
        QVERIFY(iconIs(QStyle::SP_MediaPlay));
        QVERIFY(m_engine->isPaused());
        const qsizetype heard = m_highlights.size();
        QTest::qWait(500);
        QCOMPARE(m_highlights.size(), heard);

        click(m_read);
        QCOMPARE(m_controller->state(), Pause);
        QVERIFY(!m_engine->isPaused());
        QTRY_COMPARE_WITH_TIMEOUT(m_controller->state(), Start, 10000);

        QString spoken;
        int previous = -1;
        for (const auto &[start, length] : m_highlights) {
            QVERIFY(start > previous && start >= Lead.size() && start + length <= pageText.size());
            spoken += pageText.mid(start, length);
            previous = start;
        }
        QCOMPARE(spoken, u"春眠不觉晓处处闻啼鸟"_s);
    }

    // The stop is the engine's purge: the paused stream says nothing more, only the stop's own
    // empty stream reports its end, and that end resets the button at once; a stopped page is
    // not read on from even when reading on is wanted.
    void stopWhilePaused_endsThroughTheStopsEndOfStream()
    {
        m_controller->attachOptions(m_panel, {100, 100, true});
        QSignalSpy finished(m_controller, &VoiceController::finishedReading);
        m_content = Lead + u"一二三四五六七八九十"_s;
        click(m_read);
        QTRY_VERIFY_WITH_TIMEOUT(!m_highlights.isEmpty(), 10000);
        click(m_read);
        QCOMPARE(m_controller->state(), Continue);

        QSignalSpy ends(m_engine.get(), &SpeechEngine::endStream);
        click(m_stop);
        QVERIFY(!m_engine->isPaused());
        QCOMPARE(m_controller->state(), Continue); // until the end-of-stream event
        QTRY_COMPARE_WITH_TIMEOUT(m_controller->state(), Start, 10000);
        QVERIFY(!m_engine->isSpeaking());
        const qsizetype heard = m_highlights.size();
        QTest::qWait(300);
        QCOMPARE(m_highlights.size(), heard);
        QCOMPARE(ends.size(), 1);
        QCOMPARE(finished.size(), 0);
    }

    void voiceChangeWhileSpeaking()
    {
        m_content = Lead + u"一二三四五六七八九十"_s;
        click(m_panelButton);
        click(m_read);
        QTRY_VERIFY_WITH_TIMEOUT(!m_highlights.isEmpty(), 10000);

        Q_EMIT m_panel.voiceList->activated(m_panel.voiceList->findData(0));
        QCOMPARE(m_controller->state(), Start); // the icon goes with the state (startPauseContinue)
        QVERIFY(!m_panel.panel->isVisible());
        QCOMPARE(m_engine->currentVoice(), 0);

        // Reading again at once: the end of the stop's empty stream must not reset the button.
        m_content = Lead + u"one two"_s;
        const qsizetype before = m_highlights.size();
        click(m_read);
        QCOMPARE(m_controller->state(), Pause);
        QTest::qWait(200);
        QCOMPARE(m_controller->state(), Pause);
        QTRY_COMPARE_WITH_TIMEOUT(m_controller->state(), Start, 10000);
        QCOMPARE(m_highlights.mid(before), (QList<QPair<int, int>>{{2, 3}, {6, 3}}));
    }

    // Reading from a chosen place cuts off the reading under way; the highlights still land on
    // the page's own characters.
    void readFromChosenPlace_data()
    {
        QTest::addColumn<int>("place");
        QTest::addColumn<QString>("heard");
        QTest::newRow("a place in the text") << 7 << u"六七八九十"_s;
        QTest::newRow("none: from the top") << -1 << u"一二三四五六七八九十"_s;
    }
    void readFromChosenPlace()
    {
        QFETCH(int, place);
        m_content = Lead + u"一二三四五六七八九十"_s;
        m_place = place;
        click(m_read);
        QTRY_VERIFY_WITH_TIMEOUT(!m_highlights.isEmpty(), 10000);
        m_controller->readFromChosenPlace();
        QCOMPARE(m_controller->state(), Pause);
        const qsizetype before = m_highlights.size();
        QTRY_COMPARE_WITH_TIMEOUT(m_controller->state(), Start, 10000);
        QString heard;
        for (const auto &[start, length] : m_highlights.mid(before))
            heard += m_content.mid(start, length);
        QTEST(heard, "heard");
    }

    void textArrivingAfterStopIsNotRead()
    {
        m_content = Lead + u"一二三"_s;
        m_deferReply = true;
        click(m_read);
        QCOMPARE(m_controller->state(), Pause);
        click(m_stop);
        QTRY_COMPARE_WITH_TIMEOUT(m_controller->state(), Start, 10000);
        QVERIFY(m_pendingReply);
        m_pendingReply(m_content);
        QVERIFY(!m_engine->isSpeaking());
        QTest::qWait(300);
        QVERIFY(m_highlights.isEmpty());
    }

    // The sleep timer stops the reading; a faster speed makes shorter speech and is reported
    // for keeping.
    void sleepTimerAndSpeed()
    {
        m_controller->attachOptions(m_panel, {});
        m_content = Lead + u"一二三四五六七八九十"_s;
        Q_EMIT m_panel.sleepTimer->activated(1);
        QVERIFY(m_controller->sleepTimerRunning());
        click(m_read);
        QTRY_VERIFY_WITH_TIMEOUT(!m_highlights.isEmpty(), 10000);
        m_controller->sleepTimeUp();
        QTRY_COMPARE_WITH_TIMEOUT(m_controller->state(), Start, 10000);
        // The choice is kept with the other options and starts the timer with the next reading.
        QCOMPARE(VoiceOptions::fromText(m_controller->options().toText()).sleepMinutes, 15);

        QTemporaryDir dir;
        const auto spokenBytes = [&](const QString &name) -> qint64 {
            const QString file = dir.filePath(name);
            m_engine->setRecordingFile(file);
            click(m_read);
            const bool ended = QTest::qWaitFor([&] { return m_controller->state() == Start; }, 20000);
            m_engine->setRecordingFile({});
            return ended ? QFileInfo(file).size() : -1;
        };
        const qint64 normal = spokenBytes(u"normal.wav"_s);
        QVERIFY(normal > 0);
        QSignalSpy kept(m_controller, &VoiceController::optionsChanged);
        m_panel.rate->setValue(200);
        QCOMPARE(kept.size(), 1);
        QCOMPARE(kept.at(0).at(0).value<VoiceOptions>().rate, 200);
        const qint64 fast = spokenBytes(u"fast.wav"_s);
        QVERIFY2(fast > 0 && fast * 4 < normal * 3, qPrintable(u"%1 / %2"_s.arg(fast).arg(normal)));

        // As after a restart: the kept choice is shown, and runs from the next start of reading.
        m_controller->setSleepMinutes(0);
        m_controller->attachOptions(m_panel, {100, 100, false, 30});
        QCOMPARE(m_panel.sleepTimer->currentIndex(), 2);
        QVERIFY(!m_controller->sleepTimerRunning());
        click(m_read);
        QVERIFY(m_controller->sleepTimerRunning());
        click(m_stop);
        QTRY_COMPARE_WITH_TIMEOUT(m_controller->state(), Start, 10000);
    }

    // Chinese voices lead the list, each voice is listed once with the engine's last one chosen,
    // and the header of the others cannot be chosen; the panel starts hidden.
    void panelShowsHidesAndFollowsFocus()
    {
        const QList<SpeechVoice> voices = m_engine->voices();
        QComboBox *list = m_panel.voiceList;
        QCOMPARE(list->itemText(1) + list->itemText(3), u"普通话（女声）粤语（女声）"_s); // tst_speechengine: the rest
        QCOMPARE(list->count(), voices.size() + 2);                                       // a separator and the header
        QCOMPARE(list->currentData().toInt(), voices.size() - 1);
        QCOMPARE(m_engine->currentVoice(), voices.size() - 1);
        Q_EMIT list->activated(list->findText(u"更多语音…"_s));
        QCOMPARE(m_engine->currentVoice(), voices.size() - 1);
        QCOMPARE(m_controller->state(), Start); // the read button's tool tip
        QVERIFY(iconIs(QStyle::SP_MediaPlay));
        QVERIFY(!m_panel.panel->isVisible());
        click(m_panelButton);
        QVERIFY(m_panel.panel->isVisible());
        QTRY_VERIFY(m_panel.voiceList->hasFocus());
        click(m_panelButton);
        QVERIFY(!m_panel.panel->isVisible());

        click(m_panelButton);
        QFocusEvent popup(QEvent::FocusOut, Qt::PopupFocusReason);
        QApplication::sendEvent(m_panel.voiceList, &popup);
        QVERIFY(m_panel.panel->isVisible());
        m_read->setFocus(Qt::MouseFocusReason); // the focus leaves the panel for good
        QTRY_VERIFY(!m_panel.panel->isVisible());
    }

private:
    void click(QToolButton *button) { QTest::mouseClick(button, Qt::LeftButton); }
    bool iconIs(QStyle::StandardPixmap pixmap) const
    {
        return m_read->icon().cacheKey() == m_read->style()->standardIcon(pixmap).cacheKey() ||
               m_read->icon().pixmap(16).toImage() == m_read->style()->standardIcon(pixmap).pixmap(16).toImage();
    }

    std::unique_ptr<QWidget> m_window;
    std::unique_ptr<EspeakSpeechEngine> m_engine;
    QToolButton *m_read = nullptr;
    QToolButton *m_stop = nullptr;
    QToolButton *m_panelButton = nullptr;
    VoiceController::VoicePanel m_panel{};
    VoiceController *m_controller = nullptr;

    QString m_content;
    int m_place = -1;
    bool m_deferReply = false;
    std::function<void(const QString &)> m_pendingReply;
    QList<QPair<int, int>> m_highlights;
};

QTEST_MAIN(VoiceControllerTest)
#include "tst_voicecontroller.moc"
