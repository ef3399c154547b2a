#pragma once

#include <QString>

// Values the host may change in <data>/server.ini; the file is written with the
// defaults on first start so there is something to edit.
struct ServerConfig
{
    QString dataDir;

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

    // Address shown as the user's promotion link; empty derives it from the Host header.
    QString publicUrl;
    QString promotionText = QStringLiteral("复制上面的推广地址发送给好友，好友点击即可为你赚取金币。");
    int pageSize = 20;
    int dailyLoginPoints = 10;
    int newBookCoins = 10;
    int updateCoins = 5;

    // Reads the settings file of dataDir, creating it with the defaults when missing.
    static ServerConfig load(const QString &dataDir);
    QString booksDir() const;
    QString spoolDir() const;
};
