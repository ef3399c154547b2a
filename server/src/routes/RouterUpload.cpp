#include "routes/Router.h"

#include "routes/Multipart.h"
#include "routes/RouterSupport.h"
#include "store/BookStorage.h"
#include "store/Categories.h"
#include "store/Store.h"

using namespace RouterSupport;

namespace {

QString megabytes(qint64 bytes)
{
    return QString::number((bytes + 1024 * 1024 - 1) / (1024 * 1024));
}

} // namespace

std::optional<Response> Router::uploadRefusal(const Request &request, qint64 size) const
{
    const auto s = session(request);
    const auto user = s ? store().accounts().userById(s->userId) : std::nullopt;
    if (!user)
        return uploadReply(0, QStringLiteral("请先登录后再上传电子书！"));
    if (user->disabled)
        return uploadReply(0, QStringLiteral("你的账号已被停用，不能上传电子书！"));
    const ServerConfig::Limits &limits = m_config.limits;
    if (size > limits.uploadBytes)
        return uploadReply(0, QStringLiteral("上传的文件太大（最大%1MB）！").arg(megabytes(limits.uploadBytes)));
    const UploadUsage usage = store().uploads().usage(user->id, storeTime(now().addSecs(-3600)));
    if (usage.pending >= limits.pendingUploads || usage.pendingBytes + size > limits.pendingBytes)
        return uploadReply(0, QStringLiteral("你已有%1本电子书（共%2MB）正在等待审核，请等审核后再上传！")
                                  .arg(usage.pending)
                                  .arg(megabytes(usage.pendingBytes)));
    if (usage.lastHour >= limits.uploadsPerHour)
        return uploadReply(0, QStringLiteral("你一小时内已上传%1本电子书，请稍后再上传！").arg(usage.lastHour));
    if (m_freeDisk() - size < limits.diskFloorBytes)
        return uploadReply(0, QStringLiteral("服务器存储空间不足，暂时不能上传，请稍后再试！"));
    return std::nullopt;
}

Response Router::upload(const Request &request) const
{
    const QByteArray contentType = request.header("content-type");
    if (!contentType.trimmed().toLower().startsWith("multipart/form-data"))
        return uploadReply(0, QStringLiteral("上传的数据格式不正确，请重新上传！"));
    // Checked again with the size received: the head may not have told it.
    if (auto refusal = uploadRefusal(request, request.body.size()))
        return *refusal;
    const auto user = store().accounts().userById(session(request)->userId);
    if (!user)
        return uploadReply(0, QStringLiteral("请先登录后再上传电子书！"));

    const MultipartResult form = Multipart::parse(request.body, contentType, kMaxUploadParts);
    if (!form.error.isEmpty())
        return uploadReply(0, QStringLiteral("上传的数据不完整或格式不正确（%1），请重新上传！").arg(form.error));

    auto refuse = [](const QString &why) { return uploadReply(0, why); };
    const QString category = form.text(u"stype").trimmed();
    const QString name = form.text(u"sname").trimmed();
    const QString author = form.text(u"sauthor").trimmed();
    const QString memo = form.text(u"smemo").trimmed();
    const QString status = form.text(u"sstatue").trimmed();
    const QString newest = form.text(u"snewchap").trimmed();
    const MultipartPart *book = form.find(u"file1");
    const MultipartPart *cover = form.find(u"file2");

    if (!Categories::names().contains(category))
        return refuse(QStringLiteral("电子书类型不正确，请选择该电子书对应的分类！"));
    if (name.isEmpty())
        return refuse(QStringLiteral("你没有填写电子书名称，请重新填写！"));
    if (name.size() > 50 || author.size() > 50)
        return refuse(QStringLiteral("电子书名称或作者太长，请重新填写！"));
    if (status != u"连载" && status != u"全集")
        return refuse(QStringLiteral("电子书连载状态不正确，请重新选择！"));
    if (status == u"连载" && newest.isEmpty())
        return refuse(QStringLiteral("请添加电子书最新章节名称！"));
    if (newest.size() > 255 || memo.size() > 10000)
        return refuse(QStringLiteral("最新章节或内容简介太长，请删减后再上传！"));
    if (!book || !book->isFile || book->data.isEmpty())
        return refuse(QStringLiteral("没有收到电子书文件，请重新选择！"));

    const QString sentName = Multipart::baseName(book->fileName);
    const QString ext = BookStorage::extension(sentName);
    if (ext != u"txt" && ext != u"zip" && ext != u"rar")
        return refuse(QStringLiteral("只能上传TXT、RAR或ZIP格式的电子书！"));
    if (!BookStorage::contentMatches(ext, book->data))
        return refuse(QStringLiteral("电子书文件已损坏或格式不正确！"));
    if (ext == u"txt" && !plainText(book->data))
        return refuse(QStringLiteral("这不是一个文本文件，请选择TXT格式的电子书！"));

    QString coverName;
    const bool hasCover = cover && cover->isFile && !cover->data.isEmpty();
    if (hasCover) {
        QString coverExt = BookStorage::extension(Multipart::baseName(cover->fileName));
        if (coverExt == u"jpeg")
            coverExt = QStringLiteral("jpg");
        if ((coverExt != u"jpg" && coverExt != u"gif") || !BookStorage::contentMatches(coverExt, cover->data))
            return refuse(QStringLiteral("封面只能是JPG或GIF图片！"));
        if (cover->data.size() > 4 * 1024 * 1024)
            return refuse(QStringLiteral("封面图片太大（最大4MB）！"));
        coverName = QStringLiteral("cover.") + coverExt;
    }

    BookRow row;
    row.name = name;
    row.author = author.isEmpty() ? QStringLiteral("佚名") : author;
    row.category = category;
    row.status = status;
    row.newestChapter = status == u"连载" ? newest : QString();
    row.memo = memo;
    // Addresses are made from the id and title (BookStorage::publicName); on disk one name will do.
    row.fileName = QStringLiteral("book.") + ext;
    row.coverName = coverName;
    row.updated = storeTime(now());
    row.uploader = user->id;
    row.review = Review::Pending;

    QString error;
    BookStorage storage(store(), m_config.booksDir());
    const qint64 id = storage.add(row, {book->data, {}}, hasCover ? cover->data : QByteArrayView(), &error);
    if (id <= 0) {
        logEvent(QStringLiteral("upload failed user=%1 error=%2").arg(user->name, error));
        return uploadReply(0, QStringLiteral("保存电子书失败，请稍后再试！"));
    }
    logEvent(QStringLiteral("upload id=%1 user=%2 name=%3 bytes=%4").arg(id).arg(user->name, name).arg(book->data.size()));
    return uploadReply(1,
                       QStringLiteral("上传成功！《%1》正在等待审核，审核通过后即可在网络书库中看到。").arg(name));
}

