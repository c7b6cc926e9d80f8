#pragma once

#include <QLineEdit>
#include <QPlainTextEdit>

#include "CommunicationBase.h"
#include "LogViewWidget.h"
#include "SignalRWidget.h"

// The parts of the window a benchmark drives, found by their object names.
struct WindowParts
{
    explicit WindowParts(SignalRWidget& window)
        : w(window)
    {
    }

    CommunicationBase* comm() const { return w.communication(); }
    LogViewWidget* logView() const { return w.findChild<LogViewWidget*>(); }
    QLineEdit* hubUrlEdit() const { return w.findChild<QLineEdit*>(QStringLiteral("hubUrlEdit")); }
    QLineEdit* methodEdit() const { return w.findChild<QLineEdit*>(QStringLiteral("methodEdit")); }
    QPlainTextEdit* sendEdit() const { return w.findChild<QPlainTextEdit*>(QStringLiteral("sendEdit")); }

    SignalRWidget& w;
};
