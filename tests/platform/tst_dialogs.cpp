#include "TestSupport.h"
#include "account/Upload.h"
#include "platform/WidgetPrompter.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QListView>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

using namespace Qt::StringLiterals;

// The standard dialogs as the program shows them: in Chinese, and listing the files their
// filters name.
class TestDialogs : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    static QStringList listed(QFileDialog &dialog)
    {
        auto *view = dialog.findChild<QListView *>(u"listView"_s);
        QStringList names;
        for (int row = 0; view && row < view->model()->rowCount(view->rootIndex()); ++row)
            names << view->model()->index(row, 0, view->rootIndex()).data().toString();
        names.sort();
        return names;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(InstallChineseQtTranslations(*qApp));
        for (const QString &name : {u"一.txt"_s, u"二.txt"_s, u"三.txt"_s, u"四.txt"_s, u"合集.zip"_s, u"旧.rar"_s,
                                    u"封面.jpg"_s, u"说明.doc"_s})
            QVERIFY(TestSupport::writeFile(m_dir.filePath(name), "x"));
    }

    void pickersListWhatTheirFiltersName_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<int>("choice");
        QTest::addColumn<QStringList>("captions");
        QTest::addColumn<QStringList>("files");
        const QStringList book{u"电子书文件(*.txt;*.rar;*.zip)"_s, u"TXT文件(*.txt)"_s, u"打包文件(*.rar)"_s};
        const QStringList texts{u"一.txt"_s, u"三.txt"_s, u"二.txt"_s, u"四.txt"_s};
        QTest::newRow("upload book") << BookFileFilter() << 0 << book
                                     << texts + QStringList{u"合集.zip"_s, u"旧.rar"_s};
        QTest::newRow("upload book, text only") << BookFileFilter() << 1 << book << texts;
        // Captioned "(*.rar)" yet matching zip archives too.
        QTest::newRow("upload book, archives") << BookFileFilter() << 2 << book
                                               << QStringList{u"合集.zip"_s, u"旧.rar"_s};
        QTest::newRow("upload cover") << CoverFileFilter() << 0 << QStringList{u"图片文件(*.jpg;*.gif)"_s}
                                      << QStringList{u"封面.jpg"_s};
        QTest::newRow("book editor") << u"文本文件(*.txt)|*.txt"_s << 0 << QStringList{u"文本文件(*.txt)"_s} << texts;
    }
    void pickersListWhatTheirFiltersName()
    {
        QFETCH(QString, filter);
        QFETCH(int, choice);
        QFETCH(QStringList, files);
        files.sort();
        std::unique_ptr<QFileDialog> dialog(
            WidgetPrompter::createOpenFileDialog(nullptr, u"添加电子书-Folioway"_s, filter, m_dir.path()));
        dialog->show();
        auto *types = dialog->findChild<QComboBox *>(u"fileTypeCombo"_s);
        QVERIFY(types);
        QStringList captions;
        for (int i = 0; i < types->count(); ++i)
            captions << types->itemText(i);
        QTEST(captions, "captions");
        dialog->selectNameFilter(dialog->nameFilters().at(choice));
        QTRY_COMPARE(listed(*dialog), files);
    }

    // The toolkit's own texts are Chinese: sizes, types and dates in the file and the folder picker.
    void detailColumnsAreChinese()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(u"子目录"_s) && TestSupport::writeFile(dir.filePath(u"一.txt"_s), "x"));
        for (QFileDialog *made : {WidgetPrompter::createOpenFileDialog(nullptr, {}, u"文本文件(*.txt)|*.txt"_s, dir.path()),
                                  WidgetPrompter::createFolderDialog(nullptr, {}, dir.path())}) {
            std::unique_ptr<QFileDialog> dialog(made);
            QVERIFY(dialog->testOption(QFileDialog::DontUseNativeDialog));
            dialog->show();
            auto *view = dialog->findChild<QTreeView *>(u"treeView"_s);
            const auto latin = [view] {
                QStringList cells;
                for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row)
                    for (int column = 1; column <= 3; ++column)
                        cells << view->model()->index(row, column, view->rootIndex()).data().toString();
                return cells.filter(QRegularExpression(u"[A-Za-z]"_s)).join(u'|') + u'|' + QString::number(cells.size());
            };
            QTRY_COMPARE(latin(), dialog->fileMode() == QFileDialog::Directory ? u"|3"_s : u"|6"_s);
            // The size and type columns show their texts whole ("纯文本文档", not "纯…档").
            for (const int column : {1, 2})
                QTRY_VERIFY2(view->columnWidth(column) >= static_cast<QAbstractItemView *>(view)->sizeHintForColumn(column), qPrintable(QString::number(column)));
        }
    }

    // However long the text, a box stays on the screen with its buttons; the text scrolls.
    void messageBoxes_fitTheScreen_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("update note") << u"更新内容："_s + QString(20000, u'新');
        QTest::newRow("one unbroken line") << QString(20000, u'x');
    }
    void messageBoxes_fitTheScreen()
    {
        QFETCH(QString, text);
        QStringList off; // buttons out of reach
        std::function<void()> answer = [&] {
            QWidget *box = QApplication::activeModalWidget();
            if (!box)
                return QTimer::singleShot(0, answer);
            const QRect screen = box->screen()->availableGeometry();
            for (QPushButton *b : box->findChildren<QPushButton *>()) {
                if (!screen.contains(box->frameGeometry()) ||
                    !screen.contains(QRect(b->mapToGlobal(QPoint()), b->size())))
                    off << b->text();
            }
            box->findChildren<QPushButton *>().last()->click(); // 否
        };
        QTimer::singleShot(0, answer);
        QVERIFY(!WidgetPrompter().question(text));
        QCOMPARE(off, QStringList{});
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
