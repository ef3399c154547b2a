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
    void textSizes();
    void saveChecks_data();
    void saveChecks();
    void bossKey_data();
    void bossKey();
};

void SettingsRulesTest::colours_data()
{
    // clang-format off
    QTest::addColumn<quint32>("rgb");
    QTest::addColumn<quint32>("bgr");
    QTest::addColumn<QString>("text");
    QTest::newRow("pure red") << quint32(0xFF0000) << quint32(0x0000FF) << "FF0000";
    QTest::newRow("pure green") << quint32(0x00FF00) << quint32(0x00FF00) << "00FF00";
    QTest::newRow("pure blue") << quint32(0x0000FF) << quint32(0xFF0000) << "0000FF";
    QTest::newRow("leading zeros kept") << quint32(0x010203) << quint32(0x030201) << "010203";
    // clang-format on
}

void SettingsRulesTest::colours()
{
    QFETCH(quint32, rgb);
    QFETCH(quint32, bgr);
    QFETCH(QString, text);
    QCOMPARE(RgbToColorText(rgb), text);
    QCOMPARE(BgrToColorText(bgr), text);
    QCOMPARE(ColorTextToRgb(text.toLower()), rgb);
    QCOMPARE(ColorTextToBgr(text), bgr);
}

void SettingsRulesTest::colourText_malformed_data()
{
    // clang-format off
    QTest::addColumn<QString>("text");
    QTest::addColumn<quint32>("bgr");
    QTest::newRow("empty") << "" << quint32(0);
    QTest::newRow("blue pair missing") << "FF80" << quint32(0x80FF);
    QTest::newRow("bad digit ends the number") << "FF00G0" << quint32(0);
    QTest::newRow("too long") << "123456AB" << quint32(0x563412);
    // clang-format on
}

void SettingsRulesTest::colourText_malformed()
{
    QFETCH(QString, text);
    QFETCH(quint32, bgr);
    QCOMPARE(ColorTextToBgr(text), bgr);
}

void SettingsRulesTest::textSizes()
{
    const QStringList sizes{"12px", "14px", "18px", "22px"};
    for (int i = 0; i < TextSizeNames().size(); ++i)
        QCOMPARE(FontSizeForName(TextSizeNames().at(i)), sizes.at(i));
    QCOMPARE(TextSizeNames().at(3), QStringLiteral("特大号"));
    QCOMPARE(FontSizeForName(QStringLiteral("巨号")), QStringLiteral("14px"));
    QCOMPARE(FontSizeForName(QString()), QStringLiteral("14px"));
}

void SettingsRulesTest::saveChecks_data()
{
    // clang-format off
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("modifier");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("focus");
    const QString folderMsg = QStringLiteral("电子书下载保存路径不能为空！");
    const QString keyMsg = QStringLiteral("老板键设置错误！");
    QTest::newRow("any character passes") << "/books" << "Alt" << QStringLiteral("中") << QString() << 0;
    QTest::newRow("folder first") << "  " << "" << "" << folderMsg << int(SettingsField::DownloadFolder);
    QTest::newRow("blank key") << "/books" << "Ctrl" << " " << keyMsg << int(SettingsField::BossKeyKey);
    QTest::newRow("no modifier") << "/books" << "" << "q" << keyMsg << int(SettingsField::BossKeyModifier);
    // clang-format on
}

void SettingsRulesTest::saveChecks()
{
    QFETCH(QString, folder);
    QFETCH(QString, modifier);
    QFETCH(QString, key);
    QFETCH(QString, message);
    QFETCH(int, focus);
    SettingsForm form{folder, true, modifier, key, 0xFF0000, 0x00FF00, QStringLiteral("大号")};
    const auto problem = ValidateSettings(form);
    QCOMPARE(problem.has_value(), !message.isEmpty());
    if (problem) {
        QCOMPARE(problem->message.text, message);
        QCOMPARE(problem->message.title, QStringLiteral("保存失败"));
        QCOMPARE(int(problem->focus), focus);
        return;
    }
    const SysSetRow row = SettingsRowFromForm(form);
    QCOMPARE(row.bossKey, modifier + QLatin1Char('|') + key);
    QCOMPARE(row.txtColor + row.backColor, QStringLiteral("FF000000FF00"));
}

void SettingsRulesTest::bossKey_data()
{
    // clang-format off
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("previous");
    QTest::addColumn<int>("expected"); // QKeyCombination::toCombined(); 0: registration skipped
    QTest::addColumn<int>("listIndex");
    const int none = int(Qt::NoModifier);
    const auto combo = [](Qt::KeyboardModifier m, Qt::Key k) { return QKeyCombination(m, k).toCombined(); };
    QTest::newRow("Ctrl q") << "Ctrl|q" << none << combo(Qt::ControlModifier, Qt::Key_Q) << 1;
    QTest::newRow("alt W") << "alt|W" << none << combo(Qt::AltModifier, Qt::Key_W) << 0;
    QTest::newRow("SHIFT digit") << "SHIFT|7" << none << combo(Qt::ShiftModifier, Qt::Key_7) << 2;
    QTest::newRow("unknown word keeps previous") << "Win|x" << int(Qt::AltModifier)
                                                 << combo(Qt::AltModifier, Qt::Key_X) << -1;
    QTest::newRow("first character only") << "Ctrl|ab|c" << none << combo(Qt::ControlModifier, Qt::Key_A) << 1;
    QTest::newRow("punctuation") << "Ctrl|," << none << combo(Qt::ControlModifier, Qt::Key_Comma) << 1;
    QTest::newRow("no bar") << "AltQ" << none << 0 << -1;
    QTest::newRow("no key") << "Alt|" << none << 0 << -1;
    QTest::newRow("no modifier") << "|Q" << none << 0 << -1;
    // clang-format on
}

void SettingsRulesTest::bossKey()
{
    QFETCH(QString, stored);
    QFETCH(int, previous);
    QFETCH(int, expected);
    QFETCH(int, listIndex);
    const auto parts = ParseBossKey(stored);
    QCOMPARE(parts.has_value(), expected != 0);
    if (!parts)
        return;
    QCOMPARE(BossKeyModifierIndex(parts->modifier), listIndex);
    const BossKeyCombination mapped = MapBossKey(parts->modifier, parts->key, Qt::KeyboardModifiers(previous));
    QVERIFY(mapped.isValid());
    QCOMPARE(mapped.combination().toCombined(), expected);
    QVERIFY(!MapBossKey(parts->modifier, QString()).isValid());
}

QTEST_GUILESS_MAIN(SettingsRulesTest)
#include "tst_settings_rules.moc"
