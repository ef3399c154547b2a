#include "account/Upload.h"

#include "account/FormEncoding.h"

#include <QFile>
#include <QRandomGenerator>
#include <QStringConverter>
#include <QStringEncoder>

#include <algorithm>

namespace {

const QByteArray kCrlf("\r\n");

UploadProblem DataError(const QString &text, UploadField focus, bool showRow = false)
{
    return UploadProblem{AccountMessage{text, QStringLiteral("数据有误"), Prompter::Icon::Critical}, focus, showRow};
}

QString FieldValue(const QString &typed)
{
    QString value = typed.trimmed();
    value.replace(QLatin1Char('|'), QChar(0xFF5C));
    return value;
}

} // namespace

QString SerialStatusText()
{
    return QStringLiteral("连载");
}

QString CompleteStatusText()
{
    return QStringLiteral("全集");
}

QString BookFileFilter()
{
    return QStringLiteral(
        "电子书文件(*.txt;*.rar;*.zip)|*.txt;*.rar;*.zip|TXT文件(*.txt)|*.txt|打包文件(*.rar)|*.rar;*.zip");
}

QString CoverFileFilter()
{
    return QStringLiteral("图片文件(*.jpg;*.gif)|*.jpg;*.gif");
}

std::optional<UploadProblem> ValidateUpload(const UploadForm &form)
{
    if (form.category.trimmed().isEmpty())
        return DataError(QStringLiteral("电子类型不能为空，请选择该电子书对应的分类！"), UploadField::Category);
    if (form.name.trimmed().isEmpty())
        return DataError(QStringLiteral("你没有填写电子书名称，请重新填写！"), UploadField::Name);
    if (form.bookPath.trimmed().isEmpty())
        return DataError(QStringLiteral("电子书路径不能为空，请重新选择！"), UploadField::BookPathButton);
    const QString status = form.status.trimmed();
    if (status.isEmpty())
        return DataError(QStringLiteral("电子书连载状态不能为空，请重新选择！"), UploadField::Status);
    if (status == SerialStatusText() && form.newestChapter.trimmed().isEmpty())
        return DataError(QStringLiteral("请添加电子书最新章节名称！"), UploadField::NewestChapter, true);
    return std::nullopt;
}

QString UploadFieldString(const UploadForm &form, const QString &userName)
{
    const bool serial = form.status.trimmed() == SerialStatusText();
    QString s = QStringLiteral("file1=") + FieldValue(form.bookPath);
    if (!form.coverPath.trimmed().isEmpty())
        s += QStringLiteral("|file2=") + FieldValue(form.coverPath);
    s += QStringLiteral("|stype=") + FieldValue(form.category);
    s += QStringLiteral("|sname=") + FieldValue(form.name);
    s += QStringLiteral("|sauthor=") + FieldValue(form.author);
    s += QStringLiteral("|username=") + FieldValue(userName);
    s += QStringLiteral("|smemo=") + FieldValue(form.summary);
    s += QStringLiteral("|sstatue=") + FieldValue(form.status);
    s += QStringLiteral("|snewchap=") + (serial ? FieldValue(form.newestChapter) : QString());
    return s;
}

QString MakeBoundary(const std::function<double()> &randomUnit)
{
    // "XZY" and "xzy" are not typos: boundaries have always been drawn from this alphabet.
    static const QLatin1StringView alphabet("ABCDEFGHIJKLMNOPQRSTUVWXZYabcdefghijklmnopqrstuvwxzy0123456789");
    QString boundary = QStringLiteral("__NextPart__");
    for (int i = 0; i < 25; ++i) {
        const auto index = static_cast<qsizetype>(randomUnit() * alphabet.size());
        boundary += alphabet.at(std::clamp<qsizetype>(index, 0, alphabet.size() - 1));
    }
    return boundary;
}

QString MakeBoundary()
{
    return MakeBoundary([] { return QRandomGenerator::global()->generateDouble(); });
}

QByteArray EncodeInCharset(const QString &text, const QString &charset)
{
    const QString name = charset.trimmed().toUpper();
    if (name == QLatin1String("GB2312") || name == QLatin1String("GBK") || name == QLatin1String("GB18030"))
        return ToGb18030(text);

    std::optional<QStringConverter::Encoding> encoding;
    if (name == QLatin1String("UNICODE") || name == QLatin1String("UTF-16") || name == QLatin1String("UTF-16LE"))
        encoding = QStringConverter::Utf16LE;
    else if (name == QLatin1String("UTF-16BE"))
        encoding = QStringConverter::Utf16BE;
    else if (name == QLatin1String("UTF-8"))
        encoding = QStringConverter::Utf8;

    // Qt's encoders write no byte-order mark unless asked, which is the wanted result.
    QStringEncoder encoder = encoding ? QStringEncoder(*encoding) : QStringEncoder(name.toLatin1().constData());
    if (!encoder.isValid())
        return {};
    return encoder.encode(text);
}

std::optional<QByteArray> ReadFileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

MultipartBody BuildMultipartBody(const QString &fieldString, const QString &boundary,
                                 const std::function<std::optional<QByteArray>(const QString &)> &readFile)
{
    const QByteArray dashBoundary = QByteArray("--") + ToGb18030(boundary);
    MultipartBody result;
    for (const QString &item : fieldString.split(QLatin1Char('|'))) {
        const qsizetype eq = item.indexOf(QLatin1Char('='));
        const QString key = eq < 0 ? item : item.left(eq);
        const QString value = eq < 0 ? QString() : item.mid(eq + 1);
        result.body += dashBoundary + kCrlf;
        // The two header styles differ (blanks in the text header, none in the file header);
        // the server has always been sent exactly these forms.
        if (key.startsWith(QLatin1String("file"))) {
            const std::optional<QByteArray> bytes = readFile(value);
            if (!bytes) {
                return MultipartBody{
                    {},
                    QStringLiteral("无法读取要上传的文件：\r\n") + value +
                        QStringLiteral("\r\n\r\n请确认该文件仍然存在并且没有被其他程序占用，然后重新上传。")};
            }
            result.body += ToGb18030(QStringLiteral("Content-Disposition:form-data;name=\"") + key +
                                     QStringLiteral("\";filename=\"") + value + QStringLiteral("\"")) +
                           kCrlf + QByteArray("Content-Type:application/octet-stream") + kCrlf + kCrlf + *bytes + kCrlf;
        } else {
            result.body +=
                ToGb18030(QStringLiteral("Content-Disposition: form-data; name=\"") + key + QStringLiteral("\"")) +
                kCrlf + kCrlf + ToGb18030(value) + kCrlf;
        }
    }
    result.body += dashBoundary + QByteArray("--");
    return result;
}

QByteArray UploadContentType()
{
    return QByteArrayLiteral("multipart/form-data");
}

QString UploadUrl(const QString &serverBaseUrl)
{
    return serverBaseUrl + QStringLiteral("/readerserver/uploadbook.asp");
}

UploadOutcome DecodeUploadAnswer(const QByteArray &body)
{
    const QString text = FromGb18030(body);
    const qsizetype bar = text.indexOf(QLatin1Char('|'));
    if (bar < 0) {
        return UploadOutcome{AccountMessage{QStringLiteral("服务器的回复无法识别，上传可能没有完成。\r\n"
                                                           "请稍后在“我上传的电子书”中查看，必要时重新上传。"),
                                            QStringLiteral("上传失败"), Prompter::Icon::Critical},
                             false};
    }
    bool isNumber = false;
    const double code = text.left(bar).trimmed().toDouble(&isNumber);
    const QString message = text.mid(bar + 1).section(QLatin1Char('|'), 0, 0);
    if (isNumber && code == 1)
        return UploadOutcome{AccountMessage{message, QStringLiteral("上传成功"), Prompter::Icon::Information}, true};
    return UploadOutcome{AccountMessage{message, QStringLiteral("上传失败"), Prompter::Icon::Critical}, false};
}
