// Synchronised reading of one reader with a large shelf: 2,000 books with their shelf entries
// and places and 10,000 bookmarks (each book's own and four entries of its bookmark list), as
// the program writes them, sent from one computer in pushes of 500, read in full by a second
// one, then the incremental sync with nothing changed. On SQLite and, when it is installed,
// PostgreSQL. Prints requests, bytes and milliseconds of each step. The program's whole rounds,
// its library included, are measured by bench_sync_rounds (bench/library).

#include "LiveServer.h"
#include "PgCluster.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUuid>

#include <cstdio>

namespace {

struct Exchange
{
    QByteArray head;
    QByteArray body;
    qint64 bytes = 0; // both ways, heads included
};

Exchange exchange(quint16 port, const QByteArray &target, const QByteArray &cookie = {}, const QByteArray &post = {})
{
    QByteArray request = (post.isEmpty() ? "GET " : "POST ") + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    if (!cookie.isEmpty())
        request += "Cookie: " + cookie + "\r\n";
    if (!post.isEmpty())
        request += "Content-Type: text/xml; charset=utf-8\r\nContent-Length: " + QByteArray::number(post.size()) + "\r\n";
    request += "\r\n" + post;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.waitForConnected(5000);
    socket.write(request);
    QByteArray answer;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(30000))
        answer += socket.readAll();
    answer += socket.readAll();
    const qsizetype split = answer.indexOf("\r\n\r\n");
    return {answer.left(split), answer.mid(split + 4), request.size() + answer.size()};
}

QString field(const QByteArray &xml, const char *tag)
{
    const QRegularExpression element(QStringLiteral("<%1>([^<]*)</%1>").arg(QLatin1String(tag)));
    return element.match(QString::fromUtf8(xml)).captured(1);
}

QByteArray item(const char *kind, const QString &key, qint64 changed, const QString &payload)
{
    return "<item><kind>" + QByteArray(kind) + "</kind><key>" + key.toUtf8() + "</key><changed>" +
           QByteArray::number(changed) + "</changed><payload>" + payload.toUtf8() + "</payload></item>";
}

struct Step
{
    int requests = 0;
    qint64 bytes = 0;
    double ms = 0;
};

void print(const char *backEnd, const char *what, const Step &s, qint64 items)
{
    std::printf("%-10s %-38s %6lld items %4d requests %10lld bytes %9.1f ms\n", backEnd, what, qlonglong(items),
                s.requests, qlonglong(s.bytes), s.ms);
}

// Pulls from after until no more; the items read.
qint64 pullAll(quint16 port, const QByteArray &cookie, qint64 *after, Step *step)
{
    QElapsedTimer t;
    t.start();
    qint64 items = 0;
    for (bool more = true; more;) {
        const Exchange e = exchange(port, "/folioway/sync/v1/pull?after=" + QByteArray::number(*after), cookie);
        ++step->requests;
        step->bytes += e.bytes;
        items += e.body.count("<item>");
        *after = field(e.body, "next").toLongLong();
        more = field(e.body, "more") == u"1";
        if (field(e.body, "status") != u"ok")
            break;
    }
    step->ms = t.nsecsElapsed() / 1e6;
    return items;
}

bool run(const char *backEnd, const QString &binDir, const QStringList &arguments)
{
    LiveServer server;
    if (!server.start(binDir, arguments + QStringList{QStringLiteral("--no-log")})) {
        std::fprintf(stderr, "the server did not start:\n%s\n", qPrintable(server.output()));
        return false;
    }
    const quint16 port = server.port();
    const QByteArray account = "/readerserver/userinfo.asp";
    exchange(port, account, {}, "action=reg&username=reader&userpass=secret&email=r%40x%2Ecn");
    const Exchange login = exchange(port, account + "?action=login&username=reader&password=secret&cookies=1");
    const qsizetype at = login.head.indexOf("folioway_session=");
    const QByteArray cookie = login.head.mid(at, login.head.indexOf(';', at) - at);

    // The computer's changes as they would be queued: per book its shelf entry and place, its
    // own bookmark ("/0") and four entries of its bookmark list (keyed by the entry's id).
    QList<QByteArray> items;
    const qint64 t0 = 1765000000000;
    for (int b = 0; b < 2000; ++b) {
        const QString book = QStringLiteral("%1:%2").arg(300000 + b * 37).arg(QString::fromLatin1(
            QCryptographicHash::hash(QByteArray::number(b), QCryptographicHash::Sha1).toHex()));
        items << item("shelf", book, t0 + b,
                      QStringLiteral(R"({"author":"作者%1","catalogue":"%2","name":"第%1部 长篇连载小说","type":"武侠仙侠"})")
                          .arg(b)
                          .arg(b + 1));
        items << item("position", book, t0 + b,
                      QStringLiteral(R"({"chapter":12,"fraction":0.4,"lineCount":1000,"linesRead":%1,"title":"第十二回 风雪山神庙"})")
                          .arg(b % 1000));
        items << item("bookmark", book + QStringLiteral("/0"), t0 + b, QStringLiteral(R"({"title":"第十回 夜奔"})"));
        for (int m = 0; m < 4; ++m)
            items << item("bookmark", book + u'/' + QUuid::createUuid().toString(QUuid::WithoutBraces), t0 + b,
                          QStringLiteral(R"({"chapter":%1,"chapterTitle":"第%1回","excerpt":"林冲踏着那瑞雪，迎着北风，)"
                                         R"(飞也似奔到草场门口","fraction":%2,"made":%3,"note":"此处伏笔"})")
                              .arg(m + 1)
                              .arg(0.25 * m)
                              .arg(t0 + b));
    }
    Step first;
    QElapsedTimer t;
    t.start();
    for (qsizetype i = 0; i < items.size(); i += 500) {
        QByteArray body = "<sync>";
        for (qsizetype j = i; j < std::min(items.size(), i + 500); ++j)
            body += items[j];
        const Exchange e = exchange(port, "/folioway/sync/v1/push", cookie, body + "</sync>");
        ++first.requests;
        first.bytes += e.bytes;
        if (e.body.count("<result>stored</result>") != std::min<qsizetype>(500, items.size() - i)) {
            std::fprintf(stderr, "a push was not kept:\n%s\n", e.body.left(500).constData());
            return false;
        }
    }
    first.ms = t.nsecsElapsed() / 1e6;
    print(backEnd, "first sync, push", first, items.size());

    qint64 after = 0;
    Step pull;
    const qint64 pulled = pullAll(port, cookie, &after, &pull);
    print(backEnd, "first sync on a second computer, pull", pull, pulled);

    Step quiet;
    const qint64 none = pullAll(port, cookie, &after, &quiet);
    print(backEnd, "incremental sync, nothing changed", quiet, none);
    return pulled == items.size() && none == 0;
}

} // namespace

int syncBench(const QString &binDir)
{
    return RunOnBothBackEnds([&](const char *backEnd, const QStringList &arguments, const QString &) {
        return run(backEnd, binDir, arguments);
    });
}
