#include "settings/AutoStart.h"

#include "TestSupport.h"

#include <QtTest>

using namespace Qt::StringLiterals;

class AutoStartTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        qputenv("HOME", m_dir->filePath(u"home"_s).toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", m_dir->filePath(u"config"_s).toLocal8Bit());
    }

    void execValue_data()
    {
        // clang-format off
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << u"/opt/folioway/folioway"_s << u"/opt/folioway/folioway"_s;
        QTest::newRow("blank") << u"/home/u/My Apps/folioway"_s << u"\"/home/u/My Apps/folioway\""_s;
        QTest::newRow("dollar") << u"/a/b$c"_s << u"\"/a/b\\\\$c\""_s;
        QTest::newRow("backslash becomes four") << u"/a\\b"_s << u"\"/a\\\\\\\\b\""_s;
        QTest::newRow("double quote") << u"/a\"b"_s << u"\"/a\\\\\"b\""_s;
        QTest::newRow("newline") << u"/a\nb"_s << u"\"/a\\nb\""_s;
        // clang-format on
    }
    void execValue()
    {
        QFETCH(QString, path);
        QTEST(AutoStartEntry::execValue(path), "exec");
    }

    void writeRewriteRemove()
    {
        const QString file = m_dir->filePath(u"config/autostart/Folioway.desktop"_s);
        QVERIFY(AutoStartEntry(u"/old place/folioway"_s).apply(true));
        const AutoStartEntry entry(u"/usr/bin/folioway"_s);
        QCOMPARE(entry.filePath(), file);
        QVERIFY(entry.apply(true));
        QCOMPARE(QDir(QFileInfo(file).path()).entryList(QDir::Files), QStringList{u"Folioway.desktop"_s});

        const QStringList lines = QString::fromUtf8(TestSupport::readFile(file)).split(u'\n');
        QCOMPARE(lines.first(), u"[Desktop Entry]"_s);
        QVERIFY(lines.contains(u"Type=Application"_s));
        QVERIFY(lines.contains(u"Name=Folioway"_s));
        QCOMPARE(lines.filter(u"Exec="_s), QStringList{u"Exec=/usr/bin/folioway"_s});

        QVERIFY(entry.apply(false));
        QVERIFY(!QFileInfo::exists(file));
        QVERIFY(entry.apply(false));

        // A file where the config folder should be: writing fails quietly.
        QVERIFY(TestSupport::writeFile(m_dir->filePath(u"blocker"_s), "x"));
        qputenv("XDG_CONFIG_HOME", m_dir->filePath(u"blocker"_s).toLocal8Bit());
        QVERIFY(!entry.write());
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(AutoStartTest)
#include "tst_settings_autostart.moc"
