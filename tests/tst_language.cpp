#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>

#include <functional>
#include <memory>

#include "LanguageManager.h"
#include "SignalRWidget.h"

namespace {

LanguageManager& manager()
{
    return LanguageManager::instance();
}

// One text of a widget as the walk sees it, and what it should read in each language.
struct Probe
{
    const char* what;
    std::function<QString()> shown;
    QObject* holder;
    QByteArray property; // empty: the walk must not remember anything
    QString chinese;
    QString english;
};

} // namespace

class TestLanguage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void translateIsExact_data();
    void translateIsExact();
    void listenersRunOnlyOnChange();
    void walkSwitchesEveryKnownKind();
    void signOnlyLabelsAreLeftAlone_data();
    void signOnlyLabelsAreLeftAlone();
    void longComboBoxesAreLeftAlone_data();
    void longComboBoxesAreLeftAlone();
    void firstRememberedTextWins();
    void emptyTextIsSkippedBothWays();
    void selectorDrivesTheManager();
    void mainWindowSwitchesAndComesBack();

private:
    // The real window lives through the whole run: its listener is never removed, so it
    // must not die while later tests still switch languages.
    SignalRWidget* window = nullptr;
};

void TestLanguage::initTestCase()
{
    window = new SignalRWidget;
}

void TestLanguage::init()
{
    manager().setLanguage(0);
    QVERIFY(!manager().isEnglish());
}

void TestLanguage::cleanupTestCase()
{
    manager().setLanguage(0);
    delete window;
    window = nullptr;
}

void TestLanguage::translateIsExact_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("english");

    QTest::newRow("window title") << QStringLiteral("SignalR调试助手") << "SignalR Debug Tool";
    QTest::newRow("with emoji") << QStringLiteral("🟢 已连接") << QStringLiteral("● Connected");
    QTest::newRow("ascii colon") << QStringLiteral("间隔:") << "Interval:";
    QTest::newRow("parentheses") << QStringLiteral("表达式 (正则/JSON路径)") << "Expression (Regex/JSON)";
    QTest::newRow("backslash") << QStringLiteral("例: temperature 或 data\\.value")
                               << "e.g. temperature or data\\.value";
    QTest::newRow("leading space") << QStringLiteral(" 连接") << QStringLiteral(" 连接");
    QTest::newRow("trailing space") << QStringLiteral("连接 ") << QStringLiteral("连接 ");
    QTest::newRow("longer text") << QStringLiteral("连接设置x") << QStringLiteral("连接设置x");
    QTest::newRow("full-width colon") << QStringLiteral("间隔：") << QStringLiteral("间隔：");
    QTest::newRow("no row") << QStringLiteral("SignalR 服务端(模拟)") << QStringLiteral("SignalR 服务端(模拟)");
    QTest::newRow("empty") << "" << "";
}

void TestLanguage::translateIsExact()
{
    QFETCH(QString, text);
    QFETCH(QString, english);

    QCOMPARE(manager().translate(text), text);
    manager().setLanguage(1);
    QCOMPARE(manager().translate(text), english);
}

void TestLanguage::listenersRunOnlyOnChange()
{
    QObject context;
    QStringList calls;
    manager().addListener(&context, [&calls] {
        calls << (manager().isEnglish() ? "first:en" : "first:zh");
    });
    manager().addListener(&context, [&calls] { calls << "second"; });
    // Listeners whose owner is gone are not run.
    auto* gone = new QObject;
    manager().addListener(gone, [&calls] { calls << "gone"; });
    delete gone;
    // A listener without an owner runs for the rest of the process.
    auto untied = std::make_shared<int>(0);
    manager().addListener([untied] { ++*untied; });

    manager().setLanguage(0);
    QVERIFY(calls.isEmpty());

    manager().setLanguage(1);
    QVERIFY(manager().isEnglish());
    QCOMPARE(calls, (QStringList{"first:en", "second"}));
    QCOMPARE(*untied, 1);

    // Any index but 0 means English: already in force, so nothing runs.
    manager().setLanguage(7);
    QCOMPARE(calls.size(), 2);

    manager().setLanguage(0);
    QCOMPARE(calls, (QStringList{"first:en", "second", "first:zh", "second"}));
    QCOMPARE(*untied, 2);
}

void TestLanguage::walkSwitchesEveryKnownKind()
{
    QWidget root;
    root.setWindowTitle(QStringLiteral("SignalR调试助手"));
    auto* label = new QLabel(QStringLiteral("连接设置"), &root);
    auto* untranslated = new QLabel(QStringLiteral("Hub 地址"), &root);
    auto* button = new QPushButton(QStringLiteral("刷新"), &root);
    auto* check = new QCheckBox(QStringLiteral("自动滚动"), &root);
    auto* group = new QGroupBox(QStringLiteral("显示设置"), &root);
    auto* radio = new QRadioButton(QStringLiteral("SignalR 客户端"), group);
    auto* nested = new QLabel(QStringLiteral("字号"), group);
    auto* tabs = new QTabWidget(&root);
    tabs->addTab(new QLabel(QStringLiteral("数值")), QStringLiteral("通信日志"));
    tabs->addTab(new QWidget, QStringLiteral("数据图表"));
    auto* plain = new QPlainTextEdit(&root);
    plain->setPlaceholderText(QStringLiteral("输入要发送的消息..."));
    auto* line = new QLineEdit(&root);
    line->setPlaceholderText(QStringLiteral("例: temperature 或 data\\.value"));
    auto* combo = new QComboBox(&root);
    combo->addItems({QStringLiteral("折线图"), QStringLiteral("UTF-8"), QStringLiteral("饼图")});
    // A rich-text editor is not one of the kinds the walk knows.
    auto* rich = new QTextEdit(&root);
    rich->setPlaceholderText(QStringLiteral("输入要发送的消息..."));

    const QList<Probe> probes = {
        {"title", [&root] { return root.windowTitle(); }, &root, "origTitle",
         QStringLiteral("SignalR调试助手"), "SignalR Debug Tool"},
        {"label", [label] { return label->text(); }, label, "origText", QStringLiteral("连接设置"),
         "Connection"},
        {"label without row", [untranslated] { return untranslated->text(); }, untranslated,
         "origText", QStringLiteral("Hub 地址"), QStringLiteral("Hub 地址")},
        {"button", [button] { return button->text(); }, button, "origText", QStringLiteral("刷新"),
         "Refresh"},
        {"check box", [check] { return check->text(); }, check, "origText",
         QStringLiteral("自动滚动"), "Auto Scroll"},
        {"radio button", [radio] { return radio->text(); }, radio, "origText",
         QStringLiteral("SignalR 客户端"), "SignalR Client"},
        {"group box", [group] { return group->title(); }, group, "origText",
         QStringLiteral("显示设置"), "Display"},
        {"label in group", [nested] { return nested->text(); }, nested, "origText",
         QStringLiteral("字号"), "Font Size"},
        {"tab 0", [tabs] { return tabs->tabText(0); }, tabs, "tab0", QStringLiteral("通信日志"),
         "Log"},
        {"tab 1", [tabs] { return tabs->tabText(1); }, tabs, "tab1", QStringLiteral("数据图表"),
         "Chart"},
        {"page label", [tabs] { return static_cast<QLabel*>(tabs->widget(0))->text(); },
         tabs->widget(0), "origText", QStringLiteral("数值"), "Value"},
        {"plain text placeholder", [plain] { return plain->placeholderText(); }, plain, "origPH",
         QStringLiteral("输入要发送的消息..."), "Enter message to send..."},
        {"line edit placeholder", [line] { return line->placeholderText(); }, line, "origPH",
         QStringLiteral("例: temperature 或 data\\.value"), "e.g. temperature or data\\.value"},
        {"combo item 0", [combo] { return combo->itemText(0); }, combo, "origItem0",
         QStringLiteral("折线图"), "Line Chart"},
        {"combo item 1", [combo] { return combo->itemText(1); }, combo, "origItem1", "UTF-8",
         "UTF-8"},
        {"combo item 2", [combo] { return combo->itemText(2); }, combo, "origItem2",
         QStringLiteral("饼图"), "Pie Chart"},
        {"text edit", [rich] { return rich->placeholderText(); }, rich, QByteArray(),
         QStringLiteral("输入要发送的消息..."), QStringLiteral("输入要发送的消息...")},
    };

    // Registered twice, as the chart panel and the window both walk the chart's widgets.
    manager().addListener(&root, [&root] { applyLanguage(&root); });
    manager().addListener(&root, [&root] { applyLanguage(&root); });

    // The walk at construction, in Chinese, changes nothing and remembers nothing.
    applyLanguage(&root);
    for (const Probe& probe : probes) {
        QVERIFY2(probe.shown() == probe.chinese, probe.what);
        if (!probe.property.isEmpty())
            QVERIFY2(!probe.holder->property(probe.property.constData()).isValid(), probe.what);
    }

    for (int round = 0; round < 2; ++round) {
        manager().setLanguage(1);
        for (const Probe& probe : probes) {
            QVERIFY2(probe.shown() == probe.english, probe.what);
            if (!probe.property.isEmpty()) {
                QVERIFY2(probe.holder->property(probe.property.constData()).toString()
                             == probe.chinese,
                         probe.what);
            }
        }
        manager().setLanguage(0);
        for (const Probe& probe : probes)
            QVERIFY2(probe.shown() == probe.chinese, probe.what);
    }
}

void TestLanguage::signOnlyLabelsAreLeftAlone_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("remembered");

    QTest::newRow("diamond") << QStringLiteral("◆") << false;
    QTest::newRow("two spaces") << "  " << false;
    QTest::newRow("filled dot") << QStringLiteral("●") << false;
    QTest::newRow("hollow dot") << QStringLiteral("○") << false;
    QTest::newRow("diamond with text") << QStringLiteral("◆未连接") << true;
}

void TestLanguage::signOnlyLabelsAreLeftAlone()
{
    QFETCH(QString, text);
    QFETCH(bool, remembered);

    QWidget root;
    auto* label = new QLabel(text, &root);
    manager().setLanguage(1);
    applyLanguage(&root);
    QCOMPARE(label->text(), text);
    QCOMPARE(label->property("origText").isValid(), remembered);
    manager().setLanguage(0);
    applyLanguage(&root);
    QCOMPARE(label->text(), text);
}

void TestLanguage::longComboBoxesAreLeftAlone_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("translated");

    QTest::newRow("19 items") << 19 << true;
    QTest::newRow("20 items") << 20 << false;
}

void TestLanguage::longComboBoxesAreLeftAlone()
{
    QFETCH(int, count);
    QFETCH(bool, translated);

    QWidget root;
    auto* combo = new QComboBox(&root);
    combo->addItem(QStringLiteral("折线图"));
    for (int i = 1; i < count; ++i)
        combo->addItem(QString::number(i));
    manager().addListener(&root, [&root] { applyLanguage(&root); });

    manager().setLanguage(1);
    QCOMPARE(combo->itemText(0), translated ? QStringLiteral("Line Chart") : QStringLiteral("折线图"));
    QCOMPARE(combo->property("origItem0").isValid(), translated);
    manager().setLanguage(0);
    QCOMPARE(combo->itemText(0), QStringLiteral("折线图"));
}

void TestLanguage::firstRememberedTextWins()
{
    QWidget root;
    auto* label = new QLabel(QStringLiteral("连接"), &root);
    manager().addListener(&root, [&root] { applyLanguage(&root); });

    manager().setLanguage(1);
    QCOMPARE(label->text(), QStringLiteral("Connect"));
    manager().setLanguage(0);
    QCOMPARE(label->text(), QStringLiteral("连接"));

    // The lookup uses what is shown now; going back restores what was remembered first.
    label->setText(QStringLiteral("断开"));
    manager().setLanguage(1);
    QCOMPARE(label->text(), QStringLiteral("Disconnect"));
    manager().setLanguage(0);
    QCOMPARE(label->text(), QStringLiteral("连接"));
}

void TestLanguage::emptyTextIsSkippedBothWays()
{
    QWidget root;
    auto* label = new QLabel(QStringLiteral("连接"), &root);
    auto* empty = new QPushButton(&root);
    manager().addListener(&root, [&root] { applyLanguage(&root); });

    manager().setLanguage(1);
    QVERIFY(!empty->property("origText").isValid());
    QCOMPARE(label->text(), QStringLiteral("Connect"));

    label->clear();
    manager().setLanguage(0);
    QVERIFY(label->text().isEmpty());
    QCOMPARE(label->property("origText").toString(), QStringLiteral("连接"));
}

void TestLanguage::selectorDrivesTheManager()
{
    QWidget parent;
    int walks = 0;
    manager().addListener(&parent, [&walks] { ++walks; });

    QComboBox* selector = createLanguageSelector(&parent);
    QCOMPARE(selector->parent(), &parent);
    QCOMPARE(selector->count(), 2);
    QCOMPARE(selector->itemText(0), QStringLiteral("中文"));
    QCOMPARE(selector->itemData(0).toInt(), 0);
    QCOMPARE(selector->itemText(1), QStringLiteral("English"));
    QCOMPARE(selector->itemData(1).toInt(), 1);
    QCOMPARE(selector->minimumWidth(), 80);
    QCOMPARE(selector->maximumWidth(), 80);
    QCOMPARE(selector->currentIndex(), 0);
    QCOMPARE(walks, 0);

    selector->setCurrentIndex(1);
    QVERIFY(manager().isEnglish());
    QCOMPARE(walks, 1);

    // A selector built in English starts on English without running the listeners, and
    // its own items have no translation.
    QComboBox* second = createLanguageSelector(&parent);
    QCOMPARE(second->currentIndex(), 1);
    QCOMPARE(walks, 1);
    applyLanguage(&parent);
    QCOMPARE(second->itemText(0), QStringLiteral("中文"));
    QCOMPARE(second->itemText(1), QStringLiteral("English"));

    selector->setCurrentIndex(0);
    QVERIFY(!manager().isEnglish());
    QCOMPARE(walks, 2);
}

void TestLanguage::mainWindowSwitchesAndComesBack()
{
    QTabWidget* tabs = window->findChild<QTabWidget*>();
    QPlainTextEdit* sendEdit = window->findChild<QPlainTextEdit*>();
    QLabel* headerTitle = window->findChild<QLabel*>(QStringLiteral("headerTitle"));
    QLabel* headerIcon = window->findChild<QLabel*>(QStringLiteral("headerIcon"));
    QPushButton* docButton = window->findChild<QPushButton*>(QStringLiteral("docButton"));
    QVERIFY(tabs && sendEdit && headerTitle && headerIcon && docButton);
    QCOMPARE(tabs->count(), 2);

    const auto expectChinese = [&] {
        QCOMPARE(window->windowTitle(), QStringLiteral("SignalR调试助手"));
        QCOMPARE(headerTitle->text(), QStringLiteral("SignalR调试助手"));
        QCOMPARE(tabs->tabText(0), QStringLiteral("通信日志"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("数据图表"));
        QCOMPARE(sendEdit->placeholderText(), QStringLiteral("输入要发送的消息..."));
    };

    expectChinese();
    manager().setLanguage(1);
    QCOMPARE(window->windowTitle(), QStringLiteral("SignalR Debug Tool"));
    QCOMPARE(headerTitle->text(), QStringLiteral("SignalR Debug Tool"));
    QCOMPARE(tabs->tabText(0), QStringLiteral("Log"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("Chart"));
    QCOMPARE(tabs->property("tab0").toString(), QStringLiteral("通信日志"));
    QCOMPARE(tabs->property("tab1").toString(), QStringLiteral("数据图表"));
    QCOMPARE(sendEdit->placeholderText(), QStringLiteral("Enter message to send..."));
    QCOMPARE(sendEdit->property("origPH").toString(), QStringLiteral("输入要发送的消息..."));
    QCOMPARE(headerIcon->text(), QStringLiteral("◆"));
    QVERIFY(!headerIcon->property("origText").isValid());
    QCOMPARE(docButton->text(), QStringLiteral("📖 文档"));

    manager().setLanguage(0);
    expectChinese();
    QCOMPARE(headerIcon->text(), QStringLiteral("◆"));
}

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
