#include "account/UserCentre.h"

#include "account/AccountOutcome.h"
#include "account/AccountWidgets.h"
#include "account/FormEncoding.h"
#include "account/Registration.h"
#include "account/UploadPanel.h"
#include "catalogue/CatalogueNavigation.h"
#include "net/AnswerReader.h"
#include "net/RequestSlot.h"
#include "platform/TwipsGeometry.h"

#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr int kTwipsPerPixel = 15;
const QColor kBandColour(236, 246, 255);

QLabel *Value(const QString &designText, QWidget *parent)
{
    auto *label = new QLabel(designText, parent);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QLabel *Grey(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, QColor(128, 128, 128));
    label->setPalette(pal);
    return label;
}

void Exclaim(Prompter &prompter, const QString &text)
{
    prompter.message(text, Prompter::Icon::Exclamation);
}

} // namespace

UserCentre::UserCentre(const QString &serverBaseUrl, Prompter &prompter, QWidget *parent)
    : QWidget(parent), m_serverBaseUrl(serverBaseUrl), m_prompter(prompter)
{
    setObjectName(QStringLiteral("UserCenter"));
    setWindowTitle(QStringLiteral("用户中心 - Folioway"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(860, 580);

    buildTree();
    m_panels[UserInfoNode] = buildUserInfoPanel();
    m_panels[EditProfileNode] = buildEditPanel();
    m_panels[MyBooksNode] = buildBooksPanel();
    m_upload = new UploadPanel(
        m_serverBaseUrl, m_prompter, [this] { return m_profile.uname; }, this);
    m_panels[UploadNode] = m_upload;
    for (QWidget *panel : m_panels) {
        if (panel)
            panel->hide();
    }
    connect(m_upload, &UploadPanel::uploadAccepted, this, &QWidget::close);

    m_loading = new QLabel(QStringLiteral("正在加载数据，请稍候..."), this);
    m_loading->setObjectName(QStringLiteral("LoadingDiv"));
    m_loading->setAlignment(Qt::AlignCenter);
    m_loading->setAutoFillBackground(true);
    m_loading->setFrameShape(QFrame::Box);
    m_loading->resize(220, 40);
    m_loading->hide();

    m_accountSlot = new RequestSlot(this);
    m_listSlot = new RequestSlot(this);
    // Answers are read off the window's thread, one reader per slot.
    auto *accountAnswers = new AnswerReader(this);
    auto *bookAnswers = new AnswerReader(this);
    connect(m_accountSlot, &RequestSlot::finished, accountAnswers, [this, accountAnswers](const HttpResult &result) {
        accountAnswers->read([result] { return result.isOk() ? DecodeAccountReply(result.body) : AccountReply(); },
                             [this, ok = result.isOk()](const AccountReply &reply) { onAccountAnswer(ok, reply); });
    });
    connect(m_listSlot, &RequestSlot::finished, bookAnswers, [this, bookAnswers](const HttpResult &result) {
        bookAnswers->read(
            [result, paging = m_paging] {
                return ParseUserBooksAnswer(result.failed ? 0 : result.status, result.body, paging);
            },
            [this](const UserBooksAnswer &answer) { onBooksAnswer(answer); });
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
    static const NodeDesign design[NodeCount] = {
        {"用户控制面板", "Utree", 0, QStyle::SP_ComputerIcon},
        {"用户信息", "Key1", ControlPanelNode, QStyle::SP_FileDialogInfoView},
        {"修改资料", "Key2", ControlPanelNode, QStyle::SP_FileDialogDetailedView},
        {"退出登录", "Key3", ControlPanelNode, QStyle::SP_DialogCloseButton},
        {"电子书管理", "BTree", 0, QStyle::SP_DirIcon},
        {"我上传的电子书", "Key4", BookManagementNode, QStyle::SP_FileDialogListView},
        {"开始上传电子书", "Key5", BookManagementNode, QStyle::SP_ArrowUp},
    };
    for (int i = 1; i <= NodeCount; ++i) {
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

QWidget *UserCentre::buildUserInfoPanel()
{
    auto *panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("UserFrame2"));

    m_userName = Value(QStringLiteral("$UserName"), panel);
    m_lastLogin = Value(QStringLiteral("$LastLogin"), panel);
    m_loginCount = Value(QStringLiteral("$LoginCount"), panel);
    m_points = Value(QStringLiteral("$PointCount"), panel);
    m_gold = Value(QStringLiteral("$GoldCount"), panel);

    auto *figures = new QGridLayout;
    const std::pair<const char *, QLabel *> rows[] = {{"账号名称：", m_userName},
                                                      {"上次登录时间：", m_lastLogin},
                                                      {"累计登录：", m_loginCount},
                                                      {"累计积分：", m_points},
                                                      {"金币余额：", m_gold}};
    int row = 0;
    for (const auto &[caption, value] : rows) {
        figures->addWidget(new QLabel(QString::fromUtf8(caption), panel), row, 0, Qt::AlignRight);
        figures->addWidget(value, row++, 1);
    }
    figures->setColumnStretch(1, 1);

    auto *pointsBox = new QGroupBox(QStringLiteral("积分获取："), panel);
    auto *pointsLayout = new QVBoxLayout(pointsBox);
    pointsLayout->addWidget(new QLabel(QStringLiteral("每日登录即可获取10积分!"), pointsBox));

    auto *goldBox = new QGroupBox(QStringLiteral("获取金币"), panel);
    m_promotion = new QPlainTextEdit(goldBox);
    m_promotion->setReadOnly(true);
    m_promotion->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_promotion->setMaximumHeight(80);
    m_copy = new QPushButton(QStringLiteral("复制"), goldBox);
    auto *goldLayout = new QGridLayout(goldBox);
    goldLayout->addWidget(new QLabel(QStringLiteral("个人推广地址："), goldBox), 0, 0, 1, 2);
    goldLayout->addWidget(m_promotion, 1, 0);
    goldLayout->addWidget(m_copy, 1, 1, Qt::AlignTop);
    auto *rules = new QLabel(QStringLiteral("将你的个人推广地址发送给他人，只要有人点击进入网页即得\n"
                                            "1金币\n"
                                            "24小时只统计1次\n"
                                            "注意：每台电脑                 重复点击无效！不要作弊哦！"),
                             goldBox);
    goldLayout->addWidget(rules, 2, 0, 1, 2);
    goldLayout->addWidget(new QLabel(QStringLiteral("快速赚金币技巧："), goldBox), 3, 0, 1, 2);
    auto *tips =
        new QLabel(QStringLiteral("1. 把推广地址发给QQ、MSN等聊天工具里的好友和群，或贴到开心网、人人网等社区；\n"
                                  "2. 发到小说论坛、书评页面、问答网站和自己的博客，或用邮件群发给朋友。"),
                   goldBox);
    tips->setWordWrap(true);
    goldLayout->addWidget(tips, 4, 0, 1, 2);

    auto *layout = new QVBoxLayout(panel);
    layout->addLayout(figures);
    layout->addWidget(pointsBox);
    layout->addWidget(goldBox, 1);

    connect(m_copy, &QPushButton::clicked, this, &UserCentre::copyPromotion);
    return panel;
}

QWidget *UserCentre::buildEditPanel()
{
    auto *panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("UserFrame3"));

    m_editName = new QLineEdit(panel);
    m_editName->setReadOnly(true);
    m_editName->setEnabled(false); // grey: the account name cannot change
    m_newPassword = new QLineEdit(panel);
    m_newPassword->setMaxLength(18);
    MaskWithAsterisks(m_newPassword);
    m_email = new QLineEdit(panel);
    m_email->setMaxLength(50);
    m_qq = new QLineEdit(panel);
    m_qq->setMaxLength(10);
    m_male = new QRadioButton(QStringLiteral("男"), panel);
    m_female = new QRadioButton(QStringLiteral("女"), panel);
    m_undisclosed = new QRadioButton(QStringLiteral("保密"), panel);
    m_undisclosed->setChecked(true);
    auto *sexGroup = new QButtonGroup(panel);
    for (QRadioButton *option : {m_male, m_female, m_undisclosed})
        sexGroup->addButton(option);
    m_question = Value(QStringLiteral("$Question"), panel);
    m_answer = new QLineEdit(panel);
    m_answer->setMaxLength(50);
    m_save = new QPushButton(QStringLiteral("确认修改"), panel);

    auto *sexRow = new QHBoxLayout;
    sexRow->addWidget(m_male);
    sexRow->addWidget(m_female);
    sexRow->addWidget(m_undisclosed);
    sexRow->addStretch();

    auto *grid = new QGridLayout;
    int row = 0;
    auto addRow = [&](const QString &caption, QWidget *field, const QString &note) {
        grid->addWidget(new QLabel(caption, panel), row, 0, Qt::AlignRight);
        grid->addWidget(field, row, 1);
        if (!note.isEmpty())
            grid->addWidget(Grey(note, panel), row, 2);
        ++row;
    };
    addRow(QStringLiteral("用户名："), m_editName, QStringLiteral("不可修改"));
    addRow(QStringLiteral("新密码："), m_newPassword, QStringLiteral("不修改 请留空"));
    addRow(QStringLiteral("电子邮箱："), m_email, QString());
    addRow(QStringLiteral("Q Q："), m_qq, QString());
    grid->addWidget(new QLabel(QStringLiteral("性 别："), panel), row, 0, Qt::AlignRight);
    grid->addLayout(sexRow, row++, 1);
    addRow(QStringLiteral("密码问题："), m_question, QString());
    addRow(QStringLiteral("密码答案："), m_answer, QStringLiteral("不修改 请留空"));
    grid->addWidget(m_save, row++, 1, Qt::AlignLeft);
    grid->setColumnStretch(1, 1);

    auto *layout = new QVBoxLayout(panel);
    layout->addLayout(grid);
    layout->addStretch();

    connect(m_save, &QPushButton::clicked, this, &UserCentre::sendProfileEdit);
    return panel;
}

QWidget *UserCentre::buildBooksPanel()
{
    auto *panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("UserFrame6"));

    m_books = new QTreeWidget(panel);
    m_books->setObjectName(QStringLiteral("ListView1"));
    m_books->setRootIsDecorated(false);
    m_books->setHeaderLabels(UserBookEntry::columnCaptions());
    m_books->setAlternatingRowColors(true);
    // Qt paints Base on even rows: the light blue band comes first, as in the main window's lists.
    QPalette pal = m_books->palette();
    pal.setColor(QPalette::Base, kBandColour);
    pal.setColor(QPalette::AlternateBase, Qt::white);
    m_books->setPalette(pal);
    m_books->header()->setStretchLastSection(false);
    m_books->setColumnWidth(0, 60);
    m_books->setColumnWidth(1, 80);
    m_books->setColumnWidth(2, 180);
    m_books->setColumnWidth(3, 130);
    m_books->setColumnWidth(4, 90);
    m_books->setColumnWidth(5, 80);

    m_first = new ClickLabel(QStringLiteral("首页"), panel);
    m_previous = new ClickLabel(QStringLiteral("上一页"), panel);
    m_next = new ClickLabel(QStringLiteral("下一页"), panel);
    m_last = new ClickLabel(QStringLiteral("最后页"), panel);
    m_pageLabel = new QLabel(QStringLiteral("Loadin..."), panel);
    m_pageBox = new QLineEdit(panel);
    m_pageBox->setFixedWidth(48);
    m_go = new QPushButton(QStringLiteral("Go"), panel);
    m_go->setFixedWidth(40);

    auto *paging = new QHBoxLayout;
    for (QWidget *w :
         {static_cast<QWidget *>(m_first), static_cast<QWidget *>(m_previous), static_cast<QWidget *>(m_next),
          static_cast<QWidget *>(m_last), static_cast<QWidget *>(m_pageLabel), static_cast<QWidget *>(m_pageBox),
          static_cast<QWidget *>(m_go)})
        paging->addWidget(w);
    paging->addStretch();

    auto *layout = new QVBoxLayout(panel);
    layout->addWidget(m_books, 1);
    layout->addLayout(paging);

    connect(m_first, &ClickLabel::clicked, this, &UserCentre::firstPage);
    connect(m_previous, &ClickLabel::clicked, this, &UserCentre::previousPage);
    connect(m_next, &ClickLabel::clicked, this, &UserCentre::nextPage);
    connect(m_last, &ClickLabel::clicked, this, &UserCentre::lastPage);
    connect(m_go, &QPushButton::clicked, this, &UserCentre::goToPage);
    connect(m_pageBox, &QLineEdit::returnPressed, this, &UserCentre::goToPage);
    return panel;
}

void UserCentre::sendCheck()
{
    m_accountSlot->loginHTTP(CheckUrl(m_serverBaseUrl));
    updateLoading();
}

void UserCentre::selectNode(int index)
{
    if (index < 1 || index > NodeCount)
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
    if (index == ControlPanelNode || index == BookManagementNode || index < 1 || index > NodeCount)
        return;
    m_selected = index;
    const QPalette pal = palette();
    for (int i = 1; i <= NodeCount; ++i) {
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
        requestBooks(std::nullopt);
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
    ProfileEditForm form;
    form.userId = m_profile.uid;
    form.newPassword = m_newPassword->text();
    form.email = m_email->text();
    form.qq = m_qq->text();
    form.answer = m_answer->text();
    form.sex = m_male->isChecked() ? Sex::Male : m_female->isChecked() ? Sex::Female : Sex::Undisclosed;
    if (const auto refusal = ValidateProfileEdit(form)) {
        ShowAccountMessage(m_prompter, *refusal);
        return;
    }
    // The sex goes unencoded, so the body holds Chinese text: the server reads it as GB18030.
    m_accountSlot->postForm(AccountEndpoint(m_serverBaseUrl), ToGb18030(ProfileEditBody(form)));
    updateLoading();
}

void UserCentre::copyPromotion()
{
    if (QClipboard *clipboard = QGuiApplication::clipboard()) {
        clipboard->clear();
        clipboard->setText(m_promotion->toPlainText());
    }
    m_prompter.message(QStringLiteral("复制成功!你可以使用 Ctrl+V 粘贴发送给好友分享了！"), Prompter::Icon::None,
                       QStringLiteral("复制成功"));
}

void UserCentre::requestBooks(const std::optional<QString> &page)
{
    m_listSlot->readHTTP(UserBooksUrl(m_serverBaseUrl, m_profile.uname, page));
    updateLoading();
}

void UserCentre::followPageStep(const PageStep &step)
{
    if (step.page)
        requestBooks(*step.page);
    else
        Exclaim(m_prompter, step.message);
}

void UserCentre::firstPage()
{
    followPageStep(FirstPageStep(m_paging));
}

void UserCentre::previousPage()
{
    followPageStep(PreviousPageStep(m_paging));
}

void UserCentre::nextPage()
{
    followPageStep(NextPageStep(m_paging));
}

void UserCentre::lastPage()
{
    followPageStep(LastPageStep(m_paging));
}

void UserCentre::goToPage()
{
    const PageStep step = GoToPageStep(m_paging, m_pageBox->text());
    m_pageBox->clear();
    followPageStep(step);
}

void UserCentre::onAccountAnswer(bool answered, const AccountReply &reply)
{
    updateLoading();
    if (!answered)
        return;
    const AccountOutcome outcome = UserCentreOutcome(reply);
    if (outcome.message)
        ShowAccountMessage(m_prompter, *outcome.message);
    if (outcome.fillProfile) {
        m_profile = reply.profile;
        showProfile();
    }
    if (outcome.showUserInfo)
        selectNode(UserInfoNode);
    if (outcome.openLogin)
        Q_EMIT loginRequested();
    if (outcome.closeWindow)
        close();
}

void UserCentre::showProfile()
{
    m_userName->setText(m_profile.uname);
    m_lastLogin->setText(m_profile.lastdate);
    m_loginCount->setText(m_profile.userlogin);
    m_points->setText(m_profile.userpoint);
    m_gold->setText(m_profile.usermoney);
    m_promotion->setPlainText(m_profile.purl + QStringLiteral("\n\n") + m_profile.pinfo);
    m_editName->setText(m_profile.uname);
    m_email->setText(m_profile.usermail);
    m_qq->setText(m_profile.qq);
    switch (SexFromText(m_profile.sex)) {
    case Sex::Male:
        m_male->setChecked(true);
        break;
    case Sex::Female:
        m_female->setChecked(true);
        break;
    case Sex::Undisclosed:
        m_undisclosed->setChecked(true);
        break;
    }
    m_question->setText(m_profile.question);
}

void UserCentre::onBooksAnswer(const UserBooksAnswer &answer)
{
    updateLoading();
    if (answer.outcome == AnswerOutcome::Ignored)
        return;
    m_books->clear();
    for (const UserBookEntry &entry : answer.entries) {
        auto *item = new QTreeWidgetItem(m_books, entry.cells());
        item->setForeground(2, QColor::fromRgb(TitleCellColor));
        item->setForeground(5, QColor::fromRgb(entry.reviewColor()));
    }
    if (answer.outcome == AnswerOutcome::NoData) {
        Exclaim(m_prompter, NoDataMessage());
        return;
    }
    m_paging = answer.paging;
    m_pageLabel->setText(m_paging.display());
    m_books->setFocus();
}

void UserCentre::updateLoading()
{
    const bool busy = m_accountSlot->isBusy() || m_listSlot->isBusy();
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
