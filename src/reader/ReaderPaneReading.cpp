#include "reader/ReaderPane.h"

#include "library/LibraryDb.h"
#include "reader/ResumeBar.h"

#include <QActionGroup>
#include <QFileInfo>
#include <QMenu>

// How a book is read, per book: "智能分章" and the encoding, both kept in the Options table under
// the book's path and both changed from the reading menu.

namespace {

QString readingOptionName(const QString &path)
{
    return QStringLiteral("BookReading:") + QFileInfo(path).absoluteFilePath();
}

// The encoding items, by the name each stands for; the empty name is detection.
const struct
{
    const char *objectName;
    const char *caption;
    const char *encoding;
} EncodingItems[] = {{"Menue_EncodingAuto", "自动识别编码", ""},
                     {"Menue_EncodingGB18030", "以 GB18030 重新打开", "GB18030"},
                     {"Menue_EncodingUTF8", "以 UTF-8 重新打开", "UTF-8"},
                     {"Menue_EncodingUTF16", "以 UTF-16 重新打开", "UTF-16"},
                     {"Menue_EncodingBig5", "以 Big5 重新打开", "Big5"}};

} // namespace

void ReaderPane::buildReadingModeItems()
{
    m_readingMenu->addSeparator();
    QAction *smart = m_readingMenu->addAction(QStringLiteral("智能分章"));
    smart->setObjectName(QStringLiteral("Menue_SmartChapters"));
    smart->setCheckable(true);
    smart->setToolTip(QStringLiteral("按句子把很长的行分成段落，在长行中找出章节，去掉目录页和误认的章节（只对本书）"));
    connect(smart, &QAction::triggered, this, &ReaderPane::setSmartChapters);

    m_encodingMenu = m_readingMenu->addMenu(QStringLiteral("文字编码"));
    m_encodingMenu->setObjectName(QStringLiteral("Menue_Encoding"));
    auto *group = new QActionGroup(m_encodingMenu);
    for (const auto &item : EncodingItems) {
        QAction *a = m_encodingMenu->addAction(QString::fromUtf8(item.caption));
        a->setObjectName(QString::fromLatin1(item.objectName));
        a->setCheckable(true);
        group->addAction(a);
        const QString name = QString::fromLatin1(item.encoding);
        connect(a, &QAction::triggered, this, [this, name] {
            setBookEncoding(name.isEmpty() ? std::nullopt : EncodingFromName(name));
        });
    }
    readingMenuItem(QStringLiteral("Menue_EncodingAuto"))->setChecked(true);
}

BookReading ReaderPane::storedReading(const QString &path) const
{
    return BookReading::fromText(m_db.option(readingOptionName(path)));
}

void ReaderPane::setSmartChapters(bool on)
{
    BookReading reading = m_reading;
    reading.smart = on;
    m_skipEmptyFirst = on;
    reopenWith(reading);
}

void ReaderPane::setBookEncoding(std::optional<TextEncoding> encoding)
{
    BookReading reading = m_reading;
    reading.encoding = encoding;
    reopenWith(reading);
}

void ReaderPane::reopenWith(const BookReading &reading)
{
    if (m_chaptersPath.isEmpty()) {
        showReadingMode({});
        return;
    }
    m_db.setOption(readingOptionName(m_chaptersPath), reading.toText());
    const int shown = m_shownPosition;
    openBook(m_chaptersPath, shown >= 1 && shown <= m_entries.size() ? m_entries.at(shown - 1).title : QString());
}

void ReaderPane::showReadingMode(const ChapterList &list)
{
    m_reading = list.reading;
    readingMenuItem(QStringLiteral("Menue_SmartChapters"))->setChecked(m_reading.smart);
    const QString chosen = m_reading.encoding ? EncodingName(*m_reading.encoding) : QString();
    for (const auto &item : EncodingItems) {
        const QString name = QString::fromLatin1(item.encoding);
        const bool utf16 = name == u"UTF-16" && chosen.startsWith(u"UTF-16");
        readingMenuItem(QString::fromLatin1(item.objectName))->setChecked(name == chosen || utf16);
    }
    if (list.smartWouldHelp)
        m_smartBar->offer(QStringLiteral("这本书只找到一章，而且有很长的行。“智能分章”可以按句子分段，并在长行中找出章节。"));
    else
        m_smartBar->hide();
}
