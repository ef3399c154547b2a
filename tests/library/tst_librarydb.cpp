#include "TestSupport.h"
#include "library/BookFingerprint.h"
#include "library/CatalogueOrigins.h"
#include "library/LibraryDb.h"
#include "library/SyncLog.h"

#include <QSqlQuery>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestLibraryDb : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<LibraryDb> m_db;
    QString dbPath() const { return m_dir.filePath(u"DataFile/Data.db"_s); }
    // The library closed and opened again, as at the next start.
    bool reopen(QString *error = nullptr)
    {
        m_db.reset();
        m_db = std::make_unique<LibraryDb>();
        return m_db->open(dbPath(), error);
    }

    static int rows(const QString &table)
    {
        QSqlQuery q(QSqlDatabase::database(u"folioway-library"_s));
        return q.exec(u"SELECT count(*) FROM "_s + table) && q.next() ? q.value(0).toInt() : -1;
    }
    static QList<FingerprintEntry> entries(const QStringList &paths)
    {
        QList<FingerprintEntry> list;
        for (const QString &path : paths)
            list.append(FingerprintEntry{path, -1, -1, {}});
        return list;
    }
    static SyncItem item(const QString &kind, const QString &key, qint64 changed, bool deleted, const QString &payload)
    {
        return SyncItem{kind, key, changed, deleted, payload, 0, {}};
    }

private Q_SLOTS:
    void init()
    {
        for (const QString &file : {dbPath(), SyncLog::fileFor(dbPath())}) {
            for (const QString &suffix : {u""_s, u"-wal"_s, u"-shm"_s})
                QFile::remove(file + suffix);
        }
        QString error;
        QVERIFY2(reopen(&error), qPrintable(error));
    }
    void cleanup() { m_db.reset(); }

    void quotesAndMarkup_areStoredAndFoundUnchanged_lookupsIgnoreCase()
    {
        const QString name = u"It's 'quoted' \"twice\""_s;
        const QString author = u"O'Brien; DROP TABLE BookList;--"_s;
        const QString path = u"/home/me/Tom's books/<b>书</b>'.txt"_s;
        const qint64 id = m_db->insertBook(u"其他分类"_s, name, author, path);
        QVERIFY(id > 0);
        const auto byPath = m_db->findByPath(path);
        QVERIFY(byPath);
        QCOMPARE((QStringList{byPath->name, byPath->author, byPath->path}), (QStringList{name, author, path}));
        QCOMPARE(m_db->findByName(name)->id, id);
        // Lookups ignore letter case, not blanks.
        QCOMPARE(m_db->findByPath(path.toUpper())->id, id);
        QCOMPARE(m_db->findByName(name.toLower())->id, id);
        QVERIFY(!m_db->findByPath(path + u" "_s) && !m_db->findByPathExcept(path.toUpper(), id));
        QVERIFY(m_db->setBookmark(path, u"第一章 'It's' <i>"_s));
        QCOMPARE(m_db->findById(id)->marke, u"第一章 'It's' <i>"_s);
    }

    // Own heading rules: none until one is added, then kept unchanged, in order, across a reopen.
    void headingRules_keptInOrder()
    {
        HeadingRuleList &rules = m_db->headingRules();
        QVERIFY(rules.rules().isEmpty());
        const qint64 a = rules.add(u"方括号"_s, u"^【[^】]+】$"_s);
        const qint64 b = rules.add(QString(), u"^chapter\\s+\\d+|'; --"_s);
        const qint64 c = rules.add(u"删掉"_s, u"x"_s);
        QVERIFY(a > 0 && b > a && c > b);
        QVERIFY(rules.update({a, u"改名"_s, u"^【.】"_s}) && rules.remove(c));
        QVERIFY(reopen());
        QCOMPARE(m_db->headingRules().rules(), (QList<HeadingRuleRow>{{a, u"改名"_s, u"^【.】"_s},
                                                                     {b, QString(), u"^chapter\\s+\\d+|'; --"_s}}));
    }

    // Text columns come in pinyin order (numbers by value), either way; ties newest first.
    void shelfOrder_textColumnsByPinyin_data()
    {
        QTest::addColumn<ShelfSort>("sort");
        QTest::addColumn<bool>("descending");
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("title") << ShelfSort::Name << false
                               << QStringList{u"阿Q正传"_s, u"白鹿原"_s,   u"第2卷"_s, u"第10卷"_s,
                                              u"红楼梦"_s,  u"三国演义"_s, u"西游记"_s};
        QTest::newRow("title, reversed") << ShelfSort::Name << true
                                         << QStringList{u"西游记"_s, u"三国演义"_s, u"红楼梦"_s, u"第10卷"_s,
                                                        u"第2卷"_s,  u"白鹿原"_s,   u"阿Q正传"_s};
        QTest::newRow("author, a tie newest first")
            << ShelfSort::Author << false
            << QStringList{u"红楼梦"_s, u"白鹿原"_s, u"阿Q正传"_s, u"三国演义"_s, u"第10卷"_s, u"第2卷"_s, u"西游记"_s};
    }
    void shelfOrder_textColumnsByPinyin()
    {
        QFETCH(ShelfSort, sort);
        QFETCH(bool, descending);
        const QStringList books{u"西游记|吴承恩"_s, u"红楼梦|曹雪芹"_s, u"三国演义|罗贯中"_s, u"第2卷|某"_s,
                                u"阿Q正传|鲁迅"_s,  u"白鹿原|陈忠实"_s, u"第10卷|某"_s};
        for (const QString &b : books)
            QVERIFY(m_db->insertBook(u"其他分类"_s, b.section(u'|', 0, 0), b.section(u'|', 1), u"/b/"_s + b) > 0);
        QStringList titles;
        for (int page = 1; page <= 2; ++page) { // the order runs on across pages
            for (const BookRecord &r : m_db->shelfPage({{}, {}, sort, descending}, page, 4).rows)
                titles << r.name;
        }
        QTEST(titles, "titles");
    }

    // Catalogue origins: a row taken off the shelf is neither asked about nor marked, and a copy
    // remembered anew (the newer one fetched) drops the mark.
    void catalogueOrigins_followTheShelf()
    {
        const qint64 kept = m_db->insertBook(u"其他分类"_s, u"甲"_s, {}, u"/b/甲.txt"_s);
        const qint64 gone = m_db->insertBook(u"其他分类"_s, u"乙"_s, {}, u"/b/乙.txt"_s);
        for (const qint64 id : {kept, gone}) {
            QVERIFY(RememberCatalogueOrigin(*m_db, id, QString::number(id + 100), u"1.00"_s, u"2024-01-01 08:00:00"_s));
            QVERIFY(NoteCatalogueUpdate(*m_db, id, u"7"_s, u"2.00"_s, u"2024-02-01 08:00:00"_s, u"/books/7/7-甲.txt"_s));
        }
        QVERIFY(m_db->deleteBook(gone));
        QCOMPARE(CatalogueOrigins(*m_db).size(), 1);
        QCOMPARE(BooksWithUpdates(*m_db), QSet<qint64>{kept});
        QVERIFY(RememberCatalogueOrigin(*m_db, kept, u"7"_s, u"2.00"_s, u"2024-02-01 08:00:00"_s));
        QVERIFY(BooksWithUpdates(*m_db).isEmpty());
        QCOMPARE(CatalogueOriginOf(*m_db, kept)->catalogueId, u"7"_s);
    }

    // A new file has one settings row (its colours and size are checked through the page in
    // tst_reader_pane); saving twice and opening the file again still leaves one, with the last values.
    // A book's bookmark list across a reopening of the file. A note or a removal stamps the row's
    // change time and a removal keeps its row, so the changes can be carried elsewhere; a version
    // brought in replaces only an older one.
    void bookmarkList_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<QStringList>("notes"); // of the live entries, oldest first
        QTest::addColumn<int>("changed");       // rows changed after both were added
        QTest::newRow("note edited") << u"note"_s << QStringList{u"改过"_s, u"二"_s} << 1;
        QTest::newRow("removed") << u"remove"_s << QStringList{u"二"_s} << 1;
        QTest::newRow("an older version brought in") << u"older"_s << QStringList{u"一"_s, u"二"_s} << 0;
        QTest::newRow("a newer version brought in") << u"newer"_s << QStringList{u"别处"_s, u"二"_s} << 1;
    }
    void bookmarkList()
    {
        QFETCH(QString, step);
        qint64 now = 1765000000000;
        m_db->setClock([&now] { return QDateTime::fromMSecsSinceEpoch(now += 1000); });
        const QString book = u"/书/It's.txt"_s;
        auto entry = [](const QString &path, int chapter, const QString &title, const QString &note) {
            BookmarkEntry e;
            std::tie(e.book, e.chapter, e.chapterTitle, e.fraction, e.excerpt, e.note) =
                std::tuple(path, chapter, title, 0.25, u"山间小路"_s, note);
            return e;
        };
        BookmarkEntry first = entry(book, 3, u"第3章 'a'"_s, u"一"_s);
        BookmarkEntry second = entry(book, 7, u"第7章"_s, u"二"_s);
        BookmarkEntry other = entry(u"/书/别的.txt"_s, 1, u"第1章"_s, {});
        QVERIFY(m_db->bookmarks().add(first) && m_db->bookmarks().add(second) && m_db->bookmarks().add(other));
        QVERIFY(!first.id.isEmpty() && first.id != second.id);
        const qint64 added = now;
        BookmarkEntry version = first;
        version.note = u"别处"_s;
        version.changed = step == u"older" ? first.changed - 1 : now + 5000;
        if (step == u"note")
            QVERIFY(m_db->bookmarks().setNote(book, first.id, u"改过"_s));
        else if (step == u"remove")
            QVERIFY(m_db->bookmarks().remove(book, first.id));
        else
            QVERIFY(m_db->bookmarks().store(version));

        QVERIFY(reopen());
        const QList<BookmarkEntry> kept = m_db->bookmarks().list(book.toUpper());
        QStringList notes;
        for (const BookmarkEntry &e : kept)
            notes << e.note;
        QTEST(notes, "notes");
        QCOMPARE(kept.last(), second);
        const QList<BookmarkEntry> changed = m_db->bookmarks().changedSince(added);
        QTEST(int(changed.size()), "changed");
        if (step == u"remove")
            QVERIFY(changed.first().removed && changed.first().excerpt == first.excerpt);
        QCOMPARE(rows(u"Bookmarks"_s), 3);
    }

    void settings_alwaysOneRow()
    {
        QCOMPARE(rows(u"SysSet"_s), 1);
        QCOMPARE(m_db->bossKey(), u"Alt|Q"_s);
        SysSetRow row{u"/tmp/书 下载"_s, true, u"Ctrl|q"_s, u"FF0000"_s, u"特大号"_s, u"FFFFFF"_s};
        QVERIFY(m_db->saveSettings(row));
        row.txtSize = u"小号"_s;
        QVERIFY(m_db->saveSettings(row));
        QVERIFY(reopen());
        QCOMPARE(rows(u"SysSet"_s), 1);
        QCOMPARE((QStringList{m_db->downSavePath(), m_db->bossKey(), m_db->txtSize()}),
                 (QStringList{row.downSavePath, row.bossKey, u"小号"_s}));
        QVERIFY(m_db->autoRun());

        QVERIFY(QSqlQuery(QSqlDatabase::database(u"folioway-library"_s)).exec(u"DELETE FROM SysSet"_s));
        QVERIFY(m_db->saveSettings(row));
        QCOMPARE(rows(u"SysSet"_s), 1);
        QVERIFY(m_db->setDownSavePath(u"/x"_s));
        QCOMPARE(m_db->downSavePath(), u"/x"_s);
    }
    // A book is known by its content wherever it lies; a file is fingerprinted again only once
    // its size or time changed.
    void fingerprint_followsContentNotPath()
    {
        const QString a = m_dir.filePath(u"甲/书.txt"_s), b = m_dir.filePath(u"乙/另一本.txt"_s);
        const QString c = m_dir.filePath(u"丙.txt"_s);
        QVERIFY(TestSupport::writeFile(a, "same text") && TestSupport::writeFile(b, "same text"));
        QVERIFY(TestSupport::writeFile(c, "sane text"));
        QCOMPARE(BookFingerprint(a), BookFingerprint(b));
        QVERIFY(BookFingerprint(a) != BookFingerprint(c));
        QCOMPARE(BookFingerprint(a), u"9:27d5adbae6602ee890ddf094c69608d8c1d1129a"_s); // size and SHA-1
        const std::atomic_bool closing = true; // the program is closing: nothing more is read
        QVERIFY(BookFingerprint(a, &closing).isEmpty());
        QVERIFY(RefreshFingerprints(entries({a}), &closing).isEmpty());

        QList<FingerprintEntry> known = RefreshFingerprints(entries({a, c, m_dir.filePath(u"没有.txt"_s)}));
        QCOMPARE(known.size(), 2);
        QVERIFY(RefreshFingerprints(known).isEmpty());
        QFile f(c);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("other text!") && f.setFileTime(QDateTime(QDate(2020, 1, 1), QTime(8, 0)), QFileDevice::FileModificationTime));
        f.close();
        const QList<FingerprintEntry> again = RefreshFingerprints(known);
        QCOMPARE(again.size(), 1);
        QCOMPARE(again[0].fingerprint, BookFingerprint(c));
    }

    // Local changes are logged only once sync is on; what the server sends replaces the shelf
    // entry, bookmark, list entry or way of reading unless a later local change waits, and is never
    // logged itself. Ways of reading go only to a server that takes them.
    void syncLog_localChangesWaitAndServerVersionsApply_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<qint64>("age");  // ms the server's version is older than now (negative: newer)
        QTest::addColumn<bool>("deleted");
        QTest::addColumn<QString>("payload");
        QTest::addColumn<QStringList>("expected"); // type, name, marke, listed notes; empty: row removed
        const QStringList local{u"武侠仙侠"_s, u"江湖"_s, u"第二章"_s, u"原注"_s};
        const QString shelf = uR"({"type":"历史军事","name":"江湖夜雨","author":"某"})"_s;
        QTest::newRow("newer shelf entry") << u"shelf"_s << -60000LL << false << shelf
                                           << QStringList{u"历史军事"_s, u"江湖夜雨"_s, u"第二章"_s, u"原注"_s};
        QTest::newRow("older shelf entry") << u"shelf"_s << 60000LL << false << shelf << local;
        QTest::newRow("newer removal") << u"shelf"_s << -60000LL << true << QString() << QStringList();
        QTest::newRow("newer bookmark") << u"bookmark"_s << -60000LL << false << uR"({"title":"第九章"})"_s
                                        << QStringList{u"武侠仙侠"_s, u"江湖"_s, u"第九章"_s, u"原注"_s};
        QTest::newRow("older bookmark removal") << u"bookmark"_s << 60000LL << true << QString() << local;
        // "entry": the list entry made here, keyed by its id.
        QTest::newRow("newer list note") << u"entry"_s << -60000LL << false << uR"({"chapter":2,"note":"新注"})"_s
                                         << QStringList{u"武侠仙侠"_s, u"江湖"_s, u"第二章"_s, u"新注"_s};
        QTest::newRow("newer list removal") << u"entry"_s << -60000LL << true << QString()
                                            << QStringList{u"武侠仙侠"_s, u"江湖"_s, u"第二章"_s};
        QTest::newRow("older list removal") << u"entry"_s << 60000LL << true << QString() << local;
        QTest::newRow("newer reading") << u"reading"_s << -60000LL << false << u"rule=%5E%E5%8D%B7"_s
                                       << local + QStringList{u"rule=%5E%E5%8D%B7"_s};
        QTest::newRow("older reading") << u"reading"_s << 60000LL << false << u"rule=x"_s << local + QStringList{u"smart=1"_s};
    }
    void syncLog_localChangesWaitAndServerVersionsApply()
    {
        QFETCH(QString, kind);
        QFETCH(qint64, age);
        QFETCH(bool, deleted);
        QFETCH(QString, payload);
        QFETCH(QStringList, expected);
        const QString path = m_dir.filePath(u"江湖.txt"_s);
        QVERIFY(TestSupport::writeFile(path, "text"));
        QVERIFY(m_db->insertBook(u"其他分类"_s, u"江湖"_s, {}, path) > 0);
        QVERIFY(!QFile::exists(SyncLog::fileFor(dbPath()))); // nothing of sync before it is on
        LibrarySync &sync = m_db->sync();
        QVERIFY(sync.enable() && sync.storeFingerprints(RefreshFingerprints(sync.fingerprintEntries())));
        const QList<PendingSyncItem> queued = sync.pendingItems(10);
        QCOMPARE(queued.size(), 1); // the shelf as it was, at the moment it was last read
        QCOMPARE(queued[0].item.changed, m_db->findByPath(path)->lastread.toMSecsSinceEpoch());
        QVERIFY(m_db->updateBook(m_db->findByPath(path)->id, u"武侠仙侠"_s, u"江湖"_s, {}, path));
        QVERIFY(m_db->setBookmark(path, u"第二章"_s));
        BookmarkEntry entry{.book = path, .chapter = 2, .note = u"原注"_s};
        QVERIFY(m_db->bookmarks().add(entry));
        QVERIFY(RememberCatalogueOrigin(*m_db, m_db->findByPath(path)->id, u"77"_s, {}, {}));
        const QString readingOption = u"BookReading:"_s + path;
        QVERIFY(m_db->setOption(readingOption, u"smart=1"_s));
        const QList<PendingSyncItem> pending = sync.pendingItems(10);
        QCOMPARE(pending.size(), 3);
        const QList<PendingSyncItem> withReading = sync.pendingItems(10, true);
        QVERIFY(withReading.size() == 4 && std::any_of(withReading.cbegin(), withReading.cend(), [](const PendingSyncItem &p) {
                    return p.item.kind == u"reading"_s && p.item.payload == u"smart=1"_s;
                }));
        const QString fingerprint = BookFingerprint(path);
        QStringList keys;
        for (const PendingSyncItem &p : pending)
            keys << p.item.key + (p.item.payload.contains(uR"("catalogue":"77")"_s) ? u" 77"_s : QString());
        QStringList expectedKeys{fingerprint + u" 77"_s, fingerprint + u"/"_s + entry.id, fingerprint + u"/0"_s};
        keys.sort();
        expectedKeys.sort();
        QCOMPARE(keys, expectedKeys);

        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const QString key = kind == u"shelf"_s || kind == u"reading"_s ? fingerprint : fingerprint + u"/"_s + (kind == u"entry"_s ? entry.id : u"0"_s);
        QVERIFY(sync.apply({item(kind == u"entry"_s ? u"bookmark"_s : kind, key, now - age, deleted, payload)}));
        const auto row = m_db->findByPath(path);
        QStringList shown = row ? QStringList{row->type, row->name, row->marke} : QStringList();
        for (const BookmarkEntry &e : m_db->bookmarks().list(path))
            shown << e.note;
        QCOMPARE(shown.mid(0, row ? 4 : 0), expected.mid(0, 4));
        if (kind == u"reading"_s)
            QCOMPARE(m_db->option(readingOption), expected.value(4));
        // The applied version left no change to send; the losing local one still waits.
        QCOMPARE(sync.pendingItems(10, true).size(), age > 0 ? 4 : 3);
        QVERIFY(sync.isEnabled());
    }

    // A library that kept its log inside itself moves it into the sync file (its owner's only)
    // once, keeping every row, and keeps no account data; its lists, never sent, are queued once.
    void syncLog_movesOutOfTheLibraryOnce()
    {
        BookmarkEntry entry{.book = m_dir.filePath(u"书.txt"_s), .note = u"旧"_s};
        QVERIFY(m_db->bookmarks().add(entry));
        for (const char *sql : {"CREATE TABLE SyncChange (kind TEXT, path TEXT, changed INTEGER, PRIMARY KEY (kind, path))",
                                "CREATE TABLE SyncRemote (kind TEXT, key TEXT, changed INTEGER, deleted INTEGER, payload TEXT,"
                                " PRIMARY KEY (kind, key))",
                                "CREATE TABLE SyncFingerprint (path TEXT PRIMARY KEY, size INTEGER, modified INTEGER, fingerprint TEXT)",
                                "CREATE TRIGGER SyncLogPosition AFTER INSERT ON ReadingPosition BEGIN"
                                " INSERT OR REPLACE INTO SyncChange VALUES ('position', NEW.path, 1); END",
                                "INSERT INTO SyncChange VALUES ('shelf', '/书/红楼.txt', 5)",
                                "INSERT INTO SyncRemote VALUES ('shelf', '9:abc', 7, 0, '{}')",
                                "INSERT INTO Options (name, value) VALUES ('SyncOn', '1'), ('SyncCursor', '42'),"
                                " ('SyncAccount', 'http://server' || char(10) || 'reader-7')"})
            QVERIFY2(m_db->connection().run(QString::fromLatin1(sql), {}), qPrintable(m_db->lastError()));
        for (int open = 0; open < 2; ++open) {
            QVERIFY(reopen());
            QVERIFY(m_db->sync().isEnabled());
            QCOMPARE(m_db->sync().cursor(), 42);
            QCOMPARE((QList<int>{rows(u"sync.SyncChange"_s), rows(u"sync.SyncRemote"_s)}), (QList<int>{1, 1}));
            QCOMPARE(rows(u"main.sqlite_master WHERE name LIKE 'Sync%'"_s), 0);
            QCOMPARE(rows(u"main.Options WHERE name LIKE 'Sync%'"_s), 0);
        }
        QVERIFY(!(TestSupport::readFile(dbPath()) + TestSupport::readFile(dbPath() + u"-wal"_s)).contains("reader-7"));
        QCOMPARE(QFile::permissions(SyncLog::fileFor(dbPath())),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
        QVERIFY(m_db->saveReadingPosition({entry.book, 1, u"第一回"_s, 0, 1, 2, {}}));
        QCOMPARE(rows(u"sync.SyncChange"_s), 2); // logged by this connection, into the sync file
        QVERIFY(m_db->sync().enable());
        QCOMPARE(rows(u"SyncMarkChange"_s), 1);
        QVERIFY(m_db->connection().run(u"DELETE FROM SyncMarkChange"_s, {}) && m_db->sync().enable());
        QCOMPARE(rows(u"SyncMarkChange"_s), 0);
    }

    // A shelf file whose content the account knows takes, as its row is added, the account's
    // entry, bookmark, list entries and place, and its appearance is no change to send; a book
    // the account removed, once added again, is sent. An update moves the book's items to the
    // new content, and the server is told which content it came from first.
    void syncArrival_takesTheAccountsItems_updateKeepsOneBook()
    {
        const QString path = m_dir.filePath(u"红楼.txt"_s);
        const QString gone = m_dir.filePath(u"删掉的.txt"_s);
        QVERIFY(TestSupport::writeFile(path, "text") && TestSupport::writeFile(gone, "gone"));
        LibrarySync &sync = m_db->sync();
        QVERIFY(sync.enable());
        const QString key = BookFingerprint(path);
        const qint64 at = QDateTime::currentMSecsSinceEpoch() - 60000;
        ReadingPosition there{{}, 12, u"第十二回"_s, 0.5, 30, 100, {}};
        QVERIFY(sync.apply({item(u"shelf"_s, key, at, false, uR"({"type":"游戏动漫","name":"红楼梦","author":"曹雪芹"})"_s),
                            item(u"bookmark"_s, key + u"/0"_s, at, false, uR"({"title":"第二回"})"_s),
                            item(u"bookmark"_s, key + u"/e1"_s, at, false, uR"({"chapter":3,"note":"伏笔"})"_s),
                            item(u"position"_s, key, at, false, LibrarySync::positionPayload(there)),
                            item(u"shelf"_s, BookFingerprint(gone), at, true, {})}));
        QCOMPARE(sync.remoteOnlyBooks().size(), 1);
        const qint64 id = m_db->insertBook(u"都市言情"_s, u"红楼"_s, {}, path);
        QVERIFY(id > 0 && m_db->insertBook(u"其他分类"_s, u"删掉的"_s, {}, gone) > 0);
        const BookRecord row = *m_db->findById(id);
        QCOMPARE((QStringList{row.type, row.name, row.marke}), (QStringList{u"游戏动漫"_s, u"红楼梦"_s, u"第二回"_s}));
        QCOMPARE(m_db->bookmarks().list(path).value(0).note, u"伏笔"_s);
        QCOMPARE(m_db->readingPosition(path).value_or(ReadingPosition{}).chapter, 12);
        QVERIFY(sync.remoteOnlyBooks().isEmpty());
        QVERIFY(sync.storeFingerprints(RefreshFingerprints(sync.fingerprintEntries())));
        QList<PendingSyncItem> pending = sync.pendingItems(10);
        QCOMPARE(pending.size(), 1);
        QCOMPARE(pending[0].path, gone);

        QVERIFY(sync.settle(pending));
        QVERIFY(TestSupport::writeFile(path, "text, and a new chapter"));
        QVERIFY(sync.bookReplaced(path));
        pending = sync.pendingItems(10);
        QCOMPARE(pending.size(), 1);
        QCOMPARE((QStringList{pending[0].item.kind, pending[0].item.key, pending[0].item.payload}),
                 (QStringList{u"successor"_s, key, BookFingerprint(path)}));
        QVERIFY(sync.remoteOnlyBooks().isEmpty()); // the account's entry of the old content is the new one's
        QVERIFY(m_db->setBookmark(path, u"第三回"_s));
        QCOMPARE(sync.pendingItems(10).last().item.key, BookFingerprint(path) + u"/0"_s);
    }

    // A place from another computer is offered when it is newer and elsewhere than the one here.
    void syncPosition_offeredOnlyWhenAheadAndElsewhere()
    {
        const QString path = m_dir.filePath(u"书.txt"_s);
        QVERIFY(TestSupport::writeFile(path, "text"));
        LibrarySync &sync = m_db->sync();
        QVERIFY(sync.enable() && sync.storeFingerprints(RefreshFingerprints(entries({path}))));
        ReadingPosition here{path, 3, u"第三回"_s, 0.2, 30, 100, QDateTime::currentDateTime().addSecs(-60)};
        QVERIFY(m_db->saveReadingPosition(here));
        ReadingPosition there = here;
        there.chapter = 12;
        there.chapterTitle = u"第十二回 大闹"_s;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const QString key = BookFingerprint(path);
        QVERIFY(sync.apply({item(u"position"_s, key, now - 120000, false, LibrarySync::positionPayload(there))}));
        QVERIFY(!sync.remotePositionAhead(path));
        QVERIFY(sync.apply({item(u"position"_s, key, now, false, LibrarySync::positionPayload(there))}));
        QCOMPARE(sync.remotePositionAhead(path)->chapterTitle, there.chapterTitle);
        QCOMPARE(m_db->readingPosition(path)->chapter, 3); // offered, not taken
        QVERIFY(sync.apply({item(u"position"_s, key, now + 1, false, LibrarySync::positionPayload(here))}));
        QVERIFY(!sync.remotePositionAhead(path));
    }

    // A library stays untouched until the rules are first asked for; they are then the built-in
    // ones, all off, and what is saved or removed is kept, per book, across a restart.
    void textRules_builtInsOff_keptAcrossRestart()
    {
        QVERIFY(m_db->textRules(false).isEmpty());
        QCOMPARE(rows(u"TextRule"_s), -1);
        QList<TextRule> rules = m_db->textRules();
        QCOMPARE(rules.size(), BuiltInTextRules().size());
        QVERIFY(std::none_of(rules.cbegin(), rules.cend(), [](const TextRule &r) { return r.enabled; }));
        TextRule own{0, u"去广告"_s, u"广告'"_s, false, {}, u"/书/一本.txt"_s, true};
        QVERIFY(m_db->saveTextRule(own) && own.id > 0);
        rules[0].enabled = true;
        QVERIFY(m_db->saveTextRule(rules[0]));
        QVERIFY(m_db->deleteTextRule(rules[1].id));
        rules.removeAt(1);
        rules.append(own);
        QVERIFY(reopen());
        QCOMPARE(m_db->textRules(false), rules);
    }
};

QTEST_GUILESS_MAIN(TestLibraryDb)
#include "tst_librarydb.moc"
