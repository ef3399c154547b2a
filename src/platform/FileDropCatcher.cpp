#include "platform/FileDropCatcher.h"

#include <QChildEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

FileDropCatcher::FileDropCatcher(QWidget *root, std::function<bool(const QString &)> accepts)
    : QObject(root), m_accepts(std::move(accepts))
{
    watch(root);
}

void FileDropCatcher::watch(QWidget *widget)
{
    // The drop goes to the innermost widget that takes drops, so every one of them must.
    widget->setAcceptDrops(true);
    widget->installEventFilter(this);
    for (QWidget *child : widget->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        watch(child);
}

QStringList FileDropCatcher::acceptedFiles(const QMimeData *mime) const
{
    QStringList paths;
    if (!mime)
        return paths;
    for (const QUrl &url : mime->urls()) {
        if (url.isLocalFile() && m_accepts(url.toLocalFile()))
            paths << url.toLocalFile();
    }
    return paths;
}

bool FileDropCatcher::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::ChildAdded:
        if (auto *child = qobject_cast<QWidget *>(static_cast<QChildEvent *>(event)->child()))
            watch(child);
        break;
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (acceptedFiles(drag->mimeData()).isEmpty())
            break;
        drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QStringList paths = acceptedFiles(drop->mimeData());
        if (paths.isEmpty())
            break;
        drop->acceptProposedAction();
        Q_EMIT dropped(paths);
        return true;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
