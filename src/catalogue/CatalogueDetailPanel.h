#pragma once

#include "catalogue/CatalogueProtocol.h"

#include <QHash>
#include <QPixmap>
#include <QWidget>

class QLabel;
class QNetworkAccessManager;
class QPushButton;
class RequestSlot;
struct HttpResult;

// Beside the catalogue list: the selected book's cover, title, author, size, date and
// description, and a "下载" button that downloads it as a double-click would. A cover is
// fetched from the catalogue's server (at most NetworkLimits::CoverBytes), decoded with a size
// limit and cached for the session; a book without one, or whose cover cannot be fetched or
// read, shows a cover drawn from its title.
class CatalogueDetailPanel : public QWidget
{
    Q_OBJECT
public:
    explicit CatalogueDetailPanel(QWidget *parent = nullptr, QNetworkAccessManager *manager = nullptr);

    // nullptr: nothing selected.
    void showEntry(const CatalogueEntry *entry, const QString &serverBaseUrl);

    // Cover as drawn for a book without one: a colour from the title and its first character.
    static QPixmap PlaceholderCover(const QString &title, const QSize &size);
    // Decodes at most a picture of 4096 × 4096 pixels; a null pixmap for anything else.
    static QPixmap DecodeCover(const QByteArray &bytes);

    QLabel *coverLabel() const { return m_cover; }
    // True while the cover shown is the server's picture rather than a drawn one.
    bool showsServedCover() const { return m_served; }
    QPushButton *downloadButton() const { return m_download; }

Q_SIGNALS:
    void downloadRequested();

private:
    void onCover(const HttpResult &result);
    void setCover(const QPixmap &served);

    RequestSlot *m_request;
    QString m_coverKey; // the shown book's cover on its server, without the request time
    QString m_title;
    bool m_served = false;
    QHash<QString, QPixmap> m_covers; // by key; a null pixmap: that cover failed
    QLabel *m_cover;
    QLabel *m_name;
    QLabel *m_facts;
    QLabel *m_memo;
    QPushButton *m_download;
};
