#pragma once

#include <QStyledItemDelegate>

// Draws each row of the log on one line, elided at the view's right edge, with control
// characters (line breaks, the 0x1E record separator ...) as small framed marks: fonts
// draw them as boxes or not at all. Only the drawing changes; the row's text keeps the
// real characters for copying. Every row is one line high, so the view can take its
// height from the first row alone (uniform item sizes) and never lays out long texts.
class LogRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit LogRowDelegate(QObject* parent);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
