#pragma once

// The router suite's fixture: a router on a temporary catalogue (SQLite, or PostgreSQL when
// FOLIOWAY_TEST_DATABASE=postgresql), requests sent straight into Router::handle.

#include "PgCluster.h"
#include "XmlFields.h"
#include "routes/FormCodec.h"
#include "routes/Router.h"
#include "routes/Secrets.h"
#include "store/BookStorage.h"
#include "store/Categories.h"
#include "store/Store.h"

#include <QSqlDatabase>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace RouterTest {

using XmlFields::tags;

inline QString element(const QByteArray &xml, const char *tag)
{
    return XmlFields::values(xml, QLatin1String(tag)).value(0);
}

const QByteArray Form = "application/x-www-form-urlencoded";
const QByteArray Multipart = "multipart/form-data";
const QByteArray Account = "/readerserver/userinfo.asp";
const QByteArray Check = Account + "?action=check";

} // namespace RouterTest


using namespace RouterTest;

class RouterFixture : public QObject
{
protected:
    // A catalogue of 45 approved books and one awaiting review, and the account "alice".
    void setUpRouter()
    {
        QVERIFY(Secrets::initialize());
        QVERIFY(m_dir.isValid());
        m_config = ServerConfig::load(m_dir.path());
        m_config.limits.signupsPerHour = 100; // every sign-up here comes from one address
        m_config.limits.accountWideLockTries = 12;
        QString error;
        // The same suite runs against a throw-away PostgreSQL cluster when asked to.
        if (qEnvironmentVariable("FOLIOWAY_TEST_DATABASE") == u"postgresql") {
            if (PgCluster::programs().isEmpty() || !QSqlDatabase::isDriverAvailable(u"QPSQL"_s))
                QSKIP("PostgreSQL or Qt's QPSQL driver is not installed");
            m_pg = std::make_unique<PgCluster>();
            QVERIFY2(m_pg->create(&error), qPrintable(error));
            m_config.database = m_pg->createDatabase(u"router"_s, &error);
            QVERIFY2(!m_config.database.isEmpty(), qPrintable(error));
        }
        Store &store = Store::forThread(m_config.databaseLocation());
        QVERIFY2(store.isOpen(), qPrintable(store.lastError()));
        QCOMPARE(store.isPostgres(), m_pg != nullptr);

        // 45 approved books over the categories in turn (book i holds i * 100 bytes), and one
        // upload awaiting review.
        BookStorage storage(store, m_config.booksDir());
        for (int i = 1; i <= 45; ++i) {
            const BookRow b{.name = u"书名%1"_s.arg(i), .author = QString(u"甲乙丙"_s.at(i % 3)),
                            .category = Categories::names()[(i - 1) % 10], .status = u"全集"_s,
                            .fileName = u"书名%1.txt"_s.arg(i),
                            .updated = u"2024-03-%1 10:00:00"_s.arg(1 + i % 28, 2, 10, QChar(u'0'))};
            QVERIFY2(storage.add(b, {QByteArray(i * 100, 'x'), {}}, {}, &error) == i, qPrintable(error));
        }
        const BookRow pending{
            .name = u"书名待审"_s, .category = Categories::names()[0], .fileName = u"p.txt"_s, .review = Review::Pending};
        QCOMPARE(storage.add(pending, {"pending", {}}, {}, &error), 46);

        m_router = std::make_unique<Router>(m_config);
        m_router->setClock([this] { return m_now; });
        const QByteArray alice = "action=reg&username=alice&userpass=%61bc&email=a%40b%2Ecn&sex=%B1%A3%C3%DC";
        QVERIFY(element(post(Account, alice, Form).body, "logininfo").startsWith(u"1|"));
    }

    QTemporaryDir m_dir;
    std::unique_ptr<PgCluster> m_pg;
    ServerConfig m_config;
    std::unique_ptr<Router> m_router;
    QDateTime m_now = QDateTime(QDate(2024, 3, 7), QTime(9, 5, 33));

    // Work the transport's queue would do (password hashing, an EPUB's building) runs here.
    static Response finished(Response answer)
    {
        while (answer.deferred)
            answer = answer.deferred();
        return answer;
    }
    Response send(Request r, const QByteArray &cookie, const Router *router = nullptr) const
    {
        if (!cookie.isEmpty())
            r.headers.emplaceBack("cookie", cookie);
        if (r.peer.isEmpty())
            r.peer = "192.0.2.7";
        return finished((router ? router : m_router.get())->handle(r));
    }
    Response get(const QByteArray &target, const QByteArray &cookie = {}) const
    {
        Request r = Request::make("GET", target);
        r.headers.emplaceBack("host", "127.0.0.1:8080");
        return send(r, cookie);
    }
    Response post(const QByteArray &target, const QByteArray &body, const QByteArray &type,
                  const QByteArray &cookie = {}) const
    {
        Request r = Request::make("POST", target, body);
        r.headers.emplaceBack("content-type", type);
        return send(r, cookie);
    }
    // A private copy sent as the desktop sends it, to router (the suite's own when null).
    Response put(const QByteArray &bytes, const QByteArray &cookie, QByteArray fingerprint = {},
                 const Router *router = nullptr) const
    {
        if (fingerprint.isEmpty())
            fingerprint = QByteArray::number(bytes.size()) + ':' + QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex();
        return send(Request::make("POST", "/folioway/private/v1/put?fingerprint=" + fingerprint + "&name=%E7%A7%81%E4%B9%A6", bytes),
                    cookie, router);
    }
    QString loginInfo(const QByteArray &cookie) const { return element(get(Check, cookie).body, "logininfo"); }
    QByteArray loginCookie(const QString &name, const QString &password) const
    {
        const Response r = get(Account + "?action=login&username=" + QUrl::toPercentEncoding(name) +
                               "&password=" + QUrl::toPercentEncoding(password) + "&cookies=1");
        const QByteArray set = r.header("Set-Cookie");
        return element(r.body, "logininfo").startsWith(u'1') ? set.left(set.indexOf(';')) : QByteArray();
    }
    // Files are given as "path|bytes".
    static QByteArray uploadBody(const QList<QPair<QString, QByteArray>> &items)
    {
        const QByteArray b = "--__NextPart__0123456789abcdefghijklmno";
        QByteArray body;
        for (const auto &[key, value] : items) {
            const qsizetype bar = value.indexOf('|');
            if (key.startsWith(u"file"))
                body += b + "\r\nContent-Disposition:form-data;name=\"" + key.toLatin1() + "\";filename=\"" +
                        FormCodec::toGb18030(QString::fromUtf8(value.left(bar))) +
                        "\"\r\nContent-Type:application/octet-stream\r\n\r\n" + value.mid(bar + 1) + "\r\n";
            else
                body += b + "\r\nContent-Disposition: form-data; name=\"" + key.toLatin1() + "\"\r\n\r\n" +
                        FormCodec::toGb18030(QString::fromUtf8(value)) + "\r\n";
        }
        return body + b + "--";
    }
};
