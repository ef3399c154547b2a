#pragma once

#include "library/LibraryDb.h"

#include <QString>

// The switches of the "网络设置" frame, kept among the library's options. Each is off unless the
// user turned it on, so a profile that never touched them downloads and starts up as before.
namespace NetworkOptions {

// "连接中断时自动重试": a download whose connection broke is tried again by itself.
inline QString autoRetry()
{
    return QStringLiteral("DownloadAutoRetry");
}
// "下载完成后总是加入书架": a finished download joins the shelf even when its catalogue row is
// no longer on screen.
inline QString alwaysShelve()
{
    return QStringLiteral("DownloadAlwaysShelve");
}
// "启动时检查连载更新": the catalogue is asked at start-up for newer copies of shelf books.
inline QString checkUpdatesAtStart()
{
    return QStringLiteral("CheckSerialUpdatesAtStart");
}

inline bool isOn(const LibraryDb *db, const QString &option)
{
    return db && db->option(option) == QLatin1String("1");
}

inline bool turn(LibraryDb &db, const QString &option, bool on)
{
    return db.setOption(option, on ? QStringLiteral("1") : QStringLiteral("0"));
}

} // namespace NetworkOptions
