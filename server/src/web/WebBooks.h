#pragma once

#include "http/HttpTypes.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>

struct BookRow;

// One chapter as the web reader serves it: its lines (counted as the desktop counts them) and
// where its text lies in the files kept beside the book.
struct WebChapter
{
    QString title;
    qint64 firstLine = 0; // first line shown
    qint64 lastLine = 0;  // last line shown
    qint64 textFrom = 0;  // its lines as UTF-8, one per line, in text.utf8
    qint64 textTo = 0;
    qint64 packedFrom = 0; // the same, deflated, in chapters.z
    qint64 packedTo = 0;
};

// The chapter list of a book file and where its text is kept.
struct WebToc
{
    QString error;       // in words for the reader; empty when the list is there
    QString fingerprint; // "<size>:<sha1>", as the desktop names the book
    QString version;     // changes whenever the book file does
    qint64 lineCount = 0;
    QList<WebChapter> chapters;
    QString dir; // where text.utf8 and chapters.z lie
    QString rule;   // names the reader's own way of reading the book it follows; empty for the default
    QString notice; // why the reader's own way was not followed, in words for the reader

    bool ok() const { return error.isEmpty(); }
};

// The lines and chapters of a book as the desktop reads it (WebChapterText.cpp).
struct WebSource
{
    QString error;
    QStringList lines;
    struct Entry
    {
        QString title;
        qint64 firstLine = 0;
        qint64 lastLine = 0;
    };
    QList<Entry> entries;
};
// `reading` is how the desktop reads the book (BookReading::toText(): smart chapters, the reader's
// own heading rule, a chosen encoding); empty for the default.
WebSource ReadWebSource(const QString &path, const QString &reading = {});
// The reading in its one written form, so equal choices share one list; empty for the default.
QString CanonicalReading(const QString &reading);
// Changes whenever the way lines and chapters are read does, so lists kept by another build are made again.
QString WebSourceVersion();

// The chapter lists of the catalogue's books, computed once per book file and kept in a folder
// beside it (".reader"), rebuilt when the file changes; each chapter is stored deflated, so a
// chapter request is a read of a range the transport streams. A reader's own way of reading a
// book (smart chapters, an own heading rule) has a list of its own, kept once per way in
// ".reader/rules"; a way that fails (a rule out of matching steps) gives the default list with
// a notice, remembered so that the rule is not tried again on the same file.
class WebBooks
{
public:
    explicit WebBooks(QString booksDir) : m_booksDir(std::move(booksDir)) {}

    static constexpr qint64 kMaxBookBytes = 256ll * 1024 * 1024;
    static constexpr int kMaxChapters = 100000;

    static constexpr int kMaxRulesPerBook = 16; // the least recently built goes first

    // The list read the way `reading` says (empty: the default).
    std::shared_ptr<const WebToc> toc(const BookRow &book, const QString &reading = {}) const;
    // The list whose rule is `rule` (WebToc::rule) when one is kept for the book as it is now;
    // null when it would have to be built.
    std::shared_ptr<const WebToc> kept(const BookRow &book, const QString &rule) const;
    // Chapter number (1-based) of toc; deflate when the browser takes it, else plain. With a
    // conversion the text is converted first ("s": to Simplified, "t": to Traditional).
    Response chapter(const WebToc &toc, int number, bool deflate, const QString &script) const;

private:
    struct Place
    {
        QString error;
        QString source;  // the book file
        QString version; // of the default list; a rule's list adds its name
        QString dir;     // the default list's folder
    };
    Place placeOf(const BookRow &book) const;
    struct Kept
    {
        QString version;
        std::shared_ptr<const WebToc> toc;
    };
    std::shared_ptr<const WebToc> cached(const QString &key, const QString &version) const;
    void remember(const QString &key, const QString &version, std::shared_ptr<const WebToc> toc) const;
    std::shared_ptr<const WebToc> build(const QString &source, const QString &dir, const QString &version,
                                        const QString &reading, const QString &fingerprint) const;
    static std::shared_ptr<const WebToc> readKept(const QString &dir, const QString &version);
    void makeRoom(const QString &rulesDir) const;

    QString m_booksDir;
    mutable std::mutex m_buildMutex; // one book built at a time, so a burst builds it once
    mutable std::mutex m_cacheMutex;
    mutable QHash<QString, Kept> m_cache; // by "<book id>/<rule>"
};
