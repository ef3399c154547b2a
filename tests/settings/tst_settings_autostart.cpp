#include "settings/AutoStart.h"

#include "TestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

// Undoes the string escapes, then the quoting, as a desktop-entry reader does.
QString UnescapeExec(const QString &value)
{
    QString s;
    for (qsizetype i = 0; i < value.size(); ++i) {
        QChar ch = value.at(i);
        if (ch == QLatin1Char('\\') && i + 1 < value.size()) {
            ch = value.at(++i);
            ch = ch == QLatin1Char('n') ? QChar('\n') : ch;
        }
        s += ch;
    }
    s.replace(QStringLiteral("%%"), QStringLiteral("%"));
    if (!s.startsWith(QLatin1Char('"')))
        return s;
    QString arg;
    for (qsizetype i = 1; i + 1 < s.size(); ++i)
        arg += s.at(s.at(i) == QLatin1Char('\\') ? ++i : i);
    return arg;
}

} // namespace

class AutoStartTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void execValue_data();
    void execValue();
    void writeRewriteRemove();
    void configFolder();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void AutoStartTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("HOME", m_dir->filePath(QStringLiteral("home")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", m_dir->filePath(QStringLiteral("config")).toLocal8Bit());
}

void AutoStartTest::execValue_data()
{
    // clang-format off
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("exec");
    QTest::newRow("plain") << "/opt/folioway/folioway" << "/opt/folioway/folioway";
    QTest::newRow("chinese unquoted") << QStringLiteral("/home/用户/folioway") << QStringLiteral("/home/用户/folioway");
    QTest::newRow("blank") << "/home/u/My Apps/folioway" << "\"/home/u/My Apps/folioway\"";
    QTest::newRow("dollar") << "/a/b$c" << "\"/a/b\\\\$c\"";
    QTest::newRow("backslash becomes four") << "/a\\b" << "\"/a\\\\\\\\b\"";
    QTest::newRow("double quote") << "/a\"b" << "\"/a\\\\\"b\"";
    QTest::newRow("percent, parenthesis") << "/x (1)/%u" << "\"/x (1)/%%u\"";
    QTest::newRow("newline") << "/a\nb" << "\"/a\\nb\"";
    // clang-format on
}

void AutoStartTest::execValue()
{
    QFETCH(QString, path);
    QFETCH(QString, exec);
    QCOMPARE(AutoStartEntry::execValue(path), exec);
    QCOMPARE(UnescapeExec(exec), path);
}

void AutoStartTest::writeRewriteRemove()
{
    const QString file = m_dir->filePath(QStringLiteral("config/autostart/Folioway.desktop"));
    QVERIFY(AutoStartEntry(QStringLiteral("/old place/folioway")).apply(true));
    const AutoStartEntry entry(QStringLiteral("/usr/bin/folioway"));
    QCOMPARE(entry.filePath(), file);
    QVERIFY(entry.apply(true));
    QCOMPARE(QDir(QFileInfo(file).path()).entryList(QDir::Files), QStringList{QStringLiteral("Folioway.desktop")});

    const QStringList lines = QString::fromUtf8(TestSupport::readFile(file)).split(QLatin1Char('\n'));
    QCOMPARE(lines.first(), QStringLiteral("[Desktop Entry]"));
    QVERIFY(lines.contains(QStringLiteral("Type=Application")));
    QVERIFY(lines.contains(QStringLiteral("Name=Folioway")));
    QCOMPARE(lines.filter(QStringLiteral("Exec=")), QStringList{QStringLiteral("Exec=/usr/bin/folioway")});

    QVERIFY(entry.apply(false));
    QVERIFY(!QFileInfo::exists(file));
    QVERIFY(entry.apply(false));

    // A file where the config folder should be: writing fails quietly.
    QVERIFY(TestSupport::writeFile(m_dir->filePath(QStringLiteral("blocker")), "x"));
    qputenv("XDG_CONFIG_HOME", m_dir->filePath(QStringLiteral("blocker")).toLocal8Bit());
    QVERIFY(!entry.write());
}

void AutoStartTest::configFolder()
{
    const QString fromHome = m_dir->filePath(QStringLiteral("home/.config/autostart"));
    qunsetenv("XDG_CONFIG_HOME");
    QCOMPARE(AutoStartEntry::autostartFolder(), fromHome);
    qputenv("XDG_CONFIG_HOME", "relative/config");
    QCOMPARE(AutoStartEntry::autostartFolder(), fromHome);
}

QTEST_GUILESS_MAIN(AutoStartTest)
#include "tst_settings_autostart.moc"
