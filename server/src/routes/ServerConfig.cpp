#include "routes/ServerConfig.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

ServerConfig ServerConfig::load(const QString &dataDir)
{
    ServerConfig c;
    c.dataDir = dataDir;
    const QString path = QDir(dataDir).filePath(QStringLiteral("server.ini"));
    const bool fresh = !QFileInfo::exists(path);
    QSettings s(path, QSettings::IniFormat);

    struct Text
    {
        const char *key;
        QString *value;
    };
    const Text texts[] = {
        {"info/reader_1", &c.reader1},
        {"info/reader_2", &c.reader2},
        {"info/reader_3", &c.reader3},
        {"info/reader_4", &c.reader4},
        {"info/version", &c.version},
        {"info/mustdown", &c.mustDown},
        {"info/verinfo", &c.versionInfo},
        {"info/downloadlist", &c.downloadList},
        {"info/savepathlist", &c.savePathList},
        {"account/public_url", &c.publicUrl},
        {"account/promotion_text", &c.promotionText},
        {"Database", &c.database},
        {"Books", &c.books},
    };
    struct Number
    {
        const char *key;
        int *value;
    };
    const Number numbers[] = {
        {"catalogue/page_size", &c.pageSize},
        {"account/daily_login_points", &c.dailyLoginPoints},
        {"account/new_book_coins", &c.newBookCoins},
        {"account/update_coins", &c.updateCoins},
        {"account/promotion_coins", &c.promotionCoins},
    };

    for (const Text &t : texts) {
        const QString key = QString::fromLatin1(t.key);
        if (fresh)
            s.setValue(key, *t.value);
        else
            *t.value = s.value(key, *t.value).toString();
    }
    for (const Number &n : numbers) {
        const QString key = QString::fromLatin1(n.key);
        if (fresh)
            s.setValue(key, *n.value);
        else
            *n.value = s.value(key, *n.value).toInt();
    }
    c.pageSize = std::clamp(c.pageSize, 1, 500);
    return c;
}

QString ServerConfig::booksDir() const
{
    return books.isEmpty() ? QDir(dataDir).filePath(QStringLiteral("books")) : books;
}

QString ServerConfig::databaseLocation() const
{
    return database.isEmpty() ? QStringLiteral("sqlite:") + QDir(dataDir).filePath(QStringLiteral("catalogue.db"))
                              : database;
}

QString ServerConfig::spoolDir() const
{
    return QDir(dataDir).filePath(QStringLiteral("spool"));
}
