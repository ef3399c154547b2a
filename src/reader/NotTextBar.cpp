#include "reader/NotTextBar.h"

#include "library/LocalBookFiles.h"
#include "reader/ReadingView.h"
#include "reader/ResumeBar.h"
#include "text/Chapters.h"

#include <QPushButton>

NotTextBar::NotTextBar(ReadingView *view, QObject *parent) : QObject(parent)
{
    m_bar = new ResumeBar(QStringLiteral("用批量导入打开"), QStringLiteral("把压缩包里的TXT电子书解压出来，加入书架"),
                          view);
    m_bar->setObjectName(QStringLiteral("NotTextBar"));
    view->insertAbovePage(m_bar);
    connect(m_bar, &ResumeBar::resumeRequested, this, [this] { Q_EMIT batchImportRequested({m_path}); });
}

void NotTextBar::bookOpened(const ChapterList &book)
{
    m_path = book.path;
    QString what;
    switch (book.fileProblem) {
    case BookFileProblem::None:
    case BookFileProblem::Empty:
        m_bar->hide();
        return;
    case BookFileProblem::Executable:
        what = QStringLiteral("，而是一个程序");
        break;
    case BookFileProblem::Archive:
        what = QStringLiteral("，而是一个压缩包");
        break;
    case BookFileProblem::Binary:
        break;
    }
    m_bar->resumeButton()->setVisible(!UnpackableArchiveSuffix(book.path).isEmpty());
    m_bar->offer(QStringLiteral("这个文件看起来不是文本") + what + QStringLiteral("，下面显示的可能是乱码。"));
}
