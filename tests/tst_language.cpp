// Guards the language walk against: a kind of widget left untranslated, Chinese texts not
// restored exactly (or remembered from a later text), data combo boxes and sign-only
// labels rewritten, and inexact table look-ups. (Listeners go with their context object
// because they are plain connections to languageChanged: Qt's to guarantee, not tested here.)

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
    void walkSwitchesEveryKindAndComesBack()
    {
        LanguageManager& language = LanguageManager::instance();
        QWidget root;
        language.addListener(&root, [&root] { applyLanguage(&root); });
        auto* group = new QGroupBox(&root);
        auto* tabs = new QTabWidget(&root);
        tabs->addTab(new QWidget, QStringLiteral("通信日志"));
        auto* combo = new QComboBox(&root);
        combo->addItems({QStringLiteral("折线图"), QStringLiteral("UTF-8")});
        auto* dataCombo = new QComboBox(&root); // 20 items or more hold data, not captions
        for (int i = 0; i < 20; ++i)
            dataCombo->addItem(QStringLiteral("饼图"));
        struct Part { QWidget* widget; const char* property; QString chinese, english; };
        const QList<Part> parts{{&root, "windowTitle", "SignalR调试助手", "SignalR Debug Tool"},
                                {new QLabel(&root), "text", "连接设置", "Connection"},
                                {new QLabel(&root), "text", "◆", "◆"},
                                {new QLabel(&root), "text", "连接设置x", "连接设置x"}, // look-ups are exact
                                {new QLabel(&root), "text", " 连接", " 连接"},
                                {new QPushButton(&root), "text", "连接", "Connect"},
                                {new QCheckBox(&root), "text", "自动滚动", "Auto Scroll"},
                                {group, "title", "显示设置", "Display"},
                                {new QRadioButton(group), "text", "SignalR 客户端", "SignalR Client"},
                                {new QPlainTextEdit(&root), "placeholderText", "输入要发送的消息...", "Enter message to send..."},
                                {new QLineEdit(&root), "placeholderText", "规则名称", "Rule Name"}};
        for (const Part& part : parts)
            part.widget->setProperty(part.property, part.chinese);
        const auto shown = [&] {
            QStringList texts{tabs->tabText(0), combo->itemText(0), combo->itemText(1), dataCombo->itemText(0)};
            for (const Part& part : parts)
                texts << part.widget->property(part.property).toString();
            return texts;
        };
        QStringList english{"Log", "Line Chart", "UTF-8", "饼图"};
        for (const Part& part : parts)
            english << part.english;
        const QStringList chinese = shown();
        for (int round = 0; round < 2; ++round) {
            language.setLanguage(1);
            QCOMPARE(shown(), english);
            language.setLanguage(0);
            QCOMPARE(shown(), chinese);
        }
        QVERIFY(parts[2].widget->dynamicPropertyNames().isEmpty()); // the sign is left alone

        // The look-up uses what is shown now; going back restores what was there first.
        parts[1].widget->setProperty("text", QStringLiteral("断开"));
        language.setLanguage(1);
        QCOMPARE(parts[1].widget->property("text"), QStringLiteral("Disconnect"));
        language.setLanguage(0);
        QCOMPARE(parts[1].widget->property("text"), QStringLiteral("连接设置"));
    }
};

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
