#include "account/UploadPanel.h"

#include "account/AccountWidgets.h"
#include "library/BookRecord.h"
#include "net/NetworkLimits.h"
#include "net/NetworkService.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QUrl>

namespace {

constexpr int kCoverWidth = 120; // 1800 x 2085 twips
constexpr int kCoverHeight = 139;

QLabel *Caption(const QString &text, bool required, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    if (required) {
        QPalette pal = label->palette();
        pal.setColor(QPalette::WindowText, QColor(255, 0, 0));
        label->setPalette(pal);
    }
    return label;
}

QString BarToolTip()
{
    return QStringLiteral("输入的“|”会以全角的“｜”上传。");
}

} // namespace

UploadPanel::UploadPanel(const QString &serverBaseUrl, Prompter &prompter, std::function<QString()> userName,
                         QWidget *parent)
    : QWidget(parent), m_serverBaseUrl(serverBaseUrl), m_prompter(prompter), m_userName(std::move(userName))
{
    setObjectName(QStringLiteral("UserFrame7"));

    m_name = new QLineEdit(this);
    m_name->setMaxLength(15);
    m_category = new QComboBox(this);
    const QIcon categoryIcon = style()->standardIcon(QStyle::SP_DirIcon);
    for (const QString &category : BookCategories())
        m_category->addItem(categoryIcon, category);
    m_category->setCurrentIndex(-1);
    m_author = new QLineEdit(this);
    m_author->setMaxLength(15);
    m_path = new QLineEdit(this);
    m_path->setReadOnly(true);
    m_browse = new QPushButton(QStringLiteral("..."), this);
    m_browse->setFixedWidth(32);
    m_status = new QComboBox(this);
    m_status->addItems({SerialStatusText(), CompleteStatusText()});
    m_status->setCurrentIndex(-1);
    m_newest = new QLineEdit(this);
    m_newest->setMaxLength(255);
    m_summary = new QPlainTextEdit(this);
    m_summary->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    for (QWidget *box : {static_cast<QWidget *>(m_name), static_cast<QWidget *>(m_author),
                         static_cast<QWidget *>(m_newest), static_cast<QWidget *>(m_summary)})
        box->setToolTip(BarToolTip());

    m_cover = new QLabel(this);
    m_cover->setFixedSize(kCoverWidth, kCoverHeight);
    m_cover->setFrameShape(QFrame::Box);
    m_cover->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_coverOverlay = new QToolButton(m_cover);
    m_coverOverlay->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
    m_coverOverlay->setAutoRaise(true);
    m_coverOverlay->setGeometry(kCoverWidth - 22, 2, 20, 20);
    m_coverOverlay->hide();
    m_addCover = new QPushButton(QStringLiteral("添加封面"), this);
    m_upload = new QPushButton(QStringLiteral("确认上传"), this);
    m_uploading = new QProgressBar(this);
    m_uploading->setObjectName(QStringLiteral("UpLoading"));
    m_uploading->setRange(0, 0); // runs as an animation: there is no progress figure
    m_uploading->setTextVisible(false);
    m_uploading->hide();

    auto *slogan = new QLabel(QStringLiteral("人人为我，我为人人！只有广大读者的热心分享，才能无所不搜！"), this);
    QFont bold = slogan->font();
    bold.setBold(true);
    slogan->setFont(bold);
    auto *help = new QLabel(QStringLiteral("1. 填写电子书的各项资料（红色项目为必填项），然后点击“确认上传”开始上传；\n"
                                           "2. 请在电子书文件的开头和结尾加上本站的声明一行；\n"
                                           "3. 上传新书审核通过奖励10金币，更新章节奖励5金币。"),
                            this);
    help->setWordWrap(true);

    auto *grid = new QGridLayout;
    int row = 0;
    grid->addWidget(Caption(QStringLiteral("书名："), true, this), row, 0, Qt::AlignRight);
    grid->addWidget(m_name, row++, 1, 1, 2);
    grid->addWidget(Caption(QStringLiteral("类型："), true, this), row, 0, Qt::AlignRight);
    grid->addWidget(m_category, row++, 1, 1, 2);
    grid->addWidget(Caption(QStringLiteral("作者："), false, this), row, 0, Qt::AlignRight);
    grid->addWidget(m_author, row++, 1, 1, 2);
    grid->addWidget(Caption(QStringLiteral("所在路径："), true, this), row, 0, Qt::AlignRight);
    grid->addWidget(m_path, row, 1);
    grid->addWidget(m_browse, row++, 2);
    grid->addWidget(Caption(QStringLiteral("连载状态："), true, this), row, 0, Qt::AlignRight);
    grid->addWidget(m_status, row++, 1, 1, 2);

    m_newestRow = new QWidget(this);
    auto *newestLayout = new QHBoxLayout(m_newestRow);
    newestLayout->setContentsMargins(0, 0, 0, 0);
    newestLayout->addWidget(Caption(QStringLiteral("最新章节："), true, m_newestRow));
    newestLayout->addWidget(m_newest, 1);
    m_newestRow->hide();
    grid->addWidget(m_newestRow, row++, 0, 1, 3);
    grid->addWidget(Caption(QStringLiteral("内容简介："), false, this), row, 0, Qt::AlignRight | Qt::AlignTop);
    grid->addWidget(m_summary, row++, 1, 1, 2);

    auto *coverColumn = new QVBoxLayout;
    coverColumn->addWidget(m_cover);
    coverColumn->addWidget(m_addCover);
    coverColumn->addStretch();

    auto *form = new QHBoxLayout;
    form->addLayout(grid, 1);
    form->addLayout(coverColumn);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_upload);
    buttons->addWidget(m_uploading, 1);
    buttons->addStretch();

    auto *outer = new QVBoxLayout(this);
    outer->addWidget(slogan);
    outer->addLayout(form, 1);
    outer->addLayout(buttons);
    outer->addWidget(help);

    connect(m_browse, &QPushButton::clicked, this, &UploadPanel::chooseBook);
    connect(m_addCover, &QPushButton::clicked, this, &UploadPanel::chooseCover);
    connect(m_coverOverlay, &QToolButton::clicked, this, &UploadPanel::removeCover);
    connect(m_status, &QComboBox::currentIndexChanged, this, &UploadPanel::statusChosen);
    connect(m_upload, &QPushButton::clicked, this, &UploadPanel::send);
}

UploadPanel::~UploadPanel()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

UploadForm UploadPanel::form() const
{
    UploadForm form;
    form.category = m_category->currentIndex() >= 0 ? m_category->currentText() : QString();
    form.name = m_name->text();
    form.author = m_author->text();
    form.bookPath = m_path->text();
    form.status = m_status->currentIndex() >= 0 ? m_status->currentText() : QString();
    form.newestChapter = m_newest->text();
    form.summary = m_summary->toPlainText();
    form.coverPath = m_coverPath;
    return form;
}

void UploadPanel::fillFromBook(const BookRecord &book)
{
    const int match = m_category->findText(book.type, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (match >= 0)
        m_category->setCurrentIndex(match);
    m_name->setText(book.name);
    m_author->setText(book.author);
    m_path->setText(book.path);
}

void UploadPanel::chooseBook()
{
    const QString path = m_prompter.openFileName(QStringLiteral("添加电子书-Folioway"), BookFileFilter());
    if (!path.isEmpty())
        m_path->setText(path);
}

void UploadPanel::chooseCover()
{
    const QString path = m_prompter.openFileName(QStringLiteral("添加电子书封面-Folioway"), CoverFileFilter());
    if (!path.isEmpty())
        setCover(path);
}

void UploadPanel::setCover(const QString &path)
{
    QPixmap picture;
    if (!picture.load(path)) {
        m_prompter.message(QStringLiteral("无法打开这张图片，请选择JPG或GIF格式的封面图片！"), Prompter::Icon::Critical,
                           QStringLiteral("数据有误"));
        return;
    }
    m_coverPath = path;
    m_cover->setPixmap(picture.scaled(kCoverWidth, kCoverHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    m_coverOverlay->setToolTip(QStringLiteral("删除封面"));
    m_coverOverlay->show();
    m_coverOverlay->raise();
}

void UploadPanel::removeCover()
{
    m_coverPath.clear();
    m_cover->clear();
    m_coverOverlay->hide();
    m_coverOverlay->setToolTip(QString());
}

void UploadPanel::statusChosen()
{
    if (m_status->currentText() == SerialStatusText() && m_status->currentIndex() >= 0) {
        m_newestRow->show();
    } else {
        m_newestRow->hide();
        m_newest->clear();
    }
}

void UploadPanel::send()
{
    if (m_reply)
        return;
    const UploadForm input = form();
    if (const auto problem = ValidateUpload(input)) {
        ShowAccountMessage(m_prompter, problem->message);
        if (problem->showNewestChapterRow)
            m_newestRow->show();
        QWidget *focus = nullptr;
        switch (problem->focus) {
        case UploadField::Category:
            focus = m_category;
            break;
        case UploadField::Name:
            focus = m_name;
            break;
        case UploadField::BookPathButton:
            focus = m_browse;
            break;
        case UploadField::Status:
            focus = m_status;
            break;
        case UploadField::NewestChapter:
            focus = m_newest;
            break;
        }
        focus->setFocus();
        return;
    }

    // The body is built before anything changes on screen: a file that can no longer be read
    // stops the upload with a message and leaves the form as it was.
    const MultipartBody body = BuildMultipartBody(UploadFieldString(input, m_userName()), MakeBoundary());
    if (!body.ok()) {
        m_prompter.message(body.error, Prompter::Icon::Critical, QStringLiteral("上传失败"));
        return;
    }

    m_upload->setEnabled(false);
    m_uploading->show();

    QNetworkRequest request = GuardedRequest(QUrl(UploadUrl(m_serverBaseUrl), QUrl::TolerantMode),
                                             NetworkService::DefaultTransferTimeoutMs);
    request.setRawHeader(QByteArrayLiteral("Content-Type"), UploadContentType());
    request.setHeader(QNetworkRequest::ContentLengthHeader, body.body.size());
    m_reply = NetworkService::manager()->post(request, body.body);
    GuardReply(m_reply, NetworkLimits::AnswerBytes);
    connect(m_reply, &QNetworkReply::finished, this, &UploadPanel::onFinished);
}

void UploadPanel::onFinished()
{
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    if (!reply)
        return;
    reply->deleteLater();
    m_upload->setEnabled(true);
    m_uploading->hide();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || status != 200)
        return;
    const UploadOutcome outcome = DecodeUploadAnswer(reply->readAll());
    ShowAccountMessage(m_prompter, outcome.message);
    if (outcome.accepted)
        Q_EMIT uploadAccepted();
}
