// The program's own files: the run log, the embedded resources, where the documentation
// button leads, and the settings kept between runs. Faults guarded:
// - run-log lines lost until exit (not flushed), a run's header missing, older runs
//   overwritten, a log written outside the data folder;
// - the icon missing from the resources (a missing theme fails the window test);
// - a program built from the source tree not finding that tree's guide (the installed
//   guide: tests/package/check-package.sh);
// - the set-up one window leaves not being what the next one starts with (mode, port,
//   address, encoding, subscriptions, method, switches, chart rules and type, the detail
//   pane's splitter, the window size, the language), recent addresses not coming back as
//   completions; a corrupt or unreadable file, or values of the wrong type, not giving
//   the defaults and, for a bad file, one system entry; recent values not capped and
//   deduplicated; a token stored although the user did not ask for it. Every file is a
//   temporary one: the user's settings are never touched.
#include <QtGui>
#include <QtTest>
#include <QtWidgets>

#include "ChartEngine.h"
#include "Documentation.h"
#include "LanguageManager.h"
#include "LogLines.h"
#include "RunLog.h"
#include "Settings.h"
#include "SignalRWidget.h"

namespace {

// Remembered controls, by object name and property, with a value other than the default.
const QList<std::tuple<const char*, const char*, QVariant>> Fields{
    {"serverRadio", "checked", true},       {"portSpin", "value", 6001},
    {"hubUrlEdit", "text", "ws://127.0.0.1:7/hub"}, {"encodingCombo", "currentIndex", 2},
    {"methodEdit", "text", "Echo"},         {"hexDisplayCheck", "checked", true},
    {"fontSizeSpin", "value", 14},          {"chartTypeCombo", "currentIndex", 2},
    {"languageCombo", "currentIndex", 1},   {"protocolCombo", "currentIndex", 1}};

QVariantList shown(const SignalRWidget& w)
{
    const QCompleter* recent = w.findChild<QLineEdit*>("hubUrlEdit")->completer(); // none without settings
    QStringList rules;
    for (const ChartRule& rule : w.chartEngine()->rules())
        rules << rule.pattern;
    QVariantList values{w.communication()->hexDisplay(), w.chartEngine()->chartType(), rules, w.size(),
                        w.findChild<QSplitter*>("logSplitter")->sizes().value(1),
                        w.findChild<QListWidget*>("subscriptionList")->count(),
                        recent ? recent->model()->rowCount() : 0};
    for (const auto& [name, property, changed] : Fields)
        values << w.findChild<QObject*>(name)->property(property);
    return values;
}

} // namespace

class TestApp : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        // Test mode puts the data folder under $HOME/.qttest; a fresh HOME keeps the
        // user's files out of reach.
        QStandardPaths::setTestModeEnabled(true);
        qputenv("HOME", QFile::encodeName(m_home.path()));
    }

    void runLogAppendsRuns()
    {
        const QString header = QStringLiteral("\\n=== \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d Korvahub ===\\n");
        QFile file(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/logs/Korvahub.log");
        QVERIFY(file.fileName().startsWith(m_home.path()));
        const auto logMatches = [&file](const QString& pattern) {
            file.close();
            return file.open(QIODevice::ReadOnly)
                   && QRegularExpression("\\A" + pattern + "\\z").match(QString::fromUtf8(file.readAll())).hasMatch();
        };
        const QString firstRun = header + "\\d\\d:\\d\\d:\\d\\d\\.\\d{3} Window shown 中\\n";
        {
            RunLog log;
            log.init("Korvahub");
            log.write("Window shown 中");
            // Every write reaches the file at once, while the log is still open.
            QVERIFY(logMatches(firstRun));
        }
        // A run that writes nothing still leaves its header, flushed at destruction.
        RunLog().init("Korvahub");
        QVERIFY(logMatches(firstRun + header));
    }

    void resourcesAndGuideAreFound()
    {
        QCOMPARE(QImageReader(":/icon/SignalR.ico").read().size(), QSize(64, 64));
        // The program built here finds the source tree's guide.
        QVERIFY(documentationUrl().toLocalFile().endsWith("/docs/guide.html"));
    }

    void setUpComesBack()
    {
        const QString path = m_dir.filePath("new-folder/korvahub.ini");
        QVariantList expected{true, ChartEngine::Scatter, QStringList{"data.value"}, QSize(1000, 700), 0, 1, 1};
        {
            Settings settings(path);
            SignalRWidget w;
            w.useSettings(&settings);
            w.show();
            for (const auto& [name, property, changed] : Fields) {
                w.findChild<QObject*>(name)->setProperty(property, changed);
                expected << changed;
            }
            w.findChild<QLineEdit*>("subscribeEdit")->setText("Tick");
            w.addSubscription();
            w.chartEngine()->addRule("t", "data.value");
            w.findChild<QSplitter*>("logSplitter")->setSizes({300, 0});
            w.resize(1000, 700);
            settings.addRecent("recent/addresses", "ws://127.0.0.1:8/hub");
            w.close();
        }
        LanguageManager::instance().setLanguage(0);
        Settings settings(path);
        SignalRWidget w;
        w.useSettings(&settings);
        w.show();
        QCOMPARE(shown(w), expected);
        QVERIFY(LanguageManager::instance().isEnglish());
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
        const QString path = m_dir.filePath(QTest::currentDataTag());
        QFile file(path);
        QVERIFY(content.isEmpty() ? QDir().mkpath(path) : file.open(QIODevice::WriteOnly) && file.write(content));
        file.close();
        Settings settings(path);
        QCOMPARE(settings.readFailed(), failed);
        SignalRWidget w;
        w.useSettings(&settings);
        QCOMPARE(shown(w), shown(SignalRWidget()));
        QCOMPARE(logLines(w.communication()).filter("设置文件无法读取").size(), failed ? 1 : 0);
        QCOMPARE(QFile::exists(path + ".corrupt"), failed && !content.isEmpty());
    }

    void recentValuesAndToken()
    {
        Settings settings(m_dir.filePath("recent.ini"));
        for (int i = 0; i < 25; ++i)
            settings.addRecent("recent/methods", QString::number(i % 22));
        QCOMPARE(settings.recent("recent/methods").size(), Settings::MaxRecent);
        QCOMPARE(settings.recent("recent/methods").mid(0, 4), QStringList({"2", "1", "0", "21"}));
        settings.setAccessToken("secret", true);
        QCOMPARE(settings.accessToken(), "secret");
        settings.setAccessToken("secret", false); // unticking forgets it
        settings.sync();
        QFile file(settings.fileName());
        QVERIFY(file.open(QIODevice::ReadOnly) && !file.readAll().contains("secret"));
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
