#include "settings/NetworkOptionsBox.h"

#include "library/NetworkOptions.h"

#include <QCheckBox>
#include <QSignalBlocker>
#include <QVBoxLayout>

NetworkOptionsBox::NetworkOptionsBox(LibraryDb &db, QWidget *parent) : QWidget(parent), m_db(db)
{
    setObjectName(QStringLiteral("NetworkOptions"));
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    m_autoRetry = addSwitch(QStringLiteral("连接中断时自动重试"), QStringLiteral("DownloadAutoRetry"),
                            QStringLiteral("下载的连接中断后，分别在5秒、15秒和60秒后自动重试，最多三次"),
                            NetworkOptions::autoRetry());
    m_alwaysShelve = addSwitch(QStringLiteral("下载完成后总是加入书架"), QStringLiteral("DownloadAlwaysShelve"),
                               QStringLiteral("即使已经离开这本书所在的书库页面，下载完成后也把它加入书架"),
                               NetworkOptions::alwaysShelve());
    m_checkUpdates = addSwitch(QStringLiteral("启动时检查连载更新"), QStringLiteral("CheckUpdatesAtStart"),
                               QStringLiteral("程序启动时向书库询问书架上下载的书是否有新的章节；"
                                              "不勾选时仍可在书的菜单里用“检查更新”"),
                               NetworkOptions::checkUpdatesAtStart());
    load();
}

QCheckBox *NetworkOptionsBox::addSwitch(const QString &caption, const QString &name, const QString &tip,
                                        const QString &option)
{
    auto *box = new QCheckBox(caption, this);
    box->setObjectName(name);
    box->setToolTip(tip);
    layout()->addWidget(box);
    connect(box, &QCheckBox::toggled, this, [this, option](bool on) { NetworkOptions::turn(m_db, option, on); });
    return box;
}

void NetworkOptionsBox::load()
{
    const std::pair<QCheckBox *, QString> switches[] = {{m_autoRetry, NetworkOptions::autoRetry()},
                                                        {m_alwaysShelve, NetworkOptions::alwaysShelve()},
                                                        {m_checkUpdates, NetworkOptions::checkUpdatesAtStart()}};
    for (const auto &[box, option] : switches) {
        const QSignalBlocker quiet(box); // shown, not changed
        box->setChecked(NetworkOptions::isOn(&m_db, option));
    }
}
