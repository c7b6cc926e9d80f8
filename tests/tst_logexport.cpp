#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "CommunicationBase.h"
#include "LogViewWidget.h"

// Export from the log view: format chosen by the name's extension, the confirmation
// entry after the file is written, and the warning when the file cannot be opened.
class TestLogExport : public QObject
{
    Q_OBJECT

private slots:
    void formatFollowsExtension_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("csv");
        QTest::newRow("txt") << "log.txt" << false;
        QTest::newRow("no extension") << "log" << false;
        QTest::newRow("mixed-case csv") << "log.Csv" << true;
        QTest::newRow("upper-case csv") << "LOG.CSV" << true;
    }

    void formatFollowsExtension()
    {
        QFETCH(QString, name);
        QFETCH(bool, csv);
        QTemporaryDir dir;
        CommunicationBase comm;
        LogViewWidget view(&comm);
        comm.logReceivedData("say \"hi\"");
        const QString path = dir.filePath(name);
        view.exportTo(path);

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        if (csv) {
            QCOMPARE(lines.at(0), QByteArray("Timestamp,Direction,Data"));
            QVERIFY2(lines.at(1).endsWith("\",\"[RX]\",\"say \"\"hi\"\"\""), lines.at(1).constData());
        } else {
            QVERIFY2(lines.at(0).endsWith(" [RX] say \"hi\""), lines.at(0).constData());
        }
        // The confirmation is logged after the file was written, so it is not in it.
        QCOMPARE(comm.entries().last().text, QStringLiteral("日志已导出: ") + path);
        QCOMPARE(lines.size(), csv ? 3 : 2);
    }

    void unwritablePathWarns()
    {
        CommunicationBase comm;
        LogViewWidget view(&comm);
        comm.logSystemMessage(QStringLiteral("x"));
        const QString path = QStringLiteral("/nonexistent-folder/sub/log.txt");
        QString title;
        QString text;
        // The warning is modal: read and dismiss it from inside its event loop.
        QTimer::singleShot(0, this, [&] {
            QTRY_VERIFY(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()));
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            title = box->windowTitle();
            text = box->text();
            box->accept();
        });
        view.exportTo(path);
        QCOMPARE(title, QStringLiteral("导出失败"));
        QCOMPARE(text, QStringLiteral("无法写入文件: ") + path);
        QCOMPARE(comm.entryCount(), 1); // nothing logged
    }
};

QTEST_MAIN(TestLogExport)
#include "tst_logexport.moc"
