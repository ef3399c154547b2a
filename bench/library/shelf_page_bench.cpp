// Fills shelf pages of a generated 100,000-book library and prints the median time of one
// page fill (the query plus the 40 list rows), for the first, a middle and the last page
// and for one category.
#include "library/BookshelfPane.h"
#include "library/LibraryDb.h"
#include "platform/Prompter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace {

class SilentPrompter : public Prompter
{
public:
    void message(const QString &, Icon, const QString &) override {}
    bool question(const QString &, const QString &) override { return false; }
    QString openFileName(const QString &, const QString &, const QString &) override { return {}; }
    QString folderName(const QString &, const QString &) override { return {}; }
    std::optional<unsigned> color(unsigned) override { return std::nullopt; }
};

double medianMs(QList<qint64> ns)
{
    std::sort(ns.begin(), ns.end());
    return ns[ns.size() / 2] / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int books = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100000;

    QTemporaryDir dir;
    LibraryDb db;
    if (!db.open(dir.filePath(QStringLiteral("Data.db"))))
        return 1;
    QElapsedTimer timer;
    timer.start();
    QSqlDatabase::database(QStringLiteral("folioway-library")).transaction();
    for (int i = 0; i < books; ++i) {
        const QString type = BookCategories().at(i % 10);
        db.insertBook(type, QStringLiteral("第%1本书：长长的书名用来填满一列").arg(i), QStringLiteral("作者%1").arg(i % 997),
                      QStringLiteral("/home/reader/小说/%1/第%2本书.txt").arg(type).arg(i));
    }
    QSqlDatabase::database(QStringLiteral("folioway-library")).commit();
    std::printf("generated %d books in %.0f ms\n", books, timer.elapsed() * 1.0);

    SilentPrompter prompter;
    BookshelfPane pane(db, prompter);
    pane.resize(1200, 800);
    pane.show();

    const int pages = (books + LibraryDb::ShelfPageSize - 1) / LibraryDb::ShelfPageSize;
    struct Case
    {
        const char *name;
        ShelfQuery query;
        int page;
    };
    const Case cases[] = {{"all books, page 1", {}, 1},
                          {"all books, middle page", {}, pages / 2},
                          {"all books, last page", {}, pages},
                          {"one category, page 100", {BookCategories().at(3)}, 100}};
    for (const Case &c : cases) {
        // Choose the list and the page the way a user does, then time the fill itself.
        pane.ReadList(c.query);
        pane.pageBox()->setText(QString::number(c.page));
        pane.goButton()->click();
        QList<qint64> samples;
        for (int run = 0; run < 41; ++run) {
            QElapsedTimer t;
            t.start();
            pane.ReadList(c.query);
            samples << t.nsecsElapsed();
        }
        std::printf("%-26s median %.2f ms  (indicator %s)\n", c.name, medianMs(samples),
                    qPrintable(pane.pageIndicatorText()));
    }
    return 0;
}
