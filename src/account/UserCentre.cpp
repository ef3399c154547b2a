#include "account/UserCentre.h"

#include "account/AccountOutcome.h"
#include "account/AccountWidgets.h"
#include "account/FormEncoding.h"
#include "account/ProfileForms.h"
#include "account/Registration.h"
#include "account/SyncPanels.h"
#include "account/UploadPanel.h"
#include "account/UserBooksList.h"
#include "net/AnswerReader.h"
#include "net/RequestSlot.h"
#include "platform/TwipsGeometry.h"

#include <QLabel>
#include <QStyle>
#include <QTreeWidget>

namespace {

constexpr int kTwipsPerPixel = 15;

} // namespace

UserCentre::UserCentre(const QString &serverBaseUrl, Prompter &prompter, QWidget *parent)
    : QWidget(parent), m_serverBaseUrl(serverBaseUrl), m_prompter(prompter)
{
    setObjectName(QStringLiteral("UserCenter"));
    setWindowTitle(QStringLiteral("用户中心 - Folioway"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(860, 580);

    buildTree();
    m_userInfo = new UserInfoPanel(m_prompter, this);
    m_profileEdit = new ProfileEditPanel(this);
    m_books = new UserBooksList(
        m_serverBaseUrl, m_prompter, [this] { return m_profile.uname; }, this);
    m_panels[UserInfoNode] = m_userInfo;
    m_panels[EditProfileNode] = m_profileEdit;
    m_panels[MyBooksNode] = m_books;
    m_upload = new UploadPanel(
        m_serverBaseUrl, m_prompter, [this] { return m_profile.uname; }, this);
    m_panels[UploadNode] = m_upload;
    for (QWidget *panel : m_panels) {
        if (panel)
            panel->hide();
    }
    connect(m_upload, &UploadPanel::uploadAccepted, this, &QWidget::close);
    connect(m_profileEdit, &ProfileEditPanel::saveClicked, this, &UserCentre::sendProfileEdit);
    connect(m_books, &UserBooksList::busyChanged, this, &UserCentre::updateLoading);

    m_loading = new QLabel(QStringLiteral("正在加载数据，请稍候..."), this);
    m_loading->setObjectName(QStringLiteral("LoadingDiv"));
    m_loading->setAlignment(Qt::AlignCenter);
    m_loading->setAutoFillBackground(true);
    m_loading->setFrameShape(QFrame::Box);
    m_loading->resize(220, 40);
    m_loading->hide();

    m_accountSlot = new RequestSlot(this);
    // Answers are read off the window's thread.
    auto *accountAnswers = new AnswerReader(this);
    connect(m_accountSlot, &RequestSlot::finished, accountAnswers, [this, accountAnswers](const HttpResult &result) {
        accountAnswers->read([result] { return result.isOk() ? DecodeAccountReply(result.body) : AccountReply(); },
                             [this, ok = result.isOk()](const AccountReply &reply) { onAccountAnswer(ok, reply); });
    });

    placePanels();
    CentreOnScreen(this);
}

void UserCentre::buildTree()
{
    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("TreeView1"));
    m_tree->setHeaderHidden(true);
    // The nodes' own colours mark the chosen one; the view's selection would only confuse that.
    m_tree->setSelectionMode(QAbstractItemView::NoSelection);
    m_tree->setExpandsOnDoubleClick(false);
    m_tree->setItemsExpandable(false);

    struct NodeDesign
    {
        const char *text;
        const char *key;
        int parent;
        QStyle::StandardPixmap icon;
    };
    static const NodeDesign design[LastNode] = {
        {"用户控制面板", "Utree", 0, QStyle::SP_ComputerIcon},
        {"用户信息", "Key1", ControlPanelNode, QStyle::SP_FileDialogInfoView},
        {"修改资料", "Key2", ControlPanelNode, QStyle::SP_FileDialogDetailedView},
        {"退出登录", "Key3", ControlPanelNode, QStyle::SP_DialogCloseButton},
        {"电子书管理", "BTree", 0, QStyle::SP_DirIcon},
        {"我上传的电子书", "Key4", BookManagementNode, QStyle::SP_FileDialogListView},
        {"开始上传电子书", "Key5", BookManagementNode, QStyle::SP_ArrowUp},
        {"阅读同步", "STree", 0, QStyle::SP_BrowserReload},
        {"同步状态", "Key6", SyncNode, QStyle::SP_MessageBoxInformation},
        {"其他电脑上的书", "Key7", SyncNode, QStyle::SP_DriveNetIcon},
    };
    for (int i = 1; i <= LastNode; ++i) {
        const NodeDesign &d = design[i - 1];
        QTreeWidgetItem *item = d.parent ? new QTreeWidgetItem(m_nodes[d.parent]) : new QTreeWidgetItem(m_tree);
        item->setText(0, QString::fromUtf8(d.text));
        item->setData(0, Qt::UserRole, QString::fromLatin1(d.key));
        item->setData(0, Qt::UserRole + 1, i);
        item->setIcon(0, style()->standardIcon(d.icon));
        m_nodes[i] = item;
    }
    m_tree->expandAll();
    connect(m_tree, &QTreeWidget::itemClicked, this, &UserCentre::treeClicked);
}

void UserCentre::attachSync(AccountSync &sync)
{
    if (m_syncStatus)
        return;
    m_syncStatus = new SyncStatusPanel(sync, this);
    m_remoteBooks = new RemoteBooksPanel(sync, this);
    m_panels[SyncStatusNode] = m_syncStatus;
    m_panels[RemoteBooksNode] = m_remoteBooks;
    for (QWidget *panel : {static_cast<QWidget *>(m_syncStatus), static_cast<QWidget *>(m_remoteBooks)})
        panel->setVisible(m_selected != 0 && panel == m_panels[m_selected]);
    placePanels();
    m_loading->raise();
}

void UserCentre::sendCheck()
{
    m_accountSlot->loginHTTP(CheckUrl(m_serverBaseUrl));
    updateLoading();
}

void UserCentre::selectNode(int index)
{
    if (index < 1 || index > LastNode)
        return;
    m_tree->setCurrentItem(m_nodes[index]);
    runNode(index);
}

void UserCentre::treeClicked(QTreeWidgetItem *item)
{
    if (item)
        runNode(item->data(0, Qt::UserRole + 1).toInt());
}

void UserCentre::runNode(int index)
{
    if (index == ControlPanelNode || index == BookManagementNode || index == SyncNode || index < 1 ||
        index > LastNode)
        return;
    m_selected = index;
    const QPalette pal = palette();
    for (int i = 1; i <= LastNode; ++i) {
        const bool chosen = i == index;
        if (QWidget *panel = m_panels[i])
            panel->setVisible(chosen);
        m_nodes[i]->setBackground(0, chosen ? pal.brush(QPalette::Highlight) : QBrush(Qt::white));
        m_nodes[i]->setForeground(0, chosen ? pal.brush(QPalette::HighlightedText) : pal.brush(QPalette::WindowText));
    }
    m_loading->raise();

    switch (index) {
    case UserInfoNode:
        sendCheck();
        break;
    case LogoutNode:
        sendLogout();
        break;
    case MyBooksNode:
        m_books->request(std::nullopt);
        break;
    case RemoteBooksNode:
        if (m_remoteBooks)
            m_remoteBooks->refresh();
        break;
    default:
        break;
    }
}

void UserCentre::sendLogout()
{
    m_accountSlot->loginHTTP(LogoutUrl(m_serverBaseUrl));
    updateLoading();
}

void UserCentre::sendProfileEdit()
{
    ProfileEditForm form = m_profileEdit->form();
    form.userId = m_profile.uid;
    if (const auto refusal = ValidateProfileEdit(form)) {
        ShowAccountMessage(m_prompter, *refusal);
        return;
    }
    // The sex goes unencoded, so the body holds Chinese text: the server reads it as GB18030.
    m_accountSlot->postForm(AccountEndpoint(m_serverBaseUrl), ToGb18030(ProfileEditBody(form)));
    updateLoading();
}

void UserCentre::onAccountAnswer(bool answered, const AccountReply &reply)
{
    updateLoading();
    if (!answered)
        return;
    const AccountOutcome outcome = UserCentreOutcome(reply);
    // Before any message or closing: the sync follows the login whatever the window does next.
    if (reply.valid && (outcome.fillProfile || reply.code == QLatin1String("0")))
        Q_EMIT accountAnswered(outcome.fillProfile, reply.profile.uname);
    if (outcome.message)
        ShowAccountMessage(m_prompter, *outcome.message);
    if (outcome.fillProfile) {
        m_profile = reply.profile;
        m_userInfo->showProfile(m_profile);
        m_profileEdit->showProfile(m_profile);
    }
    if (outcome.showUserInfo)
        selectNode(UserInfoNode);
    if (outcome.openLogin)
        Q_EMIT loginRequested();
    if (outcome.closeWindow)
        close();
}

void UserCentre::updateLoading()
{
    const bool busy = m_accountSlot->isBusy() || m_books->isBusy();
    if (busy)
        m_loading->raise();
    m_loading->setVisible(busy);
}

void UserCentre::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placePanels();
}

void UserCentre::placePanels()
{
    // The panel rule counts the window's outer size, frame included.
    const QSize outer = frameGeometry().size().expandedTo(size());
    const int width = outer.width() * kTwipsPerPixel;
    const int height = outer.height() * kTwipsPerPixel;
    for (QWidget *panel : m_panels) {
        if (panel)
            SetTwips(panel, 2700, 0, width - 2860, height - 500);
    }
    SetTwips(m_tree, 60, 60, 2580, height - 560);
    m_loading->move((this->width() - m_loading->width()) / 2, (this->height() - m_loading->height()) / 2);
}
