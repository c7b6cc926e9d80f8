#include <QtTest>

#include "ChartSeriesData.h"
#include "SeriesWindow.h"

using Samples = QList<QPair<qint64, double>>;

namespace {

constexpr qint64 From = 1'700'000'000'000;

void fill(ChartSeriesData& data, const Samples& samples)
{
    for (const auto& sample : samples)
        data.append(sample.first, sample.second);
}

} // namespace

class TestChartSeries : public QObject
{
    Q_OBJECT

private slots:
    void keepsNewestSamplesAtCap();
    void fitsValueRange_data();
    void fitsValueRange();
    void sumsAndPointsFollowWindowEdge();
};

void TestChartSeries::keepsNewestSamplesAtCap()
{
    ChartSeriesData data(QStringLiteral("s"), Qt::red);
    for (int i = 0; i < ChartSeriesData::MaxSamples; ++i)
        data.append(i, i);
    QCOMPARE(data.points().size(), ChartSeriesData::MaxSamples);
    QCOMPARE(data.points().first().value, 0.0);

    data.append(5000, 5000);
    QCOMPARE(data.points().size(), ChartSeriesData::MaxSamples);
    QCOMPARE(data.points().first().value, 1.0);
    QCOMPARE(data.points().last().value, 5000.0);

    // Long runs at the cap keep exactly the newest samples in order.
    for (int i = 5001; i < 20000; ++i)
        data.append(i, i);
    QCOMPARE(data.points().size(), ChartSeriesData::MaxSamples);
    QCOMPARE(data.points().first().msecs, qint64(15000));
    QCOMPARE(data.points().at(2500).msecs, qint64(17500));
}

void TestChartSeries::fitsValueRange_data()
{
    QTest::addColumn<Samples>("first");
    QTest::addColumn<Samples>("second");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");

    QTest::newRow("one sample") << Samples{{From, 50}} << Samples{} << true << 49.0 << 51.0;
    QTest::newRow("spread over two series") << Samples{{From + 5, 0}} << Samples{{From + 9, 100}} << true << -11.0
                                            << 111.0;
    QTest::newRow("no samples") << Samples{} << Samples{} << false << 0.0 << 0.0;
    QTest::newRow("only old samples") << Samples{{From - 1, 50}} << Samples{{From - 1000, 3}} << false << 0.0 << 0.0;
    QTest::newRow("sample at the window start") << Samples{{From, 20}, {From - 1, 900}} << Samples{} << true << 19.0
                                                << 21.0;
    QTest::newRow("huge value keeps minimum at bound") << Samples{{From, 3e9}} << Samples{} << true
                                                       << 1e9 - (2e9 * 0.1 + 1.0) << 3e9 + (2e9 * 0.1 + 1.0);
    QTest::newRow("tiny value keeps maximum at bound") << Samples{{From, -3e9}} << Samples{} << true
                                                       << -3e9 - (2e9 * 0.1 + 1.0) << -1e9 + (2e9 * 0.1 + 1.0);
}

void TestChartSeries::fitsValueRange()
{
    QFETCH(Samples, first);
    QFETCH(Samples, second);
    QFETCH(bool, fits);
    QFETCH(double, low);
    QFETCH(double, high);

    ChartSeriesData a;
    ChartSeriesData b;
    fill(a, first);
    fill(b, second);
    const auto range = SeriesWindow::fittedRange({&a, &b}, From);
    QCOMPARE(range.has_value(), fits);
    if (fits) {
        QCOMPARE(range->first, low);
        QCOMPARE(range->second, high);
    }
}

void TestChartSeries::sumsAndPointsFollowWindowEdge()
{
    ChartSeriesData data;
    fill(data, {{From - 1, 100}, {From, 2}, {From + 1000, 3.5}});

    QCOMPARE(SeriesWindow::sum(data, From), 5.5);
    QCOMPARE(SeriesWindow::sum(data, From + 1001), 0.0);
    QCOMPARE(SeriesWindow::points(data, From),
             (QList<QPointF>{QPointF(double(From), 2), QPointF(double(From + 1000), 3.5)}));
    QCOMPARE(SeriesWindow::points(data, From - 1).size(), 3);
}

QTEST_MAIN(TestChartSeries)
#include "tst_chart_series.moc"
