#pragma once

#include <QObject>

class QCheckBox;
class QPlainTextEdit;

// The send editor's keys: Enter sends or breaks the line as "Enter发送" says (Ctrl+Enter
// does the other; Shift+Enter always breaks the line), and the placeholder hides while
// the editor has the focus. It filters the editor's events and asks for a send through
// sendRequested(); it is the editor's child.
class SendKeys : public QObject
{
    Q_OBJECT

public:
    SendKeys(QPlainTextEdit* editor, QCheckBox* enterSends);

signals:
    void sendRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPlainTextEdit* m_editor = nullptr;
    QCheckBox* m_enterSends = nullptr;
};
