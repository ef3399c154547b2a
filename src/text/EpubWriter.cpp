#include "text/EpubWriter.h"

#include "text/BookScan.h"
#include "text/Chapters.h"
#include "text/EpubContents.h"
#include "text/EpubDocument.h"
#include "text/ZipWriter.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <condition_variable>
#include <future>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#endif

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 ReadBlockBytes = 512 * 1024;
// Past this many chapters several go into one document.
constexpr qsizetype MaxDocuments = 4000;
// Books this small are written on one thread; on more, documents are made on up to MaxThreads
// side by side, each thread taking about a block of the book at a time and at most one block more
// than there are threads ahead of what is written, and a unit of chapters longer than
// InlineUnitBytes (a book that is one long line) is made by the thread writing as it goes. The
// documents in flight stay few enough to be in the processor's cache when they are written: with
// 4 MB in flight instead of 1.5 on two cores, the archive took half as long again.
constexpr qint64 ParallelBookBytes = 2 * 1024 * 1024;
constexpr int MaxThreads = 4;
constexpr qint64 InlineUnitBytes = 4 * 1024 * 1024;
constexpr qint64 WritebackBytes = 8 * 1024 * 1024;

const char Stylesheet[] = "body { margin: 0 4%; line-height: 1.8; text-align: left; }\n"
                          "h1 { font-size: 1.3em; line-height: 1.4; text-align: center; margin: 1em 0 1.2em 0; }\n"
                          "p { text-indent: 2em; margin: 0 0 0.5em 0; text-align: left; }\n"
                          "section[id] { page-break-before: always; }\n" // chapters that share a document
                          "nav ol { list-style-type: none; padding-left: 0; }\n"
                          "nav li { margin: 0.3em 0; }\n";

const char Container[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                         "<container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n"
                         "  <rootfiles>\n"
                         "    <rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>\n"
                         "  </rootfiles>\n"
                         "</container>\n";

// Why a write failed, for the user.
QString writeErrorText(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return u"磁盘空间不足"_s;
    case EFBIG:
        return u"文件过大"_s;
    case ENOMEM:
        return u"内存不足"_s;
    case EROFS:
        return u"磁盘是只读的"_s;
    case EACCES:
    case EPERM:
        return u"没有写入权限"_s;
    default:
        return u"写入出错（%1）"_s.arg(QString::fromLocal8Bit(std::strerror(error)));
    }
}

// Made from a hash of the whole file, on a thread of its own beside the chapter scan and the
// documents: only the contents at the end need it. Empty when stopped or unreadable.
QString contentIdentifier(const QString &path, const std::atomic_bool *stop)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    QByteArray block(ReadBlockBytes, Qt::Uninitialized);
    qint64 got = -1;
    if (file.open(QIODevice::ReadOnly))
        while ((got = file.read(block.data(), block.size())) > 0 && !stop->load(std::memory_order_relaxed))
            hash.addData(QByteArrayView(block.constData(), got));
    if (got != 0) // stopped, or the file could not be read
        return {};
    return u"urn:folioway:"_s + QString::number(file.size()) + u':' + QString::fromLatin1(hash.result().toHex());
}

// Chapters [first, last] of the list, written into the same documents; `start` and `end` are
// where their text is in the file.
struct Unit
{
    qsizetype first = 0;
    qsizetype last = 0;
    qint64 start = 0;
    qint64 end = 0;
};

struct PreparedDocument
{
    QString id;
    ZipEntryBody body;
};

// What a unit gave: its documents, and for each of its chapters the document it starts in.
struct UnitOutput
{
    bool ok = true;
    QList<PreparedDocument> documents;
    QList<qsizetype> chapterDocument;
};

using DocumentSink = std::function<void(PreparedDocument &&)>;

class Builder
{
public:
    Builder(const EpubBook &book, const std::atomic_bool *cancel, const EpubProgress &progress)
        : m_book(book)
        , m_cancel(cancel)
        , m_progress(progress)
    {
    }

    EpubResult run(const QString &target);

private:
    bool cancelled() const { return m_cancel && m_cancel->load(std::memory_order_relaxed); }
    void planUnits();
    bool writeUnit(const Unit &unit, LineReader &reader, UnitOutput &output, const DocumentSink &sink) const;
    bool writeUnits(LineReader &reader);
    void reserveSpace();
    void startWriteback(bool now = false);

    const EpubBook &m_book;
    const std::atomic_bool *m_cancel;
    const EpubProgress &m_progress;
    std::shared_ptr<const BookLineIndex> m_index;
    std::unique_ptr<ZipWriter> m_zip;
    QSaveFile *m_out = nullptr;
    qint64 m_flushed = 0; // the archive's bytes handed to the disk so far
    QString m_title;
    QDateTime m_date;
    QList<ChapterEntry> m_entries;
    QStringList m_chapterTitles;         // shown titles, escaped
    QList<Unit> m_units;
    QList<EpubContents::Document> m_documents;
    QList<qsizetype> m_chapterDocument;  // the document each chapter starts in
    QList<bool> m_chapterAnchored;       // one that does not start its document has an id
    mutable DocumentBuffers m_buffers; // no more are ever in use than the documents in flight
};

void Builder::planUnits()
{
    // A reading system (and a checker) walks every document; a book of tens of thousands of short
    // chapters puts several into one.
    const qsizetype n = m_entries.size();
    const qsizetype perUnit = (n + MaxDocuments - 1) / MaxDocuments;
    const std::vector<qint64> &starts = m_index->lineStarts;
    const auto offset = [&](qint64 line) { return starts[size_t(qBound<qint64>(0, line, qint64(starts.size()) - 1))]; };
    for (qsizetype first = 0; first < n; first += perUnit) {
        Unit unit;
        unit.first = first;
        unit.last = qMin(n, first + perUnit) - 1;
        unit.start = offset(m_entries.at(first).rangeStart);
        unit.end = offset(m_entries.at(unit.last).lastShownLine() + 1);
        m_units.append(unit);
    }
    m_chapterAnchored.fill(false, n);
    for (const Unit &unit : std::as_const(m_units))
        for (qsizetype i = unit.first + 1; i <= unit.last; ++i)
            m_chapterAnchored[i] = true;
}

bool Builder::writeUnit(const Unit &unit, LineReader &reader, UnitOutput &output, const DocumentSink &sink) const
{
    const QString firstId = u"c"_s + m_entries.at(unit.first).numberText();
    qsizetype chapter = unit.first;
    qsizetype documentChapter = unit.first; // the chapter a document starts in names it
    int part = 0;
    ParagraphWriter paragraphs([&](QByteArray &&body) {
        ++part;
        PreparedDocument document;
        document.id = part == 1 ? firstId : firstId + u'-' + QString::number(part);
        const QString &title = m_chapterTitles.at(documentChapter);
        documentChapter = qMin(chapter, unit.last);
        if (m_book.shownText)
            body = m_book.shownText(QString::fromUtf8(body)).toUtf8();
        QByteArray head = XhtmlHead(title, u"../style.css"_s).toUtf8();
        head += part == 1 ? "<section>\n<h1>" + title.toUtf8() + "</h1>\n" : QByteArray("<section>\n");
        // The body goes into the archive as it is, without a copy to put the head before it.
        static const QByteArray end("</section>\n</body>\n</html>\n"); // shared by every document, never copied
        document.body = ZipWriter::pack({std::move(head), std::move(body), end},
                                        m_book.compressionLevel);
        sink(std::move(document));
    }, ParagraphWriter::DocumentBytes, ParagraphWriter::ParagraphUnits, [this] { return m_buffers.take(); });
    bool read = true;
    for (; chapter <= unit.last && read; ++chapter) {
        const ChapterEntry &entry = m_entries.at(chapter);
        output.chapterDocument.append(part);
        if (chapter > unit.first) {
            const QByteArray title = m_chapterTitles.at(chapter).toUtf8();
            paragraphs.addMarkup("</section>\n<section id=\"c" + entry.numberText().toLatin1() + "\">\n<h1>" +
                                 title + "</h1>\n");
        }
        // The reader keeps the first line as the book's title; one too long to be a title (a
        // book that is a single line) is text and goes into the first chapter. A chapter after
        // the first shows its heading line first; the document has it as its <h1>.
        const bool withFirstLine = chapter == 0 && entry.title.size() > MaxTitleUnits;
        const qint64 first = withFirstLine ? 0 : entry.firstShownLine() + (entry.number > 1 ? 1 : 0);
        read = reader.readLines(first, entry.lastShownLine(), paragraphs);
    }
    chapter = unit.last;
    paragraphs.finish();
    return read;
}


bool Builder::writeUnits(LineReader &reader)
{
    const auto write = [this](PreparedDocument &&document) {
        if (!m_zip->add(u"OEBPS/text/"_s + document.id + u".xhtml"_s, std::move(document.body)))
            return;
        m_documents.append({document.id, u"text/"_s + document.id + u".xhtml"_s});
        for (ZipEntryBody &written : m_zip->takeWritten())
            if (!written.deflated && written.parts.size() == 3)
                m_buffers.give(std::move(written.parts[1]));
    };
    const qsizetype n = m_units.size();
    // This thread and its helpers make the documents, and whichever finds the next ones to write
    // made writes them: the bytes are then mostly still in its cache, and no thread that only
    // writes competes with those making documents for the processor.
    const int hardware = int(std::thread::hardware_concurrency());
    const int threads = m_index->fileSize < ParallelBookBytes ? 1 : qBound(1, hardware, MaxThreads);
    const qint64 windowBytes = (threads + 1) * ReadBlockBytes;
    const auto inlineUnit = [&](qsizetype i) {
        return threads == 1 || m_units.at(i).end - m_units.at(i).start > InlineUnitBytes;
    };

    // A thread takes a run of units at a time, about a block of the book, read in one piece.
    std::vector<std::pair<qsizetype, qsizetype>> runs;
    for (qsizetype i = 0; i < n;) {
        qsizetype j = i;
        while (!inlineUnit(i) && j + 1 < n && !inlineUnit(j + 1) &&
               m_units.at(j + 1).end - m_units.at(i).start <= ReadBlockBytes)
            ++j;
        runs.emplace_back(i, j);
        i = j + 1;
    }

    std::mutex mutex;
    std::condition_variable changed; // a unit was made or written, or the writing ended
    std::vector<std::optional<UnitOutput>> results(static_cast<size_t>(n));
    size_t nextRun = 0;
    qsizetype written = 0;  // units written
    qsizetype woken = 0;    // `written` when the waiting threads were last woken
    bool writing = false;   // a thread is writing
    bool ok = true;
    qint64 reported = 0;

    // Writes the units made, in order, unless another thread is at it; the long ones made as they
    // are written (the unit of a book that is one line) are made here, by `reader`.
    const auto writeMade = [&](std::unique_lock<std::mutex> &lock) {
        if (writing)
            return;
        writing = true;
        while (ok && written < n && (results[size_t(written)] || inlineUnit(written))) {
            const qsizetype i = written;
            std::optional<UnitOutput> made = std::exchange(results[size_t(i)], std::nullopt);
            lock.unlock();
            const qsizetype base = m_documents.size();
            UnitOutput output;
            bool done;
            if (made) {
                output = std::move(*made);
                done = output.ok;
                for (PreparedDocument &document : output.documents)
                    write(std::move(document));
            } else {
                done = writeUnit(m_units.at(i), reader, output, write);
            }
            for (const qsizetype document : std::as_const(output.chapterDocument))
                m_chapterDocument.append(base + document);
            done = done && !m_zip->failed() && !cancelled();
            startWriteback();
            if (m_progress && m_units.at(i).end - reported >= ReadBlockBytes)
                m_progress(reported = m_units.at(i).end, m_index->fileSize);
            lock.lock();
            ++written;
            ok = ok && done;
            // Threads waiting for room are woken when it is worth their while.
            if (written >= n || !ok || m_units.at(written).start - m_units.at(woken).start >= windowBytes / 8) {
                woken = qMin(written, n - 1);
                changed.notify_all();
            }
        }
        writing = false;
        changed.notify_all();
    };
    const auto work = [&](LineReader &own, bool opened) {
        std::unique_lock lock(mutex);
        while (true) {
            writeMade(lock);
            if (!ok || written >= n)
                return;
            if (nextRun < runs.size() && inlineUnit(runs[nextRun].first)) {
                ++nextRun; // made when written
                continue;
            }
            // At most a window of the book ahead of what is written.
            if (nextRun >= runs.size() ||
                m_units.at(runs[nextRun].first).start - m_units.at(qMin(written, n - 1)).start > windowBytes) {
                changed.wait(lock);
                continue;
            }
            const auto [first, last] = runs[nextRun++];
            lock.unlock();
            own.readAheadTo(m_entries.at(m_units.at(last).last).lastShownLine());
            std::vector<UnitOutput> outputs(size_t(last - first + 1));
            for (qsizetype i = first; i <= last; ++i) {
                UnitOutput &output = outputs[size_t(i - first)];
                output.ok = opened && writeUnit(m_units.at(i), own, output, [&](PreparedDocument &&document) {
                    output.documents.append(std::move(document));
                });
            }
            lock.lock();
            for (qsizetype i = first; i <= last; ++i)
                results[size_t(i)] = std::move(outputs[size_t(i - first)]);
        }
    };
    const auto helper = [&] {
        LineReader own(*m_index, m_book.path, m_cancel, nullptr);
        const bool opened = own.open();
        work(own, opened);
    };
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t)
        helpers.emplace_back(helper);
    helper();
    for (std::thread &thread : helpers)
        thread.join();
    return ok;
}

void Builder::reserveSpace()
{
#ifdef Q_OS_LINUX
    // Blocks reserved at once cost the writes far less than blocks found for each as it comes.
    // About the size the archive will have; any left over is cut off at the end.
    const qint64 book = m_index->fileSize;
    const qint64 expected = m_book.compressionLevel ? book / 2
                            : m_index->encoding == TextEncoding::Gb18030 ? book / 2 * 3
                                                                         : book + book / 8;
    if (expected >= ParallelBookBytes)
        fallocate(m_out->handle(), 0, 0, expected); // a file system without it writes as before
#endif
}

void Builder::startWriteback(bool now)
{
#ifdef Q_OS_LINUX
    // The file is synced to the disk before it takes the target's place; started on the way,
    // most of that is done by then instead of all of it waited for at the end.
    if ((!now && m_zip->size() - m_flushed < WritebackBytes) || !m_zip->flush())
        return;
    sync_file_range(m_out->handle(), m_flushed, m_zip->size() - m_flushed, SYNC_FILE_RANGE_WRITE);
    m_flushed = m_zip->size();
#endif
}

EpubResult Builder::run(const QString &target)
{
    EpubResult result;
    std::atomic_bool stopHash = false; // set when the writing ends, whichever way
    std::future<QString> identifier;
    if (m_book.identifier.isEmpty())
        identifier = std::async(std::launch::async, contentIdentifier, m_book.path, &stopHash);
    const auto endHash = qScopeGuard([&] { stopHash = true; });
    // The scan is the one part of the work on one thread otherwise: a large book is scanned in parts.
    const int scanParts = QFileInfo(m_book.path).size() < ParallelBookBytes
                              ? 1
                              : qBound(1, int(std::thread::hardware_concurrency()), MaxThreads);
    const ChapterList chapters = GetChapter(m_book.path, {}, m_cancel, m_book.reading, scanParts);
    if (cancelled()) {
        result.cancelled = true;
        return result;
    }
    if (!chapters.ok()) {
        result.errorMessage = chapters.errorMessage;
        return result;
    }
    m_index = LineIndexFor(m_book.path, m_book.reading);
    std::optional<LineReader> reader;
    if (m_index)
        reader.emplace(*m_index, m_book.path, m_cancel, &m_progress);
    if (!reader || !reader->open()) {
        result.errorMessage = UnreadableBookMessage(m_book.path);
        return result;
    }
    const QFileInfo info(m_book.path);
    m_title = DisplayTitle(m_book.title, {});
    if (m_title.isEmpty())
        m_title = DisplayTitle(info.completeBaseName(), u"未命名"_s);
    m_date = m_book.date.isValid() ? m_book.date : info.lastModified();

    QSaveFile out(target);
    const auto writeFailed = [&] {
        const int error = m_zip && m_zip->failed() ? m_zip->error() : 0;
        const QString why = error                                       ? writeErrorText(error)
                            : out.error() == QFileDevice::ResourceError ? writeErrorText(ENOSPC)
                            : out.errorString().isEmpty()               ? writeErrorText(EFBIG)
                                                                        : out.errorString();
        return u"无法写入文件“%1”：%2"_s.arg(QDir::toNativeSeparators(target), why);
    };
    if (!out.open(QIODevice::WriteOnly)) {
        result.errorMessage = writeFailed();
        return result;
    }
    m_out = &out;
    reserveSpace();
    m_zip = std::make_unique<ZipWriter>(&out, 1); // the fastest level: text compresses nearly as well
    m_entries = chapters.entries;
    QStringList titles;
    titles.reserve(m_entries.size());
    for (const ChapterEntry &entry : std::as_const(m_entries))
        titles.append(entry.title);
    if (m_book.shownText) {
        // One call for all titles; a line break is part of none.
        const QStringList shown = m_book.shownText(titles.join(u'\n')).split(u'\n');
        for (qsizetype i = 0; i < titles.size(); ++i)
            titles[i] = shown.size() == titles.size() ? shown.at(i) : m_book.shownText(titles.at(i));
    }
    // Thousands of titles: two halves side by side.
    m_chapterTitles.resize(titles.size());
    const auto display = [&](qsizetype from, qsizetype to) {
        for (qsizetype i = from; i < to; ++i) {
            m_chapterTitles[i] = DisplayTitle(titles.at(i), {});
            if (m_chapterTitles.at(i).isEmpty())
                m_chapterTitles[i] = u"第%1章"_s.arg(m_entries.at(i).number);
        }
    };
    const qsizetype half = titles.size() < 1000 ? titles.size() : titles.size() / 2;
    std::future<void> secondHalf = std::async(std::launch::deferred, display, half, titles.size());
    if (half < titles.size())
        secondHalf = std::async(std::launch::async, display, half, titles.size());
    display(0, half);
    secondHalf.get();
    planUnits();
    m_zip->setModified(m_date);
    m_zip->addStored(u"mimetype"_s, "application/epub+zip");
    m_zip->addDeflated(u"META-INF/container.xml"_s, Container);
    m_zip->addDeflated(u"OEBPS/style.css"_s, Stylesheet);
    if (const QString cover = EpubCoverFile(m_book.coverType); !m_book.cover.isEmpty() && !cover.isEmpty())
        m_zip->addStored(u"OEBPS/"_s + cover, m_book.cover); // images are compressed already

    const bool read = writeUnits(*reader);
    if (cancelled()) {
        out.cancelWriting();
        result.cancelled = true;
        return result;
    }
    if (!read) {
        out.cancelWriting();
        result.errorMessage = m_zip->failed() ? writeFailed() : UnreadableBookMessage(m_book.path);
        return result;
    }
    startWriteback(true); // the disk writes the last chapters while the contents are made
    EpubContents contents;
    contents.identifier = identifier.valid() ? identifier.get() : m_book.identifier;
    contents.title = m_title;
    contents.author = m_book.author;
    contents.subject = m_book.subject;
    contents.date = m_date;
    contents.cover = m_book.cover.isEmpty() ? QString() : EpubCoverFile(m_book.coverType);
    contents.coverType = m_book.coverType;
    contents.documents = std::move(m_documents);
    contents.chapterTitles = std::move(m_chapterTitles);
    contents.chapterHrefs.reserve(m_entries.size());
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        const QString &document = contents.documents.at(m_chapterDocument.at(i)).href;
        contents.chapterHrefs.append(m_chapterAnchored.at(i) ? document + u"#c"_s + m_entries.at(i).numberText()
                                                             : document);
    }
    // The contents of a book of thousands of chapters take a while to make and deflate: side by side.
    const auto packed = [&contents](QByteArray (*make)(const EpubContents &)) {
        return std::async(std::launch::async, [&contents, make] { return ZipWriter::pack({make(contents)}, 1); });
    };
    std::future<ZipEntryBody> package = packed(EpubPackageDocument);
    std::future<ZipEntryBody> nav = packed(EpubNavDocument);
    ZipEntryBody ncx = ZipWriter::pack({EpubNcxDocument(contents)}, 1);
    m_zip->add(u"OEBPS/content.opf"_s, package.get());
    m_zip->add(u"OEBPS/nav.xhtml"_s, nav.get());
    m_zip->add(u"OEBPS/toc.ncx"_s, std::move(ncx));
    // What was reserved beyond the archive goes.
    if (!m_zip->finish() || (out.size() > m_zip->size() && !out.resize(m_zip->size())) || !out.commit()) {
        out.cancelWriting();
        result.errorMessage = writeFailed();
        return result;
    }
    if (m_progress)
        m_progress(m_index->fileSize, m_index->fileSize);
    result.ok = true;
    result.chapters = int(chapters.entries.size());
    result.documents = int(contents.documents.size());
    return result;
}

} // namespace

EpubResult WriteEpub(const EpubBook &book, const QString &target, const std::atomic_bool *cancel,
                     const EpubProgress &progress)
{
    Builder builder(book, cancel, progress);
    return builder.run(target);
}

QString EpubFileName(const QString &title)
{
    QString name = title.left(MaxTitleUnits).simplified();
    name.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    if (name.isEmpty())
        name = u"未命名"_s;
    for (QChar &c : name)
        if (QStringView(u"/\\:*?\"<>|").contains(c))
            c = u'_';
    if (name.startsWith(u'.'))
        name.prepend(u'_');
    return name + u".epub"_s;
}
