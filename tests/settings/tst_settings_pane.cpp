#include "LiveServer.h"
#include "ScriptedPrompter.h"
#include "catalogue/CataloguePane.h"
#include "library/LibraryDb.h"
#include "reader/ReaderPane.h"
#include "settings/AutoStart.h"
#include "settings/ReadingLookFrame.h"
#include "settings/SettingsPane.h"
#include "settings/TextRulesWindow.h"
#include "shell/MainWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QtTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(ReadingPageStyle)

namespace {

quint32 SwatchRgb(const QFrame *swatch)
{
    return swatch->palette().color(QPalette::Window).rgb() & 0xFFFFFF;
}

} // namespace

class SettingsPaneTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<LibraryDb> m_db;
    AppContext m_ctx;
    ScriptedPrompter m_prompter;
    std::unique_ptr<SettingsPane> m_pane;

    QString autostartFile() const { return m_dir->filePath(u"config/autostart/Folioway.desktop"_s); }
    void store(const SysSetRow &row) { QVERIFY(m_db->saveSettings(row)); }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        qputenv("HOME", m_dir->filePath(u"home"_s).toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", m_dir->filePath(u"config"_s).toLocal8Bit());
        m_db = std::make_unique<LibraryDb>(u"settings-test"_s);
        QVERIFY(m_db->open(m_dir->filePath(u"DataFile/Data.db"_s)));
        m_ctx = AppContext{};
        m_ctx.programFolder = m_dir->path();
        m_ctx.db = m_db.get();
        m_ctx.downloadFolder = u"/stored/TxtBook"_s;
        m_prompter.reset();
        m_pane = std::make_unique<SettingsPane>(m_ctx, m_prompter);
    }
    void cleanup()
    {
        m_pane.reset();
        m_db.reset();
    }

    // How each stored word, colour and size reads is decided in tst_settings_rules, and a key
    // without a bar in tst_settings_bosskey; here load fills the boxes. Style and key handed on
    // at load and after a save: mainWindow_wiresReaderAndBossKey.
    void load_showsStoredValues()
    {
        store(SysSetRow{u"/ignored"_s, true, u"ctrl|w"_s, u"FF0000"_s, u"特大号"_s, u"00FF00"_s});
        m_pane->load();
        QCOMPARE(m_pane->downloadFolderBox()->text(), m_ctx.downloadFolder);
        QVERIFY(m_pane->autoRunYes()->isChecked() && !m_pane->autoRunNo()->isChecked());
        QCOMPARE(m_pane->modifierList()->currentIndex(), 1);
        QCOMPARE(m_pane->keyBox()->text(), u"W"_s);
        QCOMPARE(m_pane->textSizeList()->currentIndex(), 3);
        QCOMPARE(SwatchRgb(m_pane->textColorSwatch()), 0xFF0000u);
        QCOMPARE(SwatchRgb(m_pane->backColorSwatch()), 0x00FF00u);
        QCOMPARE(m_pane->readingLookFrame()->presetList()->currentText(), u"自定义"_s);
        m_pane->resize(1200, 700); // the habit frame acts at once, in the column of those that do
        m_pane->layout()->activate();
        QVERIFY(m_pane->readingHabitFrame()->x() > m_pane->readingFrame()->geometry().right());
    }

    // A preset fills the two swatches like "选择" and waits for the save; the box names the
    // preset of the colours.
    void preset_fillsTheSwatchesUntilSaved()
    {
        m_pane->load(); // the first colours are 护眼's
        QComboBox *presets = m_pane->readingLookFrame()->presetList();
        QCOMPARE(presets->currentText(), u"护眼"_s);
        Q_EMIT presets->activated(presets->findText(u"夜间"_s));
        QCOMPARE(SwatchRgb(m_pane->backColorSwatch()), 0x1E1F22u);
        QCOMPARE(m_db->backColor(), u"C7EDCC"_s);
        QTest::mouseClick(m_pane->saveButton(), Qt::LeftButton);
        QCOMPARE(m_db->txtColor(), u"B4B4B4"_s);
    }

    // The order of the checks and their messages are decided in tst_settings_rules; here a
    // refused form stores and applies nothing.
    void save_refusesIncompleteForm()
    {
        m_pane->load();
        m_pane->autoRunYes()->setChecked(true);
        m_pane->downloadFolderBox()->setText(u"/books"_s);
        m_pane->modifierList()->setCurrentIndex(-1); // the one missing field
        m_pane->keyBox()->setText(u"q"_s);
        QSignalSpy styles(m_pane.get(), &SettingsPane::pageStyleChanged);
        QTest::mouseClick(m_pane->saveButton(), Qt::LeftButton);
        QCOMPARE(m_prompter.shown.size(), 1);
        QVERIFY(!m_db->autoRun());
        QCOMPARE(m_ctx.downloadFolder, u"/stored/TxtBook"_s);
        QVERIFY(!QFileInfo::exists(autostartFile()));
        QVERIFY(styles.isEmpty());
    }

    void save_writesOneRowAppliesAndReports()
    {
        m_pane->load();
        m_pane->downloadFolderBox()->setText(u" /books/new "_s);
        m_pane->autoRunYes()->setChecked(true);
        m_pane->modifierList()->setCurrentIndex(1);
        m_pane->keyBox()->setText(u"q"_s);
        m_pane->textSizeList()->setCurrentIndex(2);
        m_pane->reopenLastBookBox()->setChecked(true);
        m_db->setOption(LibraryDb::reopenLastBookOption(), u"0"_s); // not one of the six fields
        m_prompter.colors << 0xFF0000u << std::nullopt << 0x123456u; // the second dialog is cancelled
        QTest::mouseClick(m_pane->textColorButton(), Qt::LeftButton);
        QTest::mouseClick(m_pane->textColorButton(), Qt::LeftButton);
        QTest::mouseClick(m_pane->backColorButton(), Qt::LeftButton);
        QCOMPARE(SwatchRgb(m_pane->textColorSwatch()), 0xFF0000u);
        QCOMPARE(m_db->txtColor(), u"000000"_s); // nothing is stored before the save

        QTest::mouseClick(m_pane->saveButton(), Qt::LeftButton);
        QTest::mouseClick(m_pane->saveButton(), Qt::LeftButton);

        QCOMPARE(m_prompter.shown.size(), 2);
        QCOMPARE(m_prompter.lastText(), u"恭喜你，参数设置成功！"_s);
        QCOMPARE(m_prompter.last().title, u"设置成功"_s);
        QCOMPARE(m_db->downSavePath(), u"/books/new"_s);
        QVERIFY(m_db->autoRun());
        QCOMPARE(m_db->bossKey(), u"Ctrl|q"_s);
        QCOMPARE(m_db->txtColor(), u"FF0000"_s);
        QCOMPARE(m_db->backColor(), u"123456"_s);
        QCOMPARE(m_db->txtSize(), u"大号"_s);
        QCOMPARE(m_ctx.downloadFolder, u"/books/new"_s);
        QCOMPARE(m_db->option(LibraryDb::reopenLastBookOption()), u"0"_s);

        // The entry names this program; its format is checked in tst_settings_autostart.
        QVERIFY(TestSupport::readFile(autostartFile())
                    .contains(AutoStartEntry::execValue(QCoreApplication::applicationFilePath()).toUtf8()));

        m_pane->autoRunNo()->setChecked(true);
        QTest::mouseClick(m_pane->saveButton(), Qt::LeftButton);
        QVERIFY(!QFileInfo::exists(autostartFile()));
        QVERIFY(!m_db->autoRun());
    }

    void folderPicker_fillsBoxOrWarnsOnCancel()
    {
        m_pane->load();
        m_prompter.folderNames << u"/picked/folder"_s;
        QTest::mouseClick(m_pane->downloadFolderButton(), Qt::LeftButton);
        QCOMPARE(m_pane->downloadFolderBox()->text(), u"/picked/folder"_s);
        QVERIFY(m_prompter.shown.isEmpty());

        QTest::mouseClick(m_pane->downloadFolderButton(), Qt::LeftButton);
        QCOMPARE(m_pane->downloadFolderBox()->text(), u"/picked/folder"_s);
        QCOMPARE(m_prompter.shown.size(), 1);
        QCOMPARE(m_prompter.lastText(), u"你取消了选择目录.."_s);
        QCOMPARE(m_prompter.last().title, Prompter::defaultTitle());
        QCOMPARE(m_prompter.last().icon, Prompter::Icon::Exclamation);
    }

    // "测试连接" keeps an address the server answers at, or one the user insists on, in
    // Folioway.ini and for the catalogue's next request.
    void testServer_data()
    {
        QTest::addColumn<QString>("typed");  // "live": the running server, without its scheme
        QTest::addColumn<bool>("keepAnyway"); // the answer to the question after a failure
        QTest::addColumn<bool>("kept");
        QTest::newRow("answering server") << u"live"_s << false << true;
        QTest::newRow("nothing there, kept anyway") << u"127.0.0.1:1"_s << true << true;
        QTest::newRow("nothing there, dropped") << u"127.0.0.1:1"_s << false << false;
    }
    void testServer()
    {
        QFETCH(QString, typed);
        QFETCH(bool, keepAnyway);
        QFETCH(bool, kept);
        LiveServer server;
        if (typed == u"live"_s) {
            if (LiveServer::binary(TestSupport::binDir()).isEmpty())
                QSKIP("folioway-server is not built");
            START(server, {u"--data"_s, m_dir->filePath(u"server"_s), u"--demo"_s});
            typed = server.baseUrl().mid(int(qstrlen("http://"))) + u'/';
        }
        const QString address = u"http://"_s + typed.chopped(typed.endsWith(u'/') ? 1 : 0);
        m_pane->load();
        QCOMPARE(m_pane->serverBox()->text(), u"http://127.0.0.1:8080"_s);
        m_pane->serverBox()->setText(typed);
        m_prompter.answers.enqueue(keepAnyway);
        QSignalSpy tested(m_pane.get(), &SettingsPane::serverTested);
        QTest::mouseClick(m_pane->testServerButton(), Qt::LeftButton);
        QVERIFY(tested.wait(20000));
        QCOMPARE(tested.first().first().toBool(), typed.endsWith(u'/'));
        const QString expected = kept ? address : u"http://127.0.0.1:8080"_s;
        QCOMPARE(m_ctx.config.serverBaseUrl, expected);
        QCOMPARE(AppConfig::load(m_ctx.programFolder).serverBaseUrl, expected);
        if (!server.isRunning())
            return;
        CataloguePane catalogue(m_ctx, m_prompter);
        catalogue.firstVisit();
        QVERIFY(QTest::qWaitFor([&] { return !catalogue.isLoading(); }, 20000));
        QVERIFY(!catalogue.entries().isEmpty());
    }

    void testServer_refusesWhatIsNoAddress()
    {
        m_pane->load();
        m_pane->serverBox()->setText(u"http://"_s);
        QTest::mouseClick(m_pane->testServerButton(), Qt::LeftButton);
        QCOMPARE(m_prompter.last().icon, Prompter::Icon::Exclamation);
        QVERIFY(m_pane->testServerButton()->isEnabled());
        QCOMPARE(m_ctx.config.serverBaseUrl, u"http://127.0.0.1:8080"_s);
    }

    // The rules window from its frame: an expression the engine refuses is not kept and the
    // engine's words are shown; a good rule is kept for every book; a switch is kept at once.
    void textRules_refuseBadExpression_keepGoodOnes()
    {
        QTest::mouseClick(m_pane->textRulesButton(), Qt::LeftButton);
        auto *window = m_pane->findChild<TextRulesWindow *>();
        QVERIFY(window && window->isVisible());
        QSignalSpy changed(window, &TextRulesWindow::rulesChanged);
        const int builtIn = window->ruleList()->rowCount();
        QCOMPARE(builtIn, BuiltInTextRules().size());
        QVERIFY(!window->scopeBox()->isEnabled());
        window->patternBox()->setText(u"(广告"_s);
        window->regexSwitch()->setChecked(true);
        QTest::mouseClick(window->saveButton(), Qt::LeftButton);
        const QString engine = TextRuleProblem(TextRule{0, {}, u"(广告"_s, true});
        QVERIFY(!engine.isEmpty() && m_prompter.lastText().endsWith(engine));
        QCOMPARE(window->ruleList()->rowCount(), builtIn);
        window->patternBox()->setText(u"广告.*"_s);
        QTest::mouseClick(window->saveButton(), Qt::LeftButton);
        QCOMPARE(window->ruleList()->rowCount(), builtIn + 1);
        window->ruleList()->item(0, 0)->setCheckState(Qt::Checked);
        QCOMPARE(changed.count(), 2);
        const QList<TextRule> kept = m_db->textRules();
        QVERIFY(kept.first().enabled && kept.last().enabled && kept.last().regex && kept.last().bookPath.isEmpty());
    }
};

QTEST_MAIN(SettingsPaneTest)
#include "tst_settings_pane.moc"
