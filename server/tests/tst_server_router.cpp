#include "RouterFixture.h"
#include "store/SearchIndex.h"

// Routing and answers without sockets: requests go straight into Router::handle. The catalogue,
// its pages, search and book files here; accounts, uploads and sync in tst_server_router_accounts.
class TestServerRouter : public RouterFixture
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { setUpRouter(); }

    void routing_data()
    {
        QTest::addColumn<QByteArray>("target"); // "POST " before a form post, its body after the "?"
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("contains");
        const QByteArray list = "/readerserver/listbook.asp", none;
        QTest::newRow("server info") << "/readerserver/getinfo.asp?desknum=AB12&rnt=2024/3/7%209:05:33"_ba
                                     << 200 << "<version>v1.2</version><mustdown>FALSE</mustdown>"_ba;
        QTest::newRow("server info by POST") << "POST /readerserver/getinfo.asp?"_ba << 405 << none;
        QTest::newRow("broken escape in the query") << list + "?type=%E6%AD%FF" << 400 << none;
        QTest::newRow("unknown list action") << list + "?action=drop" << 400 << none;
        QTest::newRow("dot segments") << "/books/1/../../catalogue.db"_ba << 404 << none;
        QTest::newRow("encoded dot segments") << "/books/..%2F..%2Fcatalogue.db"_ba << 404 << none;
        QTest::newRow("another book's name") << "/books/1/%E4%B9%A6%E5%90%8D3.txt"_ba << 404 << none;
        QTest::newRow("upload awaiting review") << "/books/46/p.txt"_ba << 404 << none;
        QTest::newRow("feeds for reading apps") << "/OPDS/"_ba << 200 << "href=\"/opds/category/10\""_ba;
        QTest::newRow("feed of no category") << "/opds/category/11"_ba << 404 << none;
        QTest::newRow("feed offers the EPUB") << "/OPDS/category/3"_ba << 200
                                             << "href=\"/books/43/43-%E4%B9%A6%E5%90%8D43.epub\" type=\"application/epub+zip\""_ba;
        QTest::newRow("EPUB of a text book") << "/books/3/3-%E4%B9%A6%E5%90%8D3.epub"_ba << 200 << none;
        QTest::newRow("EPUB of an upload awaiting review") << "/books/46/46-%E4%B9%A6%E5%90%8D%E5%BE%85%E5%AE%A1.epub"_ba
                                                           << 404 << none;
        // A long search key is cut to a hundred characters, in the answer and in what is cached.
        QTest::newRow("feed search, long key") << "/OPDS/search?q="_ba + QByteArray(3000, 'a') << 200
                                               << u"搜索：%1</title>"_s.arg(QString(100, u'a')).toUtf8();
        QTest::newRow("feed by POST") << "POST /opds/new?"_ba << 405 << none;
        QTest::newRow("registration by GET") << Account + "?action=reg" << 405 << none;
        QTest::newRow("form with broken escape") << "POST " + Account + "?action=reg&username=%" << 400 << none;
        QTest::newRow("edit without login") << "POST " + Account + "?action=edit&userid=1&email=a%40b%2Ecn" << 200 << "0|请先登录"_ba;
        // Logins: the name in any letter case with blanks around, remembered or for this run only.
        const QByteArray login = Account + "?action=login&username=%20Alice%20&password=";
        QTest::newRow("remembered login") << login + "abc&cookies=1" << 200 << "1|"_ba;
        QTest::newRow("login for this run") << login + "abc&cookies=0" << 200 << "1|"_ba;
        QTest::newRow("wrong password") << login + "abd&cookies=1" << 200 << "0|"_ba;
        QTest::newRow("empty password") << login + "%20&cookies=1" << 200 << "0|"_ba;
        QTest::newRow("unknown name") << Account + "?action=login&username=nobody&password=abc" << 200 << "0|"_ba;
        // Newer copies: only the book whose date differs is named; the batch is bounded.
        const QByteArray updates = "POST /folioway/updates/v1?";
        QTest::newRow("changed books") << updates + "b=3|0.29|2024-03-04%2010:00:00&b=5|0.49|2024-03-01%2010:00:00&b=99|1|x"
                                       << 200 << "<updates><book><asked>5</asked><id>5</id>"_ba;
        QTest::newRow("changed books by GET") << "/folioway/updates/v1?b=5|0|x"_ba << 405 << none;
        QTest::newRow("too many books at once") << updates + "b=1|0|x&"_ba.repeated(1001) << 413 << none;
    }
    void routing()
    {
        QFETCH(QByteArray, target);
        QFETCH(int, status);
        QFETCH(QByteArray, contains);
        const qsizetype q = target.indexOf('?');
        const Response r = target.startsWith("POST ") ? post(target.mid(5, q - 5), target.mid(q + 1), Form) : get(target);
        QCOMPARE(r.status, status);
        if (status == 200 && !r.isFile())
            QVERIFY(r.contentType.startsWith(target.startsWith("/OPDS") ? "application/atom+xml" : "text/xml; charset=utf-8"));
        QVERIFY2(r.body.contains(contains), r.body.constData());
        if (target.startsWith("/readerserver/getinfo.asp?"))
            QCOMPARE(tags(r.body, u"infobase"_s), u"infobase reader_1 reader_2 reader_3 reader_4 version mustdown verinfo "
                                                  "downloadlist savepathlist"_s.split(u' '));
        if (target.contains("action=login")) {
            const QByteArray cookie = r.header("Set-Cookie");
            QCOMPARE(cookie.isEmpty(), contains == "0|");
            QVERIFY(cookie.isEmpty() || (cookie.contains("; Path=/;") && cookie.contains("HttpOnly") &&
                                         cookie.contains("SameSite=Lax") && !cookie.contains("Domain")));
            QCOMPARE(cookie.contains("Max-Age=2592000"), target.endsWith("cookies=1") && !cookie.isEmpty());
        }
    }

    void paging_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QString>("pageinfo");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("firstId");
        // clang-format off
        QTest::newRow("all, first page") << "action=list&type=%E5%85%A8%E9%83%A8%E8%B5%84%E6%BA%90"_ba << u"3,45,1,1,2"_s << 20 << u"45"_s;
        QTest::newRow("all, last page") << "action=list&page=3"_ba << u"3,45,3,2,3"_s << 5 << u"5"_s;
        QTest::newRow("page past the end") << "action=list&page=99"_ba << u"3,45,3,2,3"_s << 5 << u"5"_s;
        QTest::newRow("page not a number") << "action=list&page=abc"_ba << u"3,45,1,1,2"_s << 20 << u"45"_s;
        QTest::newRow("category") << "action=list&type=%E6%AD%A6%E4%BE%A0%E4%BB%99%E4%BE%A0"_ba << u"1,5,1,1,1"_s << 5 << u"41"_s;
        QTest::newRow("unknown category") << "action=list&type=abc"_ba << u"1,0,1,1,1"_s << 0 << QString();
        QTest::newRow("search by title") << "action=search&key=%E4%B9%A6%E5%90%8D4"_ba << u"1,7,1,1,1"_s << 7 << u"45"_s;
        QTest::newRow("search by author, type ignored") << "action=search&type=abc&key=%E7%94%B2&page=2"_ba << u"1,15,1,1,1"_s << 15 << u"45"_s;
        QTest::newRow("search skips uploads under review") << "action=search&key=%E5%BE%85%E5%AE%A1"_ba << u"1,0,1,1,1"_s << 0 << QString();
        // clang-format on
    }
    void paging()
    {
        QFETCH(QByteArray, query);
        QFETCH(int, rows);
        // Twice: the second answer comes from the cache and must be the same.
        for (int round = 0; round < 2; ++round) {
            const Response r = get("/readerserver/listbook.asp?" + query + "&rnt=2024/3/7%209:05:33");
            QCOMPARE(r.status, 200);
            QTEST(element(r.body, "pageinfo"), "pageinfo");
            QCOMPARE(r.body.count("<bookinfo>"), rows);
            QTEST(element(r.body, "id"), "firstId");
        }
        if (rows == 0)
            return;
        const QByteArray xml = get("/readerserver/listbook.asp?" + query).body;
        const QString id = element(xml, "id");
        const QRegularExpression order(u"<bookinfo><id>\\d+</id><name>[^<]*</name><class>[^<]*</class><author>[^<]*"
                                       "</author><statue>[^<]*</statue><ftime>[^<]*</ftime><size>[\\d.]+</size>"
                                       "<downurl>/books/\\d+/[^<]+</downurl></bookinfo>"_s);
        QVERIFY(order.match(QString::fromUtf8(xml)).hasMatch());
        QCOMPARE(element(xml, "downurl"), u"/books/%1/%1-书名%1.txt"_s.arg(id));
        QCOMPARE(element(xml, "size"), u"%1"_s.arg(id.toInt() * 100 / 1024.0, 0, 'f', 2));
    }

    // The index answers every search as the table scan does, on generated titles and authors
    // made of Chinese, both cases of Latin letters, letters whose case only the database folds,
    // LIKE's own characters, punctuation and a character outside the BMP; uploads under review
    // stay out.
    static QString trickyAlphabet() { return u"书名甲乙aAbBkK\u212A%_\\ \t《》'éÉǅ"_s + QString::fromUcs4(U"\U0002000B"); }
    void searchIndexMatchesScan_data()
    {
        QTest::addColumn<QStringList>("keys");
        const QString alphabet = trickyAlphabet();
        QStringList singles{QString()}, pairs;
        for (QChar a : alphabet) {
            singles << a;
            for (QChar b : alphabet)
                pairs << QString(a) + b;
        }
        QTest::newRow("empty and single units") << singles;
        QTest::newRow("pairs") << pairs;
        QTest::newRow("longer keys") << u"书名甲,Ab名,%_,a%b,名乙甲,书名甲乙,  ,《书》,甲 乙,AAAA,无此书"_s.split(u',');
    }
    void searchIndexMatchesScan()
    {
        QFETCH(QStringList, keys);
        QString error;
        static const QString location = m_pg ? m_pg->createDatabase(u"generated"_s, &error)
                                             : Store::sqliteLocation(m_dir.filePath(u"generated.db"_s));
        Store &store = Store::forThread(location);
        QVERIFY2(store.isOpen(), qPrintable(store.lastError() + error));
        const QString alphabet = trickyAlphabet();
        quint32 seed = 7;
        const auto pick = [&](int most) {
            QString text;
            for (int n = (seed = seed * 1103515245 + 12345) >> 16 & 7; n-- > 0 && text.size() < most;)
                text += alphabet[((seed = seed * 1103515245 + 12345) >> 16) % alphabet.size()];
            return text;
        };
        for (int i = int(store.catalogue().countBooks()); i < 400; ++i)
            QVERIFY(store.catalogue().insertBook({.name = pick(7) + u'书', .author = pick(3), .category = u"其他分类"_s,
                                                  .review = i % 9 ? Review::Approved : Review::Pending}));
        for (const QString &key : keys) {
            for (int page : {1, 3}) {
                const BookPage indexed = store.catalogue().searchBooks(key, page, 9);
                const BookPage scanned = store.catalogue().scanBooks(key, page, 9);
                QVERIFY(indexed.ok && scanned.ok);
                QCOMPARE(indexed.totalBooks, scanned.totalBooks);
                QCOMPARE(indexed.page, scanned.page);
                QCOMPARE(indexed.rows.size(), scanned.rows.size());
                for (int r = 0; r < indexed.rows.size(); ++r)
                    QVERIFY2(indexed.rows[r].id == scanned.rows[r].id && indexed.rows[r].name == scanned.rows[r].name,
                             qPrintable(key));
            }
        }
        QCOMPARE(store.catalogue().searchIndex()->books(), 400 - 400 / 9 - 1);
        // A book another thread adds is found at once, though this thread asked a moment ago.
        std::unique_ptr<QThread> writer(QThread::create([&] {
            Store::forThread(location).catalogue().insertBook({.name = u"另一线程"_s, .category = u"其他分类"_s});
        }));
        writer->start();
        QVERIFY(writer->wait());
        QCOMPARE(store.catalogue().searchBooks(u"线程"_s, 1, 9).totalBooks, 1);
        QVERIFY(store.catalogue().deleteBook(store.catalogue().searchBooks(u"线程"_s, 1, 9).rows.value(0).id));
        // A row shown before is read again once it changed.
        const qint64 shown = store.catalogue().searchBooks(u"书"_s, 1, 9).rows.value(0).id;
        QVERIFY(store.catalogue().setBookFile(shown, keys.first() + u".txt"_s, 1, {}));
        QCOMPARE(store.catalogue().searchBooks(u"书"_s, 1, 9).rows.value(0).fileName, keys.first() + u".txt"_s);
    }

    void bookFile_range_data()
    {
        QTest::addColumn<QByteArray>("range");
        QTest::addColumn<int>("status");
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<qint64>("length");
        // Book 3 holds 300 bytes.
        QTest::newRow("whole") << QByteArray() << 200 << 0ll << 300ll;
        QTest::newRow("from, to") << "bytes=10-19"_ba << 206 << 10ll << 10ll;
        QTest::newRow("open end") << "bytes=290-"_ba << 206 << 290ll << 10ll;
        QTest::newRow("suffix") << "bytes=-50"_ba << 206 << 250ll << 50ll;
        QTest::newRow("start past the size") << "bytes=300-"_ba << 416 << 0ll << 0ll;
        QTest::newRow("several ranges serve all") << "bytes=0-1,5-6"_ba << 200 << 0ll << 300ll;
    }
    void bookFile_range()
    {
        QFETCH(QByteArray, range);
        QFETCH(int, status);
        Request r = Request::make("GET", "/books/3/%E4%B9%A6%E5%90%8D3.txt");
        if (!range.isEmpty())
            r.headers.emplaceBack("range", range);
        const Response answer = m_router->handle(r);
        QCOMPARE(answer.status, status);
        QCOMPARE(answer.header("Content-Range") == "bytes */300", status == 416);
        if (status == 416)
            return;
        QVERIFY(answer.isFile());
        QTEST(answer.fileOffset, "offset");
        QTEST(answer.fileLength, "length");
    }

    // EPUBs are kept within the bound, the ones used longest ago dropped first but never the one
    // just made; a replaced book file gets a new EPUB. A negative number replaces that book's file.
    void epubCache_data()
    {
        QTest::addColumn<QList<int>>("asked");
        QTest::addColumn<double>("bound"); // in EPUBs of these books, all about one size
        QTest::addColumn<QList<int>>("kept");
        QTest::newRow("within the bound") << QList<int>{1, 2, 3, 2} << 10.0 << QList<int>{1, 2, 3};
        QTest::newRow("used longest ago first") << QList<int>{1, 2, 3, 1, 4} << 3.5 << QList<int>{1, 3, 4};
        QTest::newRow("smaller than one") << QList<int>{1, 2} << 0.0 << QList<int>{2};
        QTest::newRow("replaced book") << QList<int>{5, -5, 5, 5} << 10.0 << QList<int>{5, 5};
    }
    void epubCache()
    {
        QFETCH(QList<int>, asked);
        QFETCH(double, bound);
        QDir cache(m_dir.filePath(u"epub-cache"_s));
        QVERIFY(cache.removeRecursively());
        const QByteArray address = "/books/1/1-%E4%B9%A6%E5%90%8D1.epub";
        const qint64 one = QFileInfo(get(address).filePath).size();
        QVERIFY(one > 1000 && cache.removeRecursively());
        ServerConfig config = m_config;
        config.limits.epubCacheBytes = qint64(bound * double(one));
        m_router = std::make_unique<Router>(config);
        m_router->setClock([this] { return m_now; });
        for (const int id : asked) {
            if (id < 0) {
                QFile book(m_config.booksDir() + u"/%1/书名%1.txt"_s.arg(-id));
                QVERIFY(book.open(QIODevice::WriteOnly) && book.write("第一章 新写\n" + QByteArray(-id * 100, 'y')) > 0);
                continue;
            }
            const Response r = get(u"/books/%1/%1-书名%1.epub"_s.arg(id).toUtf8());
            QVERIFY(r.isFile() && r.contentType == "application/epub+zip");
        }
        QList<int> kept;
        for (const QString &name : cache.entryList({u"*.epub"_s}))
            kept << name.section(u'-', 0, 0).toInt();
        std::sort(kept.begin(), kept.end());
        QTEST(kept, "kept");
    }

    // An approved upload of a title its uploader already shares stands in for the copy it
    // withdrew: a client holding the old id is told of the new one.
    void updatesFollowAnApprovedReplacement()
    {
        Store &store = Store::forThread(m_config.databaseLocation());
        BookStorage storage(store, m_config.booksDir());
        QString error;
        BookRow b{.name = u"续写之书"_s, .category = Categories::names()[0], .fileName = u"a.txt"_s,
                  .uploader = store.accounts().userByName(u"alice"_s)->id};
        const qint64 first = storage.add(b, {"one", {}}, {}, &error);
        b.review = Review::Pending;
        const qint64 second = storage.add(b, {"one two", {}}, {}, &error);
        QVERIFY2(first > 0 && second > 0, qPrintable(error));
        QCOMPARE(store.uploads().review(second, Review::Approved, 0, 0).replacedIds, QList<qint64>{first});
        const QByteArray answer = post("/folioway/updates/v1", "b=" + QByteArray::number(first) + "|0.00|x", Form).body;
        QCOMPARE(element(answer, "asked"), QString::number(first));
        QCOMPARE(element(answer, "id"), QString::number(second));
    }
};

QTEST_GUILESS_MAIN(TestServerRouter)
#include "tst_server_router.moc"
