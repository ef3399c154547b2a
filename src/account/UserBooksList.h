#pragma once

#include "catalogue/CatalogueProtocol.h"

#include <QWidget>

#include <functional>
#include <optional>

class ClickLabel;
class Prompter;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class RequestSlot;
struct PageStep;

// The user centre's "我上传的电子书" panel: the books the user uploaded, one page at a time, with
// the paging row under the list. It sends its own request, independent of the account request,
// and keeps the paging the last answer gave.
class UserBooksList : public QWidget
{
    Q_OBJECT
public:
    // userName is asked at each request: the profile arrives after the panel is built.
    UserBooksList(const QString &serverBaseUrl, Prompter &prompter, std::function<QString()> userName,
                  QWidget *parent = nullptr);

    // Asks for a page; no page: the one the server starts with.
    void request(const std::optional<QString> &page);
    bool isBusy() const;

    const CataloguePaging &paging() const { return m_paging; }
    RequestSlot *requestSlot() const { return m_slot; }

    QTreeWidget *bookList() const { return m_books; }
    ClickLabel *firstPageLabel() const { return m_first; }
    ClickLabel *previousPageLabel() const { return m_previous; }
    ClickLabel *nextPageLabel() const { return m_next; }
    ClickLabel *lastPageLabel() const { return m_last; }
    QLabel *pageLabel() const { return m_pageLabel; }
    QLineEdit *pageBox() const { return m_pageBox; }
    QPushButton *goButton() const { return m_go; }

Q_SIGNALS:
    // A request went out or its answer came back: the owner's loading sign follows isBusy().
    void busyChanged();

private:
    void goToPage();
    void followPageStep(const PageStep &step);
    void onAnswer(const UserBooksAnswer &answer);

    QString m_serverBaseUrl;
    Prompter &m_prompter;
    std::function<QString()> m_userName;
    CataloguePaging m_paging;
    RequestSlot *m_slot = nullptr;

    QTreeWidget *m_books = nullptr;
    ClickLabel *m_first = nullptr;
    ClickLabel *m_previous = nullptr;
    ClickLabel *m_next = nullptr;
    ClickLabel *m_last = nullptr;
    QLabel *m_pageLabel = nullptr;
    QLineEdit *m_pageBox = nullptr;
    QPushButton *m_go = nullptr;
};
