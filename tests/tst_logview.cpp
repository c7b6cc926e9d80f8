#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QRegularExpression>
#include <QListWidget>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "CommunicationBase.h"
#include "LogViewWidget.h"

namespace {

constexpr int Timeout = 5000;

class SmallLog : public CommunicationBase
{
    Q_OBJECT

public:
    using CommunicationBase::CommunicationBase;
    int maxEntries() const override { return 500; }
};

QStringList rowTexts(const QListWidget* list)
{
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts.append(list->item(row)->text());
    return texts;
}

} // namespace

// Batching, colours, rendering settings, scroll following, copying and the row cap.
class TestLogView : public QObject
{
    Q_OBJECT

private slots:
    void burstIsOneFlushInOrder()
    {
        CommunicationBase comm;
        comm.setShowTimestamp(false);
        LogViewWidget view(&comm);
        QSignalSpy rowsInserted(view.list()->model(), &QAbstractItemModel::rowsInserted);
        for (int i = 0; i < 150; ++i)
            comm.logSystemMessage(QString::number(i));
        QCOMPARE(view.list()->count(), 0); // nothing is drawn before the timer fires
        QTRY_COMPARE_WITH_TIMEOUT(view.list()->count(), 150, Timeout);
        QCOMPARE(view.list()->item(0)->text(), QStringLiteral("[SYS]  0"));
        QCOMPARE(view.list()->item(149)->text(), QStringLiteral("[SYS]  149"));
        QCOMPARE(view.pendingCount(), 0);
    }

    void backlogDrainsWithoutNewEntries()
    {
        CommunicationBase comm;
        LogViewWidget view(&comm);
        for (int i = 0; i < 450; ++i)
            comm.logSystemMessage(QStringLiteral("m"));
        QTRY_COMPARE_WITH_TIMEOUT(view.list()->count(), 450, Timeout);
    }

    void rendering_data()
    {
        QTest::addColumn<bool>("timestamp");
        QTest::addColumn<bool>("hex");
        QTest::addColumn<int>("direction");
        QTest::addColumn<QString>("expectedTail");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("tx text") << false << false << int(LogEntry::TX) << "[TX]  Hello" << QColor(255, 215, 0);
        QTest::newRow("rx hex") << false << true << int(LogEntry::RX) << "[RX]  48 65 6C 6C 6F"
                                << QColor(0, 255, 200);
        QTest::newRow("sys ignores hex") << true << true << int(LogEntry::SYS) << "[SYS]  Hello"
                                         << QColor(136, 146, 160);
    }

    void rendering()
    {
        QFETCH(bool, timestamp);
        QFETCH(bool, hex);
        QFETCH(int, direction);
        QFETCH(QString, expectedTail);
        QFETCH(QColor, colour);
        CommunicationBase comm;
        LogViewWidget view(&comm);
        comm.setShowTimestamp(timestamp);
        comm.setHexDisplay(hex);
        if (direction == LogEntry::TX)
            comm.logSentData("Hello");
        else if (direction == LogEntry::RX)
            comm.logReceivedData("Hello");
        else
            comm.logSystemMessage(QStringLiteral("Hello"));
        QTRY_COMPARE_WITH_TIMEOUT(view.list()->count(), 1, Timeout);
        const QListWidgetItem* item = view.list()->item(0);
        if (timestamp) {
            QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  ")).match(item->text()).hasMatch());
            QCOMPARE(item->text().mid(14), expectedTail);
        } else {
            QCOMPARE(item->text(), expectedTail);
        }
        QCOMPARE(item->foreground().color(), colour);
    }

    void settingsApplyToLaterRowsOnly()
    {
        CommunicationBase comm;
        comm.setShowTimestamp(false);
        LogViewWidget view(&comm);
        comm.logReceivedData("A");
        QTRY_COMPARE_WITH_TIMEOUT(view.list()->count(), 1, Timeout);
        comm.setHexDisplay(true);
        comm.logReceivedData("A");
        QTRY_COMPARE_WITH_TIMEOUT(view.list()->count(), 2, Timeout);
        QCOMPARE(rowTexts(view.list()), QStringList({"[RX]  A", "[RX]  41"}));
    }

    void followsBottomOnlyWhenThere()
    {
        CommunicationBase comm;
        LogViewWidget view(&comm);
        view.resize(400, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QScrollBar* bar = view.list()->verticalScrollBar();
        for (int i = 0; i < 200; ++i)
            comm.logSystemMessage(QStringLiteral("line %1").arg(i));
        QTRY_COMPARE_WITH_TIMEOUT(view.list()->count(), 200, Timeout);
        QTRY_VERIFY_WITH_TIMEOUT(bar->maximum() > 100, Timeout);
        QTRY_COMPARE_WITH_TIMEOUT(bar->value(), bar->maximum(), Timeout);

        // Within the 10-pixel tolerance: still counts as at the bottom.
        bar->setValue(bar->maximum() - 8);
        comm.logSystemMessage(QStringLiteral("near"));
        QTRY_COMPARE_WITH_TIMEOUT(view.list()->count(), 201, Timeout);
        QTRY_COMPARE_WITH_TIMEOUT(bar->value(), bar->maximum(), Timeout);

        // Scrolled up to read: left alone.
        bar->setValue(bar->maximum() / 2);
        const int held = bar->value();
        comm.logSystemMessage(QStringLiteral("far"));
        QTRY_COMPARE_WITH_TIMEOUT(view.list()->count(), 202, Timeout);
        QTest::qWait(20);
        QCOMPARE(bar->value(), held);

        // Auto-scroll off: never follows.
        comm.setAutoScroll(false);
        bar->setValue(bar->maximum());
        for (int i = 0; i < 20; ++i)
            comm.logSystemMessage(QStringLiteral("more"));
        QTRY_COMPARE_WITH_TIMEOUT(view.list()->count(), 222, Timeout);
        QTest::qWait(20);
        QVERIFY(bar->value() < bar->maximum());
    }

    void copying()
    {
        CommunicationBase comm;
        comm.setShowTimestamp(false);
        LogViewWidget view(&comm);
        for (const char* text : {"one", "two", "three"})
            comm.logSystemMessage(QString::fromLatin1(text));
        QTRY_COMPARE_WITH_TIMEOUT(view.list()->count(), 3, Timeout);
        QClipboard* clipboard = QApplication::clipboard();
        clipboard->setText(QStringLiteral("untouched"));
        view.copySelected();
        QCOMPARE(clipboard->text(), QStringLiteral("untouched"));
        view.list()->item(1)->setSelected(true);
        view.copySelected();
        QCOMPARE(clipboard->text(), QStringLiteral("[SYS]  two"));
        view.copyAll();
        QCOMPARE(clipboard->text(), QStringLiteral("[SYS]  one\n[SYS]  two\n[SYS]  three"));
    }

    void clamps_data()
    {
        QTest::addColumn<int>("spacing");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("styleSheet");
        QTest::newRow("defaults") << 0 << 11 << "padding: 2px 6px 2px 6px; font-size: 11pt;";
        QTest::newRow("lowest spacing") << -10 << 7 << "padding: -8px 6px -8px 6px; font-size: 7pt;";
        QTest::newRow("clamped") << 15 << 20 << "padding: 12px 6px 12px 6px; font-size: 18pt;";
        QTest::newRow("clamped low") << -30 << 1 << "padding: -8px 6px -8px 6px; font-size: 7pt;";
    }

    void clamps()
    {
        QFETCH(int, spacing);
        QFETCH(int, size);
        QFETCH(QString, styleSheet);
        CommunicationBase comm;
        LogViewWidget view(&comm);
        comm.logSystemMessage(QStringLiteral("row"));
        QTRY_COMPARE_WITH_TIMEOUT(view.list()->count(), 1, Timeout);
        view.setLineSpacing(spacing);
        view.setFontSize(size);
        QVERIFY2(view.list()->styleSheet().contains(styleSheet), qPrintable(view.list()->styleSheet()));
        QCOMPARE(view.list()->item(0)->font().pointSize(), view.fontSize());
    }

    void clearDropsQueuedEntries()
    {
        CommunicationBase comm;
        LogViewWidget view(&comm);
        comm.logSystemMessage(QStringLiteral("shown"));
        QTRY_COMPARE_WITH_TIMEOUT(view.list()->count(), 1, Timeout);
        comm.logSystemMessage(QStringLiteral("queued"));
        view.clear();
        QCOMPARE(view.list()->count(), 0);
        QCOMPARE(comm.entryCount(), 0);
        QTest::qWait(3 * LogViewWidget::FlushIntervalMs);
        QCOMPARE(view.list()->count(), 0);
    }

    void countersInStatusBar()
    {
        CommunicationBase comm;
        LogViewWidget view(&comm);
        auto* tx = view.findChild<QLabel*>(QStringLiteral("txLabel"));
        auto* rx = view.findChild<QLabel*>(QStringLiteral("rxLabel"));
        QCOMPARE(tx->text(), QStringLiteral("TX: 0 bytes"));
        comm.logSentData(QByteArray(1234567, 'x'));
        comm.logReceivedData("abc");
        QCOMPARE(tx->text(), QStringLiteral("TX: 1234567 bytes"));
        QCOMPARE(rx->text(), QStringLiteral("RX: 3 bytes"));
        comm.resetCounters();
        QCOMPARE(tx->text(), QStringLiteral("TX: 0 bytes"));
        QCOMPARE(rx->text(), QStringLiteral("RX: 0 bytes"));
    }

    void rowsCappedLikeTheLog()
    {
        SmallLog comm;
        comm.setShowTimestamp(false);
        LogViewWidget view(&comm);
        for (int i = 0; i < 1700; ++i)
            comm.logSystemMessage(QString::number(i));
        // Queued entries that could never be shown are dropped before drawing.
        QVERIFY(view.pendingCount() <= 500);
        QTRY_COMPARE_WITH_TIMEOUT(view.pendingCount(), 0, Timeout);
        QCOMPARE(view.list()->count(), 500);
        QCOMPARE(view.list()->item(0)->text(), QStringLiteral("[SYS]  1200"));
        QCOMPARE(view.list()->item(499)->text(), QStringLiteral("[SYS]  1699"));
        for (int i = 0; i < 300; ++i) {
            comm.logSystemMessage(QStringLiteral("late %1").arg(i));
            if (i % 100 == 0)
                QTest::qWait(1);
        }
        QTRY_COMPARE_WITH_TIMEOUT(view.pendingCount(), 0, Timeout);
        QCOMPARE(view.list()->count(), 500);
        QCOMPARE(view.list()->item(499)->text(), QStringLiteral("[SYS]  late 299"));
        QCOMPARE(view.list()->item(0)->text(), QStringLiteral("[SYS]  1500"));
    }
};

QTEST_MAIN(TestLogView)
#include "tst_logview.moc"
