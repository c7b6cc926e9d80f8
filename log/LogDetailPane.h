#pragma once

#include <QWidget>

#include "LogEntry.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;

// The selected log entry in full, beside the one-line rows: time, direction and byte
// size, the text with its JSON indented, and a hex dump, with buttons that copy the text
// or its hex form. Unlike a row it is not cut at 4,096 characters; only the dump stops
// after MaxDumpBytes (and says so), since a 64 MiB payload would be 300 MiB of dump text.
// System entries have no wire bytes: their size and hex are those of the text in UTF-8.
class LogDetailPane : public QWidget
{
    Q_OBJECT

public:
    explicit LogDetailPane(QWidget* parent = nullptr);

    void showEntry(const LogEntry& entry);
    void clear();
    // Texts set while running; the window's language walk does the fixed ones.
    void setEnglish(bool english);

    static constexpr qsizetype MaxDumpBytes = 1024 * 1024;

private:
    QByteArray bytes() const;
    void updateHeader();

    QLabel* m_header = nullptr;
    QStackedWidget* m_views = nullptr;
    QPlainTextEdit* m_text = nullptr;
    QPlainTextEdit* m_hex = nullptr;
    QPushButton* m_copyText = nullptr;
    QPushButton* m_copyHex = nullptr;
    LogEntry m_entry;
    bool m_hasEntry = false;
    bool m_english = false;
};
