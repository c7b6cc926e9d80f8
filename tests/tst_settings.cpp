// Guards what is kept between runs: the set-up one window leaves is what the next one
// starts with (mode, port, address, protocol, encoding, subscriptions, method, switches, chart
// rules and type, the detail pane's splitter, the window size, the language), recent
// addresses come back as completions; a corrupt or unreadable file, or values of the
// wrong type, give the defaults and, for a bad file, one system entry; recent values are
// capped and deduplicated; a token is stored only when the user asked for it. Every file
// is a temporary one: the user's settings are never touched.

#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>

#include "ChartEngine.h"
#include "LanguageManager.h"
#include "LogLines.h"
#include "Settings.h"
#include "SignalRWidget.h"

namespace {

template <typename T>
T* child(const SignalRWidget& w, const char* name)
{
    return w.findChild<T*>(QLatin1String(name));
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void setUpComesBack()
    {
        const QString path = dir.filePath("new-folder/korvahub.ini");
        {
            Settings settings(path);
            SignalRWidget w;
            w.useSettings(&settings);
            w.show();
            child<QRadioButton>(w, "serverRadio")->setChecked(true);
            child<QSpinBox>(w, "portSpin")->setValue(6001);
            child<QLineEdit>(w, "hubUrlEdit")->setText("ws://127.0.0.1:7/hub");
            child<QComboBox>(w, "encodingCombo")->setCurrentIndex(2);
            child<QComboBox>(w, "protocolCombo")->setCurrentIndex(1);
            child<QLineEdit>(w, "subscribeEdit")->setText("Tick");
            w.addSubscription();
            child<QLineEdit>(w, "methodEdit")->setText("Echo");
            child<QCheckBox>(w, "hexDisplayCheck")->setChecked(true);
            child<QSpinBox>(w, "fontSizeSpin")->setValue(14);
            w.chartEngine()->addRule("t", "data.value");
            child<QComboBox>(w, "chartTypeCombo")->setCurrentIndex(2);
            child<QComboBox>(w, "languageCombo")->setCurrentIndex(1);
            child<QSplitter>(w, "logSplitter")->setSizes({300, 0});
            w.resize(1000, 700);
            settings.addRecent("recent/addresses", "ws://127.0.0.1:8/hub");
            w.close();
        }
        LanguageManager::instance().setLanguage(0);
        Settings settings(path);
        SignalRWidget w;
        w.useSettings(&settings);
        w.show();
        QVERIFY(child<QRadioButton>(w, "serverRadio")->isChecked());
        QCOMPARE(child<QSpinBox>(w, "portSpin")->value(), 6001);
        QCOMPARE(child<QLineEdit>(w, "hubUrlEdit")->text(), "ws://127.0.0.1:7/hub");
        QCOMPARE(child<QComboBox>(w, "encodingCombo")->currentIndex(), 2);
        QCOMPARE(child<QComboBox>(w, "protocolCombo")->currentIndex(), 1);
        QCOMPARE(child<QListWidget>(w, "subscriptionList")->item(0)->text(), "Tick");
        QCOMPARE(child<QLineEdit>(w, "methodEdit")->text(), "Echo");
        QVERIFY(child<QCheckBox>(w, "hexDisplayCheck")->isChecked() && w.communication()->hexDisplay());
        QCOMPARE(child<QSpinBox>(w, "fontSizeSpin")->value(), 14);
        QCOMPARE(w.chartEngine()->rules().value(0).pattern, "data.value");
        QCOMPARE(w.chartEngine()->chartType(), ChartEngine::Scatter);
        QVERIFY(LanguageManager::instance().isEnglish());
        QCOMPARE(child<QSplitter>(w, "logSplitter")->sizes().value(1), 0);
        QCOMPARE(w.size(), QSize(1000, 700));
        QCOMPARE(child<QLineEdit>(w, "hubUrlEdit")->completer()->model()->rowCount(), 1);
        LanguageManager::instance().setLanguage(0);
    }

    void badFilesGiveDefaults_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: the path is a folder
        QTest::addColumn<bool>("failed");
        QTest::newRow("binary garbage") << QByteArray("\xff\xfe\x00[[\x01", 6) << true;
        QTest::newRow("unreadable") << QByteArray() << true;
        QTest::newRow("wrong types") << QByteArray("[window]\nportSpin=abc\nencodingCombo=99\nhexDisplayCheck=1\n"
                                                   "hubUrlEdit=a, b\n") << false;
    }

    void badFilesGiveDefaults()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, failed);
        const QString path = dir.filePath(QTest::currentDataTag());
        QFile file(path);
        QVERIFY(content.isEmpty() ? QDir().mkpath(path) : file.open(QIODevice::WriteOnly) && file.write(content));
        file.close();
        Settings settings(path);
        QCOMPARE(settings.readFailed(), failed);
        SignalRWidget w;
        w.useSettings(&settings);
        QCOMPARE(child<QSpinBox>(w, "portSpin")->value(), 5000);
        QCOMPARE(child<QComboBox>(w, "encodingCombo")->currentIndex(), 0);
        QVERIFY(!child<QCheckBox>(w, "hexDisplayCheck")->isChecked());
        QCOMPARE(child<QLineEdit>(w, "hubUrlEdit")->text(), "ws://localhost:5000/debughub");
        QCOMPARE(logLines(w.communication()).filter("设置文件无法读取").size(), failed ? 1 : 0);
        QCOMPARE(QFile::exists(path + ".corrupt"), failed && !content.isEmpty());
    }

    void recentValuesAndToken()
    {
        Settings settings(dir.filePath("recent.ini"));
        for (int i = 0; i < 25; ++i)
            settings.addRecent("recent/methods", QString::number(i % 22));
        const QStringList recent = settings.recent("recent/methods");
        QCOMPARE(recent.size(), Settings::MaxRecent);
        QCOMPARE(recent.mid(0, 4), QStringList({"2", "1", "0", "21"}));
        settings.setAccessToken("secret", false);
        QCOMPARE(settings.accessToken(), QString());
        settings.setAccessToken("secret", true);
        QCOMPARE(settings.accessToken(), "secret");
        settings.setAccessToken("secret", false); // unticking forgets it
        settings.sync();
        QFile file(settings.fileName());
        QVERIFY(file.open(QIODevice::ReadOnly) && !file.readAll().contains("secret"));
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
