// Guards the log view: batching (one insertion for a burst, order, a backlog that
// drains on its own), the row cap, row texts and colours, rows that follow the hex and
// timestamp switches, following the bottom only when there, copying, clearing, the
// counters, export (format by extension, the whole log while filtered, a warning when it
// cannot write), one-line rows that keep their real characters, the filter bar with its
// shown count and F3, and the detail pane showing the whole payload, its JSON indented
// and its bytes.

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "CommunicationBase.h"
#include "LogViewWidget.h"

namespace {

constexpr int Timeout = 5000;

struct SmallLog : CommunicationBase
{
    int maxEntries() const override { return 500; }
};

// A log without timestamps and its view.
template <typename Log = CommunicationBase>
struct Fixture
{
    Fixture() { comm.setShowTimestamp(false); }
    QListView* list() const { return view.list(); }
    QModelIndex index(int row) const { return list()->model()->index(row, 0); }
    QString row(int row) const { return index(row).data().toString(); }
    // That many rows, nothing queued, and no filter or re-render pass left.
    bool settled(int rows) const
    {
        return QTest::qWaitFor(
            [&] { return view.shownCount() == rows && view.pendingCount() == 0 && !view.isPassRunning(); }, Timeout);
    }

    Log comm;
    LogViewWidget view{&comm};
};

} // namespace

class TestLogView : public QObject
{
    Q_OBJECT

private slots:
    void batchingAndCap()
    {
        Fixture<SmallLog> f;
        QSignalSpy insertions(f.list()->model(), &QAbstractItemModel::rowsInserted);
        for (int i = 0; i < 450; ++i)
            f.comm.logSystemMessage(QString::number(i));
        QCOMPARE(f.view.shownCount(), 0);  // nothing before the timer fires
        QVERIFY(f.settled(450)); // no new entry needed to drain the backlog
        QCOMPARE(insertions.size(), 1);
        QCOMPARE(f.row(0) + '|' + f.row(449), "[SYS]  0|[SYS]  449");
        for (int i = 450; i < 1700; ++i)
            f.comm.logSystemMessage(QString::number(i));
        QVERIFY(f.view.pendingCount() <= 500); // entries the cap would drop are never drawn
        QVERIFY(f.settled(500));
        QCOMPARE(f.row(0) + '|' + f.row(499), "[SYS]  1200|[SYS]  1699");
        QCOMPARE(f.comm.entries().constFirst().text(), "1200"); // the log drops the same
    }

    void rowsFollowTheSwitches()
    {
        // The rows already shown are written again and the next ones come that way: with
        // the time, and in hex but for system rows.
        Fixture<> f;
        const QList<LogEntry::Direction> directions{LogEntry::TX, LogEntry::RX, LogEntry::SYS};
        for (LogEntry::Direction direction : directions)
            f.comm.logUncounted(direction, "Hi");
        QVERIFY(f.settled(3));
        // Rows are rendered when read: the list paints them again only when told.
        QSignalSpy rewritten(f.list()->model(), &QAbstractItemModel::dataChanged);
        f.comm.setHexDisplay(true);
        f.comm.setShowTimestamp(true);
        QVERIFY(!rewritten.isEmpty());
        for (LogEntry::Direction direction : directions)
            f.comm.logUncounted(direction, "Hi");
        QVERIFY(f.settled(6));
        const QStringList texts{"\\[TX\\]  48 69", "\\[RX\\]  48 69", "\\[SYS\\]  Hi"};
        const QList<QColor> colours{QColor(255, 215, 0), QColor(0, 255, 200), QColor(136, 146, 160)};
        for (int row = 0; row < 6; ++row) {
            const QRegularExpression expected("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  " + texts[row % 3] + '$');
            QVERIFY2(expected.match(f.row(row)).hasMatch(), qPrintable(f.row(row)));
            QCOMPARE(f.index(row).data(Qt::ForegroundRole).value<QBrush>().color(), colours[row % 3]);
        }
    }

    void followsBottomOnlyWhenThere()
    {
        Fixture<> f;
        f.view.resize(400, 300);
        f.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.view));
        QScrollBar* bar = f.list()->verticalScrollBar();
        for (int i = 0; i < 200; ++i)
            f.comm.logSystemMessage(QStringLiteral("line %1").arg(i));
        QTRY_VERIFY_WITH_TIMEOUT(bar->maximum() > 100 && bar->value() == bar->maximum(), Timeout);
        // Within the 10-pixel tolerance it still follows; further up, or with "自动滚动"
        // off, it is left alone.
        for (const int offset : {8, 100, 0}) {
            f.comm.setAutoScroll(offset != 0);
            bar->setValue(bar->maximum() - offset);
            const int held = bar->value();
            f.comm.logSystemMessage(QStringLiteral("more"));
            QVERIFY(f.settled(f.view.shownCount() + 1));
            f.list()->doItemsLayout(); // the new range, and any follow, now rather than later
            QCOMPARE(bar->value(), offset == 8 ? bar->maximum() : held);
        }
    }

    void exportWritesTheWholeLog()
    {
        Fixture<> f;
        f.comm.logReceivedData("say \"hi\"");
        f.comm.logSentData("hidden");
        f.view.findChild<QPushButton*>("txToggle")->setChecked(false);
        QVERIFY(f.settled(1));
        // The format goes by the extension, whatever its case; the filter leaves out nothing.
        QTemporaryDir dir;
        for (const auto& [name, first] : {std::pair{"log", " [RX] say \"hi\""}, {"log.Csv", "Timestamp,Direction,Data"}}) {
            QFile file(dir.filePath(name));
            f.view.exportTo(file.fileName());
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QString written = QString::fromUtf8(file.readAll());
            QVERIFY2(written.section('\n', 0, 0).endsWith(first) && written.contains("hidden"), qPrintable(written));
            // The confirmation is logged after the file was written, so it is not in it.
            QCOMPARE(f.comm.entries().constLast().text(), "日志已导出: " + file.fileName());
            QVERIFY(!written.contains(f.comm.entries().constLast().text()));
        }

        // A file that cannot be written gets a warning and no entry. The warning is modal:
        // read and dismiss it from inside its event loop.
        QString warning;
        QTimer::singleShot(0, this, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                warning = box->windowTitle() + ' ' + box->text();
                box->accept();
            }
        });
        const qsizetype entries = f.comm.entryCount();
        f.view.exportTo("/dev/full");
        QCOMPARE(warning, "导出失败 无法写入文件: /dev/full");
        QCOMPARE(f.comm.entryCount(), entries);
    }

    void rowsCopiesCountersAndTheDetailPane()
    {
        Fixture<> f;
        QByteArray frame;
        while (frame.size() < 5000)
            frame += "{\"type\":1,\"target\":\"Tick\",\"arguments\":[42]}\x1e\n";
        f.comm.logSentData("short");
        f.comm.logReceivedData(frame);
        QVERIFY(f.settled(2));
        // One line each, however long; the text keeps the real characters, cut at 4,096.
        QCOMPARE(f.list()->visualRect(f.index(1)).height(), f.list()->visualRect(f.index(0)).height());
        QCOMPARE(f.row(1), ("[RX]  " + QString::fromUtf8(frame)).left(LogViewWidget::MaxRowChars) + QChar(0x2026));
        QCOMPARE(f.view.findChild<QLabel*>("txLabel")->text() + ' ' + f.view.findChild<QLabel*>("rxLabel")->text(),
                 QStringLiteral("TX: 5 bytes RX: %1 bytes").arg(frame.size()));

        // Copying: nothing without a selection, else the selected rows or all, as shown.
        QClipboard* clipboard = QApplication::clipboard();
        clipboard->setText("untouched");
        f.view.copySelected();
        QCOMPARE(clipboard->text(), "untouched");
        f.list()->selectionModel()->select(f.index(0), QItemSelectionModel::Select);
        f.view.copySelected();
        QCOMPARE(clipboard->text(), "[TX]  short");
        f.view.copyAll();
        QCOMPARE(clipboard->text(), "[TX]  short\n" + f.row(1));

        f.list()->setCurrentIndex(f.index(1));
        const QString text = f.view.findChild<QPlainTextEdit*>("detailText")->toPlainText();
        QCOMPARE(text.count("    \"target\": \"Tick\""), frame.count('\x1e')); // every record, indented
        QVERIFY(f.view.findChild<QPlainTextEdit*>("detailHex")->toPlainText().startsWith("00000000  7B 22 74 79"));
        QVERIFY(f.view.findChild<QLabel*>("detailHeader")->text().endsWith(QStringLiteral("[RX]  %1 字节").arg(frame.size())));
        for (QPushButton* button : f.view.findChildren<QPushButton*>())
            if (button->text() == QStringLiteral("复制文本"))
                button->click();
        QCOMPARE(clipboard->text(), QString::fromUtf8(frame));
        f.view.clear();
        QVERIFY(f.settled(0) && f.comm.entryCount() == 0);
    }

    void filterHidesAndF3Finds()
    {
        Fixture<> f;
        f.view.show();
        QApplication::setActiveWindow(&f.view);
        QVERIFY(QTest::qWaitForWindowActive(&f.view));
        f.comm.logReceivedData("[ReceiveMessage](alice, hello)");
        f.comm.logSentData("{\"value\":1}");
        f.comm.logSystemMessage("Hello again");
        QVERIFY(f.settled(3));
        auto* text = f.view.findChild<QLineEdit*>("filterText");
        text->setText("HELLO");
        QVERIFY(f.settled(2));
        QCOMPARE(f.row(0) + '|' + f.row(1), "[RX]  [ReceiveMessage](alice, hello)|[SYS]  Hello again");
        QCOMPARE(f.view.findChild<QLabel*>("shownLabel")->text(), "显示 2 / 共 3");
        f.comm.logReceivedData("hello, late"); // new rows meet the filter at once
        f.comm.logReceivedData("other");
        QVERIFY(f.settled(3));
        f.view.findChild<QPushButton*>("regexToggle")->setChecked(true);
        text->setText("hel(lo");
        QTRY_VERIFY_WITH_TIMEOUT(text->property("invalid").toBool(), Timeout); // marked (LogFilter ignores it)
        // Filter off: every row shown; F3 and Shift+F3 step through the matches.
        text->setText("^hel");
        f.view.findChild<QPushButton*>("filterToggle")->setChecked(false);
        QVERIFY(f.settled(5));
        for (const auto& [shift, row] : {std::pair{false, 2}, {false, 3}, {true, 2}}) {
            QTest::keyClick(f.list(), Qt::Key_F3, shift ? Qt::ShiftModifier : Qt::NoModifier);
            QCOMPARE(f.list()->currentIndex().row(), row);
        }
    }
};

QTEST_MAIN(TestLogView)
#include "tst_logview.moc"
