#pragma once

#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QString>

class QNetworkAccessManager;

// A cookie jar that keeps persistent cookies in a file, so that a login survives a restart.
// Session cookies stay in memory only. The file is rewritten atomically after every change.
class PersistentCookieJar : public QNetworkCookieJar
{
    Q_OBJECT
public:
    // An empty path keeps everything in memory.
    explicit PersistentCookieJar(const QString &filePath = {}, QObject *parent = nullptr);

    QString filePath() const { return m_filePath; }
    // Reads the cookies stored in the file, dropping expired ones; the jar is replaced.
    void load();
    bool save() const;

    bool setCookiesFromUrl(const QList<QNetworkCookie> &cookieList, const QUrl &url) override;
    bool insertCookie(const QNetworkCookie &cookie) override;
    bool updateCookie(const QNetworkCookie &cookie) override;
    bool deleteCookie(const QNetworkCookie &cookie) override;

    QList<QNetworkCookie> allStoredCookies() const { return allCookies(); }

private:
    QString m_filePath;
};

// The one network access manager of the program and its cookie jar. Created on first use on
// the user-interface thread and kept until the program ends; every request of the program,
// waiting or not, goes through it so that all of them share the login cookies.
class NetworkService
{
public:
    static QNetworkAccessManager *manager();
    static PersistentCookieJar *cookieJar();
    // Called once by the start routine: cookies persist in "cookies.dat" in the program folder.
    static void persistCookiesIn(const QString &programFolder);

    // No data for this long ends a request as failed.
    static constexpr int DefaultTransferTimeoutMs = 30000;
};
