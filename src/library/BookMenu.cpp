#include "library/BookMenu.h"
#include "library/CatalogueOrigins.h"
#include "library/EpubExport.h"

#include "library/LibraryDb.h"
#include "library/LocalBookFiles.h"
#include "platform/Prompter.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QSaveFile>
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

    // For a row whose file was moved: the shelf marks such rows, and opening one only says the
    // file is gone.
    addSeparator();
    QAction *relocate = addAction(QStringLiteral("重新定位文件…"));
    relocate->setObjectName(QStringLiteral("Menue_Relocate"));
    connect(relocate, &QAction::triggered, this, [this] {
        if (!RelocateBook(m_db, m_prompter, m_book.id).isEmpty())
            Q_EMIT shelfChanged();
    });

    const struct
    {
        const char *name;
        const char *caption;
        void (BookMenu::*action)();
    } several[] = {{"BatchCategory", "批量修改类别…", &BookMenu::changeCategoryOfSelection},
                   {"BatchRemove", "从书架移除…", &BookMenu::removeSelection},
                   {"ExportList", "导出列表…", &BookMenu::exportSelection}};
    for (const auto &it : several) {
        m_selectionItems << addSeparator();
        QAction *a = addAction(QString::fromUtf8(it.caption));
        a->setObjectName(QString::fromLatin1(it.name));
        connect(a, &QAction::triggered, this, it.action);
        m_selectionItems << a;
    }
    // Newer copies of books downloaded from the catalogue, after the items above.
    addSeparator();
    QAction *check = addAction(QStringLiteral("检查更新"));
    check->setObjectName(QStringLiteral("Menue_CheckUpdates"));
    connect(check, &QAction::triggered, this, &BookMenu::checkUpdatesRequested);
    QAction *update = addAction(QStringLiteral("更新本书"));
    update->setObjectName(QStringLiteral("Menue_UpdateBook"));
    connect(update, &QAction::triggered, this, [this] { Q_EMIT updateBookRequested(m_book.id); });
    // The account's own copy on its server, for reading in the browser there.
    addSeparator();
    QAction *keep = addAction(QStringLiteral("放到我的服务器"));
    keep->setObjectName(QStringLiteral("Menue_PrivateCopy"));
    keep->setToolTip(QStringLiteral("把书的文件传到服务器上只给自己的账号，在手机浏览器里也能读；不进入审核，也不进入网络书库"));
    connect(keep, &QAction::triggered, this, [this] {
        const bool among = std::any_of(m_selection.begin(), m_selection.end(),
                                       [this](const BookRecord &b) { return b.id == m_book.id; });
        Q_EMIT privateCopyRequested(among && m_selection.size() > 1 ? m_selection : QList<BookRecord>{m_book});
    });
    setPrivateCopyEnabled(false);
    // The book, or the selected rows, as EPUB files for reading devices and apps.
    QAction *epub = addAction(QStringLiteral("导出为EPUB…"));
    epub->setObjectName(QStringLiteral("Menue_ExportEpub"));
    connect(epub, &QAction::triggered, this, [this] {
        if (!m_epubExport)
            m_epubExport = new EpubExport(m_db, m_prompter, parentWidget() ? parentWidget() : this);
        m_epubExport->exportBooks(m_selection.size() > 1 ? m_selection : QList<BookRecord>{m_book});
    });
    setSelection({});
}

void BookMenu::setSelection(const QList<BookRecord> &books)
{
    m_selection = books;
    for (QAction *a : std::as_const(m_selectionItems))
        a->setVisible(books.size() > 1);
}

QAction *BookMenu::item(const QString &name) const
{
    return findChild<QAction *>(name);
}

void BookMenu::setShareEnabled(bool enabled)
{
    item(QStringLiteral("SendShare"))->setEnabled(enabled);
}

void BookMenu::setPrivateCopyEnabled(bool enabled)
{
    item(QStringLiteral("Menue_PrivateCopy"))->setEnabled(enabled);
}

void BookMenu::setBook(const BookRecord &book)
{
    m_book = book;
    item(QStringLiteral("Menue_Relocate"))->setEnabled(!QFileInfo(book.path).isFile());
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

void BookMenu::changeCategoryOfSelection()
{
    const QStringList categories = BookCategories();
    const int chosen = m_prompter.pickItem(QStringLiteral("批量修改类别"),
                                         QStringLiteral("把选中的 %1 本书改为：").arg(m_selection.size()), categories,
                                         int(categories.indexOf(m_selection.value(0).type)));
    if (chosen < 0 || chosen >= categories.size())
        return;
    for (const BookRecord &book : std::as_const(m_selection)) {
        if (const std::optional<BookRecord> row = m_db.findById(book.id))
            m_db.updateBook(row->id, categories.at(chosen), row->name, row->author, row->path);
    }
    Q_EMIT shelfChanged();
}

void BookMenu::removeSelection()
{
    if (!m_prompter.question(
            QStringLiteral("是否真要将选中的 %1 本书从书架移除？\r\n书的文件仍留在磁盘上。").arg(m_selection.size()),
            QStringLiteral("确认删除")))
        return;
    for (const BookRecord &book : std::as_const(m_selection))
        m_db.deleteBook(book.id);
    Q_EMIT shelfChanged();
}

namespace {

QString csvField(const QString &text)
{
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') && !text.contains(u'\r'))
        return text;
    return u'"' + QString(text).replace(QStringLiteral("\""), QStringLiteral("\"\"")) + u'"';
}

} // namespace

void BookMenu::exportSelection()
{
    QString file = m_prompter.saveFileName(QStringLiteral("导出书单 - Folioway"),
                                           QStringLiteral("CSV 文件(*.csv)|*.csv"), LastBookFolder(m_db));
    if (file.isEmpty())
        return;
    if (QFileInfo(file).suffix().isEmpty())
        file += QStringLiteral(".csv");
    QStringList lines{QStringLiteral("ID,类别,书名,作者,书签,最近阅读,文件地址,进度")};
    for (const BookRecord &shown : std::as_const(m_selection)) {
        const BookRecord book = m_db.findById(shown.id).value_or(shown);
        const std::optional<ReadingPosition> read = m_db.readingPosition(book.path);
        QStringList cells{QString::number(book.id),
                          book.type,
                          book.name,
                          book.author,
                          book.marke,
                          book.lastread.isValid() ? book.lastread.toString(QStringLiteral("yyyy/M/d hh:mm"))
                                                  : QString(),
                          book.path,
                          read ? QStringLiteral("%1%").arg(read->progressPercent()) : QString()};
        for (QString &cell : cells)
            cell = csvField(cell);
        lines << cells.join(u',');
    }
    QSaveFile out(file);
    // With the byte-order mark spreadsheet programs read the Chinese text as UTF-8.
    const QByteArray bytes = "\xEF\xBB\xBF" + lines.join(QStringLiteral("\r\n")).toUtf8() + "\r\n";
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
        m_prompter.message(QStringLiteral("无法写入文件：") + file + QStringLiteral("\r\n") + out.errorString(),
                           Prompter::Icon::Critical);
}
