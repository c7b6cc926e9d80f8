#include "SendKeys.h"

#include <QCheckBox>
#include <QEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTextCursor>

#include "LanguageManager.h"

SendKeys::SendKeys(QPlainTextEdit* editor, QCheckBox* enterSends)
    : QObject(editor)
    , m_editor(editor)
    , m_enterSends(enterSends)
{
    editor->installEventFilter(this);
}

bool SendKeys::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_editor)
        return QObject::eventFilter(watched, event);

    switch (event->type()) {
    case QEvent::FocusIn:
        m_editor->setPlaceholderText(QString());
        return false;
    case QEvent::FocusOut:
        if (m_editor->toPlainText().isEmpty())
            m_editor->setPlaceholderText(LanguageManager::instance().isEnglish()
                                             ? QStringLiteral("Enter message to send...")
                                             : QStringLiteral("输入要发送的消息..."));
        return false;
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            break;
        const bool shift = key->modifiers() & Qt::ShiftModifier;
        const bool ctrl = key->modifiers() & Qt::ControlModifier;
        const bool enterSends = m_enterSends->isChecked();
        if (!shift && (ctrl ? !enterSends : enterSends)) {
            emit sendRequested();
        } else {
            QTextCursor cursor = m_editor->textCursor();
            cursor.insertText(QStringLiteral("\n"));
            m_editor->setTextCursor(cursor);
        }
        return true;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
