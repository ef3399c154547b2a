#include "platform/WidgetPrompter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QIdentityProxyModel>
#include <QInputDialog>
#include <QLabel>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTextDocument>
#include <QTextEdit>
#include <QTranslator>
#include <QTreeView>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {
QWidget *parentWindow()
{
    return QApplication::activeWindow();
}

QString titleOr(const QString &title)
{
    return title.isEmpty() ? Prompter::defaultTitle() : title;
}

// "文本文件(*.txt)|*.txt|打包文件(*.rar)|*.rar;*.zip" → one Qt name filter per pair. Qt takes a
// filter's patterns from its last parentheses, blank-separated, and with the details hidden it
// shows only what comes before them: so the caption stays exactly as written even where it
// names fewer patterns than the pair matches.
QStringList nameFilters(const QString &filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        filters.append(parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')'));
    }
    return filters;
}

// The file list's size, type and date columns as Qt's own dialog shows them come from the
// system locale and from strings the installed catalogues leave in English ("Folder", "6 Dec",
// "bytes"); this view of the dialog's model writes them in Chinese. Sorting and filtering stay
// with the file system model underneath.
class ChineseFileDetails : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex &index, int role) const override
    {
        const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel());
        if (role != Qt::DisplayRole || !files || index.column() < SizeColumn)
            return QIdentityProxyModel::data(index, role);
        const QModelIndex source = mapToSource(index);
        static const QLocale chinese(QLocale::Chinese, QLocale::China);
        switch (index.column()) {
        case SizeColumn:
            return files->isDir(source) ? QString() : chinese.formattedDataSize(files->size(source));
        case TypeColumn:
            if (files->isDir(source))
                return QStringLiteral("文件夹");
            break;
        case DateColumn:
            return chinese.toString(files->lastModified(source), QLocale::ShortFormat);
        }
        return QIdentityProxyModel::data(index, role);
    }

private:
    enum { SizeColumn = 1, TypeColumn = 2, DateColumn = 3 };
};

// Qt's own dialog everywhere: a platform dialog would drop the "(…)" part of the filter
// captions and follow the system's language rather than the program's.
void speakChinese(QFileDialog *dialog)
{
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setLocale(QLocale(QLocale::Chinese, QLocale::China));
    auto *details = new ChineseFileDetails(dialog);
    dialog->setProxyModel(details);
    // The size and type columns as wide as what they show ("纯文本文档", "206 KiB"), whenever a
    // folder's files come in.
    if (auto *view = dialog->findChild<QTreeView *>(QStringLiteral("treeView"))) {
        const auto fit = [view] {
            for (const int column : {1, 2})
                view->resizeColumnToContents(column);
        };
        QObject::connect(details, &QAbstractItemModel::rowsInserted, view, fit);
        QObject::connect(details, &QAbstractItemModel::layoutChanged, view, fit);
        QObject::connect(details, &QAbstractItemModel::dataChanged, view, fit);
    }
}

} // namespace

namespace {

QMessageBox::Icon boxIcon(Prompter::Icon icon)
{
    switch (icon) {
    case Prompter::Icon::Critical:
        return QMessageBox::Critical;
    case Prompter::Icon::Exclamation:
        return QMessageBox::Warning;
    case Prompter::Icon::Information:
        return QMessageBox::Information;
    case Prompter::Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

// A message box that keeps to the screen it opens on: the text wraps (anywhere, when a line has
// no other break) at half the screen's width and scrolls once it is taller than three fifths of
// its height, so the buttons stay within reach whatever the text. The text is plain: what a
// server writes is never read as markup.
std::unique_ptr<QDialog> messageBox(QMessageBox::Icon icon, const QString &title, const QString &text,
                                    QDialogButtonBox::StandardButtons buttons)
{
    auto box = std::make_unique<QDialog>(parentWindow());
    box->setWindowTitle(titleOr(title));
    auto *grid = new QGridLayout(box.get());
    grid->setSizeConstraint(QLayout::SetFixedSize);
    if (icon != QMessageBox::NoIcon) {
        auto *picture = new QLabel(box.get());
        picture->setPixmap(QMessageBox::standardIcon(icon));
        grid->addWidget(picture, 0, 0, Qt::AlignTop);
    }

    auto *view = new QTextEdit(box.get());
    view->setObjectName(QStringLiteral("MessageText"));
    view->setReadOnly(true);
    view->setFrameShape(QFrame::NoFrame);
    view->setFocusPolicy(Qt::ClickFocus);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QPalette palette = view->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    view->setPalette(palette);
    view->setPlainText(text);

    const QScreen *screen = box->parentWidget() ? box->parentWidget()->screen() : QGuiApplication::primaryScreen();
    const QRect room = screen ? screen->availableGeometry() : QRect(0, 0, 800, 600);
    // Measured on a copy: the view lays its own document out to whatever size it has now.
    QTextDocument measure;
    measure.setDefaultFont(view->font());
    measure.setDefaultTextOption(view->document()->defaultTextOption());
    measure.setDocumentMargin(view->document()->documentMargin());
    measure.setPlainText(text);
    measure.setTextWidth(std::max(200, room.width() / 2));
    const int width = int(std::ceil(measure.idealWidth() + 2 * measure.documentMargin()));
    measure.setTextWidth(width);
    const int height = int(std::ceil(measure.size().height()));
    const int tallest = std::max(room.height() * 3 / 5, 3 * view->fontMetrics().lineSpacing());
    if (height > tallest)
        view->setFixedSize(width + view->style()->pixelMetric(QStyle::PM_ScrollBarExtent), tallest);
    else
        view->setFixedSize(width, height);
    grid->addWidget(view, 0, 1);

    auto *buttonBox = new QDialogButtonBox(buttons, box.get());
    QObject::connect(buttonBox, &QDialogButtonBox::accepted, box.get(), &QDialog::accept);
    QObject::connect(buttonBox, &QDialogButtonBox::rejected, box.get(), &QDialog::reject);
    grid->addWidget(buttonBox, 1, 0, 1, 2);
    return box;
}

QPushButton *setButton(QDialog &box, QDialogButtonBox::StandardButton which, const QString &caption)
{
    QPushButton *button = box.findChild<QDialogButtonBox *>()->button(which);
    button->setText(caption);
    return button;
}

} // namespace

void WidgetPrompter::message(const QString &text, Icon icon, const QString &title)
{
    const std::unique_ptr<QDialog> box = messageBox(boxIcon(icon), title, text, QDialogButtonBox::Ok);
    QPushButton *ok = setButton(*box, QDialogButtonBox::Ok, QStringLiteral("确定"));
    ok->setDefault(true);
    ok->setFocus();
    box->exec();
}

bool WidgetPrompter::question(const QString &text, const QString &title)
{
    const std::unique_ptr<QDialog> box =
        messageBox(QMessageBox::NoIcon, title, text, QDialogButtonBox::Yes | QDialogButtonBox::No);
    QPushButton *yes = setButton(*box, QDialogButtonBox::Yes, QStringLiteral("是(&Y)"));
    setButton(*box, QDialogButtonBox::No, QStringLiteral("否(&N)"));
    yes->setDefault(true);
    yes->setFocus();
    return box->exec() == QDialog::Accepted;
}

int WidgetPrompter::choose(const QString &text, const QStringList &buttons, const QString &title)
{
    const std::unique_ptr<QDialog> box = messageBox(QMessageBox::NoIcon, title, text, QDialogButtonBox::NoButton);
    auto *row = box->findChild<QDialogButtonBox *>();
    for (int i = 0; i < buttons.size(); ++i) {
        QPushButton *button = row->addButton(buttons.at(i), QDialogButtonBox::ActionRole);
        QObject::connect(button, &QPushButton::clicked, box.get(), [dialog = box.get(), i] { dialog->done(i + 1); });
        if (i == 0) {
            button->setDefault(true);
            button->setFocus();
        }
    }
    const int result = box->exec();
    return result > 0 ? result - 1 : -1;
}

QFileDialog *WidgetPrompter::createOpenFileDialog(QWidget *parent, const QString &title, const QString &filter,
                                                  const QString &startDir)
{
    auto *dialog = new QFileDialog(parent, title, startDir);
    speakChinese(dialog);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setOption(QFileDialog::HideNameFilterDetails);
    dialog->setNameFilters(nameFilters(filter));
    return dialog;
}

QString WidgetPrompter::openFileName(const QString &title, const QString &filter, const QString &startDir)
{
    std::unique_ptr<QFileDialog> dialog(createOpenFileDialog(parentWindow(), title, filter, startDir));
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return {};
    return dialog->selectedFiles().first();
}

QStringList WidgetPrompter::openFileNames(const QString &title, const QString &filter, const QString &startDir)
{
    std::unique_ptr<QFileDialog> dialog(createOpenFileDialog(parentWindow(), title, filter, startDir));
    dialog->setFileMode(QFileDialog::ExistingFiles);
    if (dialog->exec() != QDialog::Accepted)
        return {};
    return dialog->selectedFiles();
}

QString WidgetPrompter::saveFileName(const QString &title, const QString &filter, const QString &startDir)
{
    std::unique_ptr<QFileDialog> dialog(createOpenFileDialog(parentWindow(), title, filter, startDir));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    // A bare name gets the suffix of the first pattern: "CSV 文件(*.csv)|*.csv" gives "csv".
    const QString first = filter.section(QLatin1Char('|'), 1, 1).section(QLatin1Char(';'), 0, 0);
    if (first.startsWith(QLatin1String("*.")) && first.size() > 2 && !first.mid(2).contains(QLatin1Char('*')))
        dialog->setDefaultSuffix(first.mid(2));
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return {};
    return dialog->selectedFiles().first();
}

int WidgetPrompter::pickItem(const QString &title, const QString &label, const QStringList &items, int current)
{
    QInputDialog dialog(parentWindow());
    dialog.setWindowTitle(titleOr(title));
    dialog.setLabelText(label);
    dialog.setComboBoxItems(items);
    dialog.setComboBoxEditable(false);
    if (current >= 0 && current < items.size())
        dialog.setTextValue(items.at(current));
    dialog.setOkButtonText(QStringLiteral("确定"));
    dialog.setCancelButtonText(QStringLiteral("取消"));
    if (dialog.exec() != QDialog::Accepted)
        return -1;
    return int(items.indexOf(dialog.textValue()));
}

QFileDialog *WidgetPrompter::createFolderDialog(QWidget *parent, const QString &prompt, const QString &startDir)
{
    auto *dialog = new QFileDialog(parent, prompt, startDir);
    speakChinese(dialog);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    return dialog;
}

QString WidgetPrompter::folderName(const QString &prompt, const QString &startDir)
{
    std::unique_ptr<QFileDialog> dialog(createFolderDialog(parentWindow(), prompt, startDir));
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return {};
    return dialog->selectedFiles().first();
}

std::optional<unsigned> WidgetPrompter::color(unsigned initialRgb)
{
    const QColor chosen = QColorDialog::getColor(QColor::fromRgb(initialRgb), parentWindow());
    if (!chosen.isValid())
        return std::nullopt;
    return chosen.rgb() & 0xFFFFFFu;
}

bool InstallChineseQtTranslations(QCoreApplication &app)
{
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    // Dates and sizes in the standard dialogs too.
    QLocale::setDefault(chinese);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    bool any = false;
    // "qt" gathers the base, multimedia and other module catalogues; the web view has its own.
    for (const char *catalogue : {"qt", "qtwebengine"}) {
        auto *translator = new QTranslator(&app);
        if (translator->load(chinese, QLatin1String(catalogue), QStringLiteral("_"), folder) &&
            QCoreApplication::installTranslator(translator))
            any = true;
        else
            delete translator;
    }
    return any;
}
