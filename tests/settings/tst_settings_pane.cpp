#include "ScriptedPrompter.h"
#include "TestSupport.h"
#include "library/LibraryDb.h"
#include "reader/ReaderPane.h"
#include "settings/AutoStart.h"
#include "settings/BossKeyAction.h"
#include "settings/SettingsPane.h"
#include "shell/MainWindow.h"

#include <QComboBox>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>
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
    int settingsRows() const
    {
        QSqlQuery q(QSqlDatabase::database(u"settings-test"_s));
        return q.exec(u"SELECT count(*) FROM SysSet"_s) && q.next() ? q.value(0).toInt() : -1;
    }
    void store(const SysSetRow &row) { QVERIFY(m_db->saveSettings(row)); }
    // A form that passes every check.
    void fillValidForm()
    {
        m_pane->downloadFolderBox()->setText(u"/books"_s);
        m_pane->modifierList()->setCurrentIndex(1);
        m_pane->keyBox()->setText(u"q"_s);
    }

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
        m_prompter = ScriptedPrompter{};
        m_pane = std::make_unique<SettingsPane>(m_ctx, m_prompter);
    }
    void cleanup()
    {
        m_pane.reset();
        m_db.reset();
    }

    void load_showsStoredValues_data()
    {
        QTest::addColumn<bool>("autoRun");
        QTest::addColumn<QString>("bossKey");
        QTest::addColumn<QString>("txtColor");
        QTest::addColumn<QString>("txtSize");
        QTest::addColumn<QString>("backColor");
        QTest::addColumn<int>("modifierIndex");
        QTest::addColumn<QString>("keyText");
        QTest::addColumn<int>("sizeIndex");
        QTest::addColumn<quint32>("textRgb");
        QTest::addColumn<quint32>("backRgb");
        QTest::addColumn<QString>("fontSize");
        QTest::addColumn<bool>("registers");

        // clang-format off
        QTest::newRow("first start") << false << u"Alt|q"_s << u"000000"_s << u"中号"_s << u"C7EDCC"_s << 0 << u"Q"_s << 1 << 0x000000u << 0xC7EDCCu << u"14px"_s << true;
        QTest::newRow("lower-case word, red on green") << true << u"ctrl|w"_s << u"FF0000"_s << u"特大号"_s << u"00FF00"_s << 1 << u"W"_s << 3 << 0xFF0000u << 0x00FF00u << u"22px"_s << true;
        QTest::newRow("unknown word and size") << false << u"Meta|x"_s << u"0000FF"_s << u"巨号"_s << u"FFFFFF"_s << -1 << u"X"_s << -1 << 0x0000FFu << 0xFFFFFFu << u"14px"_s << true;
        QTest::newRow("no bar: nothing registered") << false << u"Shift"_s << u"123456"_s << u"小号"_s << u"ABCDEF"_s << 2 << QString() << 0 << 0x123456u << 0xABCDEFu << u"12px"_s << false;
        // clang-format on
    }
    void load_showsStoredValues()
    {
        QFETCH(bool, autoRun);
        QFETCH(QString, bossKey);
        QFETCH(QString, txtColor);
        QFETCH(QString, txtSize);
        QFETCH(QString, backColor);
        store(SysSetRow{u"/ignored"_s, autoRun, bossKey, txtColor, txtSize, backColor});

        QSignalSpy styles(m_pane.get(), &SettingsPane::pageStyleChanged);
        QSignalSpy keys(m_pane.get(), &SettingsPane::bossKeyChanged);
        m_pane->load();

        QCOMPARE(m_pane->downloadFolderBox()->text(), m_ctx.downloadFolder);
        QCOMPARE(m_pane->autoRunYes()->isChecked(), autoRun);
        QCOMPARE(m_pane->autoRunNo()->isChecked(), !autoRun);
        QTEST(m_pane->modifierList()->currentIndex(), "modifierIndex");
        QTEST(m_pane->keyBox()->text(), "keyText");
        QTEST(m_pane->textSizeList()->currentIndex(), "sizeIndex");
        QTEST(SwatchRgb(m_pane->textColorSwatch()), "textRgb");
        QTEST(SwatchRgb(m_pane->backColorSwatch()), "backRgb");

        QCOMPARE(styles.size(), 1);
        const auto style = styles.first().first().value<ReadingPageStyle>();
        QCOMPARE(style.background, u'#' + backColor);
        QCOMPARE(style.color, u'#' + txtColor);
        QTEST(style.fontSize, "fontSize");
        QFETCH(bool, registers);
        QCOMPARE(keys.size(), registers ? 1 : 0);
        if (registers)
            QCOMPARE(keys.first().at(0).toString() + u'|' + keys.first().at(1).toString(), bossKey);
    }

    void save_refusesIncompleteForm_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("modifierIndex");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("message");
        const QString noFolder = u"电子书下载保存路径不能为空！"_s;
        const QString badKey = u"老板键设置错误！"_s;
        // The order of the checks is decided in tst_settings_rules; here nothing may be stored.
        QTest::newRow("blank folder") << u"   "_s << 1 << u"q"_s << noFolder;
        QTest::newRow("no modifier") << u"/books"_s << -1 << u"q"_s << badKey;
    }
    void save_refusesIncompleteForm()
    {
        QFETCH(QString, folder);
        QFETCH(int, modifierIndex);
        QFETCH(QString, key);
        m_pane->load();
        m_pane->autoRunYes()->setChecked(true);
        m_pane->downloadFolderBox()->setText(folder);
        m_pane->modifierList()->setCurrentIndex(modifierIndex);
        m_pane->keyBox()->setText(key);
        const QString storedKey = m_db->bossKey();
        QSignalSpy styles(m_pane.get(), &SettingsPane::pageStyleChanged);
        QSignalSpy keys(m_pane.get(), &SettingsPane::bossKeyChanged);

        QTest::mouseClick(m_pane->saveButton(), Qt::LeftButton);

        QCOMPARE(m_prompter.shown.size(), 1);
        QTEST(m_prompter.lastText(), "message");
        QCOMPARE(m_prompter.last().title, u"保存失败"_s);
        QCOMPARE(m_prompter.last().icon, Prompter::Icon::Critical);
        QCOMPARE(m_db->bossKey(), storedKey);
        QVERIFY(!m_db->autoRun());
        QCOMPARE(m_ctx.downloadFolder, u"/stored/TxtBook"_s);
        QVERIFY(!QFileInfo::exists(autostartFile()));
        QCOMPARE(styles.size(), 0);
        QCOMPARE(keys.size(), 0);
    }

    void save_writesOneRowAppliesAndReports()
    {
        m_pane->load();
        m_pane->downloadFolderBox()->setText(u" /books/new "_s);
        m_pane->autoRunYes()->setChecked(true);
        m_pane->modifierList()->setCurrentIndex(1);
        m_pane->keyBox()->setText(u"q"_s);
        m_pane->textSizeList()->setCurrentIndex(2);
        m_prompter.colors << 0xFF0000u << 0x123456u;
        QTest::mouseClick(m_pane->textColorButton(), Qt::LeftButton);
        QTest::mouseClick(m_pane->backColorButton(), Qt::LeftButton);
        QSignalSpy styles(m_pane.get(), &SettingsPane::pageStyleChanged);
        QSignalSpy keys(m_pane.get(), &SettingsPane::bossKeyChanged);

        QTest::mouseClick(m_pane->saveButton(), Qt::LeftButton);
        QTest::mouseClick(m_pane->saveButton(), Qt::LeftButton);

        QCOMPARE(m_prompter.shown.size(), 2);
        for (const ScriptedPrompter::Shown &shown : std::as_const(m_prompter.shown)) {
            QCOMPARE(shown.text, u"恭喜你，参数设置成功！"_s);
            QCOMPARE(shown.title, u"设置成功"_s);
            QCOMPARE(shown.icon, Prompter::Icon::Information);
        }
        QCOMPARE(settingsRows(), 1);
        QCOMPARE(m_db->downSavePath(), u"/books/new"_s);
        QVERIFY(m_db->autoRun());
        QCOMPARE(m_db->bossKey(), u"Ctrl|q"_s);
        QCOMPARE(m_db->txtColor(), u"FF0000"_s);
        QCOMPARE(m_db->backColor(), u"123456"_s);
        QCOMPARE(m_db->txtSize(), u"大号"_s);
        QCOMPARE(m_ctx.downloadFolder, u"/books/new"_s);

        QCOMPARE(keys.size(), 2);
        QCOMPARE(keys.last(), (QVariantList{u"Ctrl"_s, u"q"_s}));
        QCOMPARE(styles.size(), 2);
        const auto style = styles.last().first().value<ReadingPageStyle>();
        QCOMPARE(style.background, u"#123456"_s);
        QCOMPARE(style.color, u"#FF0000"_s);
        QCOMPARE(style.fontSize, u"18px"_s);

        // Two saves of "是" leave one entry, naming this program.
        const QStringList entries = QDir(QFileInfo(autostartFile()).path()).entryList(QDir::Files);
        QCOMPARE(entries, QStringList{u"Folioway.desktop"_s});
        const QString text = QString::fromUtf8(TestSupport::readFile(autostartFile()));
        QVERIFY(
            text.contains(u"\nExec="_s + AutoStartEntry::execValue(QCoreApplication::applicationFilePath()) + u'\n'));

        m_pane->autoRunNo()->setChecked(true);
        QTest::mouseClick(m_pane->saveButton(), Qt::LeftButton);
        QVERIFY(!QFileInfo::exists(autostartFile()));
        QVERIFY(!m_db->autoRun());
        QCOMPARE(settingsRows(), 1);
    }

    void colourPicker_cancelKeepsSwatch()
    {
        store(SysSetRow{u"/b"_s, false, u"Alt|Q"_s, u"000000"_s, u"中号"_s, u"C7EDCC"_s});
        m_pane->load();
        m_prompter.colors << 0x00FF00u << std::nullopt << std::nullopt;
        QTest::mouseClick(m_pane->textColorButton(), Qt::LeftButton);
        QCOMPARE(SwatchRgb(m_pane->textColorSwatch()), 0x00FF00u);
        QTest::mouseClick(m_pane->textColorButton(), Qt::LeftButton);
        QTest::mouseClick(m_pane->backColorButton(), Qt::LeftButton);
        QCOMPARE(SwatchRgb(m_pane->textColorSwatch()), 0x00FF00u);
        QCOMPARE(SwatchRgb(m_pane->backColorSwatch()), 0xC7EDCCu);
        QVERIFY(m_prompter.shown.isEmpty());
        // Nothing is stored until the save.
        QCOMPARE(m_db->txtColor(), u"000000"_s);

        fillValidForm();
        m_pane->save();
        QCOMPARE(m_db->txtColor(), u"00FF00"_s);
        QCOMPARE(m_db->backColor(), u"C7EDCC"_s);
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

    // The main window hands the stored style to the reader and registers the stored key at
    // load, and passes both on again after a save.
    void mainWindow_wiresReaderAndBossKey()
    {
        store(SysSetRow{u"/b"_s, false, u"ctrl|q"_s, u"112233"_s, u"小号"_s, u"445566"_s});
        MainWindow window(m_ctx, m_prompter);
        window.load();
        QCOMPARE(window.reader()->pageStyle().background, u"#445566"_s);
        QCOMPARE(window.reader()->pageStyle().color, u"#112233"_s);
        QCOMPARE(window.reader()->pageStyle().fontSize, u"12px"_s);
        QCOMPARE(window.bossKey()->combination().combination(), QKeyCombination(Qt::ControlModifier, Qt::Key_Q));

        SettingsPane *pane = window.settings();
        QCOMPARE(pane->keyBox()->text(), u"Q"_s);
        pane->textSizeList()->setCurrentIndex(3);
        pane->modifierList()->setCurrentIndex(0);
        pane->keyBox()->setText(u"w"_s);
        QTest::mouseClick(pane->saveButton(), Qt::LeftButton);
        QCOMPARE(m_prompter.lastText(), u"恭喜你，参数设置成功！"_s);
        QCOMPARE(window.reader()->pageStyle().fontSize, u"22px"_s);
        QCOMPARE(window.bossKey()->combination().combination(), QKeyCombination(Qt::AltModifier, Qt::Key_W));
    }
};

QTEST_MAIN(SettingsPaneTest)
#include "tst_settings_pane.moc"
