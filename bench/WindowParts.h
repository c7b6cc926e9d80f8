#pragma once

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QTimer>

#include "CommunicationBase.h"
#include "LogViewWidget.h"
#include "SignalRWidget.h"

// Runs the event loop until the view's last row ends with `lastText` and nothing waits
// for a row, then lets it lay out and paint; false after timeoutMs.
inline bool waitUntilShown(LogViewWidget* view, const QString& lastText, int timeoutMs)
{
    QEventLoop loop;
    bool shown = false;
    const auto check = [&] {
        if (shown || view->shownCount() == 0 || view->pendingCount() != 0)
            return;
        if (view->rowText(view->shownCount() - 1).endsWith(lastText)) {
            shown = true;
            loop.quit();
        }
    };
    QObject::connect(view->list()->model(), &QAbstractItemModel::rowsInserted, &loop, check);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check();
    if (!shown)
        loop.exec();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    return shown;
}

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
