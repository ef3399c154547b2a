#pragma once

#include "http/HttpTypes.h"
#include "text/BookText.h"

#include <QCache>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QIODevice;
struct BookRow;

// One chapter as the web reader serves it: its lines, counted as the desktop counts them.
struct WebChapter
{
    QString title;
    qint64 firstLine = 0; // first line shown
    qint64 lastLine = 0;  // last line shown
};

// The chapter list of a book file and where its lines lie in it.
struct WebToc
{
    QString error;       // in words for the reader; empty when the list is there
    QString fingerprint; // "<size>:<sha1>", as the desktop names the book
    QString version;     // changes whenever the book file does
    qint64 lineCount = 0;
    QList<WebChapter> chapters;
    QByteArray chapterList; // the chapters in JSON, [[title, first line, last line], …], as kept and answered
    QString source;                             // the book file
    TextEncoding encoding = TextEncoding::Utf8; // its lines are decoded with
    QString dir;    // where lines.bin lies: the file offset of each line's start, then the file's size
    QString rule;   // names the reader's own way of reading the book it follows; empty for the default
    QString notice; // why the reader's own way was not followed, in words for the reader

    bool ok() const { return error.isEmpty(); }
};

// The chapters of a book as the desktop reads it, and where each of its lines starts
// (WebChapterText.cpp). `reading` is how the desktop reads the book (BookReading::toText():
// smart chapters, the reader's own heading rule, a chosen encoding); empty for the default.
struct WebSource
{
    QString error;
    TextEncoding encoding = TextEncoding::Utf8;
    std::vector<qint64> lineStarts; // then the file's size
    struct Entry
    {
        QString title;
        qint64 firstLine = 0;
        qint64 lastLine = 0;
    };
    QList<Entry> entries;
};
WebSource ReadWebSource(const QString &path, const QString &reading = {});
// Lines of the file whose starts (and the end of the last) are `starts`, as UTF-8, one a line;
// nothing when the file cannot be read there.
std::optional<QByteArray> ReadWebLines(QIODevice &file, TextEncoding encoding, const std::vector<qint64> &starts);
// The reading in its one written form, so equal choices share one list; empty for the default.
QString CanonicalReading(const QString &reading);
// Changes whenever the way lines and chapters are read does, so lists kept by another build are made again.
QString WebSourceVersion();

// The chapter lists of the catalogue's books, computed once per book file and kept in a folder
// beside it (".reader"), rebuilt when the file changes: no more work than the desktop's own
// chapter detection, so a book opens as fast as there. A chapter is cut from the book file when
// first asked for and kept deflated in memory (kCacheBytes, the least recently read go first), so
// the chapters being read are answered without a file or a database touched for their text. A reader's own way of reading a
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
    static constexpr qint64 kCacheBytes = 64ll * 1024 * 1024;

    // The list read the way `reading` says (empty: the default).
    std::shared_ptr<const WebToc> toc(const BookRow &book, const QString &reading = {}) const;
    // The list whose rule is `rule` (WebToc::rule) when one is kept for the book as it is now;
    // null when it would have to be built.
    std::shared_ptr<const WebToc> kept(const BookRow &book, const QString &rule) const;
    // The same for a text file outside the catalogue (a private copy), its lists cached under
    // `key`, which no catalogue id takes.
    std::shared_ptr<const WebToc> toc(const QString &source, const QString &key, const QString &reading = {}) const;
    std::shared_ptr<const WebToc> kept(const QString &source, const QString &key, const QString &rule) const;
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
        QString key;     // the lists' cache key, before the rule's name
    };
    Place placeOf(const BookRow &book) const;
    static Place placeAt(const QString &source, const QString &key);
    std::shared_ptr<const WebToc> tocAt(const Place &place, const QString &reading) const;
    std::shared_ptr<const WebToc> keptAt(const Place &place, const QString &rule) const;
    struct Kept
    {
        QString version;
        std::shared_ptr<const WebToc> toc;
    };
    std::shared_ptr<const WebToc> cached(const QString &key, const QString &version) const;
    void remember(const QString &key, const QString &version, std::shared_ptr<const WebToc> toc) const;
    std::shared_ptr<const WebToc> build(const QString &source, const QString &dir, const QString &version,
                                        const QString &reading, const QString &fingerprint) const;
    static std::shared_ptr<const WebToc> readKept(const QString &source, const QString &dir, const QString &version);
    // The chapter's lines as UTF-8; nothing when the files cannot be read.
    static std::optional<QByteArray> plainText(const WebToc &toc, const WebChapter &chapter);
    void makeRoom(const QString &rulesDir) const;

    QString m_booksDir;
    mutable std::mutex m_buildMutex; // one book built at a time, so a burst builds it once
    mutable std::mutex m_cacheMutex;
    mutable QHash<QString, Kept> m_cache; // by "<book id>/<rule>"
    mutable std::mutex m_chapterMutex;
    mutable QCache<QString, QByteArray> m_chapters{int(kCacheBytes / 1024)}; // deflated; cost in KiB
};
