#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

class QMimeData;
class QWidget;

// Takes drags of local files over a widget and everything inside it, the web views included
// (which would otherwise open a dropped file as a page). Only files the predicate accepts count;
// a drag with none of them is left to the widget under the mouse. Made as a child of the widget.
class FileDropCatcher : public QObject
{
    Q_OBJECT
public:
    FileDropCatcher(QWidget *root, std::function<bool(const QString &)> accepts);

    QStringList acceptedFiles(const QMimeData *mime) const;

Q_SIGNALS:
    void dropped(const QStringList &paths);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void watch(QWidget *widget);

    std::function<bool(const QString &)> m_accepts;
};
