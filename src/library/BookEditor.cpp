#include "library/BookEditor.h"

#include "library/LibraryDb.h"
#include "library/LocalBookFiles.h"
#include "platform/Prompter.h"

#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>

namespace {
const QString kModeSeparator = QStringLiteral(">||<");
const QString kCrLf = QStringLiteral("\r\n");
} // namespace

QString getTxtName(const QString &path)
{
    const QStringList pieces = path.toLower().split(QRegularExpression(QStringLiteral("[\\\\/]")));
    return QString(pieces.last()).remove(QStringLiteral(".txt"));
}

BookEditor::BookEditor(LibraryDb &db, Prompter &prompter, const QString &editorMode, const QString &currentBookPath,
                       QWidget *parent)
    : QDialog(parent), m_db(db), m_prompter(prompter), m_currentBookPath(currentBookPath)
{
    setObjectName(QStringLiteral("BookEditor"));
    setWindowTitle(QStringLiteral("保存电子书 - Folioway"));
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);

    m_title = new QLineEdit(this);
    m_category = new QComboBox(this);
    m_category->addItems(BookCategories());
    m_author = new QLineEdit(this);
    m_path = new QLineEdit(this);
    m_browse = new QPushButton(QStringLiteral("..."), this);
    m_browse->setFixedWidth(32);
    m_missingFile = new QLabel(QStringLiteral("文件不存在"), this);
    m_missingFile->setObjectName(QStringLiteral("MissingFileNote"));
    m_missingFile->setStyleSheet(QStringLiteral("color: red;"));
    QFont small = m_missingFile->font();
    if (small.pointSizeF() > 0)
        small.setPointSizeF(small.pointSizeF() * 0.9);
    m_missingFile->setFont(small);
    // The path box keeps its width whether the note shows or not.
    QSizePolicy keepPlace = m_missingFile->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    m_missingFile->setSizePolicy(keepPlace);
    m_missingFile->hide();
    m_save = new QPushButton(QStringLiteral("确认保存"), this);
    m_cancel = new QPushButton(QStringLiteral("取消"), this);

    auto *pathRow = new QHBoxLayout;
    pathRow->addWidget(m_path, 1);
    pathRow->addWidget(m_browse);
    pathRow->addWidget(m_missingFile);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("书名："), m_title);
    form->addRow(QStringLiteral("类型："), m_category);
    form->addRow(QStringLiteral("作者："), m_author);
    form->addRow(QStringLiteral("所在路径："), pathRow);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_save);
    buttons->addWidget(m_cancel);
    auto *outer = new QVBoxLayout(this);
    outer->addLayout(form);
    outer->addLayout(buttons);
    resize(460, sizeHint().height());

    connect(m_browse, &QPushButton::clicked, this, &BookEditor::browse);
    connect(m_save, &QPushButton::clicked, this, &BookEditor::save);
    connect(m_cancel, &QPushButton::clicked, this, &BookEditor::cancel);
    connect(m_path, &QLineEdit::textChanged, this, &BookEditor::updateMissingFileNote);

    load(editorMode);
}

void BookEditor::load(const QString &editorMode)
{
    if (const QScreen *s = screen()) {
        const QRect area = s->availableGeometry();
        move(area.center() - rect().center());
    }
    const QStringList pieces = editorMode.split(kModeSeparator);
    m_mode = pieces.value(0);
    if (m_mode == QLatin1String("addnew")) {
        setWindowTitle(QStringLiteral("添加电子书"));
        m_category->setCurrentIndex(9);
    } else if (m_mode == QLatin1String("opennew")) {
        m_title->setText(getTxtName(m_currentBookPath));
        m_author->setText(QStringLiteral("佚名"));
        m_path->setText(m_currentBookPath);
        m_category->setCurrentIndex(9);
    } else if (m_mode == QLatin1String("edit")) {
        m_id = pieces.value(1).trimmed().toLongLong();
        const auto row = m_db.findById(m_id);
        m_category->setCurrentIndex(-1);
        if (row) {
            setWindowTitle(QStringLiteral("修改电子书-《%1》").arg(row->name));
            m_title->setText(row->name);
            m_author->setText(row->author);
            m_path->setText(row->path);
            m_category->setCurrentIndex(BookCategories().indexOf(row->type));
        }
    }
}

void BookEditor::browse()
{
    const QString chosen = m_prompter.openFileName(QStringLiteral("添加电子书-Folioway"),
                                                   QStringLiteral("文本文件(*.txt)|*.txt"), LastBookFolder(m_db));
    if (chosen.isEmpty())
        return;
    RememberBookFolder(m_db, chosen);
    m_path->setText(chosen);
}

void BookEditor::updateMissingFileNote()
{
    const QString path = m_path->text().trimmed();
    m_missingFile->setVisible(!path.isEmpty() && !QFileInfo(path).isFile());
}

bool BookEditor::refuse(const QString &text)
{
    const bool edit = m_mode == QLatin1String("edit");
    m_prompter.message(text, Prompter::Icon::Critical, edit ? QStringLiteral("修改失败") : QStringLiteral("添加失败"));
    return false;
}

void BookEditor::save()
{
    const bool edit = m_mode == QLatin1String("edit");
    // The box checks read the same in every mode; only the title says which mode refused.
    const QString failed = QStringLiteral("添加失败：");
    const QString title = m_title->text().trimmed();
    const QString category = m_category->currentText().trimmed();
    QString author = m_author->text().trimmed();
    const QString path = m_path->text().trimmed();

    if (title.isEmpty()) {
        refuse(failed + QStringLiteral("书名不能为空！"));
        return;
    }
    if (category.isEmpty()) {
        refuse(failed + QStringLiteral("电子类别不能为空！"));
        return;
    }
    if (author.isEmpty()) {
        author = QStringLiteral("佚名");
        m_author->setText(author);
    }
    if (path.isEmpty()) {
        refuse(failed + QStringLiteral("电子书路径不能为空！"));
        return;
    }

    // The duplicate checks below are the last refusals: a statement the database rejects does not
    // stop the save, and the success message, the reload and the closing follow all the same.
    if (edit) {
        if (const auto other = m_db.findByPathExcept(path, m_id)) {
            refuse(QStringLiteral("修改失败：") + kCrLf + kCrLf + QStringLiteral("文件：") + path + kCrLf + kCrLf +
                   QStringLiteral("已经存在！-《%1》").arg(other->name));
            return;
        }
        m_db.updateBook(m_id, category, title, author, path);
        m_prompter.message(QStringLiteral("恭喜你：电子书信息修改成功！"), Prompter::Icon::Information,
                           QStringLiteral("修改成功"));
        Q_EMIT shelfChanged();
        close();
        return;
    }

    if (const auto existing = m_db.findByPath(path)) {
        refuse(failed + kCrLf + kCrLf + QStringLiteral("文件：") + path + kCrLf + kCrLf +
               QStringLiteral("已经存在！-《%1》").arg(existing->name));
        return;
    }
    m_db.insertBook(category, title, author, path);
    m_prompter.message(QStringLiteral("恭喜你：电子书添加成功！"), Prompter::Icon::Information,
                       QStringLiteral("添加成功"));
    Q_EMIT shelfChanged();
    if (m_mode == QLatin1String("addnew")) {
        Q_EMIT switchTabRequested(1);
    } else {
        Q_EMIT switchTabRequested(2);
        Q_EMIT openBookRequested(m_currentBookPath);
    }
    close();
}

void BookEditor::cancel()
{
    if (m_mode == QLatin1String("opennew")) {
        Q_EMIT switchTabRequested(2);
        Q_EMIT openBookRequested(m_currentBookPath);
    }
    close();
}
