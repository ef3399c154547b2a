#include "account/FormEncoding.h"
#include "account/Upload.h"

#include "TestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Part
{
    QString disposition;
    QByteArray contentType;
    QByteArray content;
};

// Reads the body the way the server does: the boundary is whatever the first line holds.
// Any deviation from the expected shape gives no parts.
QList<Part> ReadMultipart(const QByteArray &body)
{
    const QByteArray delimiter = body.left(body.indexOf("\r\n"));
    if (!delimiter.startsWith("--") || !body.endsWith("\r\n" + delimiter + "--"))
        return {};
    QList<Part> parts;
    qsizetype pos = delimiter.size() + 2;
    while (pos < body.size() - delimiter.size() - 2) {
        Part part;
        for (qsizetype eol; (eol = body.indexOf("\r\n", pos)) != pos; pos = eol + 2) {
            if (eol < 0)
                return {};
            const QByteArray line = body.mid(pos, eol - pos);
            if (line.startsWith("Content-Type:"))
                part.contentType = line;
            else
                part.disposition = FromGb18030(line);
        }
        pos += 2;
        const qsizetype next = body.indexOf("\r\n" + delimiter, pos);
        if (next < 0)
            return {};
        part.content = body.mid(pos, next - pos);
        parts.append(part);
        pos = next + 2 + delimiter.size() + 2;
    }
    return parts;
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
    void encodeInCharset();
    void body_readBack();
    void body_exactBytes();
    void answer_data();
    void answer();
};

void AccountUploadTest::checks_data()
{
    // clang-format off
    QTest::addColumn<QStringList>("values"); // category, name, path, status, newest chapter
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("focus");
    const QString c = QStringLiteral("玄幻修真"), serial = QStringLiteral("连载");
    QTest::newRow("all empty") << QStringList{"", "", "", "", ""}
                               << QStringLiteral("电子类型不能为空，请选择该电子书对应的分类！") << int(UploadField::Category);
    QTest::newRow("name blank") << QStringList{c, " ", "", "", ""} << QStringLiteral("你没有填写电子书名称，请重新填写！")
                                << int(UploadField::Name);
    QTest::newRow("path") << QStringList{c, "n", "", "", ""} << QStringLiteral("电子书路径不能为空，请重新选择！")
                          << int(UploadField::BookPathButton);
    QTest::newRow("status") << QStringList{c, "n", "/p", "", ""}
                            << QStringLiteral("电子书连载状态不能为空，请重新选择！") << int(UploadField::Status);
    QTest::newRow("serial needs chapter") << QStringList{c, "n", "/p", serial, " "}
                                          << QStringLiteral("请添加电子书最新章节名称！") << int(UploadField::NewestChapter);
    QTest::newRow("complete needs none") << QStringList{c, "n", "/p", QStringLiteral("全集"), ""} << QString() << 0;
    // clang-format on
}

void AccountUploadTest::checks()
{
    QFETCH(QStringList, values);
    QFETCH(QString, message);
    QFETCH(int, focus);
    UploadForm form;
    form.category = values[0];
    form.name = values[1];
    form.bookPath = values[2];
    form.status = values[3];
    form.newestChapter = values[4];
    const auto problem = ValidateUpload(form);
    QCOMPARE(problem.has_value(), !message.isEmpty());
    if (!problem)
        return;
    QCOMPARE(problem->message.text, message);
    QCOMPARE(problem->message.title, QStringLiteral("数据有误"));
    QCOMPARE(int(problem->focus), focus);
    QCOMPARE(problem->showNewestChapterRow, problem->focus == UploadField::NewestChapter);
}

void AccountUploadTest::fieldString()
{
    UploadForm form{
        QStringLiteral("武侠仙侠"), QStringLiteral(" 天龙 "), {}, QStringLiteral("/书/a.txt"), QStringLiteral("全集"),
        QStringLiteral("stale"),    QStringLiteral("a=b|c"),  {}};
    QCOMPARE(UploadFieldString(form, QStringLiteral("张三")),
             QStringLiteral("file1=/书/a.txt|stype=武侠仙侠|sname=天龙|sauthor=|username=张三|smemo=a=b｜c"
                            "|sstatue=全集|snewchap="));
    form.coverPath = QStringLiteral("/c.jpg");
    form.status = QStringLiteral("连载");
    form.newestChapter = QStringLiteral("9|终");
    const QString s = UploadFieldString(form, {});
    QVERIFY(s.startsWith(QStringLiteral("file1=/书/a.txt|file2=/c.jpg|stype=")));
    QVERIFY(s.endsWith(QStringLiteral("|sstatue=连载|snewchap=9｜终")));
}

void AccountUploadTest::boundary()
{
    const QList<double> draws{0.0, 0.999999, 25.5 / 62, 26.5 / 62, 50.5 / 62};
    int i = 0;
    const QString b = MakeBoundary([&] { return draws.at(i++ % draws.size()); });
    QCOMPARE(b.size(), 37);
    QVERIFY(b.startsWith(QStringLiteral("__NextPart__A9Yaz"))); // the alphabet really runs "XZY"
    const QString random = MakeBoundary();
    QVERIFY(QRegularExpression(QStringLiteral("^__NextPart__[A-Za-z0-9]{25}$")).match(random).hasMatch());
    QVERIFY(random != MakeBoundary());
}

void AccountUploadTest::encodeInCharset()
{
    const QString text = QStringLiteral("王a");
    QCOMPARE(EncodeInCharset(text, QStringLiteral("GB2312")), QByteArray::fromHex("cdf561"));
    QCOMPARE(EncodeInCharset(text, QStringLiteral("utf-8")), text.toUtf8());
    QCOMPARE(EncodeInCharset(text, QStringLiteral("Unicode")), QByteArray::fromHex("8b736100"));
    QCOMPARE(EncodeInCharset(text, QStringLiteral("UTF-16BE")), QByteArray::fromHex("738b0061"));
    QCOMPARE(EncodeInCharset(text, QStringLiteral("no-such-set")), QByteArray());
}

void AccountUploadTest::body_readBack()
{
    QTemporaryDir dir;
    const QString book = dir.filePath(QStringLiteral("天龙 八部.txt"));
    // File bytes that look like line breaks and boundaries must pass unchanged.
    const QByteArray bookBytes = QByteArrayLiteral("line\r\n--__NextPart__\r\n\0\xFF\xCD\xF5");
    QVERIFY(TestSupport::writeFile(book, bookBytes));
    QVERIFY(TestSupport::writeFile(dir.filePath(QStringLiteral("c.jpg")), "JPEG"));

    UploadForm form{QStringLiteral("武侠仙侠"),
                    QStringLiteral("n"),
                    {},
                    book,
                    QStringLiteral("全集"),
                    {},
                    QStringLiteral("x=1"),
                    dir.filePath(QStringLiteral("c.jpg"))};
    const MultipartBody made = BuildMultipartBody(UploadFieldString(form, QStringLiteral("张三")), MakeBoundary());
    QVERIFY(made.ok());
    QCOMPARE(made.body.indexOf("\r\n"), 2 + 37);

    const QList<Part> parts = ReadMultipart(made.body);
    QStringList names;
    for (const Part &p : parts)
        names << p.disposition.section(QLatin1Char('"'), 1, 1);
    QCOMPARE(names, QString("file1 file2 stype sname sauthor username smemo sstatue snewchap").split(' '));
    QCOMPARE(parts[0].disposition,
             QStringLiteral("Content-Disposition:form-data;name=\"file1\";filename=\"") + book + QLatin1Char('"'));
    QCOMPARE(parts[0].contentType, QByteArray("Content-Type:application/octet-stream"));
    QCOMPARE(parts[0].content, bookBytes);
    QCOMPARE(parts[1].content, QByteArray("JPEG"));
    QCOMPARE(parts[5].disposition, QStringLiteral("Content-Disposition: form-data; name=\"username\""));
    QCOMPARE(FromGb18030(parts[5].content), QStringLiteral("张三"));
    QCOMPARE(parts[6].content, QByteArray("x=1"));
    QCOMPARE(parts[8].content, QByteArray());

    QFile::remove(book);
    const MultipartBody failed = BuildMultipartBody(UploadFieldString(form, {}), MakeBoundary());
    QVERIFY(!failed.ok() && failed.body.isEmpty() && failed.error.contains(book));
}

void AccountUploadTest::body_exactBytes()
{
    const auto readFile = [](const QString &) { return std::optional<QByteArray>("TXT"); };
    const MultipartBody made =
        BuildMultipartBody(QStringLiteral("file1=C:\\书\\a.txt|sname=x\\r\\n=1|smemo="), QStringLiteral("B"), readFile);
    QCOMPARE(made.body, QByteArray("--B\r\n"
                                   "Content-Disposition:form-data;name=\"file1\";filename=\"C:\\\xCA\xE9\\a.txt\"\r\n"
                                   "Content-Type:application/octet-stream\r\n\r\n"
                                   "TXT\r\n"
                                   "--B\r\n"
                                   "Content-Disposition: form-data; name=\"sname\"\r\n\r\n"
                                   "x\\r\\n=1\r\n"
                                   "--B\r\n"
                                   "Content-Disposition: form-data; name=\"smemo\"\r\n\r\n"
                                   "\r\n"
                                   "--B--"));
}

void AccountUploadTest::answer_data()
{
    // clang-format off
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("message"); // the start of the message shown
    QTest::newRow("accepted, gb2312") << QByteArray("1|") + ToGb18030(QStringLiteral("获得10金币")) << true
                                      << QStringLiteral("获得10金币");
    QTest::newRow("code compared as a number") << QByteArray(" 01 |ok") << true << "ok";
    QTest::newRow("refused") << QByteArray("0|bad") << false << "bad";
    QTest::newRow("code not a number") << QByteArray("x|odd") << false << "odd";
    QTest::newRow("no bar") << QByteArray("Server Error") << false << QStringLiteral("服务器的回复无法识别");
    // clang-format on
}

void AccountUploadTest::answer()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, accepted);
    QFETCH(QString, message);
    const UploadOutcome outcome = DecodeUploadAnswer(body);
    QCOMPARE(outcome.accepted, accepted);
    QVERIFY2(outcome.message.text.startsWith(message), qPrintable(outcome.message.text));
    QCOMPARE(outcome.message.title, accepted ? QStringLiteral("上传成功") : QStringLiteral("上传失败"));
}

QTEST_GUILESS_MAIN(AccountUploadTest)
#include "tst_account_upload.moc"
