#include "LogRowDelegate.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

#include "PayloadFormat.h"

namespace {

constexpr int TextInsetPx = 4;
constexpr int MarkPaddingPx = 2;
constexpr int MarkGapPx = 2;
constexpr qreal MarkFontScale = 0.75;
constexpr int MarkAlpha = 160;
const QChar Ellipsis(0x2026);

// One row's line, drawn run by run between the marks, until the right edge.
class LinePainter
{
public:
    LinePainter(QPainter* painter, const QStyleOptionViewItem& opt, const QColor& colour)
        : m_painter(painter)
        , m_font(opt.font)
        , m_metrics(opt.font)
        , m_markFont(opt.font)
        , m_markMetrics(opt.font)
        , m_line(opt.rect.adjusted(TextInsetPx, 0, -TextInsetPx, 0))
        , m_colour(colour)
        , m_x(m_line.left())
    {
        if (m_markFont.pointSizeF() > 0)
            m_markFont.setPointSizeF(m_markFont.pointSizeF() * MarkFontScale);
        m_markMetrics = QFontMetrics(m_markFont);
        m_baseline = m_line.top() + (m_line.height() - m_metrics.height()) / 2 + m_metrics.ascent();
        // No glyph is narrower than half the average: never measure more than fits twice.
        m_widestRun = 2 * m_line.width() / std::max(1, m_metrics.averageCharWidth()) + 2;
    }

    void draw(const QString& text)
    {
        qsizetype runStart = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QString mark = PayloadFormat::controlMark(text.at(i));
            if (mark.isEmpty())
                continue;
            if (!drawRun(QStringView(text).mid(runStart, i - runStart)) || !drawMark(mark))
                return;
            runStart = i + 1;
        }
        drawRun(QStringView(text).mid(runStart));
    }

private:
    // False when the line is full.
    bool drawRun(QStringView run)
    {
        if (run.isEmpty())
            return true;
        const bool cut = run.size() > m_widestRun;
        QString shown = run.left(m_widestRun).toString();
        const int room = m_line.right() - m_x;
        const int width = m_metrics.horizontalAdvance(shown);
        if (!cut && width <= room) {
            m_painter->drawText(m_x, m_baseline, shown);
            m_x += width;
            return true;
        }
        if (cut)
            shown += Ellipsis; // elidedText must see that more follows
        m_painter->drawText(m_x, m_baseline, m_metrics.elidedText(shown, Qt::ElideRight, room));
        return false;
    }

    bool drawMark(const QString& mark)
    {
        const int width = m_markMetrics.horizontalAdvance(mark) + 2 * MarkPaddingPx;
        if (m_x + width + MarkGapPx > m_line.right()) {
            m_painter->drawText(m_x, m_baseline, QString(Ellipsis));
            return false;
        }
        const QRect box(m_x + 1, m_line.top() + (m_line.height() - m_markMetrics.height()) / 2, width,
                        m_markMetrics.height());
        QColor faded = m_colour;
        faded.setAlpha(MarkAlpha);
        m_painter->setPen(faded);
        m_painter->setFont(m_markFont);
        m_painter->drawRoundedRect(box, 2, 2);
        m_painter->drawText(box, Qt::AlignCenter, mark);
        m_painter->setPen(m_colour);
        m_painter->setFont(m_font);
        m_x += width + MarkGapPx;
        return true;
    }

    QPainter* m_painter = nullptr;
    QFont m_font;
    QFontMetrics m_metrics;
    QFont m_markFont;
    QFontMetrics m_markMetrics;
    QRect m_line;
    QColor m_colour;
    int m_x = 0;
    int m_baseline = 0;
    qsizetype m_widestRun = 0;
};

} // namespace

LogRowDelegate::LogRowDelegate(QObject* parent)
    : QStyledItemDelegate(parent)
{
}

QSize LogRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    // One line of any text: the style adds the item padding of the line spacing.
    opt.text = QStringLiteral("Ag");
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    const QSize size = style->sizeFromContents(QStyle::CT_ItemViewItem, &opt, QSize(), widget);
    // Rows are elided at the view's edge, so they never ask for more width.
    return QSize(1, size.height());
}

void LogRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);

    painter->save();
    painter->setFont(opt.font);
    const bool selected = opt.state & QStyle::State_Selected;
    const QColor colour = selected ? opt.palette.color(QPalette::HighlightedText)
                                   : opt.palette.color(QPalette::Text);
    painter->setPen(colour);
    LinePainter(painter, opt, colour).draw(opt.text);
    painter->restore();
}
