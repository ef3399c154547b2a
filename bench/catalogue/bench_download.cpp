// Downloads one large book file from a local folioway-server with the Downloader and with curl,
// alternating, and prints throughput and the client's peak memory.
//
//   bench_catalogue_download [--size-mb 200] [--rounds 3] [--url URL] [--dir FOLDER]
//
// Without --url it imports a generated book of the given size into a fresh server data folder
// and serves it with the folioway-server from the same bin folder.

#include "LiveServer.h"
#include "catalogue/CatalogueProtocol.h"
#include "catalogue/Downloader.h"
#include "net/RequestSlot.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

namespace {

qint64 procStatusKB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(strlen(field))).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

bool writeBook(const QString &path, qint64 bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray line;
    for (int i = 0; i < 64; ++i)
        line += "\xb5\xda\xd2\xbb\xd5\xc2 \xcc\xec\xb5\xd8\xd0\xfe\xbb\xc6\xd3\xee\xd6\xe6\xba\xe9\xbb\xc4 " +
                QByteArray::number(i) + "\r\n";
    QByteArray block;
    while (block.size() < 1024 * 1024)
        block += line;
    block.truncate(1024 * 1024);
    for (qint64 written = 0; written < bytes; written += block.size())
        if (file.write(block.constData(), std::min<qint64>(block.size(), bytes - written)) < 0)
            return false;
    return true;
}

// CPU seconds (user + system) of this process or of its waited-for children.
double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double seconds(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

double downloaderRun(const QString &url, const QString &saveFile, qint64 *bytes)
{
    Downloader downloader;
    QSignalSpy done(&downloader, &Downloader::allDownloadsDone);
    QSignalSpy complete(&downloader, &Downloader::downloadComplete);
    QElapsedTimer timer;
    timer.start();
    if (downloader.beginDownload(url, saveFile))
        return -1;
    if (!done.wait(600000) || complete.isEmpty())
        return -1;
    const double elapsed = seconds(timer);
    *bytes = complete[0][0].toLongLong();
    return elapsed;
}

double curlRun(const QString &curl, const QString &url, const QString &saveFile)
{
    QProcess p;
    QElapsedTimer timer;
    timer.start();
    p.start(curl, {QStringLiteral("-s"), QStringLiteral("-f"), QStringLiteral("-o"), saveFile, url});
    if (!p.waitForFinished(600000) || p.exitCode() != 0)
        return -1;
    return seconds(timer);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("size-mb"), QStringLiteral("Size of the generated book."), QStringLiteral("mb"),
                      QStringLiteral("200")});
    parser.addOption(
        {QStringLiteral("rounds"), QStringLiteral("Alternating rounds."), QStringLiteral("n"), QStringLiteral("3")});
    parser.addOption({QStringLiteral("url"), QStringLiteral("Download this instead."), QStringLiteral("url")});
    parser.addOption({QStringLiteral("dir"),
                      QStringLiteral("Where both clients save (e.g. /dev/shm to leave the disk out)."),
                      QStringLiteral("folder")});
    parser.process(app);
    QTextStream out(stdout);

    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (curl.isEmpty()) {
        out << "curl is not installed\n";
        return 1;
    }
    QTemporaryDir dir;
    LiveServer server;
    QString url = parser.value(QStringLiteral("url"));
    const qint64 size = parser.value(QStringLiteral("size-mb")).toLongLong() * 1024 * 1024;
    if (url.isEmpty()) {
        const QString binDir = QCoreApplication::applicationDirPath();
        if (LiveServer::binary(binDir).isEmpty()) {
            out << "folioway-server is not built beside this benchmark; pass --url\n";
            return 1;
        }
        const QString source = dir.filePath(QStringLiteral("source"));
        QDir().mkpath(source);
        if (!writeBook(source + QStringLiteral("/bench作者：基准.txt"), size)) {
            out << "cannot write the book\n";
            return 1;
        }
        const QString data = dir.filePath(QStringLiteral("data"));
        QProcess import;
        import.start(LiveServer::binary(binDir), {QStringLiteral("--data"), data, QStringLiteral("import"), source,
                                                  QStringLiteral("--category"), QStringLiteral("其他分类")});
        if (!import.waitForFinished(600000) || import.exitCode() != 0) {
            out << "import failed: " << import.readAll() << "\n";
            return 1;
        }
        QFile::remove(source + QStringLiteral("/bench作者：基准.txt"));
        if (!server.start(binDir, {QStringLiteral("--data"), data})) {
            out << "server did not start: " << server.output() << "\n";
            return 1;
        }
        RequestSlot slot;
        QSignalSpy answered(&slot, &RequestSlot::finished);
        CatalogueQuery query;
        query.search(QStringLiteral("bench"));
        slot.readHTTP(SearchUrl(server.baseUrl(), query));
        if (!answered.wait(10000)) {
            out << "no catalogue answer\n";
            return 1;
        }
        const CatalogueAnswer answer = ParseCatalogueAnswer(answered[0][0].value<HttpResult>());
        if (answer.entries.isEmpty()) {
            out << "the book is not in the catalogue\n";
            return 1;
        }
        url = server.baseUrl() + answer.entries.first().downurl;
    }

    QTemporaryDir saveDir(parser.isSet(QStringLiteral("dir"))
                              ? QDir(parser.value(QStringLiteral("dir"))).filePath(QStringLiteral("bench-XXXXXX"))
                              : dir.filePath(QStringLiteral("save-XXXXXX")));
    const int rounds = std::max(1, parser.value(QStringLiteral("rounds")).toInt());
    const qint64 rssBefore = procStatusKB("VmRSS:");
    QList<double> ours, theirs;
    double ourCpu = 0, curlCpu = 0;
    qint64 bytes = 0;
    for (int i = 0; i < rounds; ++i) {
        const double childrenBefore = cpuSeconds(RUSAGE_CHILDREN);
        const double c = curlRun(curl, url, saveDir.filePath(QStringLiteral("curl.bin")));
        curlCpu += cpuSeconds(RUSAGE_CHILDREN) - childrenBefore;
        const double selfBefore = cpuSeconds(RUSAGE_SELF);
        const double d = downloaderRun(url, saveDir.filePath(QStringLiteral("ours.bin")), &bytes);
        ourCpu += cpuSeconds(RUSAGE_SELF) - selfBefore;
        if (c <= 0 || d <= 0) {
            out << "a download failed\n";
            return 1;
        }
        theirs << c;
        ours << d;
        QFile::remove(saveDir.filePath(QStringLiteral("curl.bin")));
        QFile::remove(saveDir.filePath(QStringLiteral("ours.bin")));
        const double mb = double(bytes) / 1024 / 1024;
        out << QStringLiteral("round %1: curl %2 MB/s, Downloader %3 MB/s, client peak %4 MB\n")
                   .arg(i + 1)
                   .arg(mb / c, 0, 'f', 1)
                   .arg(mb / d, 0, 'f', 1)
                   .arg(double(procStatusKB("VmHWM:")) / 1024, 0, 'f', 1);
        out.flush();
    }
    std::sort(ours.begin(), ours.end());
    std::sort(theirs.begin(), theirs.end());
    const double mb = double(bytes) / 1024 / 1024;
    const double ourMedian = mb / ours[ours.size() / 2];
    const double curlMedian = mb / theirs[theirs.size() / 2];
    out << QStringLiteral("file %1 MB; median curl %2 MB/s, Downloader %3 MB/s (%4 % of curl)\n")
               .arg(mb, 0, 'f', 1)
               .arg(curlMedian, 0, 'f', 1)
               .arg(ourMedian, 0, 'f', 1)
               .arg(100 * ourMedian / curlMedian, 0, 'f', 0);
    out << QStringLiteral("CPU per round: curl %1 s, Downloader %2 s\n")
               .arg(curlCpu / rounds, 0, 'f', 3)
               .arg(ourCpu / rounds, 0, 'f', 3);
    out << QStringLiteral("client memory: resident before %1 MB, peak %2 MB\n")
               .arg(double(rssBefore) / 1024, 0, 'f', 1)
               .arg(double(procStatusKB("VmHWM:")) / 1024, 0, 'f', 1);
    return ourMedian >= 0.8 * curlMedian ? 0 : 2;
}
