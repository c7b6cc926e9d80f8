#pragma once

#include <QGroupBox>

#include "AutoReplyRules.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QTableWidget;

// The "自动回复" group of server mode: the simulated hub's scripted replies as a table,
// and the fields that add one. A rule is checked as it is added; a refused one stays in
// the fields with the reason beneath them. Every change goes out with rulesChanged.
//
// The table's texts are written while the program runs, so retranslate() has to run
// after each language walk (the walk would otherwise restore a stale reason).
class AutoReplyPanel : public QGroupBox
{
    Q_OBJECT

public:
    explicit AutoReplyPanel(QWidget* parent = nullptr);

    const AutoReplyRules& rules() const { return m_rules; }
    void retranslate();

public slots:
    // Adds the rule in the fields; true when it was taken.
    bool addRule();
    void removeSelected();

signals:
    void rulesChanged(const AutoReplyRules& rules);

private:
    void showRules();

    AutoReplyRules m_rules;
    AutoReplyRules::Check m_problem; // of the last rule refused, until the next add
    QTableWidget* m_table = nullptr;
    QLineEdit* m_methodEdit = nullptr;
    QComboBox* m_actionCombo = nullptr;
    QLineEdit* m_targetEdit = nullptr;
    QLineEdit* m_jsonEdit = nullptr;
    QLabel* m_problemLabel = nullptr;
};
