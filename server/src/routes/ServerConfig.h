#pragma once

#include <QString>

// Values the host may change in <data>/server.ini; the file is written with the
// defaults on first start so there is something to edit.
struct ServerConfig
{
    QString dataDir;
    // Where the catalogue lives: a postgresql:// address shared by several servers, or empty
    // for the SQLite file in the data folder. "Database=" in the settings file.
    QString database;
    // The book files, shared by every server of one catalogue; empty for books/ in the data
    // folder. "Books=" in the settings file.
    QString books;

    // The start-up information answer, element by element.
    QString reader1;
    QString reader2;
    QString reader3;
    QString reader4;
    QString version = QStringLiteral("v1.2");
    QString mustDown = QStringLiteral("FALSE");
    QString versionInfo;
    QString downloadList;
    QString savePathList;

    // Address shown as the user's promotion link; empty: the address the server listens on.
    QString publicUrl;
    QString promotionText = QStringLiteral("复制上面的推广地址发送给好友，好友点击即可为你赚取金币。");
    int pageSize = 20;
    int dailyLoginPoints = 10;
    int newBookCoins = 10;
    int updateCoins = 5;
    int promotionCoins = 1; // per visitor address and day of a user's promotion link

    // Limits against abuse, set from the command line (see CommandLine.cpp for their options).
    struct Limits
    {
        qint64 uploadBytes = 64ll * 1024 * 1024; // one upload, cover included
        int pendingUploads = 10;                 // per user, awaiting review
        qint64 pendingBytes = 256ll * 1024 * 1024;
        int uploadsPerHour = 20; // per user
        qint64 diskFloorBytes = 1024ll * 1024 * 1024;
        int loginFreeTries = 3;      // failed logins before each try waits longer
        int accountLockTries = 10;   // failed logins of one account from one address before they are locked
        int addressLockTries = 30;   // failed logins from one address before it is locked
        // Failed logins of one account from anywhere before it is locked for every address but
        // the clients that hold a login of it.
        int accountWideLockTries = 100;
        int signupsPerHour = 5; // per address (IPv6: per /64)
        int lockMinutes = 15;
        // Synchronised places, bookmarks and shelf entries per user, removals included.
        int syncItems = 100000;
        // Bytes (UTF-8) of the keys and payloads one user's synchronised items may hold.
        qint64 syncQuotaBytes = 50ll * 1024 * 1024;
        // The books' EPUBs kept in <data>/epub-cache, built when first asked for.
        qint64 epubCacheBytes = 1024ll * 1024 * 1024;
        // Bytes of private copies (books kept for their owner alone) per user.
        qint64 privateQuotaBytes = 1024ll * 1024 * 1024;
    };
    Limits limits;

    // Reads the settings file of dataDir, creating it with the defaults when missing.
    static ServerConfig load(const QString &dataDir);
    QString booksDir() const;
    // The Store location: the database address, or the SQLite file in the data folder.
    QString databaseLocation() const;
    QString spoolDir() const;
};
