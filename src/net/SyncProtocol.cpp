#include "net/SyncProtocol.h"

#include "net/NetworkLimits.h"
#include "net/RequestSlot.h"
#include "net/WebAddress.h"
#include "net/XmlTree.h"

#include <QXmlStreamWriter>

namespace {

QString base(const QString &serverBaseUrl)
{
    QString b = serverBaseUrl.trimmed();
    while (b.endsWith(QLatin1Char('/')))
        b.chop(1);
    return b;
}

} // namespace

QString SyncPushUrl(const QString &serverBaseUrl)
{
    return WithRequestTime(base(serverBaseUrl) + QStringLiteral("/folioway/sync/v1/push?"));
}

QString SyncPullUrl(const QString &serverBaseUrl, qint64 after, int limit)
{
    return WithRequestTime(base(serverBaseUrl) + QStringLiteral("/folioway/sync/v1/pull?after=%1&limit=%2").arg(after).arg(limit));
}

QByteArray SyncPushBody(const QList<SyncItem> &items)
{
    QByteArray body;
    QXmlStreamWriter x(&body);
    x.writeStartDocument();
    x.writeStartElement(QStringLiteral("sync"));
    for (const SyncItem &item : items) {
        x.writeStartElement(QStringLiteral("item"));
        x.writeTextElement(QStringLiteral("kind"), item.kind);
        x.writeTextElement(QStringLiteral("key"), item.key);
        x.writeTextElement(QStringLiteral("changed"), QString::number(item.changed));
        x.writeTextElement(QStringLiteral("deleted"), item.deleted ? QStringLiteral("1") : QStringLiteral("0"));
        x.writeTextElement(QStringLiteral("payload"), item.deleted ? QString() : item.payload);
        x.writeEndElement();
    }
    x.writeEndElement();
    x.writeEndDocument();
    return body;
}

SyncAnswer DecodeSyncAnswer(const HttpResult &result)
{
    SyncAnswer answer;
    if (result.failed) {
        answer.error = NoAnswerText(result);
        return answer;
    }
    if (result.status == 503) {
        answer.error = QStringLiteral("服务器暂时不可用，稍后再试。");
        return answer;
    }
    const XmlTree tree = XmlTree::parse(result.body);
    const QString status = tree.first(QStringLiteral("status")).text().trimmed();
    if (!tree.isValid() || status.isEmpty()) {
        answer.error = tree.exceededLimits() ? tree.errorString()
                                             : QStringLiteral("服务器的回答无法识别（状态 %1）。").arg(result.status);
        return answer;
    }
    if (status != QLatin1String("ok")) {
        answer.loginNeeded = status == QLatin1String("login");
        const QString message = tree.first(QStringLiteral("message")).text().trimmed();
        answer.error = BoundedServerText(message.isEmpty() ? status : message);
        return answer;
    }
    answer.ok = true;
    answer.last = tree.first(QStringLiteral("last")).text().trimmed().toLongLong();
    answer.next = tree.first(QStringLiteral("next")).text().trimmed().toLongLong();
    answer.more = tree.first(QStringLiteral("more")).text().trimmed() == QLatin1String("1");
    answer.kinds = tree.first(QStringLiteral("kinds")).text().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const XmlElement &e : tree.all(QStringLiteral("item"))) {
        SyncItem item;
        item.kind = e.first(QStringLiteral("kind")).text().trimmed();
        item.key = e.first(QStringLiteral("key")).text();
        item.changed = e.first(QStringLiteral("changed")).text().trimmed().toLongLong();
        item.deleted = e.first(QStringLiteral("deleted")).text().trimmed() == QLatin1String("1");
        item.payload = e.first(QStringLiteral("payload")).text().left(SyncLimits::PayloadChars);
        item.seq = e.first(QStringLiteral("seq")).text().trimmed().toLongLong();
        item.result = e.first(QStringLiteral("result")).text().trimmed();
        answer.items.append(item);
    }
    return answer;
}
