#include "settings/BossKey.h"
#include "settings/SettingsRules.h"

#include <QtTest>

class SettingsRulesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void colours_data();
    void colours();
    void colourText_malformed_data();
    void colourText_malformed();
    void textSizes_data();
    void textSizes();
    void saveChecks_data();
    void saveChecks();
    void savedRow();
    void parseBossKey_data();
    void parseBossKey();
    void mapBossKey_data();
    void mapBossKey();
};

void SettingsRulesTest::colours_data()
{
    QTest::addColumn<quint32>("rgb");
    QTest::addColumn<quint32>("bgr");
    QTest::addColumn<QString>("text");
    QTest::newRow("pure red") << quint32(0xFF0000) << quint32(0x0000FF) << "FF0000";
    QTest::newRow("pure green") << quint32(0x00FF00) << quint32(0x00FF00) << "00FF00";
    QTest::newRow("pure blue") << quint32(0x0000FF) << quint32(0xFF0000) << "0000FF";
    QTest::newRow("black") << quint32(0) << quint32(0) << "000000";
    QTest::newRow("default background") << quint32(0xC7EDCC) << quint32(0xCCEDC7) << "C7EDCC";
    QTest::newRow("small values keep their zeros") << quint32(0x010203) << quint32(0x030201) << "010203";
}

void SettingsRulesTest::colours()
{
    QFETCH(quint32, rgb);
    QFETCH(quint32, bgr);
    QFETCH(QString, text);
    QCOMPARE(RgbToColorText(rgb), text);
    QCOMPARE(BgrToColorText(bgr), text);
    QCOMPARE(ColorTextToRgb(text), rgb);
    QCOMPARE(ColorTextToBgr(text), bgr);
    QCOMPARE(ColorTextToRgb(text.toLower()), rgb);
}

void SettingsRulesTest::colourText_malformed_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<quint32>("bgr");
    QTest::newRow("empty") << "" << quint32(0);
    QTest::newRow("four digits: blue pair missing") << "FF80" << quint32(0x80FF);
    QTest::newRow("bad digit stops the number") << "FF00G0" << quint32(0);
    QTest::newRow("with #") << "#FF000" << quint32(0xF0);
    QTest::newRow("too long: extra ignored") << "123456AB" << quint32(0x563412);
}

void SettingsRulesTest::colourText_malformed()
{
    QFETCH(QString, text);
    QFETCH(quint32, bgr);
    QCOMPARE(ColorTextToBgr(text), bgr);
}

void SettingsRulesTest::textSizes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("size");
    QTest::newRow("small") << QStringLiteral("小号") << "12px";
    QTest::newRow("medium") << QStringLiteral("中号") << "14px";
    QTest::newRow("large") << QStringLiteral("大号") << "18px";
    QTest::newRow("extra large") << QStringLiteral("特大号") << "22px";
    QTest::newRow("unknown") << QStringLiteral("巨号") << "14px";
    QTest::newRow("empty") << QString() << "14px";
}

void SettingsRulesTest::textSizes()
{
    QFETCH(QString, name);
    QFETCH(QString, size);
    QCOMPARE(FontSizeForName(name), size);
    QCOMPARE(TextSizeNames().size(), 4);
    const ReadingPageStyle style = ReadingPageStyleFor(QStringLiteral("000000"), QStringLiteral("C7EDCC"), name);
    QCOMPARE(style.fontSize, size);
    QCOMPARE(style.background, QStringLiteral("#C7EDCC"));
    QCOMPARE(style.color, QStringLiteral("#000000"));
}

void SettingsRulesTest::saveChecks_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("modifier");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("focus");
    const QString folderMsg = QStringLiteral("电子书下载保存路径不能为空！");
    const QString keyMsg = QStringLiteral("老板键设置错误！");
    QTest::newRow("fine") << "/books" << "Ctrl" << "q" << QString() << 0;
    QTest::newRow("folder blank wins") << "  " << "" << "" << folderMsg << int(SettingsField::DownloadFolder);
    QTest::newRow("empty key") << "/books" << "Ctrl" << "" << keyMsg << int(SettingsField::BossKeyKey);
    QTest::newRow("blank key") << "/books" << "Ctrl" << " " << keyMsg << int(SettingsField::BossKeyKey);
    QTest::newRow("no modifier") << "/books" << "" << "q" << keyMsg << int(SettingsField::BossKeyModifier);
    QTest::newRow("any character passes") << "/books" << "Alt" << QStringLiteral("中") << QString() << 0;
}

void SettingsRulesTest::saveChecks()
{
    QFETCH(QString, folder);
    QFETCH(QString, modifier);
    QFETCH(QString, key);
    QFETCH(QString, message);
    QFETCH(int, focus);
    SettingsForm form;
    form.downloadFolder = folder;
    form.modifier = modifier;
    form.key = key;
    const auto problem = ValidateSettings(form);
    QCOMPARE(problem.has_value(), !message.isEmpty());
    if (!problem)
        return;
    QCOMPARE(problem->message.text, message);
    QCOMPARE(problem->message.title, QStringLiteral("保存失败"));
    QCOMPARE(problem->message.icon, Prompter::Icon::Critical);
    QCOMPARE(int(problem->focus), focus);
}

void SettingsRulesTest::savedRow()
{
    SettingsForm form;
    form.downloadFolder = QStringLiteral(" /home/u/书 ");
    form.autoRun = true;
    form.modifier = QStringLiteral("Ctrl");
    form.key = QStringLiteral("q");
    form.txtColorRgb = 0xFF0000;
    form.backColorRgb = 0x00FF00;
    form.txtSize = QStringLiteral("大号");
    const SysSetRow row = SettingsRowFromForm(form);
    QCOMPARE(row.downSavePath, QStringLiteral("/home/u/书"));
    QVERIFY(row.autoRun);
    QCOMPARE(row.bossKey, QStringLiteral("Ctrl|q"));
    QCOMPARE(row.txtColor, QStringLiteral("FF0000"));
    QCOMPARE(row.backColor, QStringLiteral("00FF00"));
    QCOMPARE(row.txtSize, QStringLiteral("大号"));
}

void SettingsRulesTest::parseBossKey_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("modifier");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("index");
    QTest::newRow("ctrl q") << "Ctrl|q" << true << "Ctrl" << "q" << 1;
    QTest::newRow("lower-case modifier still selects") << "shift|W" << true << "shift" << "W" << 2;
    QTest::newRow("unknown modifier") << "Win|W" << true << "Win" << "W" << -1;
    QTest::newRow("no bar") << "AltQ" << false << "" << "" << -1;
    QTest::newRow("no key") << "Alt|" << false << "" << "" << -1;
    QTest::newRow("no modifier") << "|Q" << false << "" << "" << -1;
    QTest::newRow("empty") << "" << false << "" << "" << -1;
    QTest::newRow("third part ignored") << "Alt|Q|x" << true << "Alt" << "Q" << 0;
}

void SettingsRulesTest::parseBossKey()
{
    QFETCH(QString, stored);
    QFETCH(bool, ok);
    QFETCH(QString, modifier);
    QFETCH(QString, key);
    QFETCH(int, index);
    const auto parts = ParseBossKey(stored);
    QCOMPARE(parts.has_value(), ok);
    if (!parts)
        return;
    QCOMPARE(parts->modifier, modifier);
    QCOMPARE(parts->key, key);
    QCOMPARE(BossKeyModifierIndex(parts->modifier), index);
    QCOMPARE(FormatBossKey(parts->modifier, parts->key), stored.section(QLatin1Char('|'), 0, 1));
}

void SettingsRulesTest::mapBossKey_data()
{
    QTest::addColumn<QString>("modifier");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("previous");
    QTest::addColumn<int>("expected"); // QKeyCombination::toCombined()
    QTest::addColumn<bool>("valid");
    const int none = int(Qt::NoModifier);
    QTest::newRow("Ctrl q") << "Ctrl" << "q" << none << QKeyCombination(Qt::ControlModifier, Qt::Key_Q).toCombined() << true;
    QTest::newRow("alt W") << "alt" << "W" << none << QKeyCombination(Qt::AltModifier, Qt::Key_W).toCombined() << true;
    QTest::newRow("SHIFT digit") << "SHIFT" << "7" << none << QKeyCombination(Qt::ShiftModifier, Qt::Key_7).toCombined() << true;
    QTest::newRow("unknown word keeps previous")
        << "Meta" << "x" << int(Qt::AltModifier) << QKeyCombination(Qt::AltModifier, Qt::Key_X).toCombined() << true;
    QTest::newRow("unknown word, nothing before")
        << "" << "x" << none << QKeyCombination(Qt::NoModifier, Qt::Key_X).toCombined() << true;
    QTest::newRow("first character only") << "Ctrl" << "ab" << none << QKeyCombination(Qt::ControlModifier, Qt::Key_A).toCombined()
                                          << true;
    QTest::newRow("punctuation") << "Ctrl" << "," << none << QKeyCombination(Qt::ControlModifier, Qt::Key_Comma).toCombined()
                                 << true;
    QTest::newRow("no key") << "Ctrl" << "" << none << QKeyCombination(Qt::ControlModifier, Qt::Key_unknown).toCombined() << false;
}

void SettingsRulesTest::mapBossKey()
{
    QFETCH(QString, modifier);
    QFETCH(QString, key);
    QFETCH(int, previous);
    QFETCH(int, expected);
    QFETCH(bool, valid);
    const BossKeyCombination mapped = MapBossKey(modifier, key, Qt::KeyboardModifiers(previous));
    QCOMPARE(mapped.combination().toCombined(), expected);
    QCOMPARE(mapped.isValid(), valid);
}

QTEST_GUILESS_MAIN(SettingsRulesTest)
#include "tst_settings_rules.moc"
