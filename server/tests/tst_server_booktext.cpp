// The server links the client's book text (src/text): a book on disk opens into the same
// chapters here as in the reader, and a file that is no book is refused the same way.
#include "text/Chapters.h"

#include <QtTest>

using namespace Qt::StringLiterals;

class TestServerBookText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void openBook_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("titles"); // empty: refused as no book
        const QStringList titles{u"书名"_s, u"第一章 起"_s, u"第二章 承"_s};
        QTest::newRow("GB18030, CRLF")
            << QByteArray(QStringEncoder("GB18030").encode(u"书名\r\n第一章 起\r\n甲\r\n第二章 承\r\n乙\r\n丙\r\n"_s)) << titles;
        QTest::newRow("UTF-8 with its mark")
            << "\xEF\xBB\xBF"_ba + u"书名\n第一章 起\n甲\n第二章 承\n乙\n丙\n"_s.toUtf8() << titles;
        QTest::newRow("nothing to read") << "\xEF\xBB\xBF\r\n"_ba << QStringList();
        QTest::newRow("a program named .txt") << "\x7F" "ELF\x02\x01\x01"_ba << QStringList();
    }
    void openBook()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, titles);
        QTemporaryDir dir;
        QFile file(dir.filePath(u"book.txt"_s));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        const ChapterList list = OpenBook(file.fileName());
        QStringList got;
        for (const ChapterEntry &entry : list.entries)
            got << entry.title;
        QCOMPARE(got, titles);
        QCOMPARE(list.error, titles.isEmpty() ? BookOpenError::NotABook : BookOpenError::None);
        if (!titles.isEmpty())
            QCOMPARE(ChapterFragment(file.fileName(), list.entries.constLast()), u"第二章 承<br>乙<br>丙<br>"_s);
    }
};

QTEST_GUILESS_MAIN(TestServerBookText)
#include "tst_server_booktext.moc"
