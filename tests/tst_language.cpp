#include <QtTest>
#include <QtWidgets>

#include "LanguageManager.h"
#include "SignalRWidget.h"

namespace {

LanguageManager& manager()
{
    return LanguageManager::instance();
}

QString remembered(const QObject* holder, const char* property)
{
    return holder->property(property).toString();
}

// A window part that walks its widgets at every switch, as the real window does.
struct Root : QWidget
{
    Root() { manager().addListener(this, [this] { applyLanguage(this); }); }
};

} // namespace

class TestLanguage : public QObject
{
    Q_OBJECT

    // Lives through the whole run: its listener is never removed.
    SignalRWidget* window = nullptr;

private slots:
    void initTestCase() { window = new SignalRWidget; }
    void init() { manager().setLanguage(0); }
    void cleanupTestCase()
    {
        manager().setLanguage(0);
        delete window;
    }

    void translateIsExact_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("english");

        QTest::newRow("backslash") << "例: temperature 或 data\\.value" << "e.g. temperature or data\\.value";
        QTest::newRow("leading space") << " 连接" << " 连接";
        QTest::newRow("longer text") << "连接设置x" << "连接设置x";
        QTest::newRow("empty") << "" << "";
    }

    void translateIsExact()
    {
        QFETCH(QString, text);
        QFETCH(QString, english);
        QCOMPARE(manager().translate(text), text);
        manager().setLanguage(1);
        QCOMPARE(manager().translate(text), english);
    }

    void listenersRunOnlyOnChange()
    {
        QObject context;
        QStringList calls;
        manager().addListener(&context, [&calls] { calls << (manager().isEnglish() ? "first:en" : "first:zh"); });
        manager().addListener(&context, [&calls] { calls << "second"; });
        // Listeners whose owner is gone are not run; one without an owner runs for good.
        auto* gone = new QObject;
        manager().addListener(gone, [&calls] { calls << "gone"; });
        delete gone;
        static int untied = 0;
        manager().addListener([] { ++untied; });

        manager().setLanguage(0); // already in force: nothing runs
        manager().setLanguage(7); // any index but 0 means English
        QCOMPARE(calls, (QStringList{"first:en", "second"}));
        manager().setLanguage(1);
        manager().setLanguage(0);
        QCOMPARE(calls, (QStringList{"first:en", "second", "first:zh", "second"}));
        QCOMPARE(untied, 2);
    }

    void walkSwitchesEveryKnownKindAndRemembersFirstTexts()
    {
        Root root;
        // The chart panel and the window both walk the chart's widgets.
        manager().addListener(&root, [&root] { applyLanguage(&root); });
        root.setWindowTitle(QStringLiteral("SignalR调试助手"));
        auto* label = new QLabel(QStringLiteral("连接设置"), &root);
        auto* untranslated = new QLabel(QStringLiteral("◆未连接"), &root);
        auto* button = new QPushButton(QStringLiteral("刷新"), &root);
        auto* check = new QCheckBox(QStringLiteral("自动滚动"), &root);
        auto* group = new QGroupBox(QStringLiteral("显示设置"), &root);
        auto* radio = new QRadioButton(QStringLiteral("SignalR 客户端"), group);
        auto* tabs = new QTabWidget(&root);
        auto* page = new QLabel(QStringLiteral("数值"));
        tabs->addTab(page, QStringLiteral("通信日志"));
        tabs->addTab(new QWidget, QStringLiteral("数据图表"));
        auto* plain = new QPlainTextEdit(&root);
        plain->setPlaceholderText(QStringLiteral("输入要发送的消息..."));
        auto* line = new QLineEdit(&root);
        line->setPlaceholderText(QStringLiteral("例: temperature 或 data\\.value"));
        auto* combo = new QComboBox(&root);
        combo->addItems({QStringLiteral("折线图"), QStringLiteral("UTF-8"), QStringLiteral("饼图")});
        // Up to 19 items a combo box holds captions; from 20 on, data.
        for (int i = 3; i < 19; ++i)
            combo->addItem(QString::number(i));
        auto* longCombo = new QComboBox(&root);
        for (int i = 0; i < 20; ++i)
            longCombo->addItem(QStringLiteral("折线图"));
        // Rich-text editors are not walked; labels showing only a sign are left alone.
        auto* rich = new QTextEdit(&root);
        rich->setPlaceholderText(QStringLiteral("输入要发送的消息..."));
        QList<QObject*> untouched{rich, longCombo, new QPushButton(&root)}; // the button without a text
        for (const QString& sign : {QStringLiteral("◆"), QStringLiteral("  "), QStringLiteral("●"), QStringLiteral("○")})
            untouched << new QLabel(sign, &root);

        const auto shown = [&] {
            return QStringList{root.windowTitle(), label->text(), untranslated->text(), button->text(), check->text(),
                               radio->text(), group->title(), tabs->tabText(0), tabs->tabText(1), page->text(),
                               plain->placeholderText(), line->placeholderText(), combo->itemText(0),
                               combo->itemText(1), combo->itemText(2)};
        };
        const auto stored = [&] {
            return QStringList{remembered(&root, "origTitle"), remembered(label, "origText"),
                               remembered(untranslated, "origText"), remembered(button, "origText"),
                               remembered(check, "origText"), remembered(radio, "origText"),
                               remembered(group, "origText"), remembered(tabs, "tab0"), remembered(tabs, "tab1"),
                               remembered(page, "origText"), remembered(plain, "origPH"), remembered(line, "origPH"),
                               remembered(combo, "origItem0"), remembered(combo, "origItem1"),
                               remembered(combo, "origItem2")};
        };
        const auto untouchedTexts = [&] { return rich->placeholderText() + longCombo->itemText(0); };
        const QStringList chinese = shown();
        const QStringList english{"SignalR Debug Tool", "Connection", QStringLiteral("◆未连接"), "Refresh", "Auto Scroll",
                                  "SignalR Client", "Display", "Log", "Chart", "Value", "Enter message to send...",
                                  "e.g. temperature or data\\.value", "Line Chart", "UTF-8", "Pie Chart"};
        const QString kept = untouchedTexts();

        // The walk in Chinese changes nothing and remembers nothing.
        applyLanguage(&root);
        QCOMPARE(shown(), chinese);
        QCOMPARE(stored(), QStringList(chinese.size(), QString()));
        for (int round = 0; round < 2; ++round) {
            manager().setLanguage(1);
            QCOMPARE(shown(), english);
            QCOMPARE(stored(), chinese);
            QCOMPARE(untouchedTexts(), kept);
            manager().setLanguage(0);
            QCOMPARE(shown(), chinese);
            QCOMPARE(untouchedTexts(), kept);
        }
        for (QObject* object : untouched)
            QVERIFY2(object->dynamicPropertyNames().isEmpty(), object->metaObject()->className());

        // The lookup uses what is shown now; going back restores what was remembered first.
        label->setText("断开");
        manager().setLanguage(1);
        QCOMPARE(label->text(), "Disconnect");
        manager().setLanguage(0);
        QCOMPARE(label->text(), "连接设置");
        // A text emptied meanwhile is not restored.
        manager().setLanguage(1);
        label->clear();
        manager().setLanguage(0);
        QVERIFY(label->text().isEmpty());
    }

    void selectorDrivesTheManager()
    {
        QWidget parent;
        int walks = 0;
        manager().addListener(&parent, [&walks] { ++walks; });

        QComboBox* selector = createLanguageSelector(&parent);
        QCOMPARE(selector->itemText(0) + selector->itemData(0).toString() + selector->itemText(1)
                     + selector->itemData(1).toString(),
                 QStringLiteral("中文0English1"));
        QCOMPARE(selector->currentIndex(), 0);
        selector->setCurrentIndex(1);
        QVERIFY(manager().isEnglish());
        QCOMPARE(walks, 1);

        // A selector built in English starts there without running the listeners, and its
        // own items have no translation.
        QComboBox* second = createLanguageSelector(&parent);
        QCOMPARE(second->currentIndex(), 1);
        QCOMPARE(walks, 1);
        applyLanguage(&parent);
        QCOMPARE(second->itemText(0), QStringLiteral("中文"));
        selector->setCurrentIndex(0);
        QVERIFY(!manager().isEnglish());
        QCOMPARE(walks, 2);
    }

    void mainWindowSwitchesAndComesBack()
    {
        auto* tabs = window->findChild<QTabWidget*>();
        auto* sendEdit = window->findChild<QPlainTextEdit*>();
        auto* header = window->findChild<QLabel*>(QStringLiteral("headerTitle"));
        const auto shown = [&] {
            return QStringList{window->windowTitle(), header->text(), tabs->tabText(0), tabs->tabText(1),
                               sendEdit->placeholderText()};
        };
        const QStringList chinese{"SignalR调试助手", "SignalR调试助手", "通信日志", "数据图表", "输入要发送的消息..."};
        QCOMPARE(shown(), chinese);
        manager().setLanguage(1);
        QCOMPARE(shown(), QStringList({"SignalR Debug Tool", "SignalR Debug Tool", "Log", "Chart", "Enter message to send..."}));
        manager().setLanguage(0);
        QCOMPARE(shown(), chinese);
    }
};

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
