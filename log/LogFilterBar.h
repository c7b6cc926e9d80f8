#pragma once

#include <QWidget>

#include "LogFilter.h"

class QLineEdit;
class QPushButton;
class QTimer;

// The bar above the log: a search text (plain or, with "正则", a regular expression),
// TX/RX/SYS toggles, a hub-method field, and "筛选", which decides whether rows that do
// not match are hidden or only skipped by F3. Typing is debounced: a pass over 100,000
// rows should start once per word, not once per key. An invalid pattern turns the field
// red and is ignored.
class LogFilterBar : public QWidget
{
    Q_OBJECT

public:
    explicit LogFilterBar(QWidget* parent = nullptr);

    LogFilter::Criteria criteria() const;
    // Rows that do not match are hidden (otherwise F3 only jumps between matches).
    bool isFiltering() const;

    static constexpr int TypingPauseMs = 200;

signals:
    void criteriaChanged();
    // Enter in the search field: the next match, or with Shift the previous one.
    void findRequested(bool forward);

private:
    void onEdited(bool typing);
    void validate();

    QLineEdit* m_textEdit = nullptr;
    QPushButton* m_regexButton = nullptr;
    QPushButton* m_txButton = nullptr;
    QPushButton* m_rxButton = nullptr;
    QPushButton* m_sysButton = nullptr;
    QLineEdit* m_methodEdit = nullptr;
    QPushButton* m_filterButton = nullptr;
    QTimer* m_typingTimer = nullptr;
};
