#include "BookStorage.h"
#include "Categories.h"
#include "FormCodec.h"
#include "Router.h"
#include "Secrets.h"
#include "Store.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

// Routing and answers without sockets: requests go straight into Router::handle.
class TestServerRouter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void routing_data();
    void routing();
    void paging_data();
    void paging();
    void bookFile_range_data();
    void bookFile_range();
    void registration_data();
    void registration();
    void login_data();
    void login();
    void session_expires();
    void profileEdit();
    void upload_data();
    void upload();
    void upload_thenApprove_replacesOlderCopy();

private:
    Response get(const QByteArray &target, const QByteArray &cookie = {}) const;
    Response post(const QByteArray &target, const QByteArray &body, const QByteArray &type,
                  const QByteArray &cookie = {}) const;
    QByteArray loginCookie(const QString &name, const QString &password) const;
    QByteArray uploadBody(const QList<QPair<QString, QByteArray>> &items) const;

    QTemporaryDir m_dir;
    ServerConfig m_config;
    std::unique_ptr<Router> m_router;
    QDateTime m_now = QDateTime(QDate(2024, 3, 7), QTime(9, 5, 33));
    qint64 m_pendingId = 0;
};

namespace {

QString element(const QByteArray &xml, const char *tag)
{
    static const QRegularExpression any(u"<(\\w+)>([^<]*)</\\1>"_s);
    const QString text = QString::fromUtf8(xml);
    auto it = any.globalMatch(text);
    while (it.hasNext()) {
        const auto m = it.next();
        if (m.captured(1) == QLatin1String(tag))
            return m.captured(2);
    }
    return {};
}

int count(const QByteArray &xml, const char *tag)
{
    return int(xml.count("<" + QByteArray(tag) + ">"));
}

QByteArray cookieValue(const Response &r)
{
    const QByteArray set = r.header("Set-Cookie");
    return set.left(set.indexOf(';'));
}

} // namespace

Response TestServerRouter::get(const QByteArray &target, const QByteArray &cookie) const
{
    Request r = Request::make("GET", target);
    r.headers.append(qMakePair(QByteArray("host"), QByteArray("127.0.0.1:8080")));
    if (!cookie.isEmpty())
        r.headers.append(qMakePair(QByteArray("cookie"), QByteArray(cookie)));
    return m_router->handle(r);
}

Response TestServerRouter::post(const QByteArray &target, const QByteArray &body, const QByteArray &type,
                                const QByteArray &cookie) const
{
    Request r = Request::make("POST", target, body);
    r.headers.append(qMakePair(QByteArray("content-type"), QByteArray(type)));
    if (!cookie.isEmpty())
        r.headers.append(qMakePair(QByteArray("cookie"), QByteArray(cookie)));
    return m_router->handle(r);
}

QByteArray TestServerRouter::loginCookie(const QString &name, const QString &password) const
{
    const Response r = get("/readerserver/userinfo.asp?action=login&username=" + QUrl::toPercentEncoding(name) +
                           "&password=" + QUrl::toPercentEncoding(password) + "&cookies=1");
    return element(r.body, "logininfo").startsWith(u'1') ? cookieValue(r) : QByteArray();
}

QByteArray TestServerRouter::uploadBody(const QList<QPair<QString, QByteArray>> &items) const
{
    const QByteArray b = "__NextPart__0123456789abcdefghijklmno";
    QByteArray body;
    for (const auto &[key, value] : items) {
        body += "--" + b + "\r\n";
        if (key.startsWith(u"file")) {
            const qsizetype bar = value.indexOf('|');
            body += "Content-Disposition:form-data;name=\"" + key.toLatin1() + "\";filename=\"" +
                    FormCodec::toGb18030(QString::fromUtf8(value.left(bar))) +
                    "\"\r\nContent-Type:application/octet-stream\r\n\r\n" + value.mid(bar + 1) + "\r\n";
        } else {
            body += "Content-Disposition: form-data; name=\"" + key.toLatin1() + "\"\r\n\r\n" +
                    FormCodec::toGb18030(QString::fromUtf8(value)) + "\r\n";
        }
    }
    return body + "--" + b + "--";
}

void TestServerRouter::initTestCase()
{
    QVERIFY(Secrets::initialize());
    QVERIFY(m_dir.isValid());
    m_config = ServerConfig::load(m_dir.path());
    Store &store = Store::forThread(m_dir.path());
    QVERIFY2(store.isOpen(), qPrintable(store.lastError()));

    // 45 approved books over the categories in turn, and one upload awaiting review.
    BookStorage storage(store, m_config.booksDir());
    QString error;
    const QString authors[] = {u"甲"_s, u"乙"_s, u"丙"_s};
    for (int i = 1; i <= 45; ++i) {
        BookRow b;
        b.name = u"书名%1"_s.arg(i);
        b.author = authors[i % 3];
        b.category = Categories::names()[(i - 1) % 10];
        b.status = u"全集"_s;
        b.fileName = u"书名%1.txt"_s.arg(i);
        b.updated = u"2024-03-%1 10:00:00"_s.arg(1 + i % 28, 2, 10, QChar(u'0'));
        QVERIFY2(storage.add(b, {QByteArray(i * 100, 'x'), {}}, {}, &error) == i, qPrintable(error));
    }
    BookRow pending;
    pending.name = u"书名待审"_s;
    pending.category = Categories::names()[0];
    pending.fileName = u"p.txt"_s;
    pending.review = Review::Pending;
    m_pendingId = storage.add(pending, {"pending", {}}, {}, &error);
    QVERIFY(m_pendingId > 0);

    m_router = std::make_unique<Router>(m_config);
    m_router->setClock([this] { return m_now; });
    const Response alice =
        post("/readerserver/userinfo.asp", "action=reg&username=alice&userpass=%61bc&email=a%40b%2Ecn&sex=%B1%A3%C3%DC",
             "application/x-www-form-urlencoded");
    QVERIFY(element(alice.body, "logininfo").startsWith(u"1|"));
}

void TestServerRouter::routing_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("contains");

    QTest::newRow("server info") << "GET"_ba
                                 << "/readerserver/getinfo.asp?desknum=AB12&rnt=2024/3/7%209:05:33"_ba << QByteArray()
                                 << 200 << "<version>v1.2</version><mustdown>FALSE</mustdown>"_ba;
    QTest::newRow("server info by POST") << "POST"_ba
                                         << "/readerserver/getinfo.asp"_ba << QByteArray() << 405 << QByteArray();
    QTest::newRow("broken escape in the query")
        << "GET"_ba
        << "/readerserver/listbook.asp?type=%E6%AD%FF"_ba << QByteArray() << 400 << QByteArray();
    QTest::newRow("unknown list action") << "GET"_ba
                                         << "/readerserver/listbook.asp?action=drop"_ba << QByteArray() << 400
                                         << QByteArray();
    QTest::newRow("book file") << "GET"_ba
                               << "/books/3/%E4%B9%A6%E5%90%8D3.txt"_ba << QByteArray() << 200 << QByteArray();
    QTest::newRow("dot segments") << "GET"_ba
                                  << "/books/1/../../catalogue.db"_ba << QByteArray() << 404 << QByteArray();
    QTest::newRow("encoded dot segments") << "GET"_ba
                                          << "/books/..%2F..%2Fcatalogue.db"_ba << QByteArray() << 404 << QByteArray();
    QTest::newRow("another book's name") << "GET"_ba
                                         << "/books/1/%E4%B9%A6%E5%90%8D3.txt"_ba << QByteArray() << 404
                                         << QByteArray();
    QTest::newRow("upload awaiting review") << "GET"_ba
                                            << "/books/46/p.txt"_ba << QByteArray() << 404 << QByteArray();
    QTest::newRow("check without login") << "GET"_ba
                                         << "/readerserver/userinfo.asp?action=check"_ba << QByteArray() << 200
                                         << "<logininfo>0|请先登录</logininfo>"_ba;
    QTest::newRow("registration by GET") << "GET"_ba
                                         << "/readerserver/userinfo.asp?action=reg"_ba << QByteArray() << 405
                                         << QByteArray();
    QTest::newRow("form with broken escape") << "POST"_ba
                                             << "/readerserver/userinfo.asp"_ba
                                             << "action=reg&username=%"_ba << 400 << QByteArray();
    QTest::newRow("edit without login") << "POST"_ba
                                        << "/readerserver/userinfo.asp"_ba
                                        << "action=edit&userid=1&email=a%40b%2Ecn"_ba << 200 << "0|请先登录"_ba;
}

void TestServerRouter::routing()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QByteArray, contains);
    const Response r = method == "POST" ? post(target, body, "application/x-www-form-urlencoded") : get(target);
    QCOMPARE(r.status, status);
    if (status == 200 && !r.isFile())
        QVERIFY(r.contentType.startsWith("text/xml; charset=utf-8"));
    QVERIFY2(r.body.contains(contains), r.body.constData());
}

void TestServerRouter::paging_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QString>("pageinfo");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("firstId");

    QTest::newRow("all, first page") << "action=list&type=%E5%85%A8%E9%83%A8%E8%B5%84%E6%BA%90"_ba << u"3,45,1,1,2"_s
                                     << 20 << u"45"_s;
    QTest::newRow("all, middle page") << "action=list&page=2"_ba << u"3,45,2,1,3"_s << 20 << u"25"_s;
    QTest::newRow("all, last page") << "action=list&page=3"_ba << u"3,45,3,2,3"_s << 5 << u"5"_s;
    QTest::newRow("page past the end") << "action=list&page=99"_ba << u"3,45,3,2,3"_s << 5 << u"5"_s;
    QTest::newRow("page not a number") << "action=list&page=abc"_ba << u"3,45,1,1,2"_s << 20 << u"45"_s;
    QTest::newRow("category") << "action=list&type=%E6%AD%A6%E4%BE%A0%E4%BB%99%E4%BE%A0"_ba << u"1,5,1,1,1"_s << 5
                              << u"41"_s;
    QTest::newRow("unknown category") << "action=list&type=abc"_ba << u"1,0,1,1,1"_s << 0 << QString();
    QTest::newRow("search by title") << "action=search&key=%E4%B9%A6%E5%90%8D4"_ba << u"1,7,1,1,1"_s << 7 << u"45"_s;
    QTest::newRow("search by author, type ignored")
        << "action=search&type=abc&key=%E7%94%B2&page=2"_ba << u"1,15,1,1,1"_s << 15 << u"45"_s;
    QTest::newRow("search skips uploads under review")
        << "action=search&key=%E5%BE%85%E5%AE%A1"_ba << u"1,0,1,1,1"_s << 0 << QString();
}

void TestServerRouter::paging()
{
    QFETCH(QByteArray, query);
    QFETCH(QString, pageinfo);
    QFETCH(int, rows);
    QFETCH(QString, firstId);
    // Twice: the second answer comes from the cache and must be the same.
    for (int round = 0; round < 2; ++round) {
        const Response r = get("/readerserver/listbook.asp?" + query + "&rnt=2024/3/7%209:05:33");
        QCOMPARE(r.status, 200);
        QCOMPARE(element(r.body, "pageinfo"), pageinfo);
        QCOMPARE(count(r.body, "bookinfo"), rows);
        QCOMPARE(element(r.body, "id"), firstId);
    }
    if (rows > 0) {
        const QByteArray xml = get("/readerserver/listbook.asp?" + query).body;
        const QString id = element(xml, "id");
        const QRegularExpression order(u"<bookinfo><id>\\d+</id><name>[^<]*</name><class>[^<]*</class><author>[^<]*"
                                       "</author><statue>[^<]*</statue><ftime>[^<]*</ftime><size>[\\d.]+</size>"
                                       "<downurl>/books/\\d+/[^<]+</downurl></bookinfo>"_s);
        QVERIFY(order.match(QString::fromUtf8(xml)).hasMatch());
        QCOMPARE(element(xml, "downurl"), u"/books/%1/书名%1.txt"_s.arg(id));
        QCOMPARE(element(xml, "size"), u"%1"_s.arg(id.toInt() * 100 / 1024.0, 0, 'f', 2));
    }
}

void TestServerRouter::bookFile_range_data()
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

void TestServerRouter::bookFile_range()
{
    QFETCH(QByteArray, range);
    QFETCH(int, status);
    QFETCH(qint64, offset);
    QFETCH(qint64, length);
    Request r = Request::make("GET", "/books/3/%E4%B9%A6%E5%90%8D3.txt");
    if (!range.isEmpty())
        r.headers.append(qMakePair(QByteArray("range"), QByteArray(range)));
    const Response answer = m_router->handle(r);
    QCOMPARE(answer.status, status);
    if (status == 416) {
        QCOMPARE(answer.header("Content-Range"), "bytes */300"_ba);
        return;
    }
    QVERIFY(answer.isFile());
    QCOMPARE(answer.fileOffset, offset);
    QCOMPARE(answer.fileLength, length);
}

void TestServerRouter::registration_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("qq");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("message");

    QTest::newRow("accepted") << u"张三_01"_s << u"secret1"_s << u"zs@example.com"_s << u"12345"_s << u"1"_s
                              << u"注册成功"_s;
    QTest::newRow("name taken") << u"张三_01"_s << u"other1"_s << u"zs@example.com"_s << QString() << u"0"_s
                                << u"已被注册"_s;
    QTest::newRow("name too short") << u"ab"_s << u"abc"_s << u"a@b.cn"_s << QString() << u"0"_s << u"3至14位"_s;
    QTest::newRow("name with a dash") << u"ab-cd"_s << u"abc"_s << u"a@b.cn"_s << QString() << u"0"_s << u"特殊符号"_s;
    QTest::newRow("name with an emoji") << u"ab\U0001F600c"_s << u"abc"_s << u"a@b.cn"_s << QString() << u"0"_s
                                        << u"特殊符号"_s;
    QTest::newRow("password too short") << u"bob_1"_s << u"12"_s << u"a@b.cn"_s << QString() << u"0"_s << u"太短"_s;
    QTest::newRow("e-mail begins with @") << u"bob_1"_s << u"abc"_s << u"@b.cn"_s << QString() << u"0"_s << u"Email"_s;
    QTest::newRow("qq too long") << u"bob_1"_s << u"abc"_s << u"a@b.cn"_s << u"12345678901"_s << u"0"_s << u"QQ"_s;
}

void TestServerRouter::registration()
{
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(QString, email);
    QFETCH(QString, qq);
    QFETCH(QString, code);
    QFETCH(QString, message);

    using FormCodec::encodeGbFormValue;
    const QByteArray body =
        "action=reg&username=" + encodeGbFormValue(name) + "&userpass=" + encodeGbFormValue(password) +
        "&email=" + encodeGbFormValue(email) + "&sex=" + encodeGbFormValue(u"女"_s) + "&qq=" + encodeGbFormValue(qq) +
        "&anwser=" + encodeGbFormValue(u"你的宠物叫什么?"_s) + "&question=" + encodeGbFormValue(u"旺财"_s);
    const Response r = post("/readerserver/userinfo.asp", body, "application/x-www-form-urlencoded");
    QCOMPARE(r.status, 200);
    const QString reply = element(r.body, "logininfo");
    QCOMPARE(reply.section(u'|', 0, 0), code);
    QVERIFY2(reply.contains(message), qPrintable(reply));
}

void TestServerRouter::login_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("persistent");

    QTest::newRow("remembered") << "username=alice&password=abc&cookies=1"_ba << u"1"_s << true;
    QTest::newRow("name in other case, blanks around")
        << "username=%20Alice%20&password=abc&cookies=1"_ba << u"1"_s << true;
    QTest::newRow("wrong password") << "username=alice&password=abd&cookies=1"_ba << u"0"_s << false;
    QTest::newRow("unknown name") << "username=nobody&password=abc"_ba << u"0"_s << false;
    QTest::newRow("empty password") << "username=alice&password=%20"_ba << u"0"_s << false;
}

void TestServerRouter::login()
{
    QFETCH(QByteArray, query);
    QFETCH(QString, code);
    QFETCH(bool, persistent);
    const Response r = get("/readerserver/userinfo.asp?action=login&" + query + "&rnt=2024/3/7%209:05:33");
    QCOMPARE(element(r.body, "logininfo").section(u'|', 0, 0), code);
    const QByteArray cookie = r.header("Set-Cookie");
    QCOMPARE(cookie.isEmpty(), code != u"1");
    if (code != u"1")
        return;
    QVERIFY(cookie.contains("; Path=/;"));
    QVERIFY(cookie.contains("HttpOnly"));
    QVERIFY(cookie.contains("SameSite=Lax"));
    QVERIFY(!cookie.contains("Domain"));
    QCOMPARE(cookie.contains("Max-Age=2592000"), persistent);
}

void TestServerRouter::session_expires()
{
    const QByteArray cookie = loginCookie(u"alice"_s, u"abc"_s);
    QVERIFY(!cookie.isEmpty());
    const QDateTime saved = m_now;
    m_now = saved.addDays(29);
    QVERIFY(element(get("/readerserver/userinfo.asp?action=check", cookie).body, "logininfo").startsWith(u'1'));
    m_now = saved.addDays(31);
    QCOMPARE(element(get("/readerserver/userinfo.asp?action=check", cookie).body, "logininfo"), u"0|请先登录"_s);
    m_now = saved;
    QCOMPARE(element(get("/readerserver/userinfo.asp?action=check", "folioway_session=forged").body, "logininfo"),
             u"0|请先登录"_s);
}

void TestServerRouter::profileEdit()
{
    const QByteArray cookie = loginCookie(u"alice"_s, u"abc"_s);
    const QByteArray other = loginCookie(u"alice"_s, u"abc"_s);
    const QString uid = element(get("/readerserver/userinfo.asp?action=check", cookie).body, "uid");
    const QByteArray form = "application/x-www-form-urlencoded";
    using FormCodec::encodeGbFormValue;
    auto edit = [&](const QString &id, const QString &password, const QString &email) {
        const QByteArray body = "action=edit&userid=" + id.toUtf8() + "&userpass=" + encodeGbFormValue(password) +
                                "&email=" + encodeGbFormValue(email) + "&sex=" + FormCodec::toGb18030(u"男"_s) +
                                "&qq=" + encodeGbFormValue(u"10001"_s) + "&anwser=";
        return element(post("/readerserver/userinfo.asp", body, form, cookie).body, "logininfo");
    };

    QVERIFY(edit(u"999"_s, {}, u"a@b.cn"_s).startsWith(u"0|"));
    QVERIFY(edit(uid, {}, u"bad"_s).startsWith(u"0|"));
    QVERIFY(edit(uid, u"12"_s, u"a@b.cn"_s).startsWith(u"0|"));
    QCOMPARE(edit(uid, {}, u"new@b.cn"_s), u"2|资料修改成功！"_s);
    const QByteArray check = get("/readerserver/userinfo.asp?action=check", cookie).body;
    QCOMPARE(element(check, "usermail"), u"new@b.cn"_s);
    QCOMPARE(element(check, "sex"), u"男"_s);
    QCOMPARE(element(check, "qq"), u"10001"_s);
    // The empty password left the old one in place, and the other login is still valid.
    QVERIFY(!loginCookie(u"alice"_s, u"abc"_s).isEmpty());
    QVERIFY(element(get("/readerserver/userinfo.asp?action=check", other).body, "logininfo").startsWith(u'1'));

    // A new password ends the other logins but not this one.
    QCOMPARE(edit(uid, u"xyz"_s, u"new@b.cn"_s), u"2|资料修改成功！"_s);
    QVERIFY(element(get("/readerserver/userinfo.asp?action=check", cookie).body, "logininfo").startsWith(u'1'));
    QCOMPARE(element(get("/readerserver/userinfo.asp?action=check", other).body, "logininfo"), u"0|请先登录"_s);
    QVERIFY(loginCookie(u"alice"_s, u"abc"_s).isEmpty());
    QVERIFY(!loginCookie(u"alice"_s, u"xyz"_s).isEmpty());
    QCOMPARE(edit(uid, u"abc"_s, u"a@b.cn"_s), u"2|资料修改成功！"_s);

    const Response out = get("/readerserver/userinfo.asp?action=loginout", cookie);
    QCOMPARE(element(out.body, "logininfo"), u"0|已安全退出，欢迎下次光临！"_s);
    QVERIFY(out.header("Set-Cookie").contains("Max-Age=0"));
    QCOMPARE(element(get("/readerserver/userinfo.asp?action=check", cookie).body, "logininfo"), u"0|请先登录"_s);
}

void TestServerRouter::upload_data()
{
    QTest::addColumn<QByteArray>("category");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArray>("newest");
    QTest::addColumn<QByteArray>("file");  // path|bytes
    QTest::addColumn<QByteArray>("cover"); // path|bytes, or empty
    QTest::addColumn<QString>("reply");    // start of the answer

    const QByteArray wuxia = "武侠仙侠";
    const QByteArray txt = "D:\\小说\\剑.txt|第一章 开始\r\n正文";
    QTest::newRow("complete book") << wuxia << "剑"_ba
                                   << "全集"_ba << QByteArray() << txt << QByteArray() << u"1|"_s;
    QTest::newRow("serial with cover") << wuxia << "剑二"_ba
                                       << "连载"_ba
                                       << "第二章"_ba << txt << "C:\\a\\封面.jpg|\xff\xd8\xff\xe0JFIF"_ba << u"1|"_s;
    QTest::newRow("traversal in the file name")
        << wuxia << "剑三"_ba
        << "全集"_ba << QByteArray() << "..\\..\\x/../../catalogue.db.txt|text"_ba << QByteArray() << u"1|"_s;
    QTest::newRow("unknown category") << "小说"_ba
                                      << "剑"_ba
                                      << "全集"_ba << QByteArray() << txt << QByteArray() << u"0|电子书类型"_s;
    QTest::newRow("no name") << wuxia << " "_ba
                             << "全集"_ba << QByteArray() << txt << QByteArray() << u"0|你没有填写"_s;
    QTest::newRow("serial without newest chapter") << wuxia << "剑"_ba
                                                   << "连载"_ba << QByteArray() << txt << QByteArray() << u"0|请添加"_s;
    QTest::newRow("wrong extension") << wuxia << "剑"_ba
                                     << "全集"_ba << QByteArray() << "a.exe|MZ"_ba << QByteArray() << u"0|只能上传"_s;
    QTest::newRow("zip that is not one") << wuxia << "剑"_ba
                                         << "全集"_ba << QByteArray() << "a.zip|hello"_ba << QByteArray()
                                         << u"0|电子书文件已损坏"_s;
}

void TestServerRouter::upload()
{
    QFETCH(QByteArray, category);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, newest);
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, cover);
    QFETCH(QString, reply);

    const QByteArray cookie = loginCookie(u"alice"_s, u"abc"_s);
    QVERIFY(!cookie.isEmpty());
    QList<QPair<QString, QByteArray>> items{{u"file1"_s, file}};
    if (!cover.isEmpty())
        items.append({u"file2"_s, cover});
    items +=
        {{u"stype"_s, category},  {u"sname"_s, name},     {u"sauthor"_s, QByteArray()}, {u"username"_s, "alice"_ba},
         {u"smemo"_s, "简介"_ba}, {u"sstatue"_s, status}, {u"snewchap"_s, newest}};
    const QByteArray body = uploadBody(items);

    Store &store = Store::forThread(m_dir.path());
    const qint64 before = store.countBooks();
    QCOMPARE(post("/readerserver/uploadbook.asp", body, "multipart/form-data").body,
             FormCodec::toGb18030(u"0|请先登录后再上传电子书！"_s));

    const Response r = post("/readerserver/uploadbook.asp", body, "multipart/form-data", cookie);
    QCOMPARE(r.status, 200);
    const QString answer = *FormCodec::fromGb18030(r.body);
    QVERIFY2(answer.startsWith(reply), qPrintable(answer));
    if (!reply.startsWith(u'1')) {
        QCOMPARE(store.countBooks(), before);
        return;
    }
    QCOMPARE(store.countBooks(), before + 1);
    const BookPage mine = store.userBooks(store.userByName(u"alice"_s)->id, 1, 1);
    const BookRow &row = mine.rows.first();
    QCOMPARE(row.review, Review::Pending);
    QCOMPARE(row.author, u"佚名"_s);
    const QString folder = BookStorage(store, m_config.booksDir()).folder(row.id);
    const QByteArray bytes = file.mid(file.indexOf('|') + 1);
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), cover.isEmpty() ? 1 : 2);
    QFile stored(QDir(folder).filePath(row.fileName));
    QVERIFY(stored.open(QIODevice::ReadOnly));
    QCOMPARE(stored.readAll(), bytes);
    QVERIFY(!row.fileName.contains(u'\\') && !row.fileName.contains(u'/'));
    QVERIFY(QFile::exists(QDir(m_dir.path()).filePath(u"server.ini"_s)));
}

void TestServerRouter::upload_thenApprove_replacesOlderCopy()
{
    Store &store = Store::forThread(m_dir.path());
    const qint64 alice = store.userByName(u"alice"_s)->id;
    const QByteArray cookie = loginCookie(u"alice"_s, u"abc"_s);
    auto mine = [&] { return get("/readerserver/ListUserBook.asp?uname=alice&rnt=2024/3/7%209:05:33", cookie).body; };
    QVERIFY(count(mine(), "bookinfo") >= 3);
    QVERIFY(mine().contains("<checkif>0</checkif>"));
    // Another user's name gets nothing.
    QCOMPARE(count(get("/readerserver/ListUserBook.asp?uname=bob_1", cookie).body, "bookinfo"), 0);

    const qint64 coinsBefore = store.userById(alice)->money;
    const BookPage pending = store.userBooks(alice, 1, 50);
    QList<qint64> swords;
    for (const BookRow &b : pending.rows) {
        if (b.name == u"剑")
            swords.append(b.id);
    }
    QCOMPARE(swords.size(), 1);
    QVERIFY(store.review(swords[0], Review::Approved, 10, 5).changed);
    QCOMPARE(store.userById(alice)->money, coinsBefore + 10);
    QVERIFY(get("/readerserver/listbook.asp?action=search&key=%E5%89%91").body.contains("<name>剑</name>"));

    // The same book again: a new pending copy; approving it withdraws the old one.
    const QByteArray body = uploadBody(
        {{u"file1"_s, "x.txt|v2"_ba}, {u"stype"_s, "武侠仙侠"_ba}, {u"sname"_s, "剑"_ba}, {u"sstatue"_s, "全集"_ba}});
    QVERIFY(FormCodec::fromGb18030(post("/readerserver/uploadbook.asp", body, "multipart/form-data", cookie).body)
                ->startsWith(u"1|"));
    const qint64 copy = store.userBooks(alice, 1, 1).rows.first().id;
    const ReviewOutcome outcome = store.review(copy, Review::Approved, 10, 5);
    QCOMPARE(outcome.replacedIds, QList<qint64>{swords[0]});
    QCOMPARE(store.userById(alice)->money, coinsBefore + 15);
    QVERIFY(!store.book(swords[0]));
    QVERIFY(store.review(copy, Review::Rejected, 10, 5).changed);
    QVERIFY(mine().contains("<checkif>2</checkif>"));
    QVERIFY(!store.review(999999, Review::Approved, 10, 5).found);
}

QTEST_GUILESS_MAIN(TestServerRouter)
#include "tst_server_router.moc"
