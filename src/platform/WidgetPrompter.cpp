#include "platform/WidgetPrompter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace {
QWidget *parentWindow()
{
    return QApplication::activeWindow();
}

QString titleOr(const QString &title)
{
    return title.isEmpty() ? Prompter::defaultTitle() : title;
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

QString WidgetPrompter::openFileName(const QString &title, const QString &filter, const QString &startDir)
{
    return QFileDialog::getOpenFileName(parentWindow(), title, startDir, filter);
}

QString WidgetPrompter::folderName(const QString &prompt, const QString &startDir)
{
    return QFileDialog::getExistingDirectory(parentWindow(), prompt, startDir);
}

std::optional<unsigned> WidgetPrompter::color(unsigned initialRgb)
{
    const QColor chosen = QColorDialog::getColor(QColor::fromRgb(initialRgb), parentWindow());
    if (!chosen.isValid())
        return std::nullopt;
    return chosen.rgb() & 0xFFFFFFu;
}
