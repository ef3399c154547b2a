#include "settings/TextRulesWindow.h"

#include "library/LibraryDb.h"
#include "platform/Prompter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

enum Column
{
    SwitchColumn,
    NameColumn,
    PatternColumn,
    ReplacementColumn,
    ScopeColumn
};

const QString Title = QStringLiteral("净化规则");

} // namespace

TextRulesWindow::TextRulesWindow(LibraryDb &db, Prompter &prompter, const QString &bookPath, QWidget *parent)
    : QDialog(parent), m_db(db), m_prompter(prompter), m_bookPath(bookPath)
{
    setObjectName(QStringLiteral("TextRulesWindow"));
    setWindowTitle(Title);
    resize(720, 460);

    m_list = new QTableWidget(0, 5, this);
    m_list->setObjectName(QStringLiteral("TextRuleList"));
    m_list->setHorizontalHeaderLabels(
        {QStringLiteral("启用"), QStringLiteral("名称"), QStringLiteral("查找"), QStringLiteral("替换为"),
         QStringLiteral("范围")});
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->verticalHeader()->hide();
    m_list->horizontalHeader()->setSectionResizeMode(PatternColumn, QHeaderView::Stretch);
    m_list->setColumnWidth(NameColumn, 150);

    m_name = new QLineEdit(this);
    m_pattern = new QLineEdit(this);
    m_pattern->setPlaceholderText(QStringLiteral("要去掉或替换的文字"));
    m_regex = new QCheckBox(QStringLiteral("正则表达式（ECMAScript）"), this);
    m_replacement = new QLineEdit(this);
    m_replacement->setPlaceholderText(QStringLiteral("留空则删除；正则表达式可用 $1 引用分组"));
    m_scope = new QComboBox(this);
    m_scope->addItem(QStringLiteral("所有书"));
    m_scope->addItem(m_bookPath.isEmpty() ? QStringLiteral("仅本书")
                                          : QStringLiteral("仅本书（%1）").arg(QFileInfo(m_bookPath).fileName()));
    m_enabled = new QCheckBox(QStringLiteral("启用"), this);
    m_enabled->setChecked(true);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("名称："), m_name);
    form->addRow(QStringLiteral("查找："), m_pattern);
    form->addRow(QString(), m_regex);
    form->addRow(QStringLiteral("替换为："), m_replacement);
    form->addRow(QStringLiteral("范围："), m_scope);
    form->addRow(QString(), m_enabled);

    m_new = new QPushButton(QStringLiteral("新建规则"), this);
    m_save = new QPushButton(QStringLiteral("保存规则"), this);
    m_delete = new QPushButton(QStringLiteral("删除规则"), this);
    auto *close = new QPushButton(QStringLiteral("关闭"), this);
    auto *buttons = new QHBoxLayout;
    for (QPushButton *b : {m_new, m_save, m_delete})
        buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(close);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(form);
    layout->addLayout(buttons);

    connect(m_list, &QTableWidget::itemSelectionChanged, this, &TextRulesWindow::pick);
    connect(m_list, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *item) {
        if (m_filling || item->column() != SwitchColumn || item->row() >= m_rules.size())
            return;
        TextRule &rule = m_rules[item->row()];
        rule.enabled = item->checkState() == Qt::Checked;
        if (m_db.saveTextRule(rule))
            Q_EMIT rulesChanged();
        if (rule.id == m_editing)
            m_enabled->setChecked(rule.enabled);
    });
    connect(m_new, &QPushButton::clicked, this, [this] {
        m_list->clearSelection();
        clearForm();
        m_name->setFocus();
    });
    connect(m_save, &QPushButton::clicked, this, &TextRulesWindow::save);
    connect(m_delete, &QPushButton::clicked, this, &TextRulesWindow::remove);
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    reload();
    clearForm();
}

void TextRulesWindow::reload(qint64 select)
{
    m_filling = true;
    m_rules = m_db.textRules();
    m_list->setRowCount(int(m_rules.size()));
    for (int row = 0; row < m_rules.size(); ++row) {
        const TextRule &rule = m_rules.at(row);
        auto *on = new QTableWidgetItem;
        on->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        on->setCheckState(rule.enabled ? Qt::Checked : Qt::Unchecked);
        m_list->setItem(row, SwitchColumn, on);
        m_list->setItem(row, NameColumn, new QTableWidgetItem(rule.name));
        auto *pattern = new QTableWidgetItem((rule.regex ? QStringLiteral("正则：") : QString()) + rule.pattern);
        pattern->setToolTip(rule.pattern);
        m_list->setItem(row, PatternColumn, pattern);
        m_list->setItem(row, ReplacementColumn,
                        new QTableWidgetItem(rule.replacement.isEmpty() ? QStringLiteral("（删除）") : rule.replacement));
        m_list->setItem(row, ScopeColumn, new QTableWidgetItem(rule.bookPath.isEmpty()
                                                                   ? QStringLiteral("所有书")
                                                                   : QFileInfo(rule.bookPath).fileName()));
        if (rule.id == select)
            m_list->selectRow(row);
    }
    m_filling = false;
    m_list->resizeColumnToContents(SwitchColumn);
}

void TextRulesWindow::clearForm()
{
    m_editing = 0;
    for (QLineEdit *box : {m_name, m_pattern, m_replacement})
        box->clear();
    m_regex->setChecked(false);
    m_scope->setCurrentIndex(0);
    m_scope->setEnabled(!m_bookPath.isEmpty());
    m_enabled->setChecked(true);
    m_delete->setEnabled(false);
}

void TextRulesWindow::pick()
{
    if (m_filling)
        return;
    const QList<QTableWidgetItem *> chosen = m_list->selectedItems();
    if (chosen.isEmpty() || chosen.first()->row() >= m_rules.size())
        return;
    const TextRule &rule = m_rules.at(chosen.first()->row());
    m_editing = rule.id;
    m_name->setText(rule.name);
    m_pattern->setText(rule.pattern);
    m_regex->setChecked(rule.regex);
    m_replacement->setText(rule.replacement);
    // A rule kept for another book stays with that book unless it is made a rule for every book.
    const bool ownBook = !rule.bookPath.isEmpty();
    m_scope->setItemText(1, ownBook ? QStringLiteral("仅本书（%1）").arg(QFileInfo(rule.bookPath).fileName())
                                    : QStringLiteral("仅本书（%1）").arg(QFileInfo(m_bookPath).fileName()));
    m_scope->setCurrentIndex(ownBook ? 1 : 0);
    m_scope->setEnabled(ownBook || !m_bookPath.isEmpty());
    m_enabled->setChecked(rule.enabled);
    m_delete->setEnabled(true);
}

void TextRulesWindow::save()
{
    TextRule rule;
    for (const TextRule &r : std::as_const(m_rules)) {
        if (r.id == m_editing && m_editing != 0)
            rule = r;
    }
    rule.name = m_name->text().trimmed();
    rule.pattern = m_pattern->text();
    rule.regex = m_regex->isChecked();
    rule.replacement = m_replacement->text();
    rule.enabled = m_enabled->isChecked();
    if (m_scope->currentIndex() == 0)
        rule.bookPath.clear();
    else if (rule.bookPath.isEmpty())
        rule.bookPath = QFileInfo(m_bookPath).absoluteFilePath();
    if (const QString problem = TextRuleProblem(rule); !problem.isEmpty()) {
        m_prompter.message(QStringLiteral("这条规则不能使用：%1").arg(problem), Prompter::Icon::Exclamation, Title);
        m_pattern->setFocus();
        return;
    }
    if (rule.name.isEmpty())
        rule.name = rule.pattern.left(20);
    if (!m_db.saveTextRule(rule)) {
        m_prompter.message(QStringLiteral("规则没有保存：%1").arg(m_db.lastError()), Prompter::Icon::Critical, Title);
        return;
    }
    reload(rule.id);
    pick();
    Q_EMIT rulesChanged();
}

void TextRulesWindow::remove()
{
    if (m_editing == 0 || !m_prompter.question(QStringLiteral("删除规则“%1”？").arg(m_name->text()), Title))
        return;
    if (m_db.deleteTextRule(m_editing)) {
        reload();
        clearForm();
        Q_EMIT rulesChanged();
    }
}
