#include "settings/AutoStart.h"

#include "TestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

// Undoes the string escapes, then the quoting, the way a desktop-entry reader does.
QString UnescapeExec(const QString &value)
{
    QString s;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value.at(i) == QLatin1Char('\\') && i + 1 < value.size()) {
            const QChar next = value.at(++i);
            s += next == QLatin1Char('n') ? QChar('\n') : next == QLatin1Char('t') ? QChar('\t') : next;
        } else {
            s += value.at(i);
        }
    }
    s.replace(QStringLiteral("%%"), QStringLiteral("%"));
    if (!s.startsWith(QLatin1Char('"')))
        return s;
    QString arg;
    for (qsizetype i = 1; i + 1 < s.size(); ++i) {
        if (s.at(i) == QLatin1Char('\\'))
            ++i;
        arg += s.at(i);
    }
    return arg;
}

QString ExecLine(const QString &fileText)
{
    for (const QString &line : fileText.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Exec=")))
            return line.mid(5);
    }
    return {};
}

} // namespace

class AutoStartTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void execValue_data();
    void execValue();
    void writeRewriteRemove();
    void folderFromHomeWhenXdgUnset();
    void unwritableFolderFailsQuietly();

private:
    QTemporaryDir *m_dir = nullptr;
    QByteArray m_oldHome;
    QByteArray m_oldXdg;
};

void AutoStartTest::init()
{
    m_dir = new QTemporaryDir;
    QVERIFY(m_dir->isValid());
    m_oldHome = qgetenv("HOME");
    m_oldXdg = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", m_dir->filePath(QStringLiteral("home")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", m_dir->filePath(QStringLiteral("config")).toLocal8Bit());
}

void AutoStartTest::cleanup()
{
    qputenv("HOME", m_oldHome);
    if (m_oldXdg.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", m_oldXdg);
    delete m_dir;
    m_dir = nullptr;
}

void AutoStartTest::execValue_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("exec");
    QTest::newRow("plain") << "/opt/folioway/bin/folioway" << "/opt/folioway/bin/folioway";
    QTest::newRow("chinese needs no quotes") << QStringLiteral("/home/用户/folioway") << QStringLiteral("/home/用户/folioway");
    QTest::newRow("blank") << "/home/u/My Apps/folioway" << "\"/home/u/My Apps/folioway\"";
    QTest::newRow("dollar") << "/a/b$c" << "\"/a/b\\\\$c\"";
    QTest::newRow("backslash becomes four") << "/a\\b" << "\"/a\\\\\\\\b\"";
    QTest::newRow("double quote") << "/a\"b" << "\"/a\\\\\"b\"";
    QTest::newRow("percent doubled") << "/a%f" << "/a%%f";
    QTest::newRow("parenthesis and percent") << "/x (1)/%u" << "\"/x (1)/%%u\"";
    QTest::newRow("newline escaped") << "/a\nb" << "\"/a\\nb\"";
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
    const QString expectedFile = m_dir->filePath(QStringLiteral("config/autostart/Folioway.desktop"));
    AutoStartEntry first(QStringLiteral("/old place/folioway"));
    QCOMPARE(first.filePath(), expectedFile);
    QVERIFY(first.apply(true));

    AutoStartEntry moved(QStringLiteral("/usr/bin/folioway"));
    QVERIFY(moved.apply(true));
    QVERIFY(moved.apply(true));
    const QDir folder(m_dir->filePath(QStringLiteral("config/autostart")));
    QCOMPARE(folder.entryList(QDir::Files), QStringList{QStringLiteral("Folioway.desktop")});

    const QString text = QString::fromUtf8(TestSupport::readFile(expectedFile));
    QVERIFY(text.startsWith(QStringLiteral("[Desktop Entry]\n")));
    QVERIFY(text.contains(QStringLiteral("\nType=Application\n")));
    QVERIFY(text.contains(QStringLiteral("\nName=Folioway\n")));
    QCOMPARE(ExecLine(text), QStringLiteral("/usr/bin/folioway"));
    QCOMPARE(text.count(QStringLiteral("Exec=")), 1);

    QVERIFY(moved.apply(false));
    QVERIFY(!QFileInfo::exists(expectedFile));
    QVERIFY(moved.apply(false));
}

void AutoStartTest::folderFromHomeWhenXdgUnset()
{
    qunsetenv("XDG_CONFIG_HOME");
    QCOMPARE(AutoStartEntry::autostartFolder(), m_dir->filePath(QStringLiteral("home/.config/autostart")));
    qputenv("XDG_CONFIG_HOME", "relative/config");
    QCOMPARE(AutoStartEntry::autostartFolder(), m_dir->filePath(QStringLiteral("home/.config/autostart")));
}

void AutoStartTest::unwritableFolderFailsQuietly()
{
    // A file where the config folder should be: no folder can be made below it.
    const QString blocker = m_dir->filePath(QStringLiteral("blocker"));
    QVERIFY(TestSupport::writeFile(blocker, "x"));
    qputenv("XDG_CONFIG_HOME", blocker.toLocal8Bit());
    AutoStartEntry entry(QStringLiteral("/usr/bin/folioway"));
    QVERIFY(!entry.write());
    QVERIFY(entry.remove());
}

QTEST_GUILESS_MAIN(AutoStartTest)
#include "tst_settings_autostart.moc"
