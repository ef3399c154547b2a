#pragma once

#include <QWidget>

class LibraryDb;
class QCheckBox;

// The switches under the server address in "网络设置": automatic retry of broken downloads,
// finished downloads always onto the shelf, and the check for newer copies at start-up. Each is
// kept the moment it changes, like the rest of that frame.
class NetworkOptionsBox : public QWidget
{
    Q_OBJECT
public:
    explicit NetworkOptionsBox(LibraryDb &db, QWidget *parent = nullptr);

    // Shows what the library holds, without writing it back.
    void load();

    QCheckBox *autoRetryBox() const { return m_autoRetry; }
    QCheckBox *alwaysShelveBox() const { return m_alwaysShelve; }
    QCheckBox *checkUpdatesBox() const { return m_checkUpdates; }

private:
    QCheckBox *addSwitch(const QString &caption, const QString &name, const QString &tip, const QString &option);

    LibraryDb &m_db;
    QCheckBox *m_autoRetry;
    QCheckBox *m_alwaysShelve;
    QCheckBox *m_checkUpdates;
};
