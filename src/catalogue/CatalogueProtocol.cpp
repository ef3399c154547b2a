#include "catalogue/CatalogueProtocol.h"

#include "net/RequestSlot.h"
#include "net/WebAddress.h"
#include "net/XmlTree.h"

#include <QDate>
#include <QLocale>
#include <QRegularExpression>
#include <QUrl>

#include <cmath>

void CatalogueQuery::selectCategory(const QString &caption)
{
    action = QStringLiteral("list");
    type = caption.trimmed();
}

void CatalogueQuery::search(const QString &keyword)
{
    action = QStringLiteral("search");
    key = keyword.trimmed();
}

QString CatalogueBaseAddress(const QString &serverBaseUrl)
{
    return serverBaseUrl + QStringLiteral("/readerserver/listbook.asp");
}

namespace {

QString actionPart(const CatalogueQuery &query)
{
    return QueryPair(QStringLiteral("action"), query.action, true);
}

QString typePart(const CatalogueQuery &query)
{
    return query.type ? QueryPair(QStringLiteral("type"), *query.type) : QString();
}

QString keyPart(const CatalogueQuery &query)
{
    return query.key ? QueryPair(QStringLiteral("key"), *query.key) : QString();
}

} // namespace

QString CategoryListUrl(const QString &serverBaseUrl, const CatalogueQuery &query, const QDateTime &when)
{
    return WithRequestTime(CatalogueBaseAddress(serverBaseUrl) + actionPart(query) + typePart(query), when);
}

QString SearchUrl(const QString &serverBaseUrl, const CatalogueQuery &query, const QDateTime &when)
{
    return WithRequestTime(CatalogueBaseAddress(serverBaseUrl) + actionPart(query) + keyPart(query), when);
}

QString CataloguePageUrl(const QString &serverBaseUrl, const CatalogueQuery &query, const QString &page,
                         const QDateTime &when)
{
    return WithRequestTime(CatalogueBaseAddress(serverBaseUrl) + actionPart(query) + typePart(query) + keyPart(query) +
                               QueryPair(QStringLiteral("page"), page),
                           when);
}

QString UserBooksUrl(const QString &serverBaseUrl, const QString &userName, const std::optional<QString> &page,
                     const QDateTime &when)
{
    QString address = serverBaseUrl + QStringLiteral("/readerserver/ListUserBook.asp") +
                      QueryPair(QStringLiteral("uname"), userName, true);
    if (page)
        address += QueryPair(QStringLiteral("page"), *page);
    return WithRequestTime(address, when);
}

QStringList CatalogueEntry::cells() const
{
    return {id, category, name, author, statue, updatedText, sizeText, QStringLiteral("双击下载"), downurl};
}

QStringList CatalogueEntry::columnCaptions()
{
    return {QStringLiteral("书号"), QStringLiteral("分类"), QStringLiteral("书名"),
            QStringLiteral("作者"), QStringLiteral("状态"), QStringLiteral("更新时间"),
            QStringLiteral("大小"), QStringLiteral("操作"), QStringLiteral("下载地址")};
}

QVariant CatalogueEntry::sortKey(int column) const
{
    enum { ColId = 0, ColTime = 5, ColSize = 6 };
    bool ok = false;
    if (column == ColId) {
        const qlonglong n = id.trimmed().toLongLong(&ok);
        if (ok)
            return n;
    } else if (column == ColSize) {
        const double kb = size.trimmed().toDouble(&ok);
        if (ok)
            return kb;
    } else if (column == ColTime) {
        const QDate day = QDate::fromString(updatedText, QStringLiteral("yyyy/M/d"));
        if (day.isValid())
            return day.toJulianDay();
    }
    return cells().value(column);
}

bool IsServerPath(const QString &path)
{
    return path.startsWith(QLatin1Char('/')) && !path.startsWith(QLatin1String("//")) &&
           !path.contains(QLatin1Char('\\'));
}

QString BookFileUrl(const QString &serverBaseUrl, const QString &downurl)
{
    if (!IsServerPath(downurl))
        return {};
    // Whatever else the path holds, the address must still name the catalogue's own server.
    const QUrl base(serverBaseUrl);
    const QUrl address(serverBaseUrl + downurl, QUrl::TolerantMode);
    if (!address.isValid() || address.scheme() != base.scheme() || address.host() != base.host() ||
        address.port() != base.port() || !address.userInfo().isEmpty())
        return {};
    return serverBaseUrl + downurl;
}

QString CoverUrl(const QString &serverBaseUrl, const QString &cover, const QDateTime &when)
{
    const QString path = cover.trimmed();
    if (!IsServerPath(path))
        return {};
    // A plain file path gets an empty query for the time to follow.
    return WithRequestTime(serverBaseUrl + path + (path.contains(QLatin1Char('?')) ? QString() : QStringLiteral("?")),
                           when);
}

QString NoDataMessage()
{
    return QStringLiteral("没有获取到任何数据！");
}

namespace {

// Fields 2, 0, 3 and 4 of "total,unused,current,previous,next".
std::optional<CataloguePaging> readPageInfo(const QString &text)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() < 5)
        return std::nullopt;
    CataloguePaging paging;
    paging.currentPage = fields[2].trimmed();
    paging.totalPages = fields[0].trimmed();
    paging.previousPage = fields[3].trimmed();
    paging.nextPage = fields[4].trimmed();
    return paging;
}

XmlElement firstPageInfo(const XmlTree &tree, bool *hasOtherInfo)
{
    const XmlElement otherinfo = tree.first(QStringLiteral("otherinfo"));
    *hasOtherInfo = !otherinfo.isNull();
    return otherinfo.first(QStringLiteral("pageinfo"));
}

} // namespace

CatalogueAnswer ParseCatalogueAnswer(int status, const QByteArray &body)
{
    CatalogueAnswer answer;
    if (status != 200)
        return answer;

    const XmlTree tree = XmlTree::parse(body);
    if (tree.exceededLimits())
        answer.problem = tree.errorString();
    for (const XmlElement &book : tree.all(QStringLiteral("bookinfo"))) {
        CatalogueEntry entry;
        const std::pair<const char *, QString *> fields[] = {{"id", &entry.id},          {"name", &entry.name},
                                                             {"class", &entry.category}, {"author", &entry.author},
                                                             {"statue", &entry.statue},  {"ftime", &entry.ftime},
                                                             {"size", &entry.size},      {"downurl", &entry.downurl}};
        for (const auto &[field, target] : fields) {
            const XmlElement element = book.first(QLatin1String(field));
            if (element.isNull()) {
                answer.outcome = AnswerOutcome::Stopped;
                return answer;
            }
            *target = element.text();
        }
        const std::optional<QString> size = FormatSizeKB(entry.size);
        if (!size) {
            answer.outcome = AnswerOutcome::Stopped;
            return answer;
        }
        entry.sizeText = *size;
        entry.updatedText = FormatListDate(entry.ftime);
        entry.cover = book.first(QStringLiteral("cover")).text();
        entry.memo = book.first(QStringLiteral("memo")).text();
        answer.entries.append(entry);
    }

    bool hasOtherInfo = false;
    const XmlElement pageinfo = firstPageInfo(tree, &hasOtherInfo);
    if (!hasOtherInfo) {
        answer.outcome = AnswerOutcome::NoData;
        return answer;
    }
    const std::optional<CataloguePaging> paging = pageinfo.isNull() ? std::nullopt : readPageInfo(pageinfo.text());
    if (!paging) {
        answer.outcome = AnswerOutcome::Stopped;
        return answer;
    }
    answer.paging = *paging;
    answer.outcome = AnswerOutcome::Filled;
    return answer;
}

CatalogueAnswer ParseCatalogueAnswer(const HttpResult &result)
{
    return ParseCatalogueAnswer(result.failed ? 0 : result.status, result.body);
}

QString CatalogueStatusLine(const HttpResult &result, const CatalogueAnswer &answer)
{
    if (result.tooLarge)
        return QStringLiteral("书库服务器的回答太大");
    if (result.failed || result.status == 0)
        return QStringLiteral("暂时连不上书库服务器");
    if (result.status != 200)
        return QStringLiteral("书库服务器出错（HTTP %1）").arg(result.status);
    if (!answer.problem.isEmpty())
        return answer.problem;
    switch (answer.outcome) {
    case AnswerOutcome::Filled:
        return answer.entries.isEmpty() ? QStringLiteral("没有找到相关书籍") : QString();
    case AnswerOutcome::NoData:
    case AnswerOutcome::Stopped:
        break;
    case AnswerOutcome::Ignored:
        return {};
    }
    return QStringLiteral("书库服务器的回答不完整");
}

QString UserBookEntry::updatedText() const
{
    return FormatListDate(ftime);
}

QString UserBookEntry::statusText() const
{
    if (statue == QStringLiteral("全集"))
        return statue;
    return statue + QStringLiteral("：") + FormatSizeKB(newchap).value_or(QString());
}

UserBookEntry::Review UserBookEntry::review() const
{
    if (checkif.trimmed() == QLatin1String("1"))
        return Review::Approved;
    if (checkif.trimmed() == QLatin1String("2"))
        return Review::Rejected;
    return Review::Pending;
}

QString UserBookEntry::reviewText() const
{
    switch (review()) {
    case Review::Approved:
        return QStringLiteral("已审核");
    case Review::Rejected:
        return QStringLiteral("审核未通过");
    case Review::Pending:
        break;
    }
    return QStringLiteral("待审核");
}

unsigned UserBookEntry::reviewColor() const
{
    switch (review()) {
    case Review::Approved:
        return 0x008000;
    case Review::Rejected:
        return 0xFF0000;
    case Review::Pending:
        break;
    }
    return 0x808080;
}

QStringList UserBookEntry::cells() const
{
    return {id, category, name, statusText(), updatedText(), reviewText()};
}

QStringList UserBookEntry::columnCaptions()
{
    return {QStringLiteral("书号"), QStringLiteral("分类"),     QStringLiteral("书名"),
            QStringLiteral("状态"), QStringLiteral("更新时间"), QStringLiteral("审核状态")};
}

UserBooksAnswer ParseUserBooksAnswer(int status, const QByteArray &body, const CataloguePaging &previous)
{
    UserBooksAnswer answer;
    answer.paging = previous;
    if (status != 200)
        return answer;

    const XmlTree tree = XmlTree::parse(body);
    for (const XmlElement &book : tree.all(QStringLiteral("bookinfo"))) {
        UserBookEntry entry;
        entry.id = book.first(QStringLiteral("id")).text();
        entry.category = book.first(QStringLiteral("class")).text();
        entry.name = book.first(QStringLiteral("name")).text();
        entry.statue = book.first(QStringLiteral("statue")).text();
        entry.newchap = book.first(QStringLiteral("newchap")).text();
        entry.ftime = book.first(QStringLiteral("ftime")).text();
        entry.checkif = book.first(QStringLiteral("checkif")).text();
        answer.entries.append(entry);
    }

    bool hasOtherInfo = false;
    const XmlElement pageinfo = firstPageInfo(tree, &hasOtherInfo);
    if (!hasOtherInfo) {
        answer.outcome = AnswerOutcome::NoData;
        return answer;
    }
    const QStringList fields = pageinfo.text().split(QLatin1Char(','));
    const std::pair<int, QString *> targets[] = {{2, &answer.paging.currentPage},
                                                 {0, &answer.paging.totalPages},
                                                 {3, &answer.paging.previousPage},
                                                 {4, &answer.paging.nextPage}};
    if (!pageinfo.isNull()) {
        for (const auto &[index, target] : targets) {
            if (index < fields.size())
                *target = fields[index].trimmed();
        }
    }
    answer.outcome = AnswerOutcome::Filled;
    return answer;
}

std::optional<QString> FormatSizeKB(const QString &kilobytes)
{
    const QString text = kilobytes.trimmed();
    bool ok = false;
    const double s = text.toDouble(&ok);
    if (!ok || !std::isfinite(s))
        return std::nullopt;
    if (s < 1)
        return text + QStringLiteral(" Bytes");

    // Fixed Chinese conventions rather than the machine's: "." for decimals, "," for thousands.
    static const QLocale locale(QLocale::Chinese, QLocale::China);
    const auto fixed = [](double value, int decimals) { return locale.toString(value, 'f', decimals); };
    const double q = s;
    if (q < 10)
        return fixed(q, 2) + QStringLiteral(" KB");
    if (q < 100)
        return fixed(q, 1) + QStringLiteral(" KB");
    if (q < 1000)
        return fixed(q, 0) + QStringLiteral(" KB");
    if (q < 10000)
        return fixed(q / 1024, 2) + QStringLiteral(" MB");
    if (q < 100000)
        return fixed(q / 1024, 1) + QStringLiteral(" MB");
    if (q < 1000000)
        return fixed(q / 1024, 0) + QStringLiteral(" MB");
    if (q < 10000000)
        return fixed(q / 1024 / 1024, 2) + QStringLiteral(" GB");
    return fixed(q / 1024 / 1024, 1) + QStringLiteral(" GB");
}

QString FormatListDate(const QString &text)
{
    // Dates the server writes: 2009-3-5, 2009/03/05, 2009.3.5 or 2009年3月5日, optionally followed
    // by a time (blank or "T" between).
    static const QRegularExpression pattern(
        QStringLiteral("^\\s*(\\d{4})\\s*(?:[-/.]|年)\\s*(\\d{1,2})\\s*(?:[-/.]|月)\\s*(\\d{1,2})\\s*日?"
                       "(?:(?:\\s+|T)\\d{1,2}:\\d{1,2}(?::\\d{1,2}(?:\\.\\d+)?)?\\s*(?:Z|[+-]\\d{2}:?\\d{2})?)?\\s*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return text;
    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    if (!date.isValid())
        return text;
    return date.toString(QStringLiteral("yyyy/M/d"));
}
