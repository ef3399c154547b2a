#include "DemoCatalogue.h"
#include "FormCodec.h"
#include "LiveServer.h"
#include "Store.h"

#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

using namespace Qt::StringLiterals;

// The real binary over loopback HTTP, talked to as the desktop client talks to it.
class TestServerLive : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void serverInfo();
    void catalogue_pagesCoverEveryBook();
    void downloads_streamWithLength();
    void account_fullLifeCycle();
    void hostile_data();
    void hostile();
    void hostile_truncatedAndOversizedBodies();
    void hostile_leavesServerAndDatabaseIntact();
    void commandLine_errors_data();
    void commandLine_errors();
    void commandLine_import();

private:
    struct Reply
    {
        int status = 0;
        QByteArray body;
        QByteArray contentType;
        qint64 contentLength = -1;
    };
    Reply request(const QByteArray &method, const QString &pathAndQuery, const QByteArray &body = {},
                  const QByteArray &contentType = {});
    // Sends bytes as they are and returns what comes back until the server closes or stops talking.
    QByteArray raw(const QByteArray &bytes, int waitMs = 3000, bool closeAfterWrite = false);

    QTemporaryDir m_dir;
    LiveServer m_server;
    QNetworkAccessManager m_net;
};

namespace {

// Every element's text by tag name, in document order; empty list for a document that is
// not well-formed.
QMultiHash<QString, QString> elements(const QByteArray &xml, QStringList *order = nullptr)
{
    QMultiHash<QString, QString> out;
    QStringList names;
    QXmlStreamReader reader(xml);
    QString text;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            names.append(reader.name().toString());
            text.clear();
        } else if (reader.isCharacters()) {
            text += reader.text();
        } else if (reader.isEndElement()) {
            out.insert(reader.name().toString(), text);
            text.clear();
        }
    }
    if (reader.hasError())
        return {};
    if (order)
        *order = names;
    return out;
}

QStringList inOrder(const QMultiHash<QString, QString> &hash, const QString &key)
{
    QStringList values = hash.values(key);
    std::reverse(values.begin(), values.end());
    return values;
}

QString makeBoundary()
{
    static const QString alphabet = u"ABCDEFGHIJKLMNOPQRSTUVWXZYabcdefghijklmnopqrstuvwxzy0123456789"_s;
    QString b = u"__NextPart__"_s;
    for (int i = 0; i < 25; ++i)
        b += alphabet[QRandomGenerator::global()->bounded(62)];
    return b;
}

// The upload body exactly as the desktop client assembles it from its field string.
QByteArray clientUploadBody(const QString &fieldString, const QString &boundary)
{
    QByteArray body;
    const QByteArray dash = "--" + boundary.toLatin1();
    for (const QString &item : fieldString.split(u'|')) {
        const QString key = item.section(u'=', 0, 0);
        const QString value = item.mid(key.size() + 1);
        if (key.startsWith(u"file")) {
            QFile f(value);
            f.open(QIODevice::ReadOnly);
            body +=
                dash + "\r\n" +
                FormCodec::toGb18030(u"Content-Disposition:form-data;name=\"%1\";filename=\"%2\""_s.arg(key, value)) +
                "\r\nContent-Type:application/octet-stream\r\n\r\n" + f.readAll() + "\r\n";
        } else {
            body += dash + "\r\n" + FormCodec::toGb18030(u"Content-Disposition: form-data; name=\"%1\""_s.arg(key)) +
                    "\r\n\r\n" + FormCodec::toGb18030(value) + "\r\n";
        }
    }
    return body + dash + "--";
}

QString rnt()
{
    return u"&rnt="_s + QString::fromLatin1(QUrl::toPercentEncoding(u"2024/3/7 9:05:33"_s, "/:"));
}

QString q(const QString &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value, "/:"));
}

QString binDir()
{
    return qEnvironmentVariable("FOLIOWAY_BIN_DIR");
}

} // namespace

TestServerLive::Reply TestServerLive::request(const QByteArray &method, const QString &pathAndQuery,
                                              const QByteArray &body, const QByteArray &contentType)
{
    QNetworkRequest r(QUrl(m_server.baseUrl() + pathAndQuery));
    if (!contentType.isEmpty())
        r.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    r.setTransferTimeout(20000);
    QNetworkReply *reply = m_net.sendCustomRequest(r, method, body);
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    Reply out;
    out.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    out.body = reply->readAll();
    out.contentType = reply->rawHeader("Content-Type");
    out.contentLength = reply->header(QNetworkRequest::ContentLengthHeader).isValid()
                            ? reply->header(QNetworkRequest::ContentLengthHeader).toLongLong()
                            : -1;
    reply->deleteLater();
    return out;
}

QByteArray TestServerLive::raw(const QByteArray &bytes, int waitMs, bool closeAfterWrite)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_server.port());
    if (!socket.waitForConnected(5000))
        return "NO CONNECTION";
    socket.write(bytes);
    socket.waitForBytesWritten(5000);
    if (closeAfterWrite) {
        socket.disconnectFromHost();
        return {};
    }
    QByteArray answer;
    QDeadlineTimer deadline(waitMs);
    while (!deadline.hasExpired() && socket.state() == QAbstractSocket::ConnectedState) {
        if (socket.waitForReadyRead(100))
            answer += socket.readAll();
        else if (!answer.isEmpty() && answer.contains("\r\n\r\n"))
            break;
    }
    return answer + socket.readAll();
}

void TestServerLive::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(!LiveServer::binary(binDir()).isEmpty(), qPrintable(binDir()));
    QVERIFY2(m_server.start(binDir(), {u"--data"_s, m_dir.filePath(u"data"_s), u"--demo"_s}),
             qPrintable(m_server.output()));
    m_net.setCookieJar(new QNetworkCookieJar(&m_net));
}

void TestServerLive::serverInfo()
{
    const Reply r = request("GET", u"/readerserver/getinfo.asp?desknum=PC-1"_s + rnt().remove(u"%20"_s));
    QCOMPARE(r.status, 200);
    QCOMPARE(r.contentType, "text/xml; charset=utf-8"_ba);
    QStringList order;
    const auto e = elements(r.body, &order);
    QCOMPARE(order, (QStringList{u"infobase"_s, u"reader_1"_s, u"reader_2"_s, u"reader_3"_s, u"reader_4"_s,
                                 u"version"_s, u"mustdown"_s, u"verinfo"_s, u"downloadlist"_s, u"savepathlist"_s}));
    QCOMPARE(e.value(u"version"_s), u"v1.2"_s);
    QCOMPARE(e.value(u"mustdown"_s), u"FALSE"_s);
}

void TestServerLive::catalogue_pagesCoverEveryBook()
{
    QSet<QString> ids;
    QHash<QString, int> perCategory;
    int totalPages = 1;
    int totalBooks = 0;
    bool sawZip = false;
    bool sawTxt = false;
    for (int page = 1; page <= totalPages; ++page) {
        const Reply r = request(
            "GET", u"/readerserver/listbook.asp?action=list&type=%1&page=%2"_s.arg(q(u"全部资源"_s)).arg(page) + rnt());
        QCOMPARE(r.status, 200);
        const auto e = elements(r.body);
        const QStringList info = e.value(u"pageinfo"_s).split(u',');
        QCOMPARE(info.size(), 5);
        totalPages = info[0].toInt();
        totalBooks = info[1].toInt();
        QCOMPARE(info[2].toInt(), page);
        QCOMPARE(info[3].toInt(), std::max(1, page - 1));
        QCOMPARE(info[4].toInt(), std::min(totalPages, page + 1));
        const QStringList pageIds = inOrder(e, u"id"_s);
        QCOMPARE(pageIds.size(), page < totalPages ? 20 : totalBooks - 20 * (totalPages - 1));
        for (int i = 1; i < pageIds.size(); ++i)
            QVERIFY(pageIds[i - 1].toInt() > pageIds[i].toInt());
        for (const QString &id : pageIds)
            QVERIFY(!ids.contains(id) && (ids.insert(id), true));
        for (const QString &c : e.values(u"class"_s))
            ++perCategory[c];
        for (const QString &url : e.values(u"downurl"_s)) {
            sawZip = sawZip || url.endsWith(u".zip"_s);
            sawTxt = sawTxt || url.endsWith(u".txt"_s);
        }
        if (page == 2) {
            const QString title = inOrder(e, u"name"_s).value(3);
            const Reply found = request("GET", u"/readerserver/listbook.asp?action=search&key="_s + q(title) + rnt());
            QVERIFY(inOrder(elements(found.body), u"name"_s).contains(title));
        }
    }
    QVERIFY(totalBooks >= 60);
    QCOMPARE(ids.size(), totalBooks);
    QCOMPARE(perCategory.size(), 10);
    QVERIFY(sawZip && sawTxt);

    // Each category's own list holds exactly the books counted for it above.
    for (auto it = perCategory.cbegin(); it != perCategory.cend(); ++it) {
        const Reply r = request("GET", u"/readerserver/listbook.asp?action=list&type="_s + q(it.key()) + rnt());
        QCOMPARE(elements(r.body).value(u"pageinfo"_s).section(u',', 1, 1).toInt(), it.value());
    }
}

void TestServerLive::downloads_streamWithLength()
{
    const auto e = elements(request("GET", u"/readerserver/listbook.asp?action=list"_s + rnt()).body);
    const QStringList urls = inOrder(e, u"downurl"_s);
    const QStringList sizes = inOrder(e, u"size"_s);
    const QStringList names = inOrder(e, u"name"_s);
    int checked = 0;
    for (int i = 0; i < urls.size() && checked < 4; ++i) {
        const Reply r = request("GET", urls[i]);
        QCOMPARE(r.status, 200);
        QCOMPARE(r.contentLength, r.body.size());
        QCOMPARE(QString::number(r.body.size() / 1024.0, 'f', 2), sizes[i]);
        if (urls[i].endsWith(u".zip"_s)) {
            QVERIFY(r.body.startsWith("PK\x03\x04"));
            QVERIFY(r.body.contains((names[i] + u'/' + names[i] + u".txt"_s).toUtf8()));
        } else {
            const QString text = *FormCodec::fromGb18030(r.body);
            QVERIFY(text.startsWith(names[i]));
            QVERIFY(text.contains(u"\r\n第一章 "_s));
            QVERIFY(text.contains(u"\r\n第十章 "_s) || !text.contains(u"第九章"_s));
        }
        ++checked;
    }
    QCOMPARE(checked, 4);
}

void TestServerLive::account_fullLifeCycle()
{
    using FormCodec::encodeGbFormValue;
    const QString endpoint = u"/readerserver/userinfo.asp"_s;
    const QByteArray form = "application/x-www-form-urlencoded";
    auto code = [](const Reply &r) { return elements(r.body).value(u"logininfo"_s); };

    // Registration as the client sends it: question under "anwser", answer under "question".
    const QByteArray reg =
        "action=reg&username=" + encodeGbFormValue(u"读书人_7"_s) + "&userpass=" + encodeGbFormValue(u"p@ss 12"_s) +
        "&email=" + encodeGbFormValue(u"reader@example.com"_s) + "&sex=" + encodeGbFormValue(u"保密"_s) +
        "&qq=" + encodeGbFormValue(u"123456"_s) + "&anwser=" + encodeGbFormValue(u"你的宠物叫什么?"_s) +
        "&question=" + encodeGbFormValue(u"旺财"_s);
    QVERIFY(code(request("POST", endpoint, reg, form)).startsWith(u"1|"));
    QVERIFY(code(request("POST", endpoint, reg, form)).startsWith(u"0|"));

    QCOMPARE(code(request("GET", endpoint + u"?action=check"_s + rnt())), u"0|请先登录"_s);
    QVERIFY(code(request("GET", endpoint + u"?action=login&username=读书人_7&password=wrong&cookies=1"_s + rnt()))
                .startsWith(u"0|"));
    const QString login = endpoint + u"?action=login&username="_s + q(u"读书人_7"_s) + u"&password="_s +
                          q(u"p@ss 12"_s) + u"&cookies=1"_s + rnt();
    QVERIFY(code(request("GET", login)).startsWith(u"1|"));

    const QList<QNetworkCookie> cookies = m_net.cookieJar()->cookiesForUrl(QUrl(m_server.baseUrl() + endpoint));
    QCOMPARE(cookies.size(), 1);
    QVERIFY(cookies[0].isHttpOnly());
    QVERIFY(!cookies[0].isSessionCookie());
    QVERIFY(qAbs(QDateTime::currentDateTimeUtc().daysTo(cookies[0].expirationDate()) - 30) <= 1);

    Reply check = request("GET", endpoint + u"?action=check"_s + rnt());
    QStringList order;
    auto profile = elements(check.body, &order);
    QCOMPARE(order, (QStringList{u"userbase"_s, u"logininfo"_s, u"purl"_s, u"pinfo"_s, u"uid"_s, u"uname"_s,
                                 u"userlogin"_s, u"lastdate"_s, u"userpoint"_s, u"usermoney"_s, u"usermail"_s, u"qq"_s,
                                 u"sex"_s, u"question"_s}));
    QVERIFY(profile.value(u"logininfo"_s).startsWith(u"1|"));
    QCOMPARE(profile.value(u"uname"_s), u"读书人_7"_s);
    QCOMPARE(profile.value(u"question"_s), u"你的宠物叫什么?"_s);
    QCOMPARE(profile.value(u"userlogin"_s), u"1"_s);
    QCOMPARE(profile.value(u"userpoint"_s), u"10"_s);
    QCOMPARE(profile.value(u"usermoney"_s), u"0"_s);
    const QString uid = profile.value(u"uid"_s);

    // Profile edit: sex unencoded, as the client sends it.
    const QByteArray edit =
        "action=edit&userid=" + uid.toLatin1() + "&userpass=&email=" + encodeGbFormValue(u"new@example.com"_s) +
        "&sex=" + FormCodec::toGb18030(u"女"_s) + "&qq=" + encodeGbFormValue(u"654321"_s) + "&anwser=";
    QVERIFY(code(request("POST", endpoint, edit, form)).startsWith(u"2|"));
    profile = elements(request("GET", endpoint + u"?action=check"_s + rnt()).body);
    QCOMPARE(profile.value(u"usermail"_s), u"new@example.com"_s);
    QCOMPARE(profile.value(u"sex"_s), u"女"_s);

    const QString mine = u"/readerserver/ListUserBook.asp?uname="_s + q(u"读书人_7"_s) + rnt();
    QCOMPARE(elements(request("GET", mine).body).value(u"pageinfo"_s), u"1,0,1,1,1"_s);

    // Upload, byte for byte as the client builds it, from a path with Chinese folders.
    QVERIFY(QDir().mkpath(m_dir.filePath(u"本地/小说"_s)));
    const QString bookPath = m_dir.filePath(u"本地/小说/上传测试.txt"_s);
    const QString coverPath = m_dir.filePath(u"本地/封面.gif"_s);
    const QByteArray bookBytes = DemoCatalogue::novelText(u"上传测试"_s, u"读书人"_s, 3, 7);
    QFile book(bookPath);
    QVERIFY(book.open(QIODevice::WriteOnly) && book.write(bookBytes) == bookBytes.size());
    book.close();
    QFile cover(coverPath);
    QVERIFY(cover.open(QIODevice::WriteOnly) && cover.write("GIF89a\x01\x00\x01\x00") > 0);
    cover.close();
    const QString fields = u"file1="_s + QDir::toNativeSeparators(bookPath) + u"|file2="_s + coverPath +
                           u"|stype=推理灵异|sname=上传测试|sauthor=读书人|username=读书人_7|smemo=a=b 简介"
                           "|sstatue=连载|snewchap=第三章"_s;
    const QByteArray body = clientUploadBody(fields, makeBoundary());
    QVERIFY(body.startsWith("--__NextPart__") && body.endsWith("--") && !body.endsWith("\r\n"));
    Reply upload = request("POST", u"/readerserver/uploadbook.asp"_s, body, "multipart/form-data");
    QCOMPARE(upload.status, 200);
    QVERIFY2(FormCodec::fromGb18030(upload.body)->startsWith(u"1|"), upload.body.constData());

    auto books = elements(request("GET", mine).body);
    QCOMPARE(books.value(u"checkif"_s), u"0"_s);
    QCOMPARE(books.value(u"statue"_s), u"连载"_s);
    QCOMPARE(books.value(u"newchap"_s), QString::number(bookBytes.size() / 1024.0, 'f', 2));
    const QString id = books.value(u"id"_s);
    const QString search = u"/readerserver/listbook.asp?action=search&key="_s + q(u"上传测试"_s) + rnt();
    QCOMPARE(elements(request("GET", search).body).value(u"pageinfo"_s), u"1,0,1,1,1"_s);

    // Review on the command line while the server runs.
    const QString data = m_dir.filePath(u"data"_s);
    LiveServer::Result pending = LiveServer::run(binDir(), {u"--data"_s, data, u"pending"_s});
    QCOMPARE(pending.exitCode, 0);
    QVERIFY(pending.out.contains(id + u'\t'));
    QCOMPARE(LiveServer::run(binDir(), {u"--data"_s, data, u"approve"_s, id}).exitCode, 0);

    const auto listed = elements(request("GET", search).body);
    QCOMPARE(listed.value(u"id"_s), id);
    QCOMPARE(listed.value(u"author"_s), u"读书人"_s);
    QCOMPARE(listed.value(u"class"_s), u"推理灵异"_s);
    QCOMPARE(listed.value(u"downurl"_s), u"/books/%1/上传测试.txt"_s.arg(id));
    const Reply file = request("GET", listed.value(u"downurl"_s));
    QCOMPARE(file.status, 200);
    QCOMPARE(file.body, bookBytes);
    QVERIFY(QFile::exists(QDir(data).filePath(u"books/%1/cover.gif"_s.arg(id))));
    QCOMPARE(elements(request("GET", mine).body).value(u"checkif"_s), u"1"_s);
    QCOMPARE(elements(request("GET", endpoint + u"?action=check"_s + rnt()).body).value(u"usermoney"_s), u"10"_s);

    // Logout ends the session and removes the cookie from the client's jar.
    QCOMPARE(code(request("GET", endpoint + u"?action=loginout"_s + rnt())), u"0|已安全退出，欢迎下次光临！"_s);
    QVERIFY(m_net.cookieJar()->cookiesForUrl(QUrl(m_server.baseUrl() + endpoint)).isEmpty());
    QCOMPARE(code(request("GET", endpoint + u"?action=check"_s + rnt())), u"0|请先登录"_s);
    QCOMPARE(elements(request("GET", mine).body).value(u"pageinfo"_s), u"1,0,1,1,1"_s);

    // Without "记住登录" the cookie lasts as long as the client's session.
    QVERIFY(code(request("GET", QString(login).replace(u"cookies=1"_s, u"cookies=0"_s))).startsWith(u"1|"));
    const QList<QNetworkCookie> session = m_net.cookieJar()->cookiesForUrl(QUrl(m_server.baseUrl() + endpoint));
    QCOMPARE(session.size(), 1);
    QVERIFY(session[0].isSessionCookie());
    request("GET", endpoint + u"?action=loginout"_s + rnt());
}

void TestServerLive::hostile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("statusLine"); // expected start of the answer; empty: refused or closed

    const QByteArray end = " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    QTest::newRow("dot segments to the database") << "GET /books/../catalogue.db" + end << "HTTP/1.1 404"_ba;
    QTest::newRow("encoded dot segments") << "GET /books/1/..%2F..%2Fcatalogue.db" + end << "HTTP/1.1 404"_ba;
    QTest::newRow("settings through the pages") << "GET /readerserver/../server.ini" + end << "HTTP/1.1 404"_ba;
    QTest::newRow("broken escape") << "GET /readerserver/listbook.asp?action=search&key=%E4%B" + end
                                   << "HTTP/1.1 400"_ba;
    QTest::newRow("form with broken escape")
        << "POST /readerserver/userinfo.asp HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Type: "
           "application/x-www-form-urlencoded\r\nContent-Length: 22\r\n\r\naction=reg&username=%Z"_ba
        << "HTTP/1.1 400"_ba;
    QTest::newRow("upload without multipart")
        << "POST /readerserver/uploadbook.asp HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: 3\r\n\r\n"
           "abc"_ba
        << "HTTP/1.1 400"_ba;
    QTest::newRow("not HTTP") << "HELLO\r\n\r\n"_ba << QByteArray();
    QTest::newRow("huge header") << "GET /readerserver/getinfo.asp HTTP/1.1\r\nX-Big: " + QByteArray(200000, 'a') +
                                        "\r\n\r\n"
                                 << "HTTP/1.1 4"_ba;
}

void TestServerLive::hostile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, statusLine);
    const QByteArray answer = raw(bytes);
    if (statusLine.isEmpty())
        QVERIFY2(answer.isEmpty() || answer.startsWith("HTTP/1.1 4"), answer.left(200).constData());
    else
        QVERIFY2(answer.startsWith(statusLine), answer.left(200).constData());
    QVERIFY(!answer.contains("SQLite format"));
    QVERIFY(m_server.isRunning());
}

void TestServerLive::hostile_truncatedAndOversizedBodies()
{
    // Log in over a raw socket to send uploads by hand.
    using FormCodec::encodeGbFormValue;
    request("POST", u"/readerserver/userinfo.asp"_s,
            "action=reg&username=mallory&userpass=" + encodeGbFormValue(u"secret"_s) + "&email=m%40x%2Ecn",
            "application/x-www-form-urlencoded");
    const QByteArray login = raw("GET /readerserver/userinfo.asp?action=login&username=mallory&password=secret&"
                                 "cookies=0 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    const qsizetype at = login.indexOf("Set-Cookie: ");
    QVERIFY(at > 0);
    const QByteArray cookie = login.mid(at + 12, login.indexOf(';', at) - at - 12);
    const QByteArray head =
        "POST /readerserver/uploadbook.asp HTTP/1.1\r\nHost: x\r\nConnection: close\r\nCookie: " + cookie +
        "\r\nContent-Type: multipart/form-data\r\n";

    // A declared length beyond the limit is refused before any body is sent.
    QVERIFY(raw(head + "Content-Length: 100000000\r\n\r\n").startsWith("HTTP/1.1 413"));
    // A body without a length that grows beyond the limit ends the connection.
    QByteArray chunked = "POST /readerserver/userinfo.asp HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 20; ++i)
        chunked += "1000\r\n" + QByteArray(4096, 'a') + "\r\n";
    QVERIFY(!raw(chunked, 3000).startsWith("HTTP/1.1 200"));
    // A body cut short by the client: nothing is stored.
    const QByteArray part =
        "--B\r\nContent-Disposition:form-data;name=\"file1\";filename=\"a.txt\"\r\n\r\n" + QByteArray(2000000, 'x');
    raw(head + "Content-Length: 5000000\r\n\r\n" + part, 0, true);
    // A complete request whose multipart ends in the middle of a part.
    const QByteArray cut = "--B\r\nContent-Disposition: form-data; name=\"stype\"\r\n\r\n" +
                           FormCodec::toGb18030(u"武侠仙侠"_s) +
                           "\r\n--B\r\nContent-Disposition:form-data;"
                           "name=\"file1\";filename=\"a.txt\"\r\n\r\nabc";
    const QByteArray answer = raw(head + "Content-Length: " + QByteArray::number(cut.size()) + "\r\n\r\n" + cut);
    QVERIFY2(answer.startsWith("HTTP/1.1 400"), answer.constData());
    QVERIFY(FormCodec::fromGb18030(answer.mid(answer.indexOf("\r\n\r\n") + 4))->startsWith(u"0|"));
    // Fields missing from a well-formed body.
    const QByteArray empty = "--B\r\nContent-Disposition: form-data; name=\"sname\"\r\n\r\nx\r\n--B--";
    const QByteArray refused = raw(head + "Content-Length: " + QByteArray::number(empty.size()) + "\r\n\r\n" + empty);
    QVERIFY(refused.startsWith("HTTP/1.1 200"));
    QVERIFY(FormCodec::fromGb18030(refused.mid(refused.indexOf("\r\n\r\n") + 4))->startsWith(u"0|"));

    // A body too large to keep in memory goes through the spool file and arrives whole.
    QByteArray big(3 * 1024 * 1024 + 7, 'z');
    big[0] = 'A';
    big[big.size() - 1] = 'Z';
    const QByteArray whole =
        "--B\r\nContent-Disposition:form-data;name=\"file1\";filename=\"C:\\big.txt\"\r\n\r\n" + big +
        "\r\n--B\r\nContent-Disposition: form-data; name=\"stype\"\r\n\r\n" + FormCodec::toGb18030(u"其他分类"_s) +
        "\r\n--B\r\nContent-Disposition: form-data; "
        "name=\"sname\"\r\n\r\nbig\r\n--B\r\nContent-Disposition: form-data; name=\"sstatue\"\r\n\r\n" +
        FormCodec::toGb18030(u"全集"_s) + "\r\n--B--";
    const QByteArray stored =
        raw(head + "Content-Length: " + QByteArray::number(whole.size()) + "\r\n\r\n" + whole, 15000);
    QVERIFY2(FormCodec::fromGb18030(stored.mid(stored.indexOf("\r\n\r\n") + 4))->startsWith(u"1|"), stored.constData());
    QDir books(m_dir.filePath(u"data/books"_s));
    QStringList ids = books.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(ids.begin(), ids.end(), [](const QString &a, const QString &b) { return a.toInt() < b.toInt(); });
    QFile file(books.filePath(ids.last() + u"/big.txt"_s));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), big);
    QVERIFY(m_server.isRunning());
}

void TestServerLive::hostile_leavesServerAndDatabaseIntact()
{
    QTest::qWait(300);
    QVERIFY(m_server.isRunning());
    QCOMPARE(request("GET", u"/readerserver/getinfo.asp"_s).status, 200);

    const QString data = m_dir.filePath(u"data"_s);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"inspect"_s);
        db.setDatabaseName(Store::databasePath(data));
        db.setConnectOptions(u"QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"_s);
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(u"PRAGMA integrity_check"_s) && query.next());
        QCOMPARE(query.value(0).toString(), u"ok"_s);
        QVERIFY(query.exec(u"SELECT id, filename FROM books"_s));
        QSet<QString> rows;
        while (query.next()) {
            rows.insert(query.value(0).toString());
            QVERIFY(QFile::exists(u"%1/books/%2/%3"_s.arg(data, query.value(0).toString(), query.value(1).toString())));
        }
        // 70 demo books and the two accepted uploads; the refused and broken ones left nothing.
        QCOMPARE(rows.size(), 72);
        const QStringList folders = QDir(data + u"/books"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(QSet<QString>(folders.begin(), folders.end()), rows);
        QVERIFY(query.exec(u"SELECT count(*) FROM users"_s) && query.next());
        QCOMPARE(query.value(0).toInt(), 2);
    }
    QSqlDatabase::removeDatabase(u"inspect"_s);
    QVERIFY(QDir(data + u"/spool"_s).entryList(QDir::Files).isEmpty());
}

void TestServerLive::commandLine_errors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    QTest::newRow("unknown option") << QStringList{u"--colour"_s} << 2 << u"unknown option"_s;
    QTest::newRow("port not a number") << QStringList{u"--port"_s, u"eighty"_s} << 2 << u"invalid port"_s;
    QTest::newRow("unknown command") << QStringList{u"serve"_s} << 2 << u"unknown command"_s;
    QTest::newRow("import without category") << QStringList{u"import"_s, u"/tmp"_s} << 2 << u"--category"_s;
    QTest::newRow("approve of no book") << QStringList{u"approve"_s, u"99999"_s} << 1 << u"no book"_s;
    QTest::newRow("port in use") << QStringList{u"--port"_s, u"PORT"_s} << 1 << u"in use"_s;
    QTest::newRow("data folder is a file") << QStringList{u"--data"_s, u"FILE"_s} << 1 << u"not a folder"_s;
}

void TestServerLive::commandLine_errors()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QTcpServer occupied;
    QVERIFY(occupied.listen(QHostAddress::LocalHost));
    QFile file(m_dir.filePath(u"plain-file"_s));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    arguments.replaceInStrings(u"PORT"_s, QString::number(occupied.serverPort()));
    arguments.replaceInStrings(u"FILE"_s, file.fileName());
    if (!arguments.contains(u"--data"_s))
        arguments = QStringList{u"--data"_s, m_dir.filePath(u"cli"_s)} + arguments;
    const LiveServer::Result r = LiveServer::run(binDir(), arguments);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
}

void TestServerLive::commandLine_import()
{
    const QString folder = m_dir.filePath(u"import"_s);
    QVERIFY(QDir().mkpath(folder + u"/子目录"_s));
    auto write = [](const QString &path, const QByteArray &bytes) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    };
    QVERIFY(write(folder + u"/《大道朝天》作者：猫腻.txt"_s, "a"));
    QVERIFY(write(folder + u"/子目录/无名书.ZIP"_s, DemoCatalogue::zipArchive({{u"x/无名书.txt"_s, "b"}})));
    QVERIFY(write(folder + u"/notes.doc"_s, "c"));
    const QString data = m_dir.filePath(u"imported"_s);
    const LiveServer::Result r =
        LiveServer::run(binDir(), {u"--data"_s, data, u"import"_s, folder, u"--category"_s, u"历史军事"_s});
    QCOMPARE(r.exitCode, 0);
    QVERIFY(r.out.contains(u"imported 2 books"_s));

    LiveServer second;
    QVERIFY2(second.start(binDir(), {u"--data"_s, data}), qPrintable(second.output()));
    QNetworkAccessManager net;
    QNetworkReply *reply = net.get(
        QNetworkRequest(QUrl(second.baseUrl() + u"/readerserver/listbook.asp?action=list&type="_s + q(u"历史军事"_s))));
    QSignalSpy done(reply, &QNetworkReply::finished);
    QVERIFY(done.wait(10000));
    const auto e = elements(reply->readAll());
    QCOMPARE(inOrder(e, u"name"_s), (QStringList{u"无名书"_s, u"大道朝天"_s}));
    QCOMPARE(inOrder(e, u"author"_s), (QStringList{u"佚名"_s, u"猫腻"_s}));
    reply->deleteLater();
}

QTEST_GUILESS_MAIN(TestServerLive)
#include "tst_server_live.moc"
