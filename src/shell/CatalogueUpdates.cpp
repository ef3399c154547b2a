#include "shell/CatalogueUpdates.h"

#include "catalogue/ArchiveExtract.h"
#include "catalogue/BookImport.h"
#include "catalogue/CatalogueProtocol.h"
#include "catalogue/DownloadQueue.h"
#include "library/LibraryDb.h"
#include "net/AnswerReader.h"
#include "net/RequestSlot.h"
#include "net/XmlTree.h"
#include "platform/Prompter.h"
#include "reader/ReadingPositionKeeper.h"
#include "startup/AppContext.h"
#include "text/Chapters.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>

#include <cstdio>

namespace {

const QString kTitle = QStringLiteral("更新本书");

QString UpdatesUrl(const QString &serverBaseUrl)
{
    return serverBaseUrl + QStringLiteral("/folioway/updates/v1");
}

struct NewerCopy
{
    QString asked;
    QString id;
    QString size;
    QString ftime;
    QString downurl;
};

struct UpdatesAnswer
{
    bool ok = false;
    QList<NewerCopy> books;
};

UpdatesAnswer parseAnswer(const QByteArray &body)
{
    UpdatesAnswer a;
    const XmlTree tree = XmlTree::parse(body);
    if (!tree.isValid() || tree.first(QStringLiteral("updates")).isNull())
        return a;
    a.ok = true;
    for (const XmlElement &b : tree.all(QStringLiteral("book"))) {
        const auto text = [&b](const char *name) { return b.first(QString::fromLatin1(name)).text().trimmed(); };
        a.books.append({text("asked"), text("id"), text("size"), text("ftime"), text("downurl")});
    }
    return a;
}

// The chapter of entries at the same share of the book as position was.
int ChapterAtShare(const QList<ChapterEntry> &entries, const ReadingPosition &position)
{
    if (entries.isEmpty())
        return 0;
    const double share = position.lineCount > 0 ? double(position.linesRead) / double(position.lineCount) : 0.0;
    const qint64 line = qint64(share * double(entries.last().lastShownLine() + 1));
    int chapter = 1;
    for (const ChapterEntry &e : entries) {
        if (e.firstShownLine() <= line)
            chapter = e.number;
    }
    return chapter;
}

} // namespace

CatalogueUpdates::CatalogueUpdates(AppContext &ctx, Prompter &prompter, DownloadQueue *queue, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_prompter(prompter), m_queue(queue), m_slot(new RequestSlot(this)),
      m_reader(new AnswerReader(this))
{
    connect(m_slot, &RequestSlot::finished, this,
            [this](const HttpResult &result) { onAnswer(result.body, result.isOk()); });
}

void CatalogueUpdates::check(bool tell)
{
    m_tell = tell;
    m_asking = CatalogueOrigins(*m_ctx.db);
    if (m_asking.isEmpty() || m_ctx.config.serverBaseUrl.isEmpty()) {
        if (tell)
            m_prompter.message(QStringLiteral("书架上没有从网络书库下载的书。"), Prompter::Icon::Information,
                               QStringLiteral("检查更新"));
        Q_EMIT checked(0);
        return;
    }
    m_next = 0;
    m_marked = 0;
    m_checking = true;
    sendNext();
}

void CatalogueUpdates::sendNext()
{
    QByteArray body;
    const qsizetype end = std::min<qsizetype>(m_next + BooksPerRequest, m_asking.size());
    for (qsizetype i = m_next; i < end; ++i) {
        const CatalogueOrigin &o = m_asking[i];
        if (!body.isEmpty())
            body += '&';
        body += "b=" + QUrl::toPercentEncoding(o.catalogueId + u'|' + o.size + u'|' + o.ftime);
    }
    m_slot->postForm(UpdatesUrl(m_ctx.config.serverBaseUrl), body);
}

void CatalogueUpdates::onAnswer(const QByteArray &body, bool ok)
{
    if (!ok) {
        finishCheck(false);
        return;
    }
    m_reader->read([body] { return parseAnswer(body); },
                   [this](const UpdatesAnswer &answer) {
                       if (!answer.ok) {
                           finishCheck(false);
                           return;
                       }
                       const qsizetype end = std::min<qsizetype>(m_next + BooksPerRequest, m_asking.size());
                       for (const NewerCopy &copy : answer.books) {
                           for (qsizetype i = m_next; i < end; ++i) {
                               const CatalogueOrigin &o = m_asking[i];
                               if (o.catalogueId != copy.asked || copy.downurl.isEmpty())
                                   continue;
                               if (!o.hasUpdate())
                                   ++m_marked;
                               NoteCatalogueUpdate(*m_ctx.db, o.bookId, copy.id, copy.size, copy.ftime,
                                                   copy.downurl);
                           }
                       }
                       m_next = end;
                       if (m_next < m_asking.size())
                           sendNext();
                       else
                           finishCheck(true);
                   });
}

void CatalogueUpdates::finishCheck(bool ok)
{
    m_checking = false;
    const int marked = int(BooksWithUpdates(*m_ctx.db).size());
    Q_EMIT shelfChanged();
    if (m_tell) {
        if (!ok)
            m_prompter.message(QStringLiteral("检查更新失败：无法从网络书库得到答复，请稍后再试。"),
                               Prompter::Icon::Exclamation, QStringLiteral("检查更新"));
        else
            m_prompter.message(marked > 0 ? QStringLiteral("有 %1 本书有更新，在书架上标为“有更新”。").arg(marked)
                                          : QStringLiteral("书架上从网络书库下载的书都是最新的。"),
                               Prompter::Icon::Information, QStringLiteral("检查更新"));
    }
    Q_EMIT checked(marked);
}

void CatalogueUpdates::updateBook(qint64 bookId)
{
    const std::optional<CatalogueOrigin> origin = CatalogueOriginOf(*m_ctx.db, bookId);
    if (!origin || !origin->hasUpdate() || !m_queue)
        return;
    const DownloadStart start = DownloadStartFor(m_ctx.config.serverBaseUrl, origin->newUrl);
    if (start.url.isEmpty()) {
        m_prompter.message(RefusedAddressText(), Prompter::Icon::Critical, kTitle);
        return;
    }
    m_queue->downloadNewerCopy(start.caption, start.url, start.fileName,
                               [this, bookId, o = *origin](const QString &saveFile) {
                                   finishUpdate(bookId, o, saveFile);
                               });
}

void CatalogueUpdates::downloadById(const QString &catalogueId, const QString &category, const QString &name,
                                    const QString &author)
{
    if (!m_queue || catalogueId.isEmpty())
        return;
    if (!m_byIdSlot) {
        m_byIdSlot = new RequestSlot(this);
        m_byIdReader = new AnswerReader(this);
        connect(m_byIdSlot, &RequestSlot::finished, this, &CatalogueUpdates::onByIdAnswer);
    }
    m_byId = CatalogueEntry{};
    m_byId.id = catalogueId;
    m_byId.category = category;
    m_byId.name = name;
    m_byId.author = author;
    // Asked with no size and no date, the catalogue answers with the copy it holds now.
    m_byIdSlot->postForm(UpdatesUrl(m_ctx.config.serverBaseUrl),
                         "b=" + QUrl::toPercentEncoding(catalogueId + QStringLiteral("||")));
}

void CatalogueUpdates::onByIdAnswer(const HttpResult &result)
{
    const QString title = QStringLiteral("下载");
    if (!result.isOk())
        return m_prompter.message(QStringLiteral("无法从网络书库得到《%1》的下载地址，请稍后再试。").arg(m_byId.name),
                                  Prompter::Icon::Exclamation, title);
    m_byIdReader->read([body = result.body] { return parseAnswer(body); }, [this, title](const UpdatesAnswer &answer) {
        const auto copy = std::find_if(answer.books.cbegin(), answer.books.cend(), [this](const NewerCopy &c) {
            return c.asked == m_byId.id && !c.downurl.isEmpty();
        });
        if (copy == answer.books.cend())
            return m_prompter.message(QStringLiteral("网络书库里已经没有《%1》了。").arg(m_byId.name),
                                      Prompter::Icon::Exclamation, title);
        CatalogueEntry entry = m_byId;
        entry.id = copy->id;
        entry.size = copy->size;
        entry.ftime = copy->ftime;
        entry.downurl = copy->downurl;
        m_queue->downloadCatalogueEntry(entry, m_ctx.config.serverBaseUrl);
    });
}

void CatalogueUpdates::finishUpdate(qint64 bookId, const CatalogueOrigin &origin, const QString &saveFile)
{
    const std::optional<BookRecord> book = m_ctx.db->findById(bookId);
    if (!book)
        return;
    QString text = saveFile;
    QString unpacked;
    if (QFileInfo(saveFile).suffix().compare(QStringLiteral("txt"), Qt::CaseInsensitive) != 0) {
        unpacked = saveFile + QStringLiteral(".unpacked");
        QDir(unpacked).removeRecursively();
        const ExtractResult extracted = ExtractRar(ExtractMode::Extract, saveFile, unpacked);
        text = extracted.ok() ? FindFiles(unpacked).value(0) : QString();
    }
    QString error;
    if (!text.isEmpty())
        Q_EMIT replacing(book->path);
    const int added = text.isEmpty() ? -1 : ReplaceBookText(*m_ctx.db, book->path, text, &error);
    if (!unpacked.isEmpty())
        QDir(unpacked).removeRecursively();
    if (added < 0) {
        m_prompter.message(QStringLiteral("《%1》的新版本没能替换书架上的文件：%2")
                               .arg(book->name, text.isEmpty() ? QStringLiteral("下载的文件里没有TXT文件") : error),
                           Prompter::Icon::Critical, kTitle);
        return;
    }
    RememberCatalogueOrigin(*m_ctx.db, bookId, origin.newId, origin.newSize, origin.newFtime);
    Q_EMIT shelfChanged();
    Q_EMIT bookUpdated(bookId, added);
    m_prompter.message(added > 0 ? QStringLiteral("《%1》已更新，新增 %2 章。").arg(book->name).arg(added)
                                 : QStringLiteral("《%1》已更新，没有新增章节。").arg(book->name),
                       Prompter::Icon::Information, kTitle);
}

int CatalogueUpdates::ReplaceBookText(LibraryDb &db, const QString &bookPath, const QString &newText,
                                      QString *error)
{
    const ChapterList before = GetChapter(bookPath);
    const ChapterList after = GetChapter(newText);
    if (after.error != BookOpenError::None || after.entries.isEmpty()) {
        *error = after.errorMessage;
        return -1;
    }
    // Written beside the old file and renamed over it: the shelf file is whole at every moment.
    const QString beside = bookPath + QStringLiteral(".new");
    QFile::remove(beside);
    if (!QFile::copy(newText, beside) ||
        std::rename(QFile::encodeName(beside).constData(), QFile::encodeName(bookPath).constData()) != 0) {
        QFile::remove(beside);
        *error = QStringLiteral("无法写入 ") + QDir::toNativeSeparators(bookPath);
        return -1;
    }
    if (const std::optional<ReadingPosition> read = db.readingPosition(bookPath)) {
        int chapter = ResumeChapter(after.entries, *read);
        if (chapter == 0)
            chapter = ChapterAtShare(after.entries, *read);
        ReadingPosition moved = PositionInBook(bookPath, after.entries, chapter, read->fraction, read->fraction);
        moved.saved = read->saved;
        db.saveReadingPosition(moved);
    }
    const qsizetype oldCount = before.error == BookOpenError::None ? before.entries.size() : 0;
    return int(std::max<qsizetype>(0, after.entries.size() - oldCount));
}
