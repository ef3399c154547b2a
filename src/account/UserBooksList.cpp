#include "account/UserBooksList.h"

#include "account/AccountWidgets.h"
#include "catalogue/CatalogueNavigation.h"
#include "net/AnswerReader.h"
#include "net/RequestSlot.h"
#include "platform/Prompter.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const QColor kBandColour(236, 246, 255);

} // namespace

UserBooksList::UserBooksList(const QString &serverBaseUrl, Prompter &prompter, std::function<QString()> userName,
                             QWidget *parent)
    : QWidget(parent), m_serverBaseUrl(serverBaseUrl), m_prompter(prompter), m_userName(std::move(userName))
{
    setObjectName(QStringLiteral("UserFrame6"));

    m_books = new QTreeWidget(this);
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

    m_first = new ClickLabel(QStringLiteral("首页"), this);
    m_previous = new ClickLabel(QStringLiteral("上一页"), this);
    m_next = new ClickLabel(QStringLiteral("下一页"), this);
    m_last = new ClickLabel(QStringLiteral("最后页"), this);
    m_pageLabel = new QLabel(QStringLiteral("Loadin..."), this);
    m_pageBox = new QLineEdit(this);
    m_pageBox->setFixedWidth(48);
    m_go = new QPushButton(QStringLiteral("Go"), this);
    m_go->setFixedWidth(40);

    auto *paging = new QHBoxLayout;
    for (QWidget *w :
         {static_cast<QWidget *>(m_first), static_cast<QWidget *>(m_previous), static_cast<QWidget *>(m_next),
          static_cast<QWidget *>(m_last), static_cast<QWidget *>(m_pageLabel), static_cast<QWidget *>(m_pageBox),
          static_cast<QWidget *>(m_go)})
        paging->addWidget(w);
    paging->addStretch();

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_books, 1);
    layout->addLayout(paging);

    connect(m_first, &ClickLabel::clicked, this, [this] { followPageStep(FirstPageStep(m_paging)); });
    connect(m_previous, &ClickLabel::clicked, this, [this] { followPageStep(PreviousPageStep(m_paging)); });
    connect(m_next, &ClickLabel::clicked, this, [this] { followPageStep(NextPageStep(m_paging)); });
    connect(m_last, &ClickLabel::clicked, this, [this] { followPageStep(LastPageStep(m_paging)); });
    connect(m_go, &QPushButton::clicked, this, &UserBooksList::goToPage);
    connect(m_pageBox, &QLineEdit::returnPressed, this, &UserBooksList::goToPage);

    m_slot = new RequestSlot(this);
    // Answers are read off the window's thread.
    auto *answers = new AnswerReader(this);
    connect(m_slot, &RequestSlot::finished, answers, [this, answers](const HttpResult &result) {
        answers->read(
            [result, paging = m_paging] {
                return ParseUserBooksAnswer(result.failed ? 0 : result.status, result.body, paging);
            },
            [this](const UserBooksAnswer &answer) { onAnswer(answer); });
    });
}

bool UserBooksList::isBusy() const
{
    return m_slot->isBusy();
}

void UserBooksList::request(const std::optional<QString> &page)
{
    m_slot->readHTTP(UserBooksUrl(m_serverBaseUrl, m_userName(), page));
    Q_EMIT busyChanged();
}

void UserBooksList::followPageStep(const PageStep &step)
{
    if (step.page)
        request(*step.page);
    else
        m_prompter.message(step.message, Prompter::Icon::Exclamation);
}

void UserBooksList::goToPage()
{
    const PageStep step = GoToPageStep(m_paging, m_pageBox->text());
    m_pageBox->clear();
    followPageStep(step);
}

void UserBooksList::onAnswer(const UserBooksAnswer &answer)
{
    Q_EMIT busyChanged();
    if (answer.outcome == AnswerOutcome::Ignored)
        return;
    m_books->clear();
    for (const UserBookEntry &entry : answer.entries) {
        auto *item = new QTreeWidgetItem(m_books, entry.cells());
        item->setForeground(2, QColor::fromRgb(TitleCellColor));
        item->setForeground(5, QColor::fromRgb(entry.reviewColor()));
    }
    if (answer.outcome == AnswerOutcome::NoData) {
        m_prompter.message(NoDataMessage(), Prompter::Icon::Exclamation);
        return;
    }
    m_paging = answer.paging;
    m_pageLabel->setText(m_paging.display());
    m_books->setFocus();
}
