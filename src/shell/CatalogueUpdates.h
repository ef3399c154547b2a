#pragma once

#include "catalogue/CatalogueProtocol.h"
#include "library/CatalogueOrigins.h"

#include <QObject>
#include <QStringList>

struct AppContext;
class AnswerReader;
class DownloadQueue;
class Prompter;
class RequestSlot;
struct HttpResult;

// Newer copies of the shelf's catalogue books. check() asks the catalogue's server in one
// request (a few for a very large shelf) which of them changed, and marks those rows.
// updateBook() fetches a marked book's newer copy through the download list and puts it in
// place of the shelf file in one step: the row, its bookmark and the reading position stay,
// the position moved to the same chapter of the new text (by title, else by share of the book).
class CatalogueUpdates : public QObject
{
    Q_OBJECT
public:
    static constexpr int BooksPerRequest = 1000; // the server's bound

    CatalogueUpdates(AppContext &ctx, Prompter &prompter, DownloadQueue *queue, QObject *parent = nullptr);

    // tell: the user asked, so the outcome is said in a message; otherwise it is quiet.
    void check(bool tell);
    bool isChecking() const { return m_checking; }
    void updateBook(qint64 bookId);
    // A book known here only by its catalogue id (kept on another computer's shelf): the
    // catalogue is asked for its current copy, which is downloaded like a catalogue row and
    // joins the shelf under the given category, title and author.
    void downloadById(const QString &catalogueId, const QString &category, const QString &name,
                      const QString &author);
    // Puts text in place of the shelf book's file (written beside it, renamed over it) and
    // moves its reading position; returns how many chapters were added, or -1 with error set.
    static int ReplaceBookText(LibraryDb &db, const QString &bookPath, const QString &newText, QString *error);

Q_SIGNALS:
    // The marks on the shelf or a book's file changed.
    void shelfChanged();
    void checked(int booksMarked);
    // Just before a shelf file is replaced (a reader holding it saves its place first), and after.
    void replacing(const QString &bookPath);
    void bookUpdated(qint64 bookId, int chaptersAdded);

private:
    void sendNext();
    void onAnswer(const QByteArray &body, bool ok);
    void finishCheck(bool ok);
    void finishUpdate(qint64 bookId, const CatalogueOrigin &origin, const QString &saveFile);

    AppContext &m_ctx;
    Prompter &m_prompter;
    DownloadQueue *m_queue;
    RequestSlot *m_slot;
    AnswerReader *m_reader;
    void onByIdAnswer(const HttpResult &result);

    RequestSlot *m_byIdSlot = nullptr;
    CatalogueEntry m_byId; // the book asked for by id
    AnswerReader *m_byIdReader = nullptr;
    QList<CatalogueOrigin> m_asking;
    qsizetype m_next = 0;
    int m_marked = 0;
    bool m_checking = false;
    bool m_tell = false;
};
