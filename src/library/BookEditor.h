#pragma once

#include <QDialog>

class LibraryDb;
class Prompter;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Title derived from a file path: the file name in lower case without any ".txt".
QString getTxtName(const QString &path);

// Adds a local book to the shelf or edits a book's record. The mode is read once when the
// dialog is made: "addnew", "opennew" (the book the reader has just opened) or "edit>||<" + id.
class BookEditor : public QDialog
{
    Q_OBJECT
public:
    BookEditor(LibraryDb &db, Prompter &prompter, const QString &editorMode, const QString &currentBookPath,
               QWidget *parent = nullptr);

    QString mode() const { return m_mode; }
    QLineEdit *titleBox() const { return m_title; }
    QComboBox *categoryBox() const { return m_category; }
    QLineEdit *authorBox() const { return m_author; }
    QLineEdit *pathBox() const { return m_path; }
    QPushButton *browseButton() const { return m_browse; }
    // "文件不存在" beside the path box while the typed path names no file; the save goes on.
    QLabel *missingFileNote() const { return m_missingFile; }
    QPushButton *saveButton() const { return m_save; }
    QPushButton *cancelButton() const { return m_cancel; }

Q_SIGNALS:
    void shelfChanged();
    void switchTabRequested(int tab);
    // Open a book from its start; the reader takes it from here.
    void openBookRequested(const QString &path);

private:
    void load(const QString &editorMode);
    void browse();
    void save();
    void cancel();
    bool refuse(const QString &text);
    void updateMissingFileNote();

    LibraryDb &m_db;
    Prompter &m_prompter;
    QString m_mode;
    qint64 m_id = -1;
    QString m_currentBookPath;

    QLineEdit *m_title;
    QComboBox *m_category;
    QLineEdit *m_author;
    QLineEdit *m_path;
    QPushButton *m_browse;
    QLabel *m_missingFile;
    QPushButton *m_save;
    QPushButton *m_cancel;
};
