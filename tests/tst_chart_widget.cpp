#include <QtTest>

#include <QPainter>

#include <functional>

#include "ChartSeriesData.h"
#include "ChartWidget.h"
#include "PaintedChart.h"

namespace {

constexpr qint64 Now = 1'700'000'123'456;
const QSize Size(400, 224); // plot of 344 x 200 at (48, 4)
const QColor Background(0x0A, 0x0E, 0x16);

// Owns the records that a data source lists.
struct Records
{
    QObject owner;
    QList<ChartSeriesData*> list;
    ChartSeriesData& add() { return *list.emplace_back(new ChartSeriesData(&owner)); }
};

QImage paintAt(const QList<ChartSeriesData*>* records, const QSize& size = Size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    PaintedChart::paint(painter, size, records, 60, Now);
    return image;
}

int countPixels(const QImage& image, const QRect& area, const std::function<bool(const QColor&)>& test)
{
    int count = 0;
    const QRect clipped = area.intersected(image.rect());
    for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
        for (int x = clipped.left(); x <= clipped.right(); ++x)
            count += test(image.pixelColor(x, y)) ? 1 : 0;
    }
    return count;
}

bool notBackground(const QColor& c)
{
    return c != Background;
}

// The first curve colour, also where antialiasing blends it into the background.
bool firstCurve(const QColor& c)
{
    return c.red() < 60 && c.green() > 100 && c.blue() > 120;
}

} // namespace

class TestChartWidget : public QObject
{
    Q_OBJECT

private slots:
    void padsValueRange_data()
    {
        QTest::addColumn<QList<double>>("values");
        QTest::addColumn<double>("lo");
        QTest::addColumn<double>("hi");

        QTest::newRow("all equal") << QList<double>{7, 7, 7} << 6.9 << 7.1;
        QTest::newRow("small spread") << QList<double>{0, 0.5} << -0.05 << 0.55;
        QTest::newRow("spread below threshold") << QList<double>{1, 1.0005} << 0.9 << 1.1005;
        QTest::newRow("negative") << QList<double>{-20, 80} << -30.0 << 90.0;
    }

    void padsValueRange()
    {
        QFETCH(QList<double>, values);
        QFETCH(double, lo);
        QFETCH(double, hi);

        Records records;
        records.add().append(Now - 100000, 1000); // before the window: no part of the range
        for (double value : values)
            records.add().append(Now - 1000, value);
        const auto range = PaintedChart::visibleRange(records.list, Now - 60000);
        QVERIFY(range);
        QCOMPARE(range->lo, lo);
        QCOMPARE(range->hi, hi);
    }

    void placesTimeTicks_data()
    {
        QTest::addColumn<qint64>("start");
        QTest::addColumn<qint64>("now");
        QTest::addColumn<QList<qint64>>("ticks");

        const auto every = [](qint64 step, qint64 first, qint64 last) {
            QList<qint64> ticks;
            for (qint64 tick = first; tick <= last; tick += step)
                ticks << tick;
            return ticks;
        };
        // Multiples of the step strictly between the ends.
        QTest::newRow("5 s up to 30 s") << qint64(0) << qint64(30000) << every(5000, 5000, 25000);
        QTest::newRow("10 s beyond") << qint64(0) << qint64(30001) << every(10000, 10000, 30000);
        QTest::newRow("10 s up to 2 min") << qint64(10000) << qint64(130000) << every(10000, 20000, 120000);
        QTest::newRow("30 s beyond") << qint64(1) << qint64(120002) << every(30000, 30000, 120000);
    }

    void placesTimeTicks()
    {
        QFETCH(qint64, start);
        QFETCH(qint64, now);
        QFETCH(QList<qint64>, ticks);
        QCOMPARE(PaintedChart::timeTicks(start, now), ticks);
    }

    void formatsLabels_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("label");

        QTest::newRow("below one") << 0.55 << "0.550";
        QTest::newRow("one") << 1.0 << "1.0";
        QTest::newRow("negative") << -250.24 << "-250.2";
        QTest::newRow("large") << 12345.6 << "12346";
        QTest::newRow("large negative") << -10000.0 << "-10000";
    }

    void formatsLabels()
    {
        QFETCH(double, value);
        QFETCH(QString, label);
        QCOMPARE(PaintedChart::valueLabel(value), label);
    }

    void labelValuesAndColours()
    {
        const QList<double> labels = PaintedChart::valueLabelValues({6.9, 7.1});
        QCOMPARE(labels.size(), 5);
        QCOMPARE(labels.first(), 7.1);
        QCOMPARE(labels.last(), 6.9);
        QCOMPARE(PaintedChart::curveColor(0), QColor(QStringLiteral("#00D4FF")));
        QCOMPARE(PaintedChart::curveColor(5), QColor(QStringLiteral("#EC4899")));
        QCOMPARE(PaintedChart::curveColor(6), PaintedChart::curveColor(5));
    }

    void showsNoData_data()
    {
        QTest::addColumn<int>("records");
        QTest::addColumn<bool>("firstHasSamples");
        QTest::addColumn<bool>("samplesVisible");

        QTest::newRow("no source") << -1 << false << false;
        QTest::newRow("empty list") << 0 << false << false;
        QTest::newRow("first record empty, later full") << 2 << false << true;
        QTest::newRow("only old samples") << 2 << true << false;
    }

    void showsNoData()
    {
        QFETCH(int, records);
        QFETCH(bool, firstHasSamples);
        QFETCH(bool, samplesVisible);

        Records source;
        for (int i = 0; i < records; ++i) {
            ChartSeriesData& data = source.add();
            if (i > 0 || firstHasSamples)
                data.append(samplesVisible ? Now - 1000 : Now - 61000, 5);
        }
        const QImage image = paintAt(records < 0 ? nullptr : &source.list);
        // The text in the middle, background everywhere else: no frame, curve or labels.
        const QRect centre(Size.width() / 2 - 40, Size.height() / 2 - 10, 80, 20);
        QVERIFY(countPixels(image, centre, notBackground) > 10);
        QCOMPARE(countPixels(image, image.rect(), notBackground), countPixels(image, centre, notBackground));
    }

    void drawsFlatCurveHalfway()
    {
        Records source;
        ChartSeriesData& flat = source.add();
        for (int s : {61, 50, 40, 30, 20, 10}) // the first before the window: not joined to the rest
            flat.append(Now - s * 1000, 7);
        for (int i = 1; i < 7; ++i)
            source.add().append(Now - 61000, 7); // before the window: no path

        const QImage image = paintAt(&source.list);
        // 10 s to 50 s into the window: x from 105 to 335; 7 in 6.9..7.1: y = 4 + 100.
        QVERIFY(countPixels(image, QRect(120, 102, 200, 4), firstCurve) > 150);
        QCOMPARE(countPixels(image, QRect(48, 4, 344, 200), firstCurve),
                 countPixels(image, QRect(105, 100, 231, 8), firstCurve));
        // Value labels left of the plot, time labels below it.
        QVERIFY(countPixels(image, QRect(0, 0, 46, 20), notBackground) > 5);
        QVERIFY(countPixels(image, QRect(0, Size.height() - 18, Size.width(), 16), notBackground) > 20);

        // Below 57 x 25 pixels only the background remains.
        QCOMPARE(countPixels(paintAt(&source.list, QSize(56, 24)), QRect(0, 0, 56, 24), notBackground), 0);
        QVERIFY(countPixels(paintAt(&source.list, QSize(57, 25)), QRect(0, 0, 57, 25), notBackground) > 0);
    }

    void widgetClampsWindowAndPaintsSource()
    {
        ChartWidget widget;
        // It repaints itself five times a second.
        QVERIFY(widget.findChild<QTimer*>()->isActive());
        QCOMPARE(widget.findChild<QTimer*>()->interval(), 200);
        widget.setTimeWindow(2);
        QCOMPARE(widget.timeWindow(), 5);
        widget.setTimeWindow(60);

        Records source;
        source.add().append(QDateTime::currentMSecsSinceEpoch() - 2000, 5);
        source.list.first()->append(QDateTime::currentMSecsSinceEpoch(), 6);
        widget.setDataSource(&source.list);
        widget.resize(Size);
        QImage image(Size, QImage::Format_RGB32);
        widget.render(&image);
        QVERIFY(countPixels(image, QRect(48, 4, 344, 200), firstCurve) > 0);
    }
};

QTEST_MAIN(TestChartWidget)
#include "tst_chart_widget.moc"
