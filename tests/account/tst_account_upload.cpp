#include "account/Upload.h"

#include <QtTest>

using namespace Qt::StringLiterals;

class AccountUploadTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void checks_data()
    {
        QTest::addColumn<QStringList>("values"); // category, name, path, status, newest chapter
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("focus");
        const QString c = u"玄幻修真"_s, serial = u"连载"_s;
        // clang-format off
        QTest::newRow("all empty") << QStringList{"", "", "", "", ""} << u"电子类型不能为空，请选择该电子书对应的分类！"_s << int(UploadField::Category);
        QTest::newRow("name blank") << QStringList{c, " ", "", "", ""} << u"你没有填写电子书名称，请重新填写！"_s << int(UploadField::Name);
        QTest::newRow("path") << QStringList{c, "n", "", "", ""} << u"电子书路径不能为空，请重新选择！"_s << int(UploadField::BookPathButton);
        QTest::newRow("status") << QStringList{c, "n", "/p", "", ""} << u"电子书连载状态不能为空，请重新选择！"_s << int(UploadField::Status);
        QTest::newRow("serial needs chapter") << QStringList{c, "n", "/p", serial, " "} << u"请添加电子书最新章节名称！"_s << int(UploadField::NewestChapter);
        QTest::newRow("complete needs none") << QStringList{c, "n", "/p", u"全集"_s, ""} << QString() << 0;
        // clang-format on
    }
    void checks()
    {
        QFETCH(QStringList, values);
        QFETCH(QString, message);
        const UploadForm form{values[0], values[1], {}, values[2], values[3], values[4], {}, {}};
        const auto problem = ValidateUpload(form);
        QCOMPARE(problem.has_value(), !message.isEmpty());
        if (!problem)
            return;
        QCOMPARE(problem->message.text, message);
        QCOMPARE(problem->message.title, u"数据有误"_s);
        QTEST(int(problem->focus), "focus");
        QCOMPARE(problem->showNewestChapterRow, problem->focus == UploadField::NewestChapter);
    }

    void encodeInCharset()
    {
        const QString text = u"王a"_s;
        QCOMPARE(EncodeInCharset(text, u"GB2312"_s), QByteArray::fromHex("cdf561"));
        QCOMPARE(EncodeInCharset(text, u"utf-8"_s), text.toUtf8());
        QCOMPARE(EncodeInCharset(text, u"Unicode"_s), QByteArray::fromHex("8b736100"));
        QCOMPARE(EncodeInCharset(text, u"UTF-16BE"_s), QByteArray::fromHex("738b0061"));
        QCOMPARE(EncodeInCharset(text, u"no-such-set"_s), QByteArray());
    }

    void body_exactBytes()
    {
        const auto readFile = [](const QString &) { return std::optional<QByteArray>("TXT"); };
        const MultipartBody made =
            BuildMultipartBody(u"file1=C:\\书\\a.txt|sname=x\\r\\n=1|smemo="_s, u"B"_s, readFile);
        QCOMPARE(made.body, "--B\r\n"
                            "Content-Disposition:form-data;name=\"file1\";filename=\"C:\\\xCA\xE9\\a.txt\"\r\n"
                            "Content-Type:application/octet-stream\r\n\r\n"
                            "TXT\r\n"
                            "--B\r\n"
                            "Content-Disposition: form-data; name=\"sname\"\r\n\r\n"
                            "x\\r\\n=1\r\n"
                            "--B\r\n"
                            "Content-Disposition: form-data; name=\"smemo\"\r\n\r\n"
                            "\r\n"
                            "--B--"_ba);
    }
};

QTEST_GUILESS_MAIN(AccountUploadTest)
#include "tst_account_upload.moc"
