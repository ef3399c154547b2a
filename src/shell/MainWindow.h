#pragma once

#include "startup/AppContext.h"

#include <QWidget>

class Prompter;

class MainWindow : public QWidget
{
    Q_OBJECT
public:
    MainWindow(AppContext &ctx, Prompter &prompter, QWidget *parent = nullptr);
    void load();

Q_SIGNALS:
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    AppContext &m_ctx;
    Prompter &m_prompter;
};
