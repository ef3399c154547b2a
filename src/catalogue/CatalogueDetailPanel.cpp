#include "catalogue/CatalogueDetailPanel.h"

#include "net/NetworkLimits.h"
#include "net/RequestSlot.h"

#include <QBuffer>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

const QSize CoverSize(120, 160);
constexpr int MaxCoverSide = 4096;
constexpr int MaxCachedCovers = 64;

} // namespace

CatalogueDetailPanel::CatalogueDetailPanel(QWidget *parent, QNetworkAccessManager *manager) : QWidget(parent)
{
    setObjectName(QStringLiteral("CatalogueDetail"));
    m_request = new RequestSlot(this, manager);
    m_request->setMaxBodyBytes(NetworkLimits::CoverBytes);
    connect(m_request, &RequestSlot::finished, this, &CatalogueDetailPanel::onCover);

    m_cover = new QLabel(this);
    m_cover->setFixedSize(CoverSize);
    m_cover->setAlignment(Qt::AlignCenter);
    m_name = new QLabel(this);
    m_name->setWordWrap(true);
    QFont bold = m_name->font();
    bold.setBold(true);
    m_name->setFont(bold);
    m_name->setStyleSheet(QStringLiteral("color: #c64f06"));
    m_facts = new QLabel(this);
    m_facts->setWordWrap(true);
    m_memo = new QLabel(this);
    m_memo->setWordWrap(true);
    m_memo->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_memo->setTextFormat(Qt::PlainText);
    auto *memoArea = new QScrollArea(this);
    memoArea->setWidget(m_memo);
    memoArea->setWidgetResizable(true);
    memoArea->setFrameShape(QFrame::NoFrame);
    m_download = new QPushButton(QStringLiteral("下载"), this);
    m_download->setToolTip(QStringLiteral("下载这本书，和双击列表中的这一行相同"));
    connect(m_download, &QPushButton::clicked, this, &CatalogueDetailPanel::downloadRequested);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 0, 0, 0);
    layout->addWidget(m_cover, 0, Qt::AlignHCenter);
    layout->addWidget(m_name);
    layout->addWidget(m_facts);
    layout->addWidget(memoArea, 1);
    layout->addWidget(m_download);
    showEntry(nullptr, {});
}

void CatalogueDetailPanel::showEntry(const CatalogueEntry *entry, const QString &serverBaseUrl)
{
    m_download->setEnabled(entry != nullptr);
    m_title = entry ? BoundedServerText(entry->name, 200) : QString();
    const QString coverAddress = entry ? CoverUrl(serverBaseUrl, entry->cover) : QString();
    m_coverKey = coverAddress.isEmpty() ? QString() : serverBaseUrl + entry->cover.trimmed();
    if (!entry) {
        m_request->abort();
        m_name->clear();
        m_facts->clear();
        m_memo->clear();
        setCover({});
        return;
    }
    m_name->setText(QStringLiteral("《") + m_title + QStringLiteral("》"));
    m_facts->setText(QStringLiteral("作者：") + BoundedServerText(entry->author, 200) + QStringLiteral("\n大小：") +
                     entry->sizeText + QStringLiteral("\n更新：") + BoundedServerText(entry->updatedText, 100));
    m_memo->setText(BoundedServerText(entry->memo));

    const auto cached = m_covers.constFind(m_coverKey);
    if (m_coverKey.isEmpty() || cached != m_covers.cend()) {
        m_request->abort();
        setCover(m_coverKey.isEmpty() ? QPixmap() : *cached);
        return;
    }
    setCover({}); // until the picture arrives
    m_request->get(coverAddress);
}

void CatalogueDetailPanel::onCover(const HttpResult &result)
{
    const QPixmap cover = result.isOk() ? DecodeCover(result.body) : QPixmap();
    if (m_covers.size() >= MaxCachedCovers)
        m_covers.clear();
    // A failure that may pass (no connection) is not remembered.
    if (!result.failed)
        m_covers.insert(m_coverKey, cover);
    setCover(cover);
}

void CatalogueDetailPanel::setCover(const QPixmap &served)
{
    m_served = !served.isNull();
    m_cover->setPixmap(m_served ? served.scaled(CoverSize, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                                : PlaceholderCover(m_title, CoverSize));
}

QPixmap CatalogueDetailPanel::DecodeCover(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > MaxCoverSide || size.height() > MaxCoverSide)
        return {};
    reader.setAllocationLimit(int(qint64(MaxCoverSide) * MaxCoverSide * 4 / (1024 * 1024)));
    // Large pictures are decoded straight at the shown size where the format allows.
    if (reader.supportsOption(QImageIOHandler::ScaledSize) && size.height() > CoverSize.height() * 2)
        reader.setScaledSize(size.scaled(CoverSize * 2, Qt::KeepAspectRatio));
    const QImage image = reader.read();
    return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
}

QPixmap CatalogueDetailPanel::PlaceholderCover(const QString &title, const QSize &size)
{
    QPixmap pixmap(size);
    const QColor base = QColor::fromHsv(int(qHash(title) % 360), 90, 170);
    pixmap.fill(base);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(QRect(0, size.height() * 3 / 4, size.width(), size.height() / 4), base.darker(130));
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(size.height() / 3);
    font.setBold(true);
    painter.setFont(font);
    const QString initial = title.isEmpty() ? QStringLiteral("书") : title.left(title.at(0).isHighSurrogate() ? 2 : 1);
    painter.drawText(QRect(0, 0, size.width(), size.height() * 3 / 4), Qt::AlignCenter, initial);
    font.setPixelSize(12);
    font.setBold(false);
    painter.setFont(font);
    const QString caption = painter.fontMetrics().elidedText(title, Qt::ElideRight, size.width() - 8);
    painter.drawText(QRect(4, size.height() * 3 / 4, size.width() - 8, size.height() / 4), Qt::AlignCenter, caption);
    return pixmap;
}
