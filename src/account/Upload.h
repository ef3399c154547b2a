#pragma once

#include "account/AccountOutcome.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// The upload panel's values, texts as typed (the rules trim them).
struct UploadForm
{
    QString category; // one of BookCategories(), by text
    QString name;
    QString author;
    QString bookPath;
    QString status; // "连载" or "全集"
    QString newestChapter;
    QString summary;
    QString coverPath; // empty: no cover
};

enum class UploadField
{
    Category,
    Name,
    BookPathButton,
    Status,
    NewestChapter
};

struct UploadProblem
{
    AccountMessage message;
    UploadField focus = UploadField::Category;
    bool showNewestChapterRow = false;
};

// Status texts of the upload form.
QString SerialStatusText();   // "连载": newest chapter required
QString CompleteStatusText(); // "全集"

// The two file-dialog filters of the panel.
QString BookFileFilter();
QString CoverFileFilter();

// "确认上传": the first failing check, or nothing when the upload may start.
std::optional<UploadProblem> ValidateUpload(const UploadForm &form);

// "|"-separated key=value items; a "|" typed into any value is sent as the full-width "｜"
// so it cannot split an item. The newest chapter is sent empty unless the book is "连载".
QString UploadFieldString(const UploadForm &form, const QString &userName);

// "__NextPart__" and 25 characters drawn with randomUnit, which yields values in [0, 1).
QString MakeBoundary(const std::function<double()> &randomUnit);
QString MakeBoundary();

// Encodes text in the named character set without any byte-order mark. "gb2312" and "gbk"
// use GB18030, which encodes their characters identically. Unknown names give empty bytes.
QByteArray EncodeInCharset(const QString &text, const QString &charset);

// The whole file, or nothing when it cannot be opened or read.
std::optional<QByteArray> ReadFileBytes(const QString &path);

struct MultipartBody
{
    QByteArray body;
    QString error; // set instead of a body when a file part could not be read

    bool ok() const { return error.isEmpty(); }
};

// Builds the upload body from an UploadFieldString: items whose key starts with "file" become
// file parts named by their full path, all others text parts, then the closing boundary line.
// readFile is injectable for tests.
MultipartBody
BuildMultipartBody(const QString &fieldString, const QString &boundary,
                   const std::function<std::optional<QByteArray>(const QString &)> &readFile = ReadFileBytes);

// The upload request's Content-Type: the server finds the boundary from the body's first line.
QByteArray UploadContentType();
QString UploadUrl(const QString &serverBaseUrl);

// The answer to a complete HTTP-200 upload, body in GB2312: code 1 means accepted.
struct UploadOutcome
{
    AccountMessage message;
    bool accepted = false; // close the user centre
};

UploadOutcome DecodeUploadAnswer(const QByteArray &body);
