#pragma once

#include "reader/ChapterLoader.h"

#include <QWidget>

#include <functional>

class LibraryDb;
class Prompter;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;

// The window of the reader's own chapter rules: a list of heading expressions kept in the
// library, each added, changed or removed here, and a preview of what the one being edited makes
// of the open book (worked out off the user-interface thread) before it is used for the book.
// An expression the engine refuses is never kept; its message is shown instead.
class ChapterRulesWindow : public QWidget
{
    Q_OBJECT
public:
    ChapterRulesWindow(LibraryDb &db, Prompter &prompter, QWidget *parent = nullptr);

    // The book the preview is made for, read as `reading` but for its rule.
    void setBook(const QString &path, const BookReading &reading);

    QListWidget *ruleList() const { return m_list; }
    QLineEdit *nameBox() const { return m_name; }
    QLineEdit *expressionBox() const { return m_expression; }
    QPlainTextEdit *previewBox() const { return m_preview; }

    // Each takes the boxes' text; a refused expression is reported and changes nothing.
    bool addRule();
    bool saveRule();
    void removeRule();
    // Starts the preview of the expression in the box; previewReady() when it is shown.
    bool preview();

Q_SIGNALS:
    void rulesChanged();
    void ruleChosen(const QString &expression);
    void previewReady();

private:
    bool checked(QString *expression);
    void reload(qint64 selectId);
    void showSelected();

    LibraryDb &m_db;
    Prompter &m_prompter;
    QString m_path;
    BookReading m_reading;
    ChapterLoader m_loader;
    QListWidget *m_list;
    QLineEdit *m_name;
    QLineEdit *m_expression;
    QLabel *m_bookLabel;
    QPlainTextEdit *m_preview;
};

// Adds the "分章规则" submenu to `menu`: "默认规则" (the built-in rule), the reader's own rules,
// the one `current` names checked, and "管理分章规则..." which calls `manage`.
QMenu *AddChapterRuleMenu(QMenu *menu, LibraryDb &db, std::function<QString()> current,
                          std::function<void(const QString &)> choose, std::function<void()> manage);
