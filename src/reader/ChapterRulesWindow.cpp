#include "reader/ChapterRulesWindow.h"

#include "library/LibraryDb.h"
#include "platform/Prompter.h"
#include "text/HeadingExpression.h"

#include <QActionGroup>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

ChapterRulesWindow::ChapterRulesWindow(LibraryDb &db, Prompter &prompter, QWidget *parent)
    : QWidget(parent, Qt::Window), m_db(db), m_prompter(prompter)
{
    setObjectName(QStringLiteral("ChapterRulesWindow"));
    setWindowTitle(QStringLiteral("分章规则"));
    m_list = new QListWidget(this);
    m_name = new QLineEdit(this);
    m_expression = new QLineEdit(this);
    m_expression->setPlaceholderText(QStringLiteral("例如 ^【[一二三四五六七八九十百千0-9]+】"));
    m_bookLabel = new QLabel(this);
    m_bookLabel->setWordWrap(true);
    m_preview = new QPlainTextEdit(this);
    m_preview->setReadOnly(true);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("名称："), m_name);
    form->addRow(QStringLiteral("表达式："), m_expression);
    auto *hint = new QLabel(QStringLiteral("ECMAScript 正则表达式，不分大小写，逐行匹配；匹配的行是章节标题。"), this);
    hint->setWordWrap(true);
    form->addRow(hint);
    auto *buttons = new QHBoxLayout;
    auto button = [&](const QString &text, auto slot) {
        auto *b = new QPushButton(text, this);
        buttons->addWidget(b);
        connect(b, &QPushButton::clicked, this, slot);
        return b;
    };
    button(QStringLiteral("添加"), [this] { addRule(); });
    button(QStringLiteral("保存修改"), [this] { saveRule(); });
    button(QStringLiteral("删除"), [this] { removeRule(); });
    button(QStringLiteral("预览"), [this] { preview(); });
    button(QStringLiteral("用于本书"), [this] {
        QString expression;
        if (checked(&expression))
            Q_EMIT ruleChosen(expression);
    });

    auto *right = new QVBoxLayout;
    right->addLayout(form);
    right->addLayout(buttons);
    right->addWidget(m_bookLabel);
    right->addWidget(m_preview, 1);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(right, 2);
    resize(760, 480);

    connect(m_list, &QListWidget::currentRowChanged, this, &ChapterRulesWindow::showSelected);
    connect(&m_loader, &ChapterLoader::loaded, this, [this](quint64, const ChapterList &list) {
        m_preview->setPlainText(list.ok() ? ChapterPreview::of(list.entries).text() : list.errorMessage);
        Q_EMIT previewReady();
    });
    reload(0);
}

void ChapterRulesWindow::setBook(const QString &path, const BookReading &reading)
{
    m_path = path;
    m_reading = reading;
    m_bookLabel->setText(path.isEmpty() ? QStringLiteral("没有打开的书，无法预览。")
                                        : QStringLiteral("预览：") + QFileInfo(path).fileName());
}

bool ChapterRulesWindow::checked(QString *expression)
{
    *expression = m_expression->text();
    QString error;
    if (HeadingExpression::compile(*expression, &error))
        return true;
    m_prompter.message(error, Prompter::Icon::Exclamation, QStringLiteral("分章规则"));
    return false;
}

bool ChapterRulesWindow::addRule()
{
    QString expression;
    if (!checked(&expression))
        return false;
    const qint64 id = m_db.headingRules().add(m_name->text().trimmed(), expression);
    if (id < 0)
        return false;
    reload(id);
    Q_EMIT rulesChanged();
    return true;
}

bool ChapterRulesWindow::saveRule()
{
    QListWidgetItem *item = m_list->currentItem();
    QString expression;
    if (!item || !checked(&expression))
        return false;
    const qint64 id = item->data(Qt::UserRole).toLongLong();
    if (!m_db.headingRules().update({id, m_name->text().trimmed(), expression}))
        return false;
    reload(id);
    Q_EMIT rulesChanged();
    return true;
}

void ChapterRulesWindow::removeRule()
{
    QListWidgetItem *item = m_list->currentItem();
    if (!item || !m_db.headingRules().remove(item->data(Qt::UserRole).toLongLong()))
        return;
    reload(0);
    Q_EMIT rulesChanged();
}

bool ChapterRulesWindow::preview()
{
    QString expression;
    if (m_path.isEmpty() || !checked(&expression))
        return false;
    BookReading reading = m_reading;
    reading.rule = expression;
    m_preview->setPlainText(QStringLiteral("正在分章……"));
    m_loader.request(m_path, {}, reading);
    return true;
}

void ChapterRulesWindow::reload(qint64 selectId)
{
    const QSignalBlocker block(m_list);
    m_list->clear();
    for (const HeadingRuleRow &rule : m_db.headingRules().rules()) {
        auto *item = new QListWidgetItem(rule.caption(), m_list);
        item->setData(Qt::UserRole, rule.id);
        item->setData(Qt::UserRole + 1, rule.name);
        item->setData(Qt::UserRole + 2, rule.expression);
        item->setToolTip(rule.expression);
        if (rule.id == selectId)
            m_list->setCurrentItem(item);
    }
}

void ChapterRulesWindow::showSelected()
{
    if (QListWidgetItem *item = m_list->currentItem()) {
        m_name->setText(item->data(Qt::UserRole + 1).toString());
        m_expression->setText(item->data(Qt::UserRole + 2).toString());
    }
}

QMenu *AddChapterRuleMenu(QMenu *menu, LibraryDb &db, std::function<QString()> current,
                          std::function<void(const QString &)> choose, std::function<void()> manage)
{
    QMenu *rules = menu->addMenu(QStringLiteral("分章规则"));
    rules->setObjectName(QStringLiteral("Menue_ChapterRule"));
    // Filled each time it opens, so it always shows the rules as they are now.
    auto fill = [rules, &db, current, choose, manage] {
        rules->clear();
        auto *group = new QActionGroup(rules);
        const QString inUse = current();
        auto add = [&](const QString &caption, const QString &expression) {
            QAction *a = rules->addAction(caption);
            a->setCheckable(true);
            a->setChecked(expression == inUse);
            a->setToolTip(expression);
            group->addAction(a);
            QObject::connect(a, &QAction::triggered, rules, [choose, expression] { choose(expression); });
        };
        add(QStringLiteral("默认规则"), QString());
        for (const HeadingRuleRow &rule : db.headingRules().rules())
            add(rule.caption(), rule.expression);
        rules->addSeparator();
        QObject::connect(rules->addAction(QStringLiteral("管理分章规则...")), &QAction::triggered, rules, manage);
    };
    fill();
    QObject::connect(rules, &QMenu::aboutToShow, rules, fill);
    return rules;
}
