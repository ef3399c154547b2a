#include "account/FormEncoding.h"
#include "account/Upload.h"

#include "TestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Part
{
    QByteArray disposition;
    QByteArray contentType;
    QByteArray content;
};

// A reader written the way the server reads: the boundary is whatever the first line holds.
// Returns no parts when the body does not have the expected shape.
QList<Part> ReadMultipart(const QByteArray &body, QByteArray *boundaryOut = nullptr)
{
    const qsizetype firstEnd = body.indexOf("\r\n");
    if (firstEnd < 0 || !body.startsWith("--"))
        return {};
    const QByteArray delimiter = body.left(firstEnd);
    if (boundaryOut)
        *boundaryOut = delimiter.mid(2);
    if (!body.endsWith("\r\n" + delimiter + "--"))
        return {};

    QList<Part> parts;
    qsizetype pos = firstEnd + 2;
    const qsizetype end = body.size() - delimiter.size() - 2;
    while (pos < end) {
        Part part;
        for (;;) {
            const qsizetype eol = body.indexOf("\r\n", pos);
            if (eol < 0)
                return {};
            const QByteArray line = body.mid(pos, eol - pos);
            pos = eol + 2;
            if (line.isEmpty())
                break;
            if (line.toLower().startsWith("content-disposition:"))
                part.disposition = line;
            else if (line.toLower().startsWith("content-type:"))
                part.contentType = line;
        }
        const qsizetype next = body.indexOf("\r\n" + delimiter, pos);
        if (next < 0)
            return {};
        part.content = body.mid(pos, next - pos);
        parts.append(part);
        pos = next + 2 + delimiter.size();
        if (body.mid(pos, 2) == "--")
            break;
        pos += 2;
    }
    return parts;
}

QString G(const QByteArray &bytes)
{
    return FromGb18030(bytes);
}

UploadForm FilledForm()
{
    UploadForm form;
    form.category = QStringLiteral("武侠仙侠");
    form.name = QStringLiteral(" 天龙八部 ");
    form.author = QStringLiteral("金庸");
    form.bookPath = QStringLiteral("/书库/天龙八部.txt");
    form.status = QStringLiteral("全集");
    form.newestChapter = QStringLiteral("left over");
    form.summary = QStringLiteral("a=b|c");
    return form;
}

} // namespace

class AccountUploadTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void checks_data();
    void checks();
    void fieldString();
    void boundary();
    void stringToBytes_data();
    void stringToBytes();
    void body_partsInOrder_data();
    void body_partsInOrder();
    void body_exactBytes();
    void body_unreadableFile();
    void answer_data();
    void answer();
};

void AccountUploadTest::checks_data()
{
    QTest::addColumn<QString>("category");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("chapter");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("focus");

    const QString cat = QStringLiteral("玄幻修真");
    const QString serial = QStringLiteral("连载");
    QTest::newRow("all empty: category first") << "" << "" << "" << "" << "" << QStringLiteral("电子类型不能为空，请选择该电子书对应的分类！")
                                               << int(UploadField::Category);
    QTest::newRow("name blank") << cat << "  " << "" << "" << "" << QStringLiteral("你没有填写电子书名称，请重新填写！")
                                << int(UploadField::Name);
    QTest::newRow("path") << cat << "n" << "" << "" << "" << QStringLiteral("电子书路径不能为空，请重新选择！")
                          << int(UploadField::BookPathButton);
    QTest::newRow("status") << cat << "n" << "/p" << "" << "" << QStringLiteral("电子书连载状态不能为空，请重新选择！")
                            << int(UploadField::Status);
    QTest::newRow("serial needs chapter") << cat << "n" << "/p" << serial << " " << QStringLiteral("请添加电子书最新章节名称！")
                                          << int(UploadField::NewestChapter);
    QTest::newRow("serial with chapter") << cat << "n" << "/p" << serial << "第一章" << QString() << 0;
    QTest::newRow("complete without chapter") << cat << "n" << "/p" << QStringLiteral("全集") << "" << QString() << 0;
}

void AccountUploadTest::checks()
{
    QFETCH(QString, category);
    QFETCH(QString, name);
    QFETCH(QString, path);
    QFETCH(QString, status);
    QFETCH(QString, chapter);
    QFETCH(QString, message);
    QFETCH(int, focus);

    UploadForm form;
    form.category = category;
    form.name = name;
    form.bookPath = path;
    form.status = status;
    form.newestChapter = chapter;
    const auto problem = ValidateUpload(form);
    QCOMPARE(problem.has_value(), !message.isEmpty());
    if (!problem)
        return;
    QCOMPARE(problem->message.text, message);
    QCOMPARE(problem->message.title, QStringLiteral("数据有误"));
    QCOMPARE(problem->message.icon, Prompter::Icon::Critical);
    QCOMPARE(int(problem->focus), focus);
    QCOMPARE(problem->showNewestChapterRow, problem->focus == UploadField::NewestChapter);
}

void AccountUploadTest::fieldString()
{
    UploadForm form = FilledForm();
    QCOMPARE(UploadFieldString(form, QStringLiteral("张三")),
             QStringLiteral("file1=/书库/天龙八部.txt|stype=武侠仙侠|sname=天龙八部|sauthor=金庸|username=张三"
                            "|smemo=a=b｜c|sstatue=全集|snewchap="));

    form.coverPath = QStringLiteral(" /img/c.jpg ");
    form.status = QStringLiteral("连载");
    form.newestChapter = QStringLiteral("第9章|终");
    const QString s = UploadFieldString(form, QString());
    QVERIFY(s.startsWith(QStringLiteral("file1=/书库/天龙八部.txt|file2=/img/c.jpg|stype=")));
    QVERIFY(s.endsWith(QStringLiteral("|username=|smemo=a=b｜c|sstatue=连载|snewchap=第9章｜终")));
}

void AccountUploadTest::boundary()
{
    QList<double> draws{0.0, 0.999999, 25.5 / 62, 26.5 / 62, 50.5 / 62};
    int i = 0;
    const QString b = MakeBoundary([&] { return draws.at(i++ % draws.size()); });
    QCOMPARE(b.size(), 37);
    QVERIFY(b.startsWith(QStringLiteral("__NextPart__A9Yaz")));

    const QString random = MakeBoundary();
    QCOMPARE(random.size(), 37);
    const QRegularExpression shape(QStringLiteral("^__NextPart__[A-Za-z0-9]{25}$"));
    QVERIFY(shape.match(random).hasMatch());
    QVERIFY(random != MakeBoundary());
}

void AccountUploadTest::stringToBytes_data()
{
    QTest::addColumn<QString>("charset");
    QTest::addColumn<QByteArray>("bytes");
    const QString text = QStringLiteral("王a");
    QTest::newRow("gb2312") << "gb2312" << QByteArray("\xCD\xF5" "a");
    QTest::newRow("GB2312 upper case") << "GB2312" << QByteArray("\xCD\xF5" "a");
    QTest::newRow("utf-8 without bom") << "Utf-8" << text.toUtf8();
    QTest::newRow("unicode is little endian without bom") << "unicode" << QByteArray("\x8B\x73" "a\0", 4);
    QTest::newRow("utf-16be") << "UTF-16BE" << QByteArray("\x73\x8B\0a", 4);
    QTest::newRow("unknown") << "no-such-set" << QByteArray();
}

void AccountUploadTest::stringToBytes()
{
    QFETCH(QString, charset);
    QFETCH(QByteArray, bytes);
    QCOMPARE(StringToBytes(QStringLiteral("王a"), charset), bytes);
}

void AccountUploadTest::body_partsInOrder_data()
{
    QTest::addColumn<bool>("withCover");
    QTest::newRow("book only") << false;
    QTest::newRow("book and cover") << true;
}

void AccountUploadTest::body_partsInOrder()
{
    QFETCH(bool, withCover);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString book = dir.filePath(QStringLiteral("天龙 八部.txt"));
    const QString cover = dir.filePath(QStringLiteral("封面.jpg"));
    // Bytes that look like a line break and a boundary must survive unchanged.
    const QByteArray bookBytes = QByteArrayLiteral("line1\r\n--__NextPart__\r\n\0\xFF\xCD\xF5");
    QVERIFY(TestSupport::writeFile(book, bookBytes));
    QVERIFY(TestSupport::writeFile(cover, QByteArray("\xFF\xD8\xFF\xE0jpeg")));

    UploadForm form = FilledForm();
    form.bookPath = book;
    if (withCover)
        form.coverPath = cover;
    const MultipartBody made = BuildMultipartBody(UploadFieldString(form, QStringLiteral("张三")), MakeBoundary());
    QVERIFY(made.ok());

    QByteArray boundary;
    const QList<Part> parts = ReadMultipart(made.body, &boundary);
    QCOMPARE(boundary.size(), 37);

    QStringList names;
    for (const Part &p : parts)
        names << G(p.disposition).section(QLatin1Char('"'), 1, 1);
    QStringList expected{QStringLiteral("file1")};
    if (withCover)
        expected << QStringLiteral("file2");
    expected << QStringLiteral("stype") << QStringLiteral("sname") << QStringLiteral("sauthor")
             << QStringLiteral("username") << QStringLiteral("smemo") << QStringLiteral("sstatue")
             << QStringLiteral("snewchap");
    QCOMPARE(names, expected);

    QCOMPARE(G(parts[0].disposition),
             QStringLiteral("Content-Disposition:form-data;name=\"file1\";filename=\"") + book + QLatin1Char('"'));
    QCOMPARE(parts[0].contentType, QByteArray("Content-Type:application/octet-stream"));
    QCOMPARE(parts[0].content, bookBytes);
    if (withCover)
        QCOMPARE(parts[1].content, QByteArray("\xFF\xD8\xFF\xE0jpeg"));

    const Part &memo = parts[parts.size() - 3];
    QCOMPARE(memo.disposition, QByteArray("Content-Disposition: form-data; name=\"smemo\""));
    QVERIFY(memo.contentType.isEmpty());
    QCOMPARE(G(memo.content), QStringLiteral("a=b｜c"));
    QCOMPARE(G(parts[parts.size() - 4].content), QStringLiteral("张三"));
    QCOMPARE(parts.last().content, QByteArray());
}

void AccountUploadTest::body_exactBytes()
{
    const auto readFile = [](const QString &path) -> std::optional<QByteArray> {
        return path == QStringLiteral("C:\\书\\a.txt") ? std::optional<QByteArray>("TXT") : std::nullopt;
    };
    const MultipartBody made =
        BuildMultipartBody(QStringLiteral("file1=C:\\书\\a.txt|sname=x\\r\\n=1|smemo="), QStringLiteral("B"), readFile);
    QVERIFY(made.ok());
    const QByteArray expected = QByteArray("--B\r\n"
                                           "Content-Disposition:form-data;name=\"file1\";filename=\"C:\\\xCA\xE9\\a.txt\"\r\n"
                                           "Content-Type:application/octet-stream\r\n"
                                           "\r\n"
                                           "TXT\r\n"
                                           "--B\r\n"
                                           "Content-Disposition: form-data; name=\"sname\"\r\n"
                                           "\r\n"
                                           "x\\r\\n=1\r\n"
                                           "--B\r\n"
                                           "Content-Disposition: form-data; name=\"smemo\"\r\n"
                                           "\r\n"
                                           "\r\n"
                                           "--B--");
    QCOMPARE(made.body, expected);
}

void AccountUploadTest::body_unreadableFile()
{
    const QString missing = QStringLiteral("/nonexistent/目录/书.txt");
    const MultipartBody made = BuildMultipartBody(QStringLiteral("file1=") + missing + QStringLiteral("|sname=x"),
                                                  MakeBoundary());
    QVERIFY(!made.ok());
    QVERIFY(made.body.isEmpty());
    QVERIFY(made.error.contains(missing));
}

void AccountUploadTest::answer_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("message");

    QTest::newRow("accepted, gb2312 message")
        << (QByteArray("1|") + ToGb18030(QStringLiteral("上传成功，获得10金币"))) << true
        << QStringLiteral("上传成功，获得10金币");
    QTest::newRow("code compared as a number") << QByteArray(" 01 |ok") << true << "ok";
    QTest::newRow("refused") << QByteArray("0|bad") << false << "bad";
    QTest::newRow("code not a number") << QByteArray("x|odd") << false << "odd";
    QTest::newRow("no bar: a message of our own") << QByteArray("Server Error") << false
                                                  << QStringLiteral("服务器的回复无法识别");
}

void AccountUploadTest::answer()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, accepted);
    QFETCH(QString, message);
    const UploadOutcome outcome = DecodeUploadAnswer(body);
    QCOMPARE(outcome.accepted, accepted);
    if (QByteArray(QTest::currentDataTag()).startsWith("no bar"))
        QVERIFY(outcome.message.text.startsWith(message));
    else
        QCOMPARE(outcome.message.text, message);
    QCOMPARE(outcome.message.title, accepted ? QStringLiteral("上传成功") : QStringLiteral("上传失败"));
    QCOMPARE(outcome.message.icon, accepted ? Prompter::Icon::Information : Prompter::Icon::Critical);
}

QTEST_GUILESS_MAIN(AccountUploadTest)
#include "tst_account_upload.moc"
