// folioway-fuzz: mutated input for every reader of outside data, each checked against what must
// hold for it.
//
//   folioway-fuzz [--cases N] [--minutes M] [--seed S] [--first K] [--target NAME]
//
// Targets, taken in turn: catalogue, userbooks, account, serverinfo, upload (server answers:
// parsed twice, both readings must agree; catalogue and account answers beyond the XML limits,
// many attributes among them, must be refused), chapters (book files: the chapter list, line count and
// chapter text must equal decoding the whole file and splitting it) and archive (downloads through
// the import: nothing outside the book folder, only plain files and folders in it, no staging
// left, a refused archive adds nothing, the unpacked total within its limit). Case k is made from
// the seed and k alone, so "--seed S --first K --cases 1" replays case K. On the first broken
// promise it says which case and stops with status 1; a crash names the case too.

#include "ArchiveBuilder.h"
#include "TestSupport.h"
#include "account/AccountReply.h"
#include "account/Upload.h"
#include "catalogue/BookImport.h"
#include "catalogue/CatalogueProtocol.h"
#include "library/LibraryDb.h"
#include "net/XmlTree.h"
#include "startup/ServerInfoCheck.h"
#include "text/BookLineIndex.h"
#include "text/Chapters.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QRandomGenerator>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <unistd.h>
#ifdef FOLIOWAY_SANITIZE
#include <sanitizer/common_interface_defs.h>
#endif

using namespace Qt::StringLiterals;

namespace {

volatile std::sig_atomic_t g_case = 0;

// Writes the case number (zero-padded) without anything that is unsafe inside a signal handler.
void nameCase()
{
    char text[] = "folioway-fuzz: crashed in case 0000000000000000000\n";
    for (long v = g_case, at = long(sizeof text) - 3; v > 0; v /= 10)
        text[at--] = char('0' + v % 10);
    (void)!::write(2, text, sizeof text - 1);
}

#ifndef FOLIOWAY_SANITIZE
void nameCaseAndDie(int signal)
{
    nameCase();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}
#endif

struct Target
{
    const char *name;
    QList<QByteArray> seeds;
    QList<QByteArray> tokens; // pieces the format is made of, inserted whole
    qsizetype maxSize;
    // For XML answers: element names, and those that hold others. Most byte changes make an
    // answer malformed, so half the answers are made up from these instead, well formed.
    QList<QByteArray> fields = {};
    QList<QByteArray> containers = {};
};

QByteArray element(const QByteArray &name, const QByteArray &value, const QByteArray &attributes = {})
{
    return '<' + name + attributes + '>' + value + "</" + name + '>';
}

// n attributes, quoted either way, some values holding "=" or ">".
QByteArray attributeRun(int n)
{
    QByteArray run;
    for (int i = 0; i < n; ++i)
        run += " a" + QByteArray::number(i) + (i % 3 ? "=\"v\"" : i % 2 ? "='=>'" : "=\"\"");
    return run;
}

// An answer of up to four containers, each holding the fields in order with a few left out and
// random values, sometimes with another container inside.
QByteArray madeUp(QRandomGenerator &rng, const Target &target)
{
    // clang-format off
    static const QList<QByteArray> values{"", "0", "1", "-1", "2", "12.5", "1e308", "-0", "99999999999999999999", "abc",
        "全集", "连载", "男", "2009-3-5 10:20:00", "2009/13/45", "7,140,3,2,4", "0,0,0,0,0", "-1,x,,9", "1|欢迎|", "|",
        "0|", "2|x", "1|a|b", "&amp;&lt;&gt;", "<![CDATA[<b>x</b>]]>", QByteArray(3000, 'x'), " \t\r\n",
        "/books/1/a.zip", "v1.3", "\xE7\xAC\xAC"};
    // clang-format on
    const auto record = [&] {
        QByteArray fields;
        for (const QByteArray &field : target.fields) {
            if (rng.bounded(8) != 0)
                fields += element(field, values.at(rng.bounded(int(values.size()))));
        }
        return fields;
    };
    const auto container = [&] {
        return target.containers.at(rng.bounded(2) ? 0 : rng.bounded(int(target.containers.size())));
    };
    // Now and then a container carries attributes: a few, as many as an element may have, one
    // more, or thousands.
    static const int attributeCounts[] = {1, 3, 64, 65, 5000};
    const auto attributes = [&] {
        return rng.bounded(4) ? QByteArray()
                              : attributeRun(attributeCounts[rng.bounded(int(std::size(attributeCounts)))]);
    };
    QByteArray body;
    for (int i = int(rng.bounded(5)); i > 0; --i)
        body +=
            element(container(), rng.bounded(4) ? record() : record() + element(container(), record()), attributes());
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>" + element("root", body);
}

// Stacked byte-level changes: flips, interesting bytes and integers, inserted tokens and random
// runs, deleted, repeated and spliced ranges, truncation.
QByteArray mutate(QRandomGenerator &rng, const Target &target)
{
    const bool made = !target.fields.isEmpty() && rng.bounded(2);
    QByteArray data = made ? madeUp(rng, target) : target.seeds.at(rng.bounded(int(target.seeds.size())));
    static const char interesting[] = {'\0', '\xFF', '\x7F', '\x80', '\n',   '\r', '<',
                                       '>',  '&',    '|',    '\x81', '\xFE', '0'};
    const bool heavy = rng.bounded(4) == 0;
    const int rounds =
        made ? (heavy ? 1 + int(rng.bounded(3)) : 0) : (heavy ? 1 + int(rng.bounded(8)) : 1 + int(rng.bounded(2)));
    for (int r = 0; r < rounds; ++r) {
        const auto at = [&] { return qsizetype(rng.bounded(int(data.size()) + 1)); };
        const auto span = [&](qsizetype from) {
            return qsizetype(rng.bounded(int(qMin<qsizetype>(64, data.size() - from)) + 1));
        };
        switch (const int change = int(rng.bounded(10))) {
        case 0:
        case 1:
            if (!data.isEmpty()) {
                char &c = data[rng.bounded(int(data.size()))];
                c = change ? interesting[rng.bounded(int(sizeof interesting))] : char(c ^ (1 << rng.bounded(8)));
            }
            break;
        case 2: {
            QByteArray run(1 + int(rng.bounded(16)), Qt::Uninitialized);
            for (char &c : run)
                c = char(rng.bounded(256));
            data.insert(at(), run);
            break;
        }
        case 3: {
            const qsizetype from = at();
            data.remove(from, span(from));
            break;
        }
        case 4: {
            const qsizetype from = at();
            data.insert(at(), data.mid(from, span(from)).repeated(1 + int(rng.bounded(rng.bounded(2) ? 4 : 200))));
            break;
        }
        case 5:
            data.insert(at(), target.tokens.at(rng.bounded(int(target.tokens.size()))));
            break;
        case 6: {
            const QByteArray &other = target.seeds.at(rng.bounded(int(target.seeds.size())));
            const qsizetype from = qsizetype(rng.bounded(int(other.size()) + 1));
            data.insert(at(), other.mid(from, 1 + int(rng.bounded(256))));
            break;
        }
        case 7:
            data.truncate(at());
            break;
        default: {
            // Sizes, counts and offsets in binary headers: 0, 1, -1, the sign bit.
            static const quint32 values[] = {0, 1, 0xFFFFFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFF, 255};
            const quint32 v = values[rng.bounded(int(std::size(values)))];
            const int width = 1 << rng.bounded(3);
            if (data.size() >= width) {
                const qsizetype pos = qsizetype(rng.bounded(int(data.size() - width) + 1));
                for (int i = 0; i < width; ++i)
                    data[pos + i] = char((v >> (8 * i)) & 0xFF);
            }
        }
        }
    }
    data.truncate(target.maxSize);
    return data;
}

// A complete answer: two containers holding every field with a value the reader accepts.
QByteArray fullAnswer(const Target &target)
{
    QByteArray fields;
    for (const QByteArray &field : target.fields)
        fields += element(field, field == "pageinfo" ? "7,140,3,2,4" : field == "logininfo" ? "1|欢迎" : "1");
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>" +
           element("root", element(target.containers.first(), fields).repeated(2) +
                               element("otherinfo", element("pageinfo", "7,140,3,2,4")));
}

QByteArray novel(quint32 seed)
{
    QRandomGenerator rng(seed);
    static const QStringList pieces{"第", "章", "正文", "VIP", "一", "、",         "1",
                                    "　", " ",  "\r",   "\t",  "字", "\U00020000", "。"};
    QString text = u"《书名》 作者\r\n"_s;
    for (int line = 0; line < 40; ++line) {
        const int length = int(rng.bounded(line % 5 == 0 ? 8 : 40));
        for (int i = 0; i < length; ++i)
            text += pieces.at(rng.bounded(int(pieces.size())));
        text += u'\n';
    }
    return text.toUtf8();
}

QList<Target> targets()
{
    // clang-format off
    const QList<QByteArray> xmlTokens{"<", ">", "</", "/>", "<![CDATA[", "]]>", "&amp;", "&#0;", "&#x10FFFF;", "&lt;",
        "<!DOCTYPE x [<!ENTITY e \"x\">]>", "<?xml version=\"1.0\"?>", "encoding=\"gb2312\"", "|", ",", "\"",
        "\xEF\xBB\xBF", "\xFF\xFE", "第一章", "<bookinfo>", "<pageinfo>", "<otherinfo>", "<userbase>", "<logininfo>",
        "<infobase>", " a=\"1\"", " b='=>'", "<!-- c=\"1\" -->", attributeRun(65), "<e/>"};
    QList<Target> all{
        {"catalogue", {}, xmlTokens, 64 * 1024, {"id", "class", "name", "author", "statue", "ftime", "size", "downurl",
            "pageinfo"}, {"bookinfo", "otherinfo", "list"}},
        {"userbooks", {}, xmlTokens, 64 * 1024, {"id", "class", "name", "statue", "newchap", "ftime", "checkif",
            "pageinfo"}, {"bookinfo", "otherinfo"}},
        {"account", {}, xmlTokens, 64 * 1024, {"logininfo", "purl", "pinfo", "uid", "uname", "userlogin", "lastdate",
            "userpoint", "usermoney", "usermail", "qq", "sex", "question"}, {"userbase", "data"}},
        {"serverinfo", {}, xmlTokens, 64 * 1024, {"reader_1", "reader_2", "reader_3", "reader_4", "version",
            "mustdown", "verinfo", "downloadlist", "savepathlist"}, {"infobase"}},
    };
    // clang-format on
    for (Target &target : all)
        target.seeds = {fullAnswer(target)};

    const QByteArray text = novel(1);
    const QString decoded = QString::fromUtf8(text);
    all.append(
        {"upload", {"1|上传成功|", TestSupport::gb18030(u"0|书名已存在"_s)}, {"|", "1", " ", "\xB0\xA1", "1e0"}, 4096});
    all.append(
        {"chapters",
         {text, TestSupport::gb18030(decoded), "\xFF\xFE"_ba + QStringEncoder(QStringEncoder::Utf16LE).encode(decoded),
          "\xEF\xBB\xBF"_ba + novel(2), "\n\n\r\n"_ba},
         {"\n", "\r\n", "第一章 开始\n", "一、出发\n", "VIP卷\n", "\xEF\xBB\xBF", "\xFF\xFE", "\xC0\x80"},
         512 * 1024});

    const QByteArray chapter = text.left(600);
    all.append(
        {"archive",
         {ArchiveBuilder::zip({{"书/正文.txt", chapter, true}, {"readme.txt", "r"}, {"vol/", {}, false, 040755}}),
          ArchiveBuilder::zip({{"a.txt", chapter.repeated(40), false, 0100644, true}, {"lnk", "../x", false, 0120777}}),
          ArchiveBuilder::rar4({{TestSupport::gb18030(u"卷\\第一章.txt"_s), chapter}, {"b.txt", "b"}}),
          ArchiveBuilder::rar5({{"卷/第二章.txt", chapter}, {"c.txt", "c"}}),
          ArchiveBuilder::tarWithHardLink("a.txt", "hl.txt", "../../x"),
          ArchiveBuilder::written("pax", "gzip", {{"t/a.txt", chapter}, {"t/b.txt", "b"}}),
          ArchiveBuilder::written("7zip", nullptr, {{"s/a.txt", chapter}, {"s/b.txt", chapter}})},
         {"PK\x03\x04", "PK\x01\x02", "PK\x05\x06", "Rar!\x1a\x07\x00"_ba, "../", "/", "\\", "..\\",
          QByteArray(300, 'n'), "\0\0\0\0"_ba},
         1024 * 1024});
    return all;
}

// Memory-backed when the system has such a folder: every case writes files, and on a busy disk
// the file system would cost a hundred times the work itself.
QString sandboxTemplate()
{
    const QFileInfo shm(u"/dev/shm"_s);
    const QString root = shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
    return root + u"/folioway-fuzz-XXXXXX"_s;
}

class Harness
{
public:
    Harness() : m_dir(sandboxTemplate()), m_db(u"fuzz"_s)
    {
        m_ok = m_dir.isValid() && m_db.open(m_dir.filePath(u"Data.db"_s));
        m_limits.maxTotalBytes = 8 << 20;
        m_limits.ratioFloorBytes = 1 << 20;
        m_limits.maxFileBytes = 1 << 20;
        m_limits.maxEntries = 200;
    }
    bool ok() const { return m_ok; }

    // Empty when every promise held, otherwise what broke.
    QString run(const Target &target, const QByteArray &input, QRandomGenerator &rng)
    {
        const QByteArrayView name(target.name);
        const auto same = [](bool equal) { return equal ? QString() : u"two readings differ"_s; };
        const auto agree = [&](const auto &a, const auto &b) {
            const auto cells = [](const auto &entry) { return entry.cells(); };
            return same(a.outcome == b.outcome && a.paging == b.paging &&
                        std::ranges::equal(a.entries, b.entries, {}, cells, cells));
        };
        if (name == "catalogue") {
            const CatalogueAnswer answer = ParseCatalogueAnswer(200, input);
            // An answer beyond the limits is never read, and says why.
            if (!XmlShapeProblem(input).isEmpty() && (!answer.entries.isEmpty() || answer.problem.isEmpty()))
                return u"an answer beyond the limits was read"_s;
            return agree(answer, ParseCatalogueAnswer(200, input));
        }
        if (name == "userbooks")
            return agree(ParseUserBooksAnswer(200, input, {}), ParseUserBooksAnswer(200, input, {}));
        if (name == "account") {
            const AccountReply a = DecodeAccountReply(input), b = DecodeAccountReply(input);
            if (a.valid && !XmlShapeProblem(input).isEmpty())
                return u"an answer beyond the limits was read"_s;
            return same(a.valid == b.valid && a.code == b.code && a.message == b.message && a.profile == b.profile);
        }
        if (name == "serverinfo") {
            ServerInfo a, b;
            return same(ReadServerInfoAnswer(200, u"text/xml"_s, input, a) == ReadServerInfoAnswer(200, u"text/xml"_s, input, b) &&
                        a.version == b.version && a.reader_3 == b.reader_3 && a.savepathlist == b.savepathlist);
        }
        if (name == "upload") {
            const UploadOutcome a = DecodeUploadAnswer(input), b = DecodeUploadAnswer(input);
            return same(a.accepted == b.accepted && a.message.text == b.message.text);
        }
        if (name == "chapters")
            return chapters(input, rng);
        return archive(input);
    }

private:
    QString chapters(const QByteArray &bytes, QRandomGenerator &rng)
    {
        const QString path = m_dir.filePath(u"book.txt"_s);
        if (!TestSupport::writeFile(path, bytes))
            return u"cannot write the book"_s;
        BookLineIndexCache::instance().clear(); // the same path, maybe the same size and second
        const ChapterList list = GetChapter(path);
        const QStringList lines = SplitBookLines(DecodeBookText(bytes));
        if (!list.ok() || list.lineCount != lines.size() || list.encoding != DetectTextEncoding(bytes).encoding)
            return u"line count or encoding differ from the whole decoded file"_s;
        if (list.entries != ChaptersFromLines(lines))
            return u"chapter list differs from the one of the whole decoded file"_s;
        for (int i = 0; i < 3; ++i) {
            const qint64 first = qint64(rng.bounded(int(lines.size()) + 2)) - 1;
            const qint64 last = first + rng.bounded(30);
            QString want;
            for (qint64 k = qMax<qint64>(first, 0); k <= last && k < lines.size(); ++k)
                want += lines.at(k) + u"<br>"_s;
            if (ReadSplitContent(path, first, last) != want)
                return u"text of lines %1..%2 differs"_s.arg(first).arg(last);
        }
        return {};
    }

    QString archive(const QByteArray &bytes)
    {
        QDir(m_dir.filePath(u"downloads"_s)).removeRecursively();
        const QString folder = m_dir.filePath(u"downloads/book"_s);
        const QString saveFile = folder + u"/book.zip"_s;
        if (!TestSupport::writeFile(saveFile, bytes) || !QDir().mkpath(m_dir.filePath(u"downloads/outside"_s)))
            return u"cannot write the archive"_s;
        CatalogueEntry row;
        row.name = u"书"_s;
        row.downurl = u"/d/book.zip"_s;
        const ImportResult result = ImportDownloadedFile(m_db, saveFile, {row}, m_limits);

        const QDir downloads(m_dir.filePath(u"downloads"_s));
        const QStringList top = downloads.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        if (!QDir(downloads.filePath(u"outside"_s)).isEmpty() || top.size() != 2)
            return u"something was written outside the book folder"_s;
        qint64 total = 0;
        QStringList found;
        QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo info(it.next());
            if (info.isSymLink() || !(info.isFile() || info.isDir()))
                return u"not a plain file or folder: "_s + info.filePath();
            if (info.fileName().startsWith(u".unpack-"_s))
                return u"staging left: "_s + info.filePath();
            if (info.isFile() && info.filePath() != saveFile)
                total += info.size();
            found.append(info.filePath());
        }
        const qint64 shelved = m_db.shelfPage(ShelfQuery{}, 1).total;
        if (result.outcome == ImportResult::Outcome::ExtractFailed) {
            if (found != QStringList{saveFile} || shelved != 0 || result.rowNote().isEmpty())
                return u"a refused archive added something: "_s + result.extract.reason;
        } else if (QFileInfo::exists(saveFile) || total > m_limits.totalFor(bytes.size())) {
            return u"the archive stayed, or more was unpacked than its limit"_s;
        }
        if (result.outcome == ImportResult::Outcome::Added) {
            if (shelved != 1 || !result.textFile.startsWith(folder + u'/'))
                return u"the shelf row does not name a file in the book folder"_s;
            m_db.deleteBook(result.bookId);
        }
        return {};
    }

    QTemporaryDir m_dir;
    LibraryDb m_db;
    ExtractLimits m_limits;
    bool m_ok = false;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto option = [&](const QString &name, const QString &fallback) {
        const qsizetype at = args.indexOf(name);
        return at > 0 && at + 1 < args.size() ? args.at(at + 1) : fallback;
    };
    const qint64 cases = option(u"--cases"_s, u"-1"_s).toLongLong();
    const double minutes = option(u"--minutes"_s, u"0"_s).toDouble();
    const quint32 seed = option(u"--seed"_s, u"1"_s).toUInt();
    const qint64 first = option(u"--first"_s, u"0"_s).toLongLong();
    const QString only = option(u"--target"_s, QString());
    if (cases < 0 && minutes <= 0) {
        std::fprintf(stderr, "usage: folioway-fuzz (--cases N | --minutes M) [--seed S] [--first K] [--target NAME]\n");
        return 2;
    }

    QList<Target> all = targets();
    if (!only.isEmpty())
        all.removeIf([&](const Target &t) { return QLatin1String(t.name) != only; });
    Harness harness;
    if (all.isEmpty() || !harness.ok()) {
        std::fprintf(stderr, "folioway-fuzz: no such target, or no temporary folder\n");
        return 2;
    }
#ifdef FOLIOWAY_SANITIZE
    // The sanitizers report and end the program themselves; their own handlers stay.
    __sanitizer_set_death_callback(nameCase);
#else
    for (const int signal : {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL})
        std::signal(signal, nameCaseAndDie);
#endif

    const QDeadlineTimer deadline(minutes > 0 ? qint64(minutes * 60000) : -1);
    QList<qint64> perTarget(all.size(), 0);
    qint64 k = first;
    for (; (cases < 0 || k < first + cases) && !(minutes > 0 && deadline.hasExpired()); ++k) {
        g_case = std::sig_atomic_t(k);
        const quint32 caseSeed[] = {seed, quint32(k), quint32(k >> 32)};
        QRandomGenerator rng(caseSeed);
        const Target &target = all.at(k % all.size());
        const QByteArray input = mutate(rng, target);
        const QString broken = harness.run(target, input, rng);
        ++perTarget[k % all.size()];
        if (!broken.isEmpty()) {
            std::fprintf(stderr, "folioway-fuzz: case %lld (%s, seed %u): %s\n", k, target.name, seed,
                         qPrintable(broken));
            return 1;
        }
    }
    std::printf("folioway-fuzz: %lld cases from %lld, seed %u, no finding:", k - first, first, seed);
    for (qsizetype i = 0; i < all.size(); ++i)
        std::printf(" %s %lld", all.at(i).name, perTarget.at(i));
    std::printf("\n");
    return 0;
}
