// Guards the log view: batching (one insertion per 200 entries, order, a backlog that
// drains on its own), row texts and colours, rows that follow the hex and timestamp
// switches, following the bottom only when there, copying, the item style's clamps,
// clearing, the counters, the row cap, export (format by extension, the whole log while
// filtered, a warning when it cannot write), one-line rows that keep their real
// characters, the filter bar with its shown count and F3, and the detail pane showing
// the whole payload, its JSON indented and its bytes.

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
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
    QListWidget* list() const { return view.list(); }
    QStringList rows() const
    {
        QStringList texts;
        for (int row = 0; row < list()->count(); ++row)
            texts.append(list()->item(row)->text());
        return texts;
    }
    template <typename T>
    T* child(const char* name) const { return view.findChild<T*>(QLatin1String(name)); }
    // That many rows made, and no filter or re-render pass left.
    bool settled(int rows) const
    {
        return QTest::qWaitFor([&] { return list()->count() == rows && !view.isPassRunning(); }, Timeout);
    }

    Log comm;
    LogViewWidget view{&comm};
};

} // namespace

class TestLogView : public QObject
{
    Q_OBJECT

private slots:
    void batching()
    {
        Fixture<> f;
        QSignalSpy insertions(f.list()->model(), &QAbstractItemModel::rowsInserted);
        for (int i = 0; i < 450; ++i)
            f.comm.logSystemMessage(QString::number(i));
        QCOMPARE(f.list()->count(), 0); // nothing before the timer fires
        QVERIFY(f.settled(450));        // no new entry needed to drain the backlog
        QCOMPARE(insertions.size(), 3);
        QCOMPARE(f.rows().constFirst(), "[SYS]  0");
        QCOMPARE(f.rows().constLast(), "[SYS]  449");
    }

    void rowsFollowTheSwitches_data()
    {
        QTest::addColumn<int>("direction");
        QTest::addColumn<bool>("hex");
        QTest::addColumn<bool>("time");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("tx") << int(LogEntry::TX) << false << false << "^\\[TX\\]  Hi$" << QColor(255, 215, 0);
        QTest::newRow("rx hex") << int(LogEntry::RX) << true << false << "^\\[RX\\]  48 69$" << QColor(0, 255, 200);
        QTest::newRow("sys ignores hex") << int(LogEntry::SYS) << true << true
                                         << "^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  \\[SYS\\]  Hi$" << QColor(136, 146, 160);
    }

    void rowsFollowTheSwitches()
    {
        QFETCH(int, direction);
        QFETCH(bool, hex);
        QFETCH(bool, time);
        QFETCH(QString, pattern);
        QFETCH(QColor, colour);
        Fixture<> f;
        const auto log = [&] {
            if (direction == LogEntry::SYS)
                f.comm.logSystemMessage("Hi");
            else
                direction == LogEntry::TX ? f.comm.logSentData("Hi") : f.comm.logReceivedData("Hi");
        };
        log();
        QVERIFY(f.settled(1));
        // The row already shown is written again; the next one comes that way.
        f.comm.setHexDisplay(hex);
        f.comm.setShowTimestamp(time);
        log();
        QVERIFY(f.settled(2));
        for (int row = 0; row < 2; ++row) {
            QVERIFY2(QRegularExpression(pattern).match(f.rows().at(row)).hasMatch(), qPrintable(f.rows().at(row)));
            QCOMPARE(f.list()->item(row)->foreground().color(), colour);
        }
    }

    void followsBottomOnlyWhenThere()
    {
        Fixture<> f;
        f.view.resize(400, 300);
        f.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.view));
        QScrollBar* bar = f.list()->verticalScrollBar();
        const auto logAndWait = [&](int count) {
            const int rows = f.list()->count() + count;
            for (int i = 0; i < count; ++i)
                f.comm.logSystemMessage(QStringLiteral("line %1").arg(i));
            return f.settled(rows);
        };
        QVERIFY(logAndWait(200));
        QTRY_VERIFY_WITH_TIMEOUT(bar->maximum() > 100 && bar->value() == bar->maximum(), Timeout);
        bar->setValue(bar->maximum() - 8); // within the 10-pixel tolerance: still following
        QVERIFY(logAndWait(1));
        QTRY_COMPARE_WITH_TIMEOUT(bar->value(), bar->maximum(), Timeout);
        bar->setValue(bar->maximum() / 2); // scrolled up to read: left alone
        const int held = bar->value();
        QVERIFY(logAndWait(1));
        QTest::qWait(20);
        QCOMPARE(bar->value(), held);
        f.comm.setAutoScroll(false); // never follows
        bar->setValue(bar->maximum());
        QVERIFY(logAndWait(20));
        QTest::qWait(20);
        QVERIFY(bar->value() < bar->maximum());
    }

    void copyingClearingCounters()
    {
        Fixture<> f;
        for (const char* text : {"one", "two", "three"})
            f.comm.logSystemMessage(QString::fromLatin1(text));
        QVERIFY(f.settled(3));
        QClipboard* clipboard = QApplication::clipboard();
        clipboard->setText("untouched");
        f.view.copySelected();
        QCOMPARE(clipboard->text(), "untouched");
        f.list()->item(1)->setSelected(true);
        f.view.copySelected();
        QCOMPARE(clipboard->text(), "[SYS]  two");
        f.view.copyAll();
        QCOMPARE(clipboard->text(), "[SYS]  one\n[SYS]  two\n[SYS]  three");

        auto* tx = f.child<QLabel>("txLabel");
        auto* rx = f.child<QLabel>("rxLabel");
        f.comm.logSentData(QByteArray(1234567, 'x'));
        f.comm.logReceivedData("abc");
        QCOMPARE(tx->text() + ' ' + rx->text(), "TX: 1234567 bytes RX: 3 bytes");
        f.view.clear(); // drops the queued entries too
        QCOMPARE(f.list()->count() + f.comm.entryCount(), 0);
        QTest::qWait(3 * LogViewWidget::FlushIntervalMs);
        QCOMPARE(f.list()->count(), 0);
        f.comm.resetCounters();
        QCOMPARE(tx->text() + ' ' + rx->text(), "TX: 0 bytes RX: 0 bytes");
    }

    void styleClamps()
    {
        Fixture<> f;
        f.view.setLineSpacing(15);
        f.view.setFontSize(20);
        QVERIFY(f.list()->styleSheet().contains("padding: 12px 6px 12px 6px; font-size: 18pt;"));
        QCOMPARE(f.list()->font().pointSize(), 18);
        f.view.setLineSpacing(-30);
        f.view.setFontSize(1);
        QVERIFY(f.list()->styleSheet().contains("padding: -8px 6px -8px 6px; font-size: 7pt;"));
    }

    void rowsCappedLikeTheLog()
    {
        Fixture<SmallLog> f;
        for (int i = 0; i < 1700; ++i)
            f.comm.logSystemMessage(QString::number(i));
        QVERIFY(f.view.pendingCount() <= 500); // entries the cap would drop are never drawn
        QVERIFY(f.settled(500));
        QCOMPARE(f.rows().constFirst(), "[SYS]  1200");
        for (int i = 0; i < 300; ++i) {
            f.comm.logSystemMessage(QStringLiteral("late %1").arg(i));
            if (i % 100 == 0)
                QTest::qWait(1);
        }
        QTRY_COMPARE_WITH_TIMEOUT(f.view.pendingCount(), 0, Timeout);
        QCOMPARE(f.rows().constFirst(), "[SYS]  1500");
        QCOMPARE(f.rows().constLast(), "[SYS]  late 299");
        QCOMPARE(f.list()->count(), 500);
    }

    void exportWritesTheWholeLog_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("first");
        QTest::newRow("no extension") << "log" << " [RX] say \"hi\"";
        QTest::newRow("mixed-case csv") << "log.Csv" << "Timestamp,Direction,Data";
    }

    void exportWritesTheWholeLog()
    {
        QFETCH(QString, name);
        QFETCH(QString, first);
        Fixture<> f;
        f.comm.logReceivedData("say \"hi\"");
        f.comm.logSentData("hidden");
        f.child<QPushButton>("txToggle")->setChecked(false);
        QVERIFY(f.settled(1));
        QTemporaryDir dir;
        f.view.exportTo(dir.filePath(name));
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString written = QString::fromUtf8(file.readAll());
        QVERIFY2(written.section('\n', 0, 0).endsWith(first) && written.contains("hidden"), qPrintable(written));
        // The confirmation is logged after the file was written, so it is not in it.
        QCOMPARE(f.comm.entries().constLast().text, "日志已导出: " + dir.filePath(name));
        QVERIFY(!written.contains("日志已导出"));
    }

    void exportWarnsWhenItCannotWrite()
    {
        Fixture<> f;
        QString shown;
        // The warning is modal: read and dismiss it from inside its event loop.
        QTimer::singleShot(0, this, [&] {
            QTRY_VERIFY(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()));
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            shown = box->windowTitle() + ' ' + box->text();
            box->accept();
        });
        f.view.exportTo("/nonexistent-folder/log.txt");
        QCOMPARE(shown, "导出失败 无法写入文件: /nonexistent-folder/log.txt");
        QCOMPARE(f.comm.entryCount(), 0); // nothing logged
    }

    void oneLineRowsAndTheDetailPane()
    {
        Fixture<> f;
        QByteArray frame;
        while (frame.size() < 5000)
            frame += "{\"type\":1,\"target\":\"Tick\",\"arguments\":[42]}\x1e\n";
        f.comm.logSystemMessage("short");
        f.comm.logReceivedData(frame);
        QVERIFY(f.settled(2));
        // One line each, however long; the text keeps the real characters, cut at 4,096.
        QCOMPARE(f.list()->visualItemRect(f.list()->item(1)).height(),
                 f.list()->visualItemRect(f.list()->item(0)).height());
        QCOMPARE(f.rows().at(1), ("[RX]  " + QString::fromUtf8(frame)).left(LogViewWidget::MaxRowChars) + QChar(0x2026));

        f.list()->setCurrentRow(1);
        const QString text = f.child<QPlainTextEdit>("detailText")->toPlainText();
        QCOMPARE(text.count("    \"target\": \"Tick\""), frame.count('\x1e')); // every record, indented
        QVERIFY(f.child<QPlainTextEdit>("detailHex")->toPlainText().startsWith("00000000  7B 22 74 79"));
        QVERIFY(f.child<QLabel>("detailHeader")->text().endsWith(QStringLiteral("[RX]  %1 字节").arg(frame.size())));
        for (QPushButton* button : f.view.findChildren<QPushButton*>()) {
            if (button->text() == QStringLiteral("复制文本"))
                button->click();
        }
        QCOMPARE(QApplication::clipboard()->text(), QString::fromUtf8(frame));
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
        auto* text = f.child<QLineEdit>("filterText");
        text->setText("HELLO");
        QVERIFY(f.settled(2));
        QCOMPARE(f.rows(), QStringList({"[RX]  [ReceiveMessage](alice, hello)", "[SYS]  Hello again"}));
        QCOMPARE(f.child<QLabel>("shownLabel")->text(), "显示 2 / 共 3");
        f.comm.logReceivedData("hello, late"); // new rows meet the filter at once
        f.comm.logReceivedData("other");
        QVERIFY(f.settled(3));
        f.child<QPushButton>("regexToggle")->setChecked(true);
        text->setText("hel(lo");
        QTRY_VERIFY_WITH_TIMEOUT(text->property("invalid").toBool(), Timeout); // marked, then ignored
        QVERIFY(f.settled(5));
        // Filter off: every row shown; F3 and Shift+F3 step through the matches.
        text->setText("^hel");
        f.child<QPushButton>("filterToggle")->setChecked(false);
        QVERIFY(f.settled(5));
        QTest::keyClick(f.list(), Qt::Key_F3);
        QCOMPARE(f.list()->currentRow(), 2);
        QTest::keyClick(f.list(), Qt::Key_F3);
        QCOMPARE(f.list()->currentRow(), 3);
        QTest::keyClick(f.list(), Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(f.list()->currentRow(), 2);
    }
};

QTEST_MAIN(TestLogView)
#include "tst_logview.moc"
