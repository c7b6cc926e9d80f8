#include "LanguageManager.h"

#include <QAbstractAxis>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QSpinBox>
#include <QTranslator>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVariant>
#include <QWidget>

#include "Palette.h"

namespace {

struct Row
{
    const char* chinese;
    const char* english;
};

// Only the texts this program shows; keys must match the builders' texts exactly.
constexpr Row Rows[] = {
    {"SignalR调试助手", "SignalR Debug Tool"},
    {"连接", "Connect"},
    {"断开", "Disconnect"},
    {"连接设置", "Connection"},
    {"模式选择", "Mode"},
    {"显示设置", "Display"},
    {"数据可视化", "Data Visualization"},
    {"已连接客户端", "Connected Clients"},
    {"编码", "Encoding"},
    {"行间距", "Line Spacing"},
    {"字号", "Font Size"},
    {"监听端口", "Listen Port"},
    {"SignalR 客户端", "SignalR Client"},
    {"十六进制显示", "Hex Display"},
    {"显示时间戳", "Show Timestamp"},
    {"自动滚动", "Auto Scroll"},
    {"通信日志", "Log"},
    {"数据图表", "Chart"},
    {"断开选中客户端", "Disconnect Selected"},
    {"🟢 已连接", "● Connected"},
    {"发送区", "Send"},
    {"刷新", "Send"},
    {"间隔:", "Interval:"},
    {"Hex发送", "Hex Send"},
    {"Enter发送", "Enter Send"},
    {"自动发送", "Auto Send"},
    {"输入要发送的消息...", "Enter message to send..."},
    {"未发现可用数值 — 请检查数据", "No values found — check data"},
    {"数值", "Value"},
    {"时间", "Time"},
    {"启用图表", "Enable Chart"},
    {"预设模板", "Preset Templates"},
    {"图表类型", "Chart Type"},
    {"规则名称", "Rule Name"},
    {"表达式 (正则/JSON路径)", "Expression (Regex/JSON)"},
    {"添加规则", "Add Rule"},
    {"智能分析", "Smart Analyze"},
    {"时间窗口:", "Time Window:"},
    {"清除图表数据", "Clear Chart Data"},
    {"自定义", "Custom"},
    {"温度/电压 折线", "Temp/Voltage Line"},
    {"JSON 多字段", "JSON Multi-Field"},
    {"百分比饼图", "Percentage Pie"},
    {"频率柱状图", "Frequency Bar"},
    {"折线图", "Line Chart"},
    {"平滑曲线", "Smooth Curve"},
    {"散点图", "Scatter Plot"},
    {"面积图", "Area Chart"},
    {"柱状图", "Bar Chart"},
    {"饼图", "Pie Chart"},
    {"例: temperature 或 data.value", "e.g. temperature or data.value"},
    // The rest of the window, so that English mode is English everywhere.
    {"SignalR 服务端(模拟)", "SignalR Server (Simulated)"},
    {"Hub 地址", "Hub Address"},
    {"Hub 路径", "Hub Path"},
    {"方法订阅", "Subscriptions"},
    {"订阅", "Subscribe"},
    {"取消订阅", "Unsubscribe"},
    {"启动", "Start"},
    {"📖 文档", "📖 Docs"},
    {"方法名", "Method"},
    {"重置计数", "Reset Counters"},
    {"清除日志", "Clear Log"},
    {"导出", "Export"},
    {"◆未连接", "○ Disconnected"},
    {" 秒", " s"},
    // Connect settings: negotiate, access token, headers, certificates.
    {"协商", "Negotiate"},
    {"访问令牌", "Access token"},
    {"令牌放在查询参数", "Token in query string"},
    {"请求头", "Headers"},
    {"Name: value，每行一个", "Name: value, one per line"},
    {"忽略证书错误", "Ignore certificate errors"},
    // Simulated hub: scripted replies and sends to one client.
    {"自动回复", "Auto Replies"},
    {"被调用的方法", "Invoked method"},
    {"返回结果", "Return result"},
    {"推送给调用者", "Push to caller"},
    {"推送给所有人", "Push to all"},
    {"推送的方法名", "Method to push"},
    {"结果或参数 (JSON)", "Result or arguments (JSON)"},
    {"添加", "Add"},
    {"删除选中", "Remove Selected"},
    {"仅发送给选中客户端", "Selected client only"},
    // Log filter bar and detail pane.
    {"搜索日志 (F3 下一个)", "Search the log (F3: next)"},
    {"正则", "Regex"},
    {"按方法筛选", "Filter by method"},
    {"筛选", "Filter"},
    {"复制文本", "Copy Text"},
    {"复制十六进制", "Copy Hex"},
    {"文本", "Text"},
    {"十六进制", "Hex"},
    // The whole conversation: client call kinds, keep-alive, reconnect, closing a client.
    {"自动重连", "Auto-reconnect"},
    {"显示心跳", "Show pings"},
    {"单向发送", "Fire-and-forget"},
    {"流式调用", "Stream"},
    {"取消流", "Cancel stream"},
    {"发送关闭消息...", "Send close message..."},
    {"发送关闭消息(允许重连)...", "Send close message (reconnect allowed)..."},
    {"关闭客户端", "Close client"},
    {"错误信息:", "Error text:"},
    // MessagePack hub protocol.
    {"协议", "Protocol"},
};

// Long combo boxes hold data (encodings, ports, ...) rather than captions.
constexpr int MaxTranslatedComboItems = 19;

// Labels that show only a sign: nothing to translate and nothing worth remembering.
bool isSignOnly(const QString& text)
{
    return text == QStringLiteral("◆") || text == QStringLiteral("  ")
           || text == QStringLiteral("●") || text == QStringLiteral("○");
}

// Switches one text of `holder`. The first Chinese text seen at a switch to English is
// kept in `property` for good, so that going back restores exactly what the builder wrote.
// The lookup uses the text shown now, so a text changed later is still translated.
template <typename Setter>
void switchText(QObject* holder, const QByteArray& property, const QString& shown, bool english,
                Setter&& set, bool skipWhenUnchanged = false)
{
    if (shown.isEmpty())
        return;
    const QString remembered = holder->property(property.constData()).toString();
    if (english) {
        if (remembered.isEmpty())
            holder->setProperty(property.constData(), shown);
        const QString translated = LanguageManager::instance().translate(shown);
        if (skipWhenUnchanged && translated == shown)
            return;
        set(translated);
    } else if (!remembered.isEmpty()) {
        set(remembered);
    }
}

void switchWidget(QWidget* widget, bool english)
{
    const QByteArray origText("origText");
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        if (isSignOnly(label->text()))
            return;
        switchText(label, origText, label->text(), english,
                   [label](const QString& text) { label->setText(text); });
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
        switchText(button, origText, button->text(), english,
                   [button](const QString& text) { button->setText(text); });
    } else if (auto* check = qobject_cast<QCheckBox*>(widget)) {
        switchText(check, origText, check->text(), english,
                   [check](const QString& text) { check->setText(text); });
    } else if (auto* radio = qobject_cast<QRadioButton*>(widget)) {
        switchText(radio, origText, radio->text(), english,
                   [radio](const QString& text) { radio->setText(text); });
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        switchText(group, origText, group->title(), english,
                   [group](const QString& text) { group->setTitle(text); });
    } else if (auto* tabs = qobject_cast<QTabWidget*>(widget)) {
        for (int i = 0; i < tabs->count(); ++i) {
            switchText(tabs, "tab" + QByteArray::number(i), tabs->tabText(i), english,
                       [tabs, i](const QString& text) { tabs->setTabText(i, text); });
        }
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(widget)) {
        switchText(plain, "origPH", plain->placeholderText(), english,
                   [plain](const QString& text) { plain->setPlaceholderText(text); });
    } else if (auto* line = qobject_cast<QLineEdit*>(widget)) {
        switchText(line, "origPH", line->placeholderText(), english,
                   [line](const QString& text) { line->setPlaceholderText(text); });
    } else if (auto* spin = qobject_cast<QSpinBox*>(widget)) {
        switchText(spin, "origSuffix", spin->suffix(), english,
                   [spin](const QString& text) { spin->setSuffix(text); }, /*skipWhenUnchanged=*/true);
    } else if (auto* view = qobject_cast<QChartView*>(widget)) {
        // Chart and axis titles are drawn by the chart, not by widgets of their own.
        QChart* chart = view->chart();
        switchText(view, "origChartTitle", chart->title(), english,
                   [chart](const QString& text) { chart->setTitle(text); });
        const QList<QAbstractAxis*> axes = chart->axes();
        for (int i = 0; i < axes.size(); ++i) {
            QAbstractAxis* axis = axes.at(i);
            switchText(view, "origAxis" + QByteArray::number(i), axis->titleText(), english,
                       [axis](const QString& text) { axis->setTitleText(text); });
        }
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        if (combo->count() > MaxTranslatedComboItems)
            return;
        for (int i = 0; i < combo->count(); ++i) {
            switchText(combo, "origItem" + QByteArray::number(i), combo->itemText(i), english,
                       [combo, i](const QString& text) { combo->setItemText(i, text); },
                       /*skipWhenUnchanged=*/true);
        }
    }
}

} // namespace

LanguageManager& LanguageManager::instance()
{
    static LanguageManager manager;
    return manager;
}

LanguageManager::LanguageManager()
{
    for (const Row& row : Rows)
        m_table.insert(QString::fromUtf8(row.chinese), QString::fromUtf8(row.english));
}

QString LanguageManager::translate(const QString& text) const
{
    if (!isEnglish())
        return text;
    return m_table.value(text, text);
}

void LanguageManager::addListener(QObject* context, std::function<void()> listener)
{
    connect(this, &LanguageManager::languageChanged, context, std::move(listener));
}

void LanguageManager::setLanguage(int index)
{
    const int wanted = index == 0 ? Chinese : English;
    if (wanted == m_language)
        return;
    m_language = wanted;
    applyQtTranslations();
    emit languageChanged();
}

void LanguageManager::applyQtTranslations()
{
    // Qt's own texts (file dialogs, message boxes, socket errors such as "Connection
    // refused") follow the interface language; English is Qt's built-in language.
    if (!QCoreApplication::instance())
        return;
    if (m_language == English) {
        if (m_qtTranslator)
            QCoreApplication::removeTranslator(m_qtTranslator);
        return;
    }
    if (!m_qtTranslator) {
        m_qtTranslator = new QTranslator(this);
        if (!m_qtTranslator->load(QStringLiteral("qt_zh_CN"),
                                  QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
            delete m_qtTranslator;
            m_qtTranslator = nullptr;
            return;
        }
    }
    QCoreApplication::installTranslator(m_qtTranslator);
}

void applyLanguage(QWidget* root)
{
    if (!root)
        return;
    const bool english = LanguageManager::instance().isEnglish();

    const QList<QWidget*> widgets = root->findChildren<QWidget*>(Qt::FindChildrenRecursively);
    for (QWidget* widget : widgets)
        switchWidget(widget, english);

    const QString title = root->windowTitle();
    if (title.isEmpty())
        return;
    const QString remembered = root->property("origTitle").toString();
    if (english) {
        if (remembered.isEmpty())
            root->setProperty("origTitle", title);
        root->setWindowTitle(LanguageManager::instance().translate(title));
    } else if (!remembered.isEmpty()) {
        root->setWindowTitle(remembered);
    }
}

QComboBox* createLanguageSelector(QWidget* parent)
{
    auto* combo = new QComboBox(parent);
    combo->addItem(QStringLiteral("中文"), 0);
    combo->addItem(QStringLiteral("English"), 1);
    LanguageManager& manager = LanguageManager::instance();
    // Set before connecting, so that building a selector never runs the listeners.
    combo->setCurrentIndex(manager.isEnglish() ? 1 : 0);
    combo->setFixedWidth(80);
    // combobox-popup 0 (in the sheet below): a plain list under the box. The style's
    // menu-like popup is placed over the current item and, cut to the item's height,
    // hid "English" behind a scroll arrow.
    combo->setStyleSheet(
        QStringLiteral("QComboBox { background: transparent; color: %1; border: 1px solid %2; "
                       "border-radius: 3px; padding: 2px 6px; font-size: 11px; combobox-popup: 0; }"
                       "QComboBox:hover { border-color: %3; }"
                       "QComboBox QAbstractItemView { background: %4; color: %5; "
                       "selection-background-color: %6; }")
            .arg(Palette::TextMuted, Palette::Border, Palette::Link, Palette::PopupBackground,
                 Palette::TextBright, Palette::Selection));
    QObject::connect(combo, &QComboBox::currentIndexChanged, &manager,
                     &LanguageManager::setLanguage);
    return combo;
}
