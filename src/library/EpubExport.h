#pragma once

#include "library/BookRecord.h"

#include <QFutureWatcher>
#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QStringList>

#include <atomic>

class LibraryDb;
class Prompter;
class QWidget;

// "导出为EPUB…": writes the EPUB of shelf books, each read the way the reader reads it (its
// chapter rule, smart chapters, encoding) and shown in its 繁简 choice. One book is written to a
// file the user names; several go into a folder the user picks, each named after its title
// ("书名.epub", or "书名 (2).epub" when that is taken). The writing runs on a worker thread
// with a progress window that can cancel it; what fails is told in one message at the end.
class EpubExport : public QObject
{
    Q_OBJECT
public:
    EpubExport(LibraryDb &db, Prompter &prompter, QWidget *window);
    ~EpubExport() override; // an export still running is cancelled and waited for

    void exportBooks(const QList<BookRecord> &books);
    bool isRunning() const { return m_watcher.isRunning(); }
    QProgressDialog *progressWindow() const { return m_progressWindow; }

    // The first of "name.epub", "name (2).epub", … that is neither in `folder` nor in `taken`.
    static QString FreeFileName(const QString &folder, const QString &name, const QStringList &taken);

Q_SIGNALS:
    // The files written, in order; failures have been told to the user.
    void finished(const QStringList &written);

private:
    struct Job;
    struct Outcome
    {
        QStringList written;
        QStringList failures; // "《书名》：why"
        bool cancelled = false;
    };
    Job jobFor(const BookRecord &book, const QString &target) const;
    void start(const QList<Job> &jobs);
    void showProgress(int job, int jobs, const QString &title, int permille);
    void done();

    LibraryDb &m_db;
    Prompter &m_prompter;
    QPointer<QWidget> m_window;
    QPointer<QProgressDialog> m_progressWindow;
    QFutureWatcher<Outcome> m_watcher;
    std::atomic_bool m_cancel = false;
};
