#include "AutoReplyPanel.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "LanguageManager.h"
#include "Palette.h"

namespace {

using Action = AutoReplyRule::Action;

// The action combo's items, in the order of AutoReplyRule::Action.
constexpr int RowHeight = 22;
constexpr int ActionComboChars = 5;

const char* const ActionNames[] = {"返回结果", "推送给调用者", "推送给所有人"};

QString describe(const AutoReplyRule& rule, bool english)
{
    switch (rule.action) {
    case Action::Return:
        return (english ? QStringLiteral("return ") : QStringLiteral("返回 ")) + rule.json;
    case Action::PushToCaller:
        return (english ? QStringLiteral("→caller ") : QStringLiteral("→调用者 ")) + rule.target
               + QLatin1Char(' ') + rule.json;
    case Action::PushToAll:
        break;
    }
    return (english ? QStringLiteral("→all ") : QStringLiteral("→所有人 ")) + rule.target + QLatin1Char(' ')
           + rule.json;
}

QString problemText(const AutoReplyRules::Check& check, bool english)
{
    switch (check.problem) {
    case AutoReplyRules::Problem::None:
        return QString();
    case AutoReplyRules::Problem::EmptyMethod:
        return english ? QStringLiteral("Enter the method the client invokes") : QStringLiteral("请填写被调用的方法");
    case AutoReplyRules::Problem::EmptyTarget:
        return english ? QStringLiteral("Enter the method to push") : QStringLiteral("请填写推送的方法名");
    case AutoReplyRules::Problem::InvalidJson:
        break;
    }
    return (english ? QStringLiteral("Invalid JSON at %1: %2") : QStringLiteral("JSON 无效 (位置 %1): %2"))
        .arg(check.offset)
        .arg(check.detail);
}

} // namespace

AutoReplyPanel::AutoReplyPanel(QWidget* parent)
    : QGroupBox(QStringLiteral("自动回复"), parent)
{
    auto* layout = new QVBoxLayout(this);
    m_table = new QTableWidget(0, 2, this);
    m_table->setObjectName(QStringLiteral("autoReplyTable"));
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(RowHeight);
    m_table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(false);
    m_table->setMinimumHeight(60);
    m_table->setMaximumHeight(120);
    layout->addWidget(m_table);

    m_methodEdit = new QLineEdit(this);
    m_methodEdit->setObjectName(QStringLiteral("autoReplyMethodEdit"));
    m_methodEdit->setPlaceholderText(QStringLiteral("被调用的方法"));
    layout->addWidget(m_methodEdit);
    auto* actionRow = new QHBoxLayout;
    m_actionCombo = new QComboBox(this);
    m_actionCombo->setObjectName(QStringLiteral("autoReplyActionCombo"));
    for (const char* name : ActionNames)
        m_actionCombo->addItem(QString::fromUtf8(name));
    m_targetEdit = new QLineEdit(this);
    m_targetEdit->setObjectName(QStringLiteral("autoReplyTargetEdit"));
    m_targetEdit->setPlaceholderText(QStringLiteral("推送的方法名"));
    m_targetEdit->setEnabled(false);
    // The combo shares the narrow column with the target instead of taking its width.
    m_actionCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_actionCombo->setMinimumContentsLength(ActionComboChars);
    actionRow->addWidget(m_actionCombo, 3);
    actionRow->addWidget(m_targetEdit, 2);
    layout->addLayout(actionRow);
    m_jsonEdit = new QLineEdit(this);
    m_jsonEdit->setObjectName(QStringLiteral("autoReplyJsonEdit"));
    m_jsonEdit->setPlaceholderText(QStringLiteral("结果或参数 (JSON)"));
    layout->addWidget(m_jsonEdit);
    m_problemLabel = new QLabel(this);
    m_problemLabel->setObjectName(QStringLiteral("autoReplyProblem"));
    m_problemLabel->setWordWrap(true);
    m_problemLabel->setStyleSheet(QStringLiteral("color: %1; background: transparent;").arg(Palette::Danger));
    m_problemLabel->hide();
    layout->addWidget(m_problemLabel);

    auto* buttonRow = new QHBoxLayout;
    auto* addButton = new QPushButton(QStringLiteral("添加"), this);
    addButton->setObjectName(QStringLiteral("smallButton"));
    auto* removeButton = new QPushButton(QStringLiteral("删除选中"), this);
    removeButton->setObjectName(QStringLiteral("smallButton"));
    buttonRow->addWidget(addButton);
    buttonRow->addWidget(removeButton);
    layout->addLayout(buttonRow);

    connect(m_actionCombo, &QComboBox::currentIndexChanged, m_targetEdit,
            [this](int index) { m_targetEdit->setEnabled(Action(index) != Action::Return); });
    connect(addButton, &QPushButton::clicked, this, &AutoReplyPanel::addRule);
    connect(m_jsonEdit, &QLineEdit::returnPressed, this, &AutoReplyPanel::addRule);
    connect(removeButton, &QPushButton::clicked, this, &AutoReplyPanel::removeSelected);
    retranslate();
}

bool AutoReplyPanel::addRule()
{
    const AutoReplyRule rule{m_methodEdit->text(), Action(m_actionCombo->currentIndex()), m_targetEdit->text(),
                             m_jsonEdit->text()};
    m_problem = m_rules.add(rule);
    retranslate();
    if (m_problem.problem != AutoReplyRules::Problem::None)
        return false;
    m_methodEdit->clear();
    m_jsonEdit->clear();
    emit rulesChanged(m_rules);
    return true;
}

void AutoReplyPanel::removeSelected()
{
    const int row = m_table->currentRow();
    if (row < 0)
        return;
    m_rules.removeAt(row);
    showRules();
    emit rulesChanged(m_rules);
}

void AutoReplyPanel::retranslate()
{
    const bool english = LanguageManager::instance().isEnglish();
    m_table->setHorizontalHeaderLabels(english ? QStringList{QStringLiteral("Method"), QStringLiteral("Reply")}
                                               : QStringList{QStringLiteral("方法"), QStringLiteral("回复")});
    const QString problem = problemText(m_problem, english);
    m_problemLabel->setText(problem);
    m_problemLabel->setVisible(!problem.isEmpty());
    showRules();
}

void AutoReplyPanel::showRules()
{
    const bool english = LanguageManager::instance().isEnglish();
    const QList<AutoReplyRule>& rules = m_rules.rules();
    m_table->setRowCount(int(rules.size()));
    for (int row = 0; row < rules.size(); ++row) {
        const QString reply = describe(rules.at(row), english);
        auto* replyItem = new QTableWidgetItem(reply);
        replyItem->setToolTip(reply);
        m_table->setItem(row, 0, new QTableWidgetItem(rules.at(row).method));
        m_table->setItem(row, 1, replyItem);
    }
}
