#include "settings/BossKey.h"
#include "settings/SettingsRules.h"

#include <QtTest>

using namespace Qt::StringLiterals;

class SettingsRulesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void colours_data()
    {
        // clang-format off
        QTest::addColumn<quint32>("rgb");
        QTest::addColumn<quint32>("bgr");
        QTest::addColumn<QString>("text");
        QTest::newRow("pure red") << quint32(0xFF0000) << quint32(0x0000FF) << u"FF0000"_s;
        QTest::newRow("leading zeros kept") << quint32(0x010203) << quint32(0x030201) << u"010203"_s;
        // clang-format on
    }
    void colours()
    {
        QFETCH(quint32, rgb);
        QFETCH(quint32, bgr);
        QFETCH(QString, text);
        QCOMPARE(RgbToColorText(rgb), text);
        QCOMPARE(BgrToColorText(bgr), text);
        QCOMPARE(ColorTextToRgb(text.toLower()), rgb);
        QCOMPARE(ColorTextToBgr(text), bgr);
    }

    void colourText_malformed_data()
    {
        // clang-format off
        QTest::addColumn<QString>("text");
        QTest::addColumn<quint32>("bgr");
        QTest::newRow("empty") << u""_s << quint32(0);
        QTest::newRow("blue pair missing") << u"FF80"_s << quint32(0x80FF);
        QTest::newRow("bad digit ends the number") << u"FF00G0"_s << quint32(0);
        QTest::newRow("too long") << u"123456AB"_s << quint32(0x563412);
        // clang-format on
    }
    void colourText_malformed()
    {
        QFETCH(QString, text);
        QTEST(ColorTextToBgr(text), "bgr");
    }

    void pageStyle()
    {
        const ReadingPageStyle style = ReadingPageStyleFor(u"FF0000"_s, u"00FF00"_s, u"小号"_s);
        QCOMPARE(style.background + style.color + style.fontSize, u"#00FF00#FF000012px"_s);
        const QStringList px{u"12px"_s, u"14px"_s, u"18px"_s, u"22px"_s};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(FontSizeForName(TextSizeNames().at(i)), px.at(i));
        QCOMPARE(TextSizeNames(), (QStringList{u"小号"_s, u"中号"_s, u"大号"_s, u"特大号"_s}));
        QCOMPARE(FontSizeForName(u"巨号"_s), u"14px"_s); // anything else
    }

    void saveChecks_data()
    {
        // clang-format off
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("modifier");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("focus");
        const QString folderMsg = u"电子书下载保存路径不能为空！"_s;
        const QString keyMsg = u"老板键设置错误！"_s;
        QTest::newRow("any character passes") << u"/books"_s << u"Alt"_s << u"中"_s << QString() << 0;
        QTest::newRow("folder first") << u"  "_s << u""_s << u""_s << folderMsg << int(SettingsField::DownloadFolder);
        QTest::newRow("blank key") << u"/books"_s << u"Ctrl"_s << u" "_s << keyMsg << int(SettingsField::BossKeyKey);
        QTest::newRow("no modifier") << u"/books"_s << u""_s << u"q"_s << keyMsg << int(SettingsField::BossKeyModifier);
        // clang-format on
    }
    void saveChecks()
    {
        QFETCH(QString, folder);
        QFETCH(QString, modifier);
        QFETCH(QString, key);
        QFETCH(QString, message);
        SettingsForm form{folder, true, modifier, key, 0xFF0000, 0x00FF00, u"大号"_s};
        const auto problem = ValidateSettings(form);
        QCOMPARE(problem.has_value(), !message.isEmpty());
        if (problem) {
            QCOMPARE(problem->message.text, message);
            QCOMPARE(problem->message.title, u"保存失败"_s);
            QTEST(int(problem->focus), "focus");
            return;
        }
        const SysSetRow row = SettingsRowFromForm(form);
        QCOMPARE(row.bossKey, modifier + u'|' + key);
        QCOMPARE(row.txtColor + row.backColor, u"FF000000FF00"_s);
    }

    void bossKey_data()
    {
        // clang-format off
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("previous");
        QTest::addColumn<int>("expected"); // QKeyCombination::toCombined(); 0: registration skipped
        QTest::addColumn<int>("listIndex");
        const int none = int(Qt::NoModifier);
        const auto combo = [](Qt::KeyboardModifier m, Qt::Key k) { return QKeyCombination(m, k).toCombined(); };
        QTest::newRow("Ctrl q") << u"Ctrl|q"_s << none << combo(Qt::ControlModifier, Qt::Key_Q) << 1;
        QTest::newRow("alt W") << u"alt|W"_s << none << combo(Qt::AltModifier, Qt::Key_W) << 0;
        QTest::newRow("SHIFT digit") << u"SHIFT|7"_s << none << combo(Qt::ShiftModifier, Qt::Key_7) << 2;
        QTest::newRow("unknown word keeps previous") << u"Win|x"_s << int(Qt::AltModifier)
                                                     << combo(Qt::AltModifier, Qt::Key_X) << -1;
        QTest::newRow("first character only") << u"Ctrl|ab|c"_s << none << combo(Qt::ControlModifier, Qt::Key_A) << 1;
        QTest::newRow("no bar") << u"AltQ"_s << none << 0 << -1;
        QTest::newRow("no modifier") << u"|Q"_s << none << 0 << -1;
        // clang-format on
    }
    void bossKey()
    {
        QFETCH(QString, stored);
        QFETCH(int, previous);
        QFETCH(int, expected);
        const auto parts = ParseBossKey(stored);
        QCOMPARE(parts.has_value(), expected != 0);
        if (!parts)
            return;
        QTEST(BossKeyModifierIndex(parts->modifier), "listIndex");
        const BossKeyCombination mapped = MapBossKey(parts->modifier, parts->key, Qt::KeyboardModifiers(previous));
        QVERIFY(mapped.isValid());
        QCOMPARE(mapped.combination().toCombined(), expected);
        QVERIFY(!MapBossKey(parts->modifier, QString()).isValid());
    }

    // What the library holds for the page's look is read back in range, whatever it holds.
    void readingLook_fromText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("lineHeight");
        QTest::addColumn<int>("pageWidth");
        QTest::addColumn<int>("fontSize");
        QTest::newRow("nothing stored") << QString() << 1.9 << 46 << 0;
        QTest::newRow("out of range") << u"{\"lineHeight\":40,\"pageWidth\":-3,\"fontSize\":400}"_s << 3.0 << 20 << 48;
        QTest::newRow("a font that would end the style") << u"{\"font\":\"x;} body{display:none\"}"_s << 1.9 << 46 << 0;
    }
    void readingLook_fromText()
    {
        QFETCH(QString, text);
        const ReadingLook look = ReadingLook::fromText(text);
        QCOMPARE(look.fontFamily, QString()); // none stored, or one that would end the style
        QTEST(look.lineHeight, "lineHeight");
        QTEST(look.pageWidth, "pageWidth");
        QTEST(look.fontSize, "fontSize");
    }
};

QTEST_GUILESS_MAIN(SettingsRulesTest)
#include "tst_settings_rules.moc"
