#pragma once

#include <QTreeWidget>

#include <functional>

class DownloadQueue;
class QMenu;

// The download list under the catalogue: one row per row of the queue, its cells as the queue
// sets them, a progress bar drawn behind the progress text, speed and time left in two columns
// after the status, and a right-click menu to cancel, retry, remove, open the folder or read.
class DownloadList : public QTreeWidget
{
    Q_OBJECT
public:
    enum Column
    {
        ColTask,
        ColProgress,
        ColState,
        ColSpeed,
        ColTimeLeft
    };

    explicit DownloadList(DownloadQueue *queue, QWidget *parent = nullptr);

    // The menu of a row, built afresh with only the actions that apply enabled; the caller owns
    // it. Tests trigger its actions instead of opening it.
    QMenu *menuFor(int row);
    // Opens a folder in the file manager; tests put a recorder in its place.
    void setFolderOpener(std::function<void(const QString &folder)> open) { m_openFolder = std::move(open); }

Q_SIGNALS:
    // "阅读": the shelf book a finished row became.
    void readRequested(const QString &path);

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void addRow(int row);
    void updateRow(int row);

    DownloadQueue *m_queue;
    std::function<void(const QString &)> m_openFolder;
};
