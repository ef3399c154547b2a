#include "library/BookMenu.h"
#include "library/CatalogueOrigins.h"

#include "library/LibraryDb.h"
#include "library/LocalBookFiles.h"
#include "platform/Prompter.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

BookMenu::BookMenu(LibraryDb &db, Prompter &prompter, QWidget *parent)
    : QMenu(QStringLiteral("电子书操作"), parent), m_db(db), m_prompter(prompter),
      m_openFolder([](const QString &folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); })
{
    setObjectName(QStringLiteral("BookContrl"));
    const struct
    {
        const char *name;
        const char *caption;
    } items[] = {{"Menue_TopRead", "开始阅读"},      {"Menue_SQRead", "从书签处阅读"},
                 {"Menue_ModBookInfo", "修改本书信息"}, {"GotoForlder", "跳转到所在目录"},
                 {"SendShare", "共享到网络服务器"},  {"Menue_DelBook", "从列表中删除"}};
    bool first = true;
    for (const auto &it : items) {
        if (!first)
            addSeparator();
        first = false;
        QAction *a = addAction(QString::fromUtf8(it.caption));
        a->setObjectName(QString::fromLatin1(it.name));
    }
    connect(item(QStringLiteral("Menue_TopRead")), &QAction::triggered, this, &BookMenu::readFromStart);
    connect(item(QStringLiteral("Menue_SQRead")), &QAction::triggered, this,
            [this] { Q_EMIT openBookRequested(m_book.path, m_book.marke); });
    connect(item(QStringLiteral("Menue_ModBookInfo")), &QAction::triggered, this,
            [this] { Q_EMIT editRequested(QStringLiteral("edit>||<%1").arg(m_book.id)); });
    connect(item(QStringLiteral("GotoForlder")), &QAction::triggered, this,
            [this] { m_openFolder(folderOf(m_book.path)); });
    connect(item(QStringLiteral("SendShare")), &QAction::triggered, this, [this] { Q_EMIT shareRequested(m_book.id); });
    connect(item(QStringLiteral("Menue_DelBook")), &QAction::triggered, this, &BookMenu::removeFromShelf);
    setShareEnabled(false);

    // Newer copies of books downloaded from the catalogue, after the items above.
    addSeparator();
    QAction *check = addAction(QStringLiteral("检查更新"));
    check->setObjectName(QStringLiteral("Menue_CheckUpdates"));
    connect(check, &QAction::triggered, this, &BookMenu::checkUpdatesRequested);
    QAction *update = addAction(QStringLiteral("更新本书"));
    update->setObjectName(QStringLiteral("Menue_UpdateBook"));
    connect(update, &QAction::triggered, this, [this] { Q_EMIT updateBookRequested(m_book.id); });
}

QAction *BookMenu::item(const QString &name) const
{
    return findChild<QAction *>(name);
}

void BookMenu::setShareEnabled(bool enabled)
{
    item(QStringLiteral("SendShare"))->setEnabled(enabled);
}

void BookMenu::setBook(const BookRecord &book)
{
    m_book = book;
    item(QStringLiteral("Menue_UpdateBook"))->setEnabled(BooksWithUpdates(m_db).contains(book.id));
}

void BookMenu::popupFor(const BookRecord &book, const QPoint &globalPos)
{
    setBook(book);
    popup(globalPos);
}

QString BookMenu::folderOf(const QString &path)
{
    const qsizetype cut = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    QString folder = cut >= 0 ? path.left(cut + 1) : QString();
    folder.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
    return folder;
}

void BookMenu::readFromStart()
{
    if (!QFileInfo(m_book.path).isFile()) {
        m_prompter.message(MissingBookMessage(m_book.path), Prompter::Icon::Critical, BookOpenFailedTitle());
        return;
    }
    Q_EMIT openBookRequested(m_book.path, QString());
}

void BookMenu::removeFromShelf()
{
    if (!m_prompter.question(QStringLiteral("是否真要将《%1》从列表中移除！").arg(m_book.name),
                             QStringLiteral("确认删除")))
        return;
    m_db.deleteBook(m_book.id);
    Q_EMIT shelfChanged();
}
