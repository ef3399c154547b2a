#pragma once

#include <QTreeWidget>

#include <functional>

class DownloadQueue;
class QMenu;
class QToolButton;

// The download list under the catalogue: one row per row of the queue, its cells as the queue
// sets them, a progress bar drawn behind the progress text, speed and time left in two columns
// after the status, and a right-click menu to cancel, retry, remove, open the folder, read or
// download again. A strip of buttons steers the whole queue; the list has no room of its own for
// it, so its owner places it.
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
    // Opens a folder in the file manager, false when nothing could; tests put a recorder in its place.
    void setFolderOpener(std::function<bool(const QString &folder)> open) { m_openFolder = std::move(open); }

    // The strip's buttons: "全部暂停", "全部继续", "重试全部失败", "清除已完成".
    enum Control
    {
        PauseAll,
        ResumeAll,
        RetryFailed,
        ClearFinished
    };
    QToolButton *controlButton(Control control) const { return m_controls.value(control); }
    QWidget *controls() const { return m_strip; }

Q_SIGNALS:
    // "阅读": the shelf book a finished row became.
    void readRequested(const QString &path);

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void addRow(int row);
    void updateRow(int row);
    void openFolder(const QString &folder);
    void updateControls();

    DownloadQueue *m_queue;
    std::function<bool(const QString &)> m_openFolder;
    QWidget *m_strip;
    QList<QToolButton *> m_controls;
};
