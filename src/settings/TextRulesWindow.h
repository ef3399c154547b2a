#pragma once

#include "text/TextRules.h"

#include <QDialog>

class LibraryDb;
class Prompter;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTableWidget;

// The clean-up rules (净化规则): the list, each with its switch, and a form for the one picked
// or a new one. A switch flipped in the list is kept at once; the form is kept by "保存规则",
// which refuses an expression the engine cannot use and says why. Opened from a book, a rule
// can be kept for that book only.
class TextRulesWindow : public QDialog
{
    Q_OBJECT
public:
    TextRulesWindow(LibraryDb &db, Prompter &prompter, const QString &bookPath = {}, QWidget *parent = nullptr);

    QTableWidget *ruleList() const { return m_list; }
    QLineEdit *nameBox() const { return m_name; }
    QLineEdit *patternBox() const { return m_pattern; }
    QCheckBox *regexSwitch() const { return m_regex; }
    QComboBox *scopeBox() const { return m_scope; }
    QCheckBox *enabledSwitch() const { return m_enabled; }
    QPushButton *newButton() const { return m_new; }
    QPushButton *saveButton() const { return m_save; }

Q_SIGNALS:
    // A rule was added, changed, switched or removed.
    void rulesChanged();

private:
    void reload(qint64 select = 0);
    void pick();
    void clearForm();
    void save();
    void remove();

    LibraryDb &m_db;
    Prompter &m_prompter;
    QString m_bookPath;
    QList<TextRule> m_rules;
    qint64 m_editing = 0;
    bool m_filling = false;

    QTableWidget *m_list;
    QLineEdit *m_name;
    QLineEdit *m_pattern;
    QCheckBox *m_regex;
    QLineEdit *m_replacement;
    QComboBox *m_scope;
    QCheckBox *m_enabled;
    QPushButton *m_new;
    QPushButton *m_save;
    QPushButton *m_delete;
};
