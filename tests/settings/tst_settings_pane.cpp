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

    QString autostartFile() const { return m_dir->filePath(QStringLiteral("config/autostart/Folioway.desktop")); }
    int settingsRows() const
    {
        QSqlQuery q(QSqlDatabase::database(QStringLiteral("settings-test")));
        return q.exec(QStringLiteral("SELECT count(*) FROM SysSet")) && q.next() ? q.value(0).toInt() : -1;
    }
    void store(const SysSetRow &row) { QVERIFY(m_db->saveSettings(row)); }
    // A form that passes every check.
    void fillValidForm()
    {
        m_pane->downloadFolderBox()->setText(QStringLiteral("/books"));
        m_pane->modifierList()->setCurrentIndex(1);
        m_pane->keyBox()->setText(QStringLiteral("q"));
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        qputenv("HOME", m_dir->filePath(QStringLiteral("home")).toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", m_dir->filePath(QStringLiteral("config")).toLocal8Bit());
        m_db = std::make_unique<LibraryDb>(QStringLiteral("settings-test"));
        QVERIFY(m_db->open(m_dir->filePath(QStringLiteral("DataFile/Data.db"))));
        m_ctx = AppContext{};
        m_ctx.programFolder = m_dir->path();
        m_ctx.db = m_db.get();
        m_ctx.downloadFolder = QStringLiteral("/stored/TxtBook");
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
        QTest::newRow("first start") << false << "Alt|q" << "000000" << "中号" << "C7EDCC" << 0 << "Q" << 1 << 0x000000u << 0xC7EDCCu << "14px" << true;
        QTest::newRow("lower-case word, red on green") << true << "ctrl|w" << "FF0000" << "特大号" << "00FF00" << 1 << "W" << 3 << 0xFF0000u << 0x00FF00u << "22px" << true;
        QTest::newRow("unknown word and size") << false << "Meta|x" << "0000FF" << "巨号" << "FFFFFF" << -1 << "X" << -1 << 0x0000FFu << 0xFFFFFFu << "14px" << true;
        QTest::newRow("no bar: nothing registered") << false << "Shift" << "123456" << "小号" << "ABCDEF" << 2 << "" << 0 << 0x123456u << 0xABCDEFu << "12px" << false;
        // clang-format on
    }
    void load_showsStoredValues()
    {
        QFETCH(bool, autoRun);
        QFETCH(QString, bossKey);
        QFETCH(QString, txtColor);
        QFETCH(QString, txtSize);
        QFETCH(QString, backColor);
        store(SysSetRow{QStringLiteral("/ignored"), autoRun, bossKey, txtColor, txtSize, backColor});

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
        QCOMPARE(style.background, QLatin1Char('#') + backColor);
        QCOMPARE(style.color, QLatin1Char('#') + txtColor);
        QTEST(style.fontSize, "fontSize");
        QFETCH(bool, registers);
        QCOMPARE(keys.size(), registers ? 1 : 0);
        if (registers)
            QCOMPARE(keys.first().at(0).toString() + QLatin1Char('|') + keys.first().at(1).toString(), bossKey);
    }

    void save_refusesIncompleteForm_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("modifierIndex");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("message");
        const QString noFolder = QStringLiteral("电子书下载保存路径不能为空！");
        const QString badKey = QStringLiteral("老板键设置错误！");
        QTest::newRow("blank folder") << "   " << 1 << "q" << noFolder;
        QTest::newRow("folder checked before key") << "" << -1 << "" << noFolder;
        QTest::newRow("empty key") << "/books" << 1 << "" << badKey;
        QTest::newRow("blank key") << "/books" << 1 << " " << badKey;
        QTest::newRow("no modifier") << "/books" << -1 << "q" << badKey;
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
        QCOMPARE(m_prompter.last().title, QStringLiteral("保存失败"));
        QCOMPARE(m_prompter.last().icon, Prompter::Icon::Critical);
        QCOMPARE(m_db->bossKey(), storedKey);
        QVERIFY(!m_db->autoRun());
        QCOMPARE(m_ctx.downloadFolder, QStringLiteral("/stored/TxtBook"));
        QVERIFY(!QFileInfo::exists(autostartFile()));
        QCOMPARE(styles.size(), 0);
        QCOMPARE(keys.size(), 0);
    }

    void save_writesOneRowAppliesAndReports()
    {
        m_pane->load();
        m_pane->downloadFolderBox()->setText(QStringLiteral(" /books/new "));
        m_pane->autoRunYes()->setChecked(true);
        m_pane->modifierList()->setCurrentIndex(1);
        m_pane->keyBox()->setText(QStringLiteral("q"));
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
            QCOMPARE(shown.text, QStringLiteral("恭喜你，参数设置成功！"));
            QCOMPARE(shown.title, QStringLiteral("设置成功"));
            QCOMPARE(shown.icon, Prompter::Icon::Information);
        }
        QCOMPARE(settingsRows(), 1);
        QCOMPARE(m_db->downSavePath(), QStringLiteral("/books/new"));
        QVERIFY(m_db->autoRun());
        QCOMPARE(m_db->bossKey(), QStringLiteral("Ctrl|q"));
        QCOMPARE(m_db->txtColor(), QStringLiteral("FF0000"));
        QCOMPARE(m_db->backColor(), QStringLiteral("123456"));
        QCOMPARE(m_db->txtSize(), QStringLiteral("大号"));
        QCOMPARE(m_ctx.downloadFolder, QStringLiteral("/books/new"));

        QCOMPARE(keys.size(), 2);
        QCOMPARE(keys.last(), (QVariantList{QStringLiteral("Ctrl"), QStringLiteral("q")}));
        QCOMPARE(styles.size(), 2);
        const auto style = styles.last().first().value<ReadingPageStyle>();
        QCOMPARE(style.background, QStringLiteral("#123456"));
        QCOMPARE(style.color, QStringLiteral("#FF0000"));
        QCOMPARE(style.fontSize, QStringLiteral("18px"));

        // Two saves of "是" leave one entry, naming this program.
        const QStringList entries = QDir(QFileInfo(autostartFile()).path()).entryList(QDir::Files);
        QCOMPARE(entries, QStringList{QStringLiteral("Folioway.desktop")});
        const QString text = QString::fromUtf8(TestSupport::readFile(autostartFile()));
        QVERIFY(text.contains(QStringLiteral("\nExec=") +
                              AutoStartEntry::execValue(QCoreApplication::applicationFilePath()) +
                              QLatin1Char('\n')));

        m_pane->autoRunNo()->setChecked(true);
        QTest::mouseClick(m_pane->saveButton(), Qt::LeftButton);
        QVERIFY(!QFileInfo::exists(autostartFile()));
        QVERIFY(!m_db->autoRun());
        QCOMPARE(settingsRows(), 1);
    }

    void colourPicker_cancelKeepsSwatch()
    {
        store(SysSetRow{QStringLiteral("/b"), false, QStringLiteral("Alt|Q"), QStringLiteral("000000"),
                        QStringLiteral("中号"), QStringLiteral("C7EDCC")});
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
        QCOMPARE(m_db->txtColor(), QStringLiteral("000000"));

        fillValidForm();
        m_pane->save();
        QCOMPARE(m_db->txtColor(), QStringLiteral("00FF00"));
        QCOMPARE(m_db->backColor(), QStringLiteral("C7EDCC"));
    }

    void folderPicker_fillsBoxOrWarnsOnCancel()
    {
        m_pane->load();
        m_prompter.folderNames << QStringLiteral("/picked/folder");
        QTest::mouseClick(m_pane->downloadFolderButton(), Qt::LeftButton);
        QCOMPARE(m_pane->downloadFolderBox()->text(), QStringLiteral("/picked/folder"));
        QVERIFY(m_prompter.shown.isEmpty());

        QTest::mouseClick(m_pane->downloadFolderButton(), Qt::LeftButton);
        QCOMPARE(m_pane->downloadFolderBox()->text(), QStringLiteral("/picked/folder"));
        QCOMPARE(m_prompter.shown.size(), 1);
        QCOMPARE(m_prompter.lastText(), QStringLiteral("你取消了选择目录.."));
        QCOMPARE(m_prompter.last().title, Prompter::defaultTitle());
        QCOMPARE(m_prompter.last().icon, Prompter::Icon::Exclamation);
    }

    // The main window hands the stored style to the reader and registers the stored key at
    // load, and passes both on again after a save.
    void mainWindow_wiresReaderAndBossKey()
    {
        store(SysSetRow{QStringLiteral("/b"), false, QStringLiteral("ctrl|q"), QStringLiteral("112233"),
                        QStringLiteral("小号"), QStringLiteral("445566")});
        MainWindow window(m_ctx, m_prompter);
        window.load();
        QCOMPARE(window.reader()->pageStyle().background, QStringLiteral("#445566"));
        QCOMPARE(window.reader()->pageStyle().color, QStringLiteral("#112233"));
        QCOMPARE(window.reader()->pageStyle().fontSize, QStringLiteral("12px"));
        QCOMPARE(window.bossKey()->combination().combination(), QKeyCombination(Qt::ControlModifier, Qt::Key_Q));

        SettingsPane *pane = window.settings();
        QCOMPARE(pane->keyBox()->text(), QStringLiteral("Q"));
        pane->textSizeList()->setCurrentIndex(3);
        pane->modifierList()->setCurrentIndex(0);
        pane->keyBox()->setText(QStringLiteral("w"));
        QTest::mouseClick(pane->saveButton(), Qt::LeftButton);
        QCOMPARE(m_prompter.lastText(), QStringLiteral("恭喜你，参数设置成功！"));
        QCOMPARE(window.reader()->pageStyle().fontSize, QStringLiteral("22px"));
        QCOMPARE(window.bossKey()->combination().combination(), QKeyCombination(Qt::AltModifier, Qt::Key_W));
    }
};

QTEST_MAIN(SettingsPaneTest)
#include "tst_settings_pane.moc"
