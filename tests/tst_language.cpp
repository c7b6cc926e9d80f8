// Guards the language walk against: a kind of widget left untranslated, Chinese texts not
// restored exactly (or remembered from a later text), data combo boxes and sign-only
// labels rewritten, inexact table look-ups, and listeners of destroyed widgets run.

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

#include "LanguageManager.h"

class TestLanguage : public QObject
{
    Q_OBJECT

private slots:
    void init() { LanguageManager::instance().setLanguage(0); }

    void translateIsExact_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("english");
        QTest::newRow("known") << "连接设置" << "Connection";
        QTest::newRow("leading space") << " 连接" << " 连接";
        QTest::newRow("longer text") << "连接设置x" << "连接设置x";
        QTest::newRow("empty") << "" << "";
    }

    void translateIsExact()
    {
        QFETCH(QString, text);
        QFETCH(QString, english);
        LanguageManager::instance().setLanguage(1);
        QCOMPARE(LanguageManager::instance().translate(text), english);
    }

    void walkSwitchesEveryKindAndComesBack()
    {
        QWidget root;
        root.setWindowTitle(QStringLiteral("SignalR调试助手"));
        LanguageManager::instance().addListener(&root, [&root] { applyLanguage(&root); });
        auto* label = new QLabel(QStringLiteral("连接设置"), &root);
        auto* sign = new QLabel(QStringLiteral("◆"), &root);
        auto* button = new QPushButton(QStringLiteral("连接"), &root);
        auto* check = new QCheckBox(QStringLiteral("自动滚动"), &root);
        auto* group = new QGroupBox(QStringLiteral("显示设置"), &root);
        auto* radio = new QRadioButton(QStringLiteral("SignalR 客户端"), group);
        auto* tabs = new QTabWidget(&root);
        tabs->addTab(new QWidget, QStringLiteral("通信日志"));
        auto* plain = new QPlainTextEdit(&root);
        plain->setPlaceholderText(QStringLiteral("输入要发送的消息..."));
        auto* line = new QLineEdit(&root);
        line->setPlaceholderText(QStringLiteral("规则名称"));
        auto* combo = new QComboBox(&root);
        combo->addItems({QStringLiteral("折线图"), QStringLiteral("UTF-8")});
        auto* dataCombo = new QComboBox(&root); // 20 items or more hold data, not captions
        for (int i = 0; i < 20; ++i)
            dataCombo->addItem(QStringLiteral("饼图"));

        const auto shown = [&] {
            return QStringList{root.windowTitle(), label->text(), sign->text(), button->text(),
                               check->text(), group->title(), radio->text(), tabs->tabText(0),
                               plain->placeholderText(), line->placeholderText(), combo->itemText(0),
                               combo->itemText(1), dataCombo->itemText(0)};
        };
        const QStringList chinese = shown();
        const QStringList english{"SignalR Debug Tool", "Connection", "◆", "Connect", "Auto Scroll",
                                  "Display", "SignalR Client", "Log", "Enter message to send...",
                                  "Rule Name", "Line Chart", "UTF-8", "饼图"};
        for (int round = 0; round < 2; ++round) {
            LanguageManager::instance().setLanguage(1);
            QCOMPARE(shown(), english);
            LanguageManager::instance().setLanguage(0);
            QCOMPARE(shown(), chinese);
        }
        QVERIFY(sign->dynamicPropertyNames().isEmpty());

        // The look-up uses what is shown now; going back restores what was there first.
        label->setText(QStringLiteral("断开"));
        LanguageManager::instance().setLanguage(1);
        QCOMPARE(label->text(), QStringLiteral("Disconnect"));
        LanguageManager::instance().setLanguage(0);
        QCOMPARE(label->text(), QStringLiteral("连接设置"));
    }

    void destroyedContextIsNotCalled()
    {
        int calls = 0;
        {
            QObject context;
            LanguageManager::instance().addListener(&context, [&calls] { ++calls; });
            LanguageManager::instance().setLanguage(1);
        }
        LanguageManager::instance().setLanguage(0);
        QCOMPARE(calls, 1);
    }
};

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
