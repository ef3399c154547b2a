#include "net/NetworkService.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QSaveFile>

PersistentCookieJar::PersistentCookieJar(const QString &filePath, QObject *parent)
    : QNetworkCookieJar(parent), m_filePath(filePath)
{
    load();
}

void PersistentCookieJar::load()
{
    if (m_filePath.isEmpty())
        return;
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<QNetworkCookie> kept;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.isEmpty())
            continue;
        for (const QNetworkCookie &cookie : QNetworkCookie::parseCookies(line)) {
            if (!cookie.isSessionCookie() && cookie.expirationDate() > now && !cookie.domain().isEmpty())
                kept.append(cookie);
        }
    }
    setAllCookies(kept);
}

bool PersistentCookieJar::save() const
{
    if (m_filePath.isEmpty())
        return true;
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const QNetworkCookie &cookie : allCookies()) {
        if (cookie.isSessionCookie() || cookie.expirationDate() <= now)
            continue;
        file.write(cookie.toRawForm(QNetworkCookie::Full));
        file.write("\n");
    }
    if (!file.commit())
        return false;
    // A login cookie is as good as the password for its lifetime: keep it from other users.
    QFile::setPermissions(m_filePath, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
}

bool PersistentCookieJar::setCookiesFromUrl(const QList<QNetworkCookie> &cookieList, const QUrl &url)
{
    const bool changed = QNetworkCookieJar::setCookiesFromUrl(cookieList, url);
    if (changed)
        save();
    return changed;
}

bool PersistentCookieJar::insertCookie(const QNetworkCookie &cookie)
{
    const bool changed = QNetworkCookieJar::insertCookie(cookie);
    if (changed)
        save();
    return changed;
}

bool PersistentCookieJar::updateCookie(const QNetworkCookie &cookie)
{
    const bool changed = QNetworkCookieJar::updateCookie(cookie);
    if (changed)
        save();
    return changed;
}

bool PersistentCookieJar::deleteCookie(const QNetworkCookie &cookie)
{
    const bool changed = QNetworkCookieJar::deleteCookie(cookie);
    if (changed)
        save();
    return changed;
}

namespace {

QNetworkAccessManager *g_manager = nullptr;
PersistentCookieJar *g_jar = nullptr;

void ensureShared()
{
    if (g_manager)
        return;
    // Parented to the application so it goes away with it.
    g_manager = new QNetworkAccessManager(QCoreApplication::instance());
    g_jar = new PersistentCookieJar();
    g_manager->setCookieJar(g_jar); // the manager owns the jar
    g_manager->setRedirectPolicy(QNetworkRequest::SameOriginRedirectPolicy);
    QObject::connect(g_manager, &QObject::destroyed, [] {
        g_manager = nullptr;
        g_jar = nullptr;
    });
}

} // namespace

QNetworkAccessManager *NetworkService::manager()
{
    ensureShared();
    return g_manager;
}

PersistentCookieJar *NetworkService::cookieJar()
{
    ensureShared();
    return g_jar;
}

void NetworkService::persistCookiesIn(const QString &programFolder)
{
    ensureShared();
    // Cookies received before this call are kept and written to the file.
    const QList<QNetworkCookie> earlier = g_jar->allStoredCookies();
    auto *jar = new PersistentCookieJar(QDir(programFolder).filePath(QStringLiteral("cookies.dat")));
    for (const QNetworkCookie &cookie : earlier)
        jar->insertCookie(cookie);
    g_manager->setCookieJar(jar); // deletes the old jar
    g_jar = jar;
}
