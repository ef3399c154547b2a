#include "library/EpubExport.h"

#include "library/BookMenu.h"
#include "library/LibraryDb.h"
#include "library/LocalBookFiles.h"
#include "platform/ChineseScript.h"
#include "platform/Prompter.h"
#include "text/EpubWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QProgressDialog>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::StringLiterals;

struct EpubExport::Job
{
    EpubBook book;
    QString target;
};

EpubExport::EpubExport(LibraryDb &db, Prompter &prompter, QWidget *window)
    : QObject(window)
    , m_db(db)
    , m_prompter(prompter)
    , m_window(window)
{
    connect(&m_watcher, &QFutureWatcher<Outcome>::finished, this, &EpubExport::done);
}

EpubExport::~EpubExport()
{
    m_cancel = true;
    m_watcher.waitForFinished();
}

QString EpubExport::FreeFileName(const QString &folder, const QString &name, const QStringList &taken)
{
    const QDir dir(folder);
    const QString base = name.chopped(5); // without ".epub"
    QString candidate = name;
    for (int n = 2; QFileInfo::exists(dir.filePath(candidate)) || taken.contains(dir.filePath(candidate)); ++n)
        candidate = u"%1 (%2).epub"_s.arg(base).arg(n);
    return dir.filePath(candidate);
}

EpubExport::Job EpubExport::jobFor(const BookRecord &book, const QString &target) const
{
    Job job;
    job.target = target;
    job.book.path = book.path;
    job.book.reading = BookReading::fromText(m_db.option(BookOptionName(u"BookReading", book.path)));
    job.book.title = book.name;
    job.book.author = book.author;
    job.book.subject = book.type;
    const ScriptConversion conversion = ScriptConversionAvailable()
                                            ? ScriptConversionFromName(m_db.option(BookOptionName(u"BookScript", book.path)))
                                            : ScriptConversion::None;
    if (conversion != ScriptConversion::None)
        job.book.shownText = [conversion](const QString &text) { return ConvertScript(text, conversion); };
    return job;
}

void EpubExport::exportBooks(const QList<BookRecord> &books)
{
    if (books.isEmpty())
        return;
    if (isRunning()) {
        m_prompter.message(u"上一次导出还没有完成，请稍候再试。"_s, Prompter::Icon::Information, u"导出为EPUB"_s);
        return;
    }
    QList<Job> jobs;
    if (books.size() == 1) {
        const BookRecord &book = books.first();
        QString file = m_prompter.saveFileName(
            u"导出为EPUB - Folioway"_s, u"EPUB 电子书(*.epub)|*.epub"_s,
            QDir(BookMenu::folderOf(book.path)).filePath(EpubFileName(book.name)));
        if (file.isEmpty())
            return;
        if (QFileInfo(file).suffix().isEmpty())
            file += u".epub"_s;
        jobs << jobFor(book, file);
    } else {
        const QString folder = m_prompter.folderName(u"把选中的 %1 本书导出为EPUB，存到："_s.arg(books.size()),
                                                     BookMenu::folderOf(books.first().path));
        if (folder.isEmpty())
            return;
        QStringList taken;
        for (const BookRecord &book : books) {
            taken << FreeFileName(folder, EpubFileName(book.name), taken);
            jobs << jobFor(book, taken.last());
        }
    }
    start(jobs);
}

void EpubExport::start(const QList<Job> &jobs)
{
    m_cancel = false;
    if (!m_progressWindow) {
        m_progressWindow = new QProgressDialog(m_window);
        m_progressWindow->setWindowTitle(u"导出为EPUB"_s);
        m_progressWindow->setCancelButtonText(u"取消"_s);
        m_progressWindow->setWindowModality(Qt::NonModal);
        m_progressWindow->setAutoClose(false);
        m_progressWindow->setAutoReset(false);
        connect(m_progressWindow, &QProgressDialog::canceled, this, [this] { m_cancel = true; });
    }
    m_progressWindow->setRange(0, 1000);
    m_progressWindow->setValue(0);
    m_progressWindow->setMinimumDuration(500); // a small book is done before it would show
    showProgress(0, int(jobs.size()), jobs.first().book.title, 0);

    m_watcher.setFuture(QtConcurrent::run([this, jobs] {
        Outcome outcome;
        for (int i = 0; i < jobs.size() && !m_cancel; ++i) {
            const Job &job = jobs.at(i);
            int shown = -1;
            const auto progress = [&](qint64 done, qint64 total) {
                const int permille = total > 0 ? int(done * 1000 / total) : 0;
                if (permille == shown)
                    return;
                shown = permille;
                QMetaObject::invokeMethod(this, [this, i, n = int(jobs.size()), title = job.book.title, permille] {
                    showProgress(i, n, title, permille);
                });
            };
            const EpubResult result = WriteEpub(job.book, job.target, &m_cancel, progress);
            if (result.ok)
                outcome.written << job.target;
            else if (!result.cancelled)
                outcome.failures << u"《%1》：%2"_s.arg(job.book.title, result.errorMessage);
        }
        outcome.cancelled = m_cancel;
        return outcome;
    }));
}

void EpubExport::showProgress(int job, int jobs, const QString &title, int permille)
{
    if (!m_progressWindow || m_cancel)
        return;
    m_progressWindow->setLabelText(jobs > 1 ? u"正在导出《%1》（第 %2 本，共 %3 本）…"_s.arg(title).arg(job + 1).arg(jobs)
                                            : u"正在导出《%1》…"_s.arg(title));
    m_progressWindow->setValue((job * 1000 + permille) / jobs);
}

void EpubExport::done()
{
    if (m_progressWindow)
        m_progressWindow->reset();
    const Outcome outcome = m_watcher.result();
    if (!outcome.failures.isEmpty())
        m_prompter.message(u"以下电子书未能导出为EPUB：\r\n"_s + outcome.failures.join(u"\r\n"_s),
                           Prompter::Icon::Critical, u"导出为EPUB"_s);
    Q_EMIT finished(outcome.written);
}
