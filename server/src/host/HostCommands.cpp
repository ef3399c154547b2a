#include "host/HostCommands.h"

#include "host/CommandLine.h"
#include "host/Importer.h"
#include "http/AccessLog.h"
#include "routes/Secrets.h"
#include "routes/ServerConfig.h"
#include "store/BookStorage.h"
#include "store/Categories.h"
#include "store/Migrate.h"
#include "store/Store.h"
#include "store/StoreDialect.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

#include <cstdio>

using namespace Console;

namespace {

int review(Store &store, const ServerConfig &config, const QString &idText, Review verdict)
{
    bool ok = false;
    const qint64 id = idText.toLongLong(&ok);
    if (!ok || id <= 0)
        return usageError(QStringLiteral("无效的书号 / invalid book id: %1").arg(idText));
    const ReviewOutcome outcome = store.uploads().review(id, verdict, config.newBookCoins, config.updateCoins);
    if (!outcome.found)
        return fail(QStringLiteral("没有书号为 %1 的电子书 / no book with id %1").arg(id));
    BookStorage storage(store, config.booksDir());
    for (qint64 old : outcome.replacedIds)
        storage.removeFolder(old);
    std::printf("%s\n", (verdict == Review::Approved ? QStringLiteral("已审核通过 / approved: %1")
                                                     : QStringLiteral("已拒绝 / rejected: %1"))
                            .arg(id)
                            .toLocal8Bit()
                            .constData());
    return 0;
}

int pending(Store &store)
{
    const QList<BookRow> rows = store.uploads().pendingBooks();
    printLine(QStringLiteral("书号/id\t分类/category\t书名/title\t作者/author\t上传者/uploader\t大小/KB\t时间/time"));
    for (const BookRow &b : rows) {
        const auto uploader = b.uploader > 0 ? store.accounts().userById(b.uploader) : std::nullopt;
        printLine(QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6\t%7")
                      .arg(b.id)
                      .arg(AccessLog::visible(b.category), AccessLog::visible(b.name), AccessLog::visible(b.author),
                           AccessLog::visible(uploader ? uploader->name : QStringLiteral("-")))
                      .arg((b.fileSize + 1023) / 1024)
                      .arg(b.updated));
    }
    printLine(QStringLiteral("共 %1 本待审核 / %1 awaiting review").arg(rows.size()));
    return 0;
}

int users(Store &store)
{
    printLine(QStringLiteral("编号/id\t用户名/name\t上传/uploads\t金币/coins\t注册/joined\t状态/state"));
    for (const StoreAccounts::UserSummary &u : store.accounts().users()) {
        printLine(QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6")
                      .arg(u.user.id)
                      .arg(AccessLog::visible(u.user.name))
                      .arg(u.uploads)
                      .arg(u.user.money)
                      .arg(storeTime(u.user.created),
                           u.user.disabled ? QStringLiteral("停用/disabled") : QStringLiteral("正常/active")));
    }
    return 0;
}

int userCommand(Store &store, const QString &verb, const QString &name)
{
    const auto user = store.accounts().userByName(name);
    if (!user)
        return fail(QStringLiteral("没有用户 %1 / no user %1").arg(name));
    if (verb == u"disable-user") {
        if (!store.accounts().setDisabled(user->id, true))
            return fail(store.lastError());
        printLine(QStringLiteral("已停用 / disabled: %1").arg(user->name));
        return 0;
    }
    // A random password the host passes on; every login of the account ends.
    const QString password = QString::fromLatin1(Secrets::newSessionToken().left(10));
    if (!store.accounts().setPassword(user->id, Secrets::hashPassword(password)))
        return fail(store.lastError());
    printLine(QStringLiteral("%1 的新密码 / new password: %2").arg(user->name, password));
    return 0;
}

int deleteBook(Store &store, const ServerConfig &config, const QString &idText)
{
    bool ok = false;
    const qint64 id = idText.toLongLong(&ok);
    if (!ok || id <= 0)
        return usageError(QStringLiteral("无效的书号 / invalid book id: %1").arg(idText));
    if (!store.catalogue().book(id))
        return fail(QStringLiteral("没有书号为 %1 的电子书 / no book with id %1").arg(id));
    if (!store.catalogue().deleteBook(id))
        return fail(store.lastError());
    BookStorage(store, config.booksDir()).removeFolder(id);
    printLine(QStringLiteral("已删除 / deleted: %1").arg(id));
    return 0;
}

int import(Store &store, const ServerConfig &config, const QString &folder, const QString &category, bool replace)
{
    QString error;
    if (!Categories::names().contains(category))
        return usageError(QStringLiteral("--category 必须是以下之一 / must be one of: %1")
                              .arg(Categories::names().join(QStringLiteral("、"))));
    if (!QFileInfo(folder).isDir())
        return fail(QStringLiteral("找不到文件夹 / no such folder: %1").arg(folder));
    QStringList skipped, replaced;
    const int added = Importer::importFolder(store, config.booksDir(), folder, category, &skipped, &error,
                                             replace ? &replaced : nullptr);
    if (added < 0)
        return fail(QStringLiteral("导入失败 / import failed: %1").arg(error));
    for (const QString &path : skipped)
        printLine(QStringLiteral("已导入过，跳过 / already imported, skipped: %1").arg(path));
    for (const QString &path : replaced)
        printLine(QStringLiteral("已替换同名书籍的文件 / replaced the file of the book of that title: %1").arg(path));
    printLine(QStringLiteral("已导入 %1 本电子书，跳过 %2 本内容相同的 / imported %1 books, skipped %2 with the "
                             "same content as an earlier import")
                  .arg(added)
                  .arg(skipped.size()));
    return 0;
}

// One consistent copy of the database taken while servers write to it, then the books and
// the settings file. A book's files are written before its row and never changed in place,
// so every book the copy names is on disk by then (unless deleted meanwhile); folders the copy
// does not name stay behind.
int backup(Store &store, const ServerConfig &config, const QString &dest)
{
    const QFileInfo info(dest);
    if (info.exists() && !(info.isDir() && QDir(dest).isEmpty()))
        return fail(QStringLiteral("备份目标已存在且不是空文件夹 / %1 exists and is not an empty folder").arg(dest));
    const QDir target(dest);
    if (!QDir().mkpath(dest))
        return fail(QStringLiteral("无法创建文件夹 / cannot create the folder %1").arg(dest));
    QSqlQuery q(store.database());
    q.prepare(QStringLiteral("VACUUM INTO ?"));
    q.addBindValue(target.filePath(QStringLiteral("catalogue.db")));
    if (!q.exec())
        return fail(QStringLiteral("备份数据库失败 / the database backup failed: %1").arg(q.lastError().text()));
    // Only the folders of the books the copy names: an upload being stored has no row yet.
    QSet<QString> named;
    {
        QSqlDatabase copy = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("backup-copy"));
        copy.setDatabaseName(target.filePath(QStringLiteral("catalogue.db")));
        QSqlQuery ids(copy);
        if (!copy.open() || !ids.exec(QStringLiteral("SELECT id FROM books")))
            return fail(QStringLiteral("备份数据库失败 / the database backup failed: %1").arg(ids.lastError().text()));
        while (ids.next())
            named.insert(ids.value(0).toString());
    }
    QSqlDatabase::removeDatabase(QStringLiteral("backup-copy"));
    const QDir books(config.booksDir());
    int files = 0;
    QDirIterator it(books.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString relative = books.relativeFilePath(it.next());
        if (!named.contains(relative.section(u'/', 0, 0)))
            continue;
        const QString copy = target.filePath(QStringLiteral("books/") + relative);
        if (!QDir().mkpath(QFileInfo(copy).path()) || !QFile::copy(it.filePath(), copy))
            return fail(QStringLiteral("复制失败 / cannot copy %1 to %2").arg(it.filePath(), copy));
        ++files;
    }
    const QString settings = QDir(config.dataDir).filePath(QStringLiteral("server.ini"));
    if (QFileInfo::exists(settings))
        QFile::copy(settings, target.filePath(QStringLiteral("server.ini")));
    printLine(QStringLiteral("已备份书库和 %1 个书籍文件到 / backed up the catalogue and %1 book files into %2")
                  .arg(files)
                  .arg(dest));
    return 0;
}

} // namespace

namespace HostCommands {

int postgresBackupAdvice(const ServerConfig &config, const QString &dest)
{
    // Without its password: pg_dump asks for it or finds it in ~/.pgpass.
    const QString address = StoreDialect::withoutPassword(QUrl(config.database).toString(QUrl::RemovePassword));
    const QString file = QDir(dest).filePath(QStringLiteral("catalogue.dump"));
    return fail(QStringLiteral("PostgreSQL 书库请用 pg_dump 备份，并复制书籍文件夹 / back up a PostgreSQL catalogue "
                               "with pg_dump, and copy the book folder:\n"
                               "  mkdir -p %1 && pg_dump --format=custom --file=%2 '%3'\n"
                               "  cp -a %4 %1/books\n"
                               "恢复到空数据库 / restore into an empty database:\n"
                               "  pg_restore --no-owner --dbname='%3' %2")
                    .arg(dest, file, address, config.booksDir()));
}

int migrate(const QString &fromLocation, const QString &toLocation)
{
    QString error;
    if (fromLocation.isEmpty() || toLocation.isEmpty())
        return usageError(QStringLiteral("migrate 需要 --from 和 --to / migrate needs --from and --to"));
    Store from(
        fromLocation.contains(u"://")
            ? fromLocation
            : Store::sqliteLocation(QString(fromLocation).remove(QRegularExpression(QStringLiteral("^sqlite:")))));
    Store to(toLocation);
    for (Store *store : {&from, &to}) {
        if (!store->open(&error))
            return fail(
                QStringLiteral("无法打开数据库 / cannot open the database %1: %2").arg(store->describe(), error));
    }
    Migrate::Counts counts;
    if (!Migrate::copyCatalogue(from, to, &counts, &error))
        return fail(QStringLiteral("迁移失败 / migration failed: %1").arg(error));
    printLine(QStringLiteral("已复制 / copied: %1 users, %2 books, %3 sessions, %4 other rows into %5")
                  .arg(counts.users)
                  .arg(counts.books)
                  .arg(counts.sessions)
                  .arg(counts.other)
                  .arg(to.describe()));
    printLine(QStringLiteral("书籍文件留在原处，用 --books 指向它 / the book files stay where they are: point "
                             "--books at that folder"));
    return 0;
}

int run(Store &store, const ServerConfig &config, const QStringList &command, const QString &category, bool replace)
{
    const QString verb = command.value(0);
    if (verb == u"import")
        return import(store, config, command[1], category, replace);
    if (verb == u"approve")
        return review(store, config, command[1], Review::Approved);
    if (verb == u"reject")
        return review(store, config, command[1], Review::Rejected);
    if (verb == u"pending")
        return pending(store);
    if (verb == u"users")
        return users(store);
    if (verb == u"delete-book")
        return deleteBook(store, config, command[1]);
    if (verb == u"reset-password" || verb == u"disable-user")
        return userCommand(store, verb, command[1]);
    if (verb == u"backup")
        return backup(store, config, command[1]);
    return 0;
}

} // namespace HostCommands
