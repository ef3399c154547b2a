#pragma once

#include "account/Upload.h"

#include <QNetworkReply>
#include <QPointer>
#include <QWidget>

#include <functional>

class Prompter;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QToolButton;
struct BookRecord;

// The user centre's "开始上传电子书" panel: the form, its checks and the multipart upload. It
// holds its own request, apart from the user centre's account and list requests.
class UploadPanel : public QWidget
{
    Q_OBJECT
public:
    // userName gives the account name to send; the server identifies the uploader by its
    // cookie, so an empty name (no check answer yet) does no harm.
    UploadPanel(const QString &serverBaseUrl, Prompter &prompter, std::function<QString()> userName,
                QWidget *parent = nullptr);
    ~UploadPanel() override;

    UploadForm form() const;
    // Fills category (only on an exact match), name, author and path from a shelf record.
    void fillFromBook(const BookRecord &book);
    void setCover(const QString &path);
    void removeCover();
    bool isUploading() const { return m_reply != nullptr; }

    QComboBox *categoryBox() const { return m_category; }
    QLineEdit *nameBox() const { return m_name; }
    QLineEdit *authorBox() const { return m_author; }
    QLineEdit *pathBox() const { return m_path; }
    QPushButton *browseButton() const { return m_browse; }
    QComboBox *statusList() const { return m_status; }
    QWidget *newestChapterRow() const { return m_newestRow; }
    QLineEdit *newestChapterBox() const { return m_newest; }
    QPlainTextEdit *summaryBox() const { return m_summary; }
    QLabel *coverBox() const { return m_cover; }
    QToolButton *coverOverlay() const { return m_coverOverlay; }
    QPushButton *coverButton() const { return m_addCover; }
    QString coverPath() const { return m_coverPath; }
    QPushButton *uploadButton() const { return m_upload; }
    QProgressBar *uploadingIndicator() const { return m_uploading; }

Q_SIGNALS:
    // Code 1 after its message: the user centre closes.
    void uploadAccepted();

private:
    void chooseBook();
    void chooseCover();
    void statusChosen();
    void send();
    void onFinished();

    QString m_serverBaseUrl;
    Prompter &m_prompter;
    std::function<QString()> m_userName;
    QString m_coverPath;

    QComboBox *m_category;
    QLineEdit *m_name;
    QLineEdit *m_author;
    QLineEdit *m_path;
    QPushButton *m_browse;
    QComboBox *m_status;
    QWidget *m_newestRow;
    QLineEdit *m_newest;
    QPlainTextEdit *m_summary;
    QLabel *m_cover;
    QToolButton *m_coverOverlay;
    QPushButton *m_addCover;
    QPushButton *m_upload;
    QProgressBar *m_uploading;
    QPointer<QNetworkReply> m_reply;
};
