#pragma once

#include "account/AccountOutcome.h"

#include <QLabel>

class Prompter;
class QLineEdit;
class QWidget;

// Small pieces shared by the account windows.

void CentreOnScreen(QWidget *window);
void ShowAccountMessage(Prompter &prompter, const AccountMessage &message);
// Password boxes show "*" for every typed character, whatever the style's own mask is.
void MaskWithAsterisks(QLineEdit *box);

// A label that acts like a link: the paging labels and "点此免费注册".
class ClickLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ClickLabel(const QString &text, QWidget *parent = nullptr);

Q_SIGNALS:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};
