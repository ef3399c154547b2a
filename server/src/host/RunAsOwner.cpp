#include "host/RunAsOwner.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace RunAsOwner {

Outcome adopt(const QString &dataDir, QString *message)
{
    struct stat info {};
    if (::geteuid() != 0 || ::stat(QFile::encodeName(dataDir).constData(), &info) != 0 || info.st_uid == 0)
        return Outcome::Unchanged;

    const passwd *owner = ::getpwuid(info.st_uid);
    const QString name = owner ? QString::fromLocal8Bit(owner->pw_name) : QString::number(info.st_uid);
    const gid_t group = owner ? owner->pw_gid : info.st_gid;
    const bool groupsSet = owner ? ::initgroups(owner->pw_name, group) == 0 : ::setgroups(0, nullptr) == 0;
    // The group first: once the user id is dropped the group can no longer change.
    if (!groupsSet || ::setgid(group) != 0 || ::setuid(info.st_uid) != 0) {
        *message = QStringLiteral("无法切换到数据文件夹的所有者 %1，请用 sudo -u %1 folioway-server … 运行 / "
                                  "cannot take the rights of the data folder's owner %1 (%2); run it as "
                                  "sudo -u %1 folioway-server …")
                       .arg(name, QString::fromLocal8Bit(std::strerror(errno)));
        return Outcome::Failed;
    }
    *message = QStringLiteral("以数据文件夹所有者 %1 的身份运行 / running as the data folder's owner %1").arg(name);
    return Outcome::Switched;
}

} // namespace RunAsOwner
