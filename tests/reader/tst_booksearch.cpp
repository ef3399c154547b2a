#include "reader/BookSearch.h"
#include "reader/BookSearchModel.h"
#include "text/BookLineIndex.h"
#include "text/Chapters.h"
#include "text/TextRules.h"

#include "TestSupport.h"

#include <QSignalSpy>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(TextRule)

namespace {

// "r" regular expression or "p" plain text, then "x" switched off, "o" another book's rule.
TextRule rule(const QString &kind, const QString &pattern, const QString &replacement = {})
{
    return TextRule{0, pattern, pattern, kind.contains(u'r'), replacement,
                    kind.contains(u'o') ? u"/else/other.txt"_s : QString(), !kind.contains(u'x')};
}

TextRule builtIn(int index)
{
    TextRule r = BuiltInTextRules().at(index);
    r.enabled = true;
    return r;
}

// "chapter.occurrence@line:before[word]after" per hit, the reference being a plain search of
// the decoded lines each chapter shows.
QStringList reference(const QString &text, const QList<ChapterEntry> &entries, const QString &word)
{
    const QStringList lines = SplitBookLines(text);
    QStringList hits;
    for (const ChapterEntry &e : entries) {
        int occurrence = 0;
        for (qint64 l = e.firstShownLine(); l <= e.lastShownLine() && l < lines.size(); ++l) {
            const QString line = QString(lines.at(l)).remove(u'\r');
            for (qsizetype at = line.indexOf(word); at >= 0; at = line.indexOf(word, at + word.size()))
                hits << u"%1.%2@%3:%4[%5]%6"_s.arg(e.number).arg(occurrence++).arg(l).arg(
                            line.mid(std::max<qsizetype>(0, at - 16), std::min<qsizetype>(at, 16)), word,
                            line.mid(at + word.size(), 30));
        }
    }
    return hits;
}

QStringList describe(const QList<BookSearchHit> &hits)
{
    QStringList out;
    for (const BookSearchHit &h : hits)
        out << u"%1.%2@%3:%4[%5]%6"_s.arg(h.chapter).arg(h.occurrence).arg(h.line).arg(h.before, h.word, h.after);
    return out;
}

} // namespace

class TestBookSearch : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private Q_SLOTS:
    void init() { BookLineIndexCache::instance().clear(); }

    void everyMatchOnACharacterBoundary_data()
    {
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<QString>("word");
        QTest::newRow("GB18030, straddling bytes are no match") << "GB18030"_ba << u"风起"_s;
        QTest::newRow("GB18030, an ASCII letter inside a character") << "GB18030"_ba << u"A"_s;
        QTest::newRow("UTF-8") << "UTF-8"_ba << u"风起"_s;
        QTest::newRow("UTF-16LE with its mark") << "UTF-16LE"_ba << u"起\n"_s.left(1);
        QTest::newRow("nowhere") << "GB18030"_ba << u"雨落"_s;
    }
    void everyMatchOnACharacterBoundary()
    {
        QFETCH(QByteArray, encoding);
        QFETCH(QString, word);
        // 『 E7C6 and F0A1 hold the bytes of 风起 (B7E7 C6F0) one byte off; 丄 (8141) holds "A".
        const QString straddle = QStringDecoder("GB18030").decode("\xA1\xB7\xE7\xC6\xF0\xA1"_ba);
        const QString text = u"风起书名\n简介风起\n第一章 风起\n风起风起风起，"_s + straddle +
                             u"\r\n第二章 无\n无\n第三章 又风起\n长长的一行里风起了，丄A丄"_s + straddle + u"风起"_s;
        QByteArray bytes = QStringEncoder(encoding.constData()).encode(text);
        if (encoding == "UTF-16LE")
            bytes.prepend("\xFF\xFE");
        const QString path = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()).left(8) + u".txt"_s);
        QVERIFY(TestSupport::writeFile(path, bytes));
        const ChapterList list = GetChapter(path);
        QList<BookSearchHit> hits;
        const BookSearchOutcome outcome =
            SearchBook(path, list.entries, word, 1000, [&](const QList<BookSearchHit> &batch) { hits += batch; });
        const QStringList expected = reference(text, list.entries, word);
        QCOMPARE(describe(hits), expected);
        QCOMPARE(outcome.total, expected.size());

        // Past the described ones the hits are still counted.
        hits.clear();
        QCOMPARE(SearchBook(path, list.entries, word, 1, [&](const QList<BookSearchHit> &batch) { hits += batch; }).total,
                 expected.size());
        QCOMPARE(hits.size(), std::min<qsizetype>(1, expected.size()));
    }

    // Far more matches than a view's first rows: every one is a row as soon as it is found, and
    // the last row is the book's last match, described like the others.
    void modelOffersEveryMatchAsItScrolls()
    {
        QStringList lines{u"书"_s};
        for (int c = 1; c <= 3; ++c) {
            lines << u"第%1章"_s.arg(c);
            for (int l = 0; l < 300; ++l)
                lines << u"风起了%1，又风起，风起"_s.arg(l);
        }
        const QString text = lines.join(u'\n');
        const QString path = m_dir.filePath(u"many.txt"_s);
        QVERIFY(TestSupport::writeFile(path, TestSupport::gb18030(text)));
        const ChapterList list = GetChapter(path);
        BookSearchModel model;
        model.setBook(path, list.entries);
        model.restart(u"风起"_s);
        const BookSearchOutcome outcome = FindInBook(path, list.entries, u"风起"_s, [&](const QList<BookSearchPlace> &places) {
            model.addPlaces(places);
        });
        QCOMPARE(outcome.total, 2700);
        QCOMPARE(model.rowCount(), 2700);
        QCOMPARE(model.describedRows(), 0); // nothing is read before a view asks
        QList<BookSearchHit> hits;
        for (int row = 0; row < model.rowCount(); ++row)
            hits << model.hit(row);
        QCOMPARE(describe(hits), reference(text, list.entries, u"风起"_s));
        QCOMPARE(model.index(model.rowCount() - 1, 0).data().toString(), u"第3章"_s);
    }

    // Several forms of one word searched together: their places in book order, counted per
    // chapter as the page counts them, each described with the form that stands there.
    void anyOfSeveralForms_inBookOrder()
    {
        const QString text = u"书\n第一章\n風起，风起\n第二章\n风起了風起\n風起"_s;
        const QString path = m_dir.filePath(u"forms.txt"_s);
        QVERIFY(TestSupport::writeFile(path, TestSupport::gb18030(text)));
        const ChapterList list = GetChapter(path);
        BookSearchModel model;
        model.setBook(path, list.entries);
        model.restart(u"风起"_s, {u"风起"_s, u"風起"_s});
        const BookSearchOutcome outcome = FindAnyInBook(path, list.entries, {u"风起"_s, u"風起"_s},
                                                        [&](const QList<BookSearchPlace> &p) { model.addPlaces(p); });
        QCOMPARE(outcome.total, 5);
        QList<BookSearchHit> hits;
        for (int row = 0; row < model.rowCount(); ++row)
            hits << model.hit(row);
        QCOMPARE(describe(hits), (QStringList{u"2.0@2:[風起]，风起"_s, u"2.1@2:風起，[风起]"_s, u"3.0@4:[风起]了風起"_s,
                                              u"3.1@4:风起了[風起]"_s, u"3.2@5:[風起]"_s}));
    }

    // Typing on starts a new search before the old one has reported: only the new one's
    // results arrive.
    void newerSearchDropsTheOlder()
    {
        const QString path = m_dir.filePath(u"twice.txt"_s);
        QVERIFY(TestSupport::writeFile(path, TestSupport::gb18030(u"书\n第一章\n甲乙丙\n甲\n"_s)));
        const ChapterList list = GetChapter(path);
        BookSearcher searcher;
        QSignalSpy hits(&searcher, &BookSearcher::placesFound);
        QSignalSpy finished(&searcher, &BookSearcher::finished);
        searcher.search(path, list.entries, u"乙"_s);
        const quint64 second = searcher.search(path, list.entries, u"甲"_s);
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toULongLong(), second);
        QCOMPARE(hits.size(), 1);
        QCOMPARE(hits.first().first().toULongLong(), second);
        QCOMPARE(hits.first().at(1).value<QList<BookSearchPlace>>().size(), 2);
        QTest::qWait(50);
        QCOMPARE(finished.size(), 1);
    }

    // What the page shows of a chapter under the rules, and where a search hit lands on it.
    void textRulesCleanTheShownText_data()
    {
        QTest::addColumn<QList<TextRule>>("rules");
        QTest::addColumn<QString>("fragment");
        QTest::addColumn<int>("occurrence"); // of 书, as the search counted it on the file
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("shownOccurrence"); // -1: taken away
        QTest::addColumn<QStringList>("stopped");
        const QString banner = u"他看书。<br>【笔趣阁 www.biquge.com】<br>  <br>书在桌上。<br>"_s;
        QTest::newRow("banner line goes, blank line stays") << QList{builtIn(0)} << banner << 1
                                                           << u"他看书。<br>  <br>书在桌上。<br>"_s << 1 << QStringList{};
        QTest::newRow("site line ending in an address")
            << QList{builtIn(0)} << u"更多TXT电子书下载,请访问雨枫轩:http://www.rain8.com  <br>书见 www.a.com 处<br>"_s
            << 1 << u"书见  处<br>"_s << 0 << QStringList{};
        QTest::newRow("junk inside a line") << QList{builtIn(1), builtIn(2)}
                                            << u"书完了（本章未完，请点击下一页继续阅读）<br>手机用户请浏览m.abc.com阅读，更优质的阅读体验。书<br>"_s
                                            << 1 << u"书完了<br>书<br>"_s << 1 << QStringList{};
        QTest::newRow("groups in the replacement") << QList{rule(u"r"_s, u"(\\d+)章"_s, u"第$1章"_s)}
                                                   << u"12章 书<br>"_s << 0 << u"第12章 书<br>"_s << 0 << QStringList{};
        QTest::newRow("plain text is not an expression") << QList{rule(u"p"_s, u"a.c"_s, u"书"_s)}
                                                         << u"abc a.c 书<br>"_s << 0 << u"abc 书 书<br>"_s << 1
                                                         << QStringList{};
        QTest::newRow("rule off, or another book's") << QList{rule(u"px"_s, u"书"_s), rule(u"po"_s, u"书"_s)}
                                                     << banner << 1 << banner << 1 << QStringList{};
        QTest::newRow("hit inside removed text") << QList{rule(u"r"_s, u"^广告.*"_s)}
                                                 << u"书<br>广告书<br>书<br>"_s << 1 << u"书<br>书<br>"_s << -1
                                                 << QStringList{};
        QTest::newRow("hit after removed text") << QList{rule(u"r"_s, u"^广告.*"_s)}
                                                << u"书<br>广告书<br>书<br>"_s << 2 << u"书<br>书<br>"_s << 1
                                                << QStringList{};
        // Backtracking without end is stopped and only that rule is left out.
        const QString runaway = QString(40, u'a') + u"c书<br>"_s;
        QTest::newRow("runaway rule stopped") << QList{rule(u"r"_s, u"(a+)+b"_s), rule(u"p"_s, u"c"_s)} << runaway
                                              << 0 << QString(40, u'a') + u"书<br>"_s << 0
                                              << QStringList{u"(a+)+b"_s};
        QTest::newRow("bad expression never applied") << QList{rule(u"r"_s, u"书(["_s)} << banner << 1 << banner << 1
                                                      << QStringList{};
    }
    void textRulesCleanTheShownText()
    {
        QFETCH(QList<TextRule>, rules);
        QFETCH(QString, fragment);
        QFETCH(int, occurrence);
        const TextCleaner::Result result = TextCleaner(rules, u"/books/this.txt"_s).clean(fragment, u"书"_s, occurrence);
        QTEST(result.fragment, "shown");
        QTEST(result.occurrence, "shownOccurrence");
        QTEST(result.stopped, "stopped");
        for (const TextRule &r : rules)
            QCOMPARE(TextRuleProblem(r).isEmpty(), !r.pattern.endsWith(u'['));

        // The whole-book search lists, and counts, exactly the hits the page finds again.
        const QString path = m_dir.filePath(u"rules.txt"_s);
        const QString lines = QString(fragment).replace(u"<br>"_s, u"\n"_s);
        QVERIFY(TestSupport::writeFile(path, TestSupport::gb18030(u"标题\n"_s + lines)));
        const QList<ChapterEntry> entries = GetChapter(path).entries;
        QCOMPARE(ChapterFragment(path, entries.value(0)), fragment);
        const TextCleaner cleaner(rules, path);
        QList<int> listed, found;
        const BookSearchOutcome outcome = FindShownInBook(path, entries, {u"书"_s}, [&](const QList<BookSearchPlace> &p) {
            for (const BookSearchPlace &place : p)
                listed << place.occurrence;
        }, &cleaner);
        for (int k = 0; k < fragment.count(u"书"_s); ++k) {
            if (cleaner.clean(fragment, u"书"_s, k).occurrence >= 0)
                found << k;
        }
        QCOMPARE(listed, found);
        QCOMPARE(outcome.total, found.size());
    }
};

QTEST_GUILESS_MAIN(TestBookSearch)
#include "tst_booksearch.moc"
