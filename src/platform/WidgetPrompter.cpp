#include "platform/WidgetPrompter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>

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
    dialog->setProxyModel(new ChineseFileDetails(dialog));
}

} // namespace

void WidgetPrompter::message(const QString &text, Icon icon, const QString &title)
{
    QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
    switch (icon) {
    case Icon::Critical:
        boxIcon = QMessageBox::Critical;
        break;
    case Icon::Exclamation:
        boxIcon = QMessageBox::Warning;
        break;
    case Icon::Information:
        boxIcon = QMessageBox::Information;
        break;
    case Icon::None:
        break;
    }
    QMessageBox box(boxIcon, titleOr(title), text, QMessageBox::Ok, parentWindow());
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    box.exec();
}

bool WidgetPrompter::question(const QString &text, const QString &title)
{
    QMessageBox box(QMessageBox::NoIcon, titleOr(title), text, QMessageBox::Yes | QMessageBox::No, parentWindow());
    box.button(QMessageBox::Yes)->setText(QStringLiteral("是(&Y)"));
    box.button(QMessageBox::No)->setText(QStringLiteral("否(&N)"));
    return box.exec() == QMessageBox::Yes;
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
