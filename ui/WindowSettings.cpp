#include "WindowSettings.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCompleter>
#include <QEvent>
#include <QLineEdit>
#include <QSpinBox>
#include <QSplitter>
#include <QStringListModel>
#include <QWidget>

#include "Settings.h"

namespace {

const QString GeometryKey = QStringLiteral("window/geometry");

QString keyFor(const QWidget* widget)
{
    return QStringLiteral("window/") + widget->objectName();
}

// An int stored as text; nothing for anything else.
bool readInt(const QVariant& value, int& out)
{
    bool ok = false;
    const int number = value.toString().toInt(&ok);
    if (ok)
        out = number;
    return ok;
}

} // namespace

WindowSettings::WindowSettings(Settings* settings, QWidget* window)
    : QObject(window)
    , m_settings(settings)
    , m_window(window)
{
    window->restoreGeometry(settings->value(GeometryKey).toByteArray());
    window->installEventFilter(this);
}

void WindowSettings::bind(const QStringList& objectNames)
{
    for (const QString& name : objectNames) {
        if (auto* widget = m_window->findChild<QWidget*>(name))
            bindWidget(widget);
    }
}

void WindowSettings::bindWidget(QWidget* widget)
{
    const QString key = keyFor(widget);
    const QVariant stored = m_settings->value(key);
    const auto write = [this, key](const QVariant& value) { m_settings->setValue(key, value); };
    int number = 0;
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        if (stored.typeId() == QMetaType::QString)
            edit->setText(stored.toString());
        connect(edit, &QLineEdit::textChanged, this, write);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        const QString text = stored.toString();
        if (text == QLatin1String("true") || text == QLatin1String("false"))
            button->setChecked(text == QLatin1String("true"));
        connect(button, &QAbstractButton::toggled, this, write);
    } else if (auto* spin = qobject_cast<QSpinBox*>(widget)) {
        if (readInt(stored, number) && number >= spin->minimum() && number <= spin->maximum())
            spin->setValue(number);
        connect(spin, &QSpinBox::valueChanged, this, write);
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        if (readInt(stored, number) && number >= 0 && number < combo->count())
            combo->setCurrentIndex(number);
        connect(combo, &QComboBox::currentIndexChanged, this, write);
    } else if (auto* splitter = qobject_cast<QSplitter*>(widget)) {
        // restoreState refuses what it cannot read.
        splitter->restoreState(stored.toByteArray());
        m_splitters.append(splitter);
        connect(splitter, &QSplitter::splitterMoved, this,
                [write, splitter] { write(splitter->saveState()); });
    }
}

void WindowSettings::addCompleter(QLineEdit* edit, const QString& key)
{
    auto* model = new QStringListModel(m_settings->recent(key), this);
    auto* completer = new QCompleter(model, edit);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    // Offer every recent value on an empty field, not only those that start alike.
    completer->setFilterMode(Qt::MatchContains);
    edit->setCompleter(completer);
    m_recentModels.insert(key, model);
}

void WindowSettings::remember(const QString& key, const QString& value)
{
    m_settings->addRecent(key, value);
    if (QStringListModel* model = m_recentModels.value(key))
        model->setStringList(m_settings->recent(key));
}

bool WindowSettings::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window && event->type() == QEvent::Close)
        saveLayout();
    return QObject::eventFilter(watched, event);
}

void WindowSettings::saveLayout()
{
    m_settings->setValue(GeometryKey, m_window->saveGeometry());
    for (QSplitter* splitter : std::as_const(m_splitters))
        m_settings->setValue(keyFor(splitter), splitter->saveState());
    m_settings->sync();
}
