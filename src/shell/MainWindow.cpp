#include "shell/MainWindow.h"

#include <QCloseEvent>

MainWindow::MainWindow(AppContext &ctx, Prompter &prompter, QWidget *parent)
    : QWidget(parent), m_ctx(ctx), m_prompter(prompter)
{
}

void MainWindow::load()
{
    show();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
    Q_EMIT closed();
}
