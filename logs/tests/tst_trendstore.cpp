// The trend store: the last hour at full rate, min/max per 10 s bucket for a week, both
// bounded; gaps stay gaps.
#include "logs/trendstore.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <tuple>

using namespace plv::logs;

namespace {

constexpr qint64 Start = 1719820800000;   // 2024-07-01T08:00:00Z, on a bucket boundary
constexpr qint64 Minute = 60 * 1000;

TrendStore::Values kv(std::optional<double> v)
{
    TrendStore::Values values;
    values[size_t(TrendSeries::Kv)] = v;
    return values;
}

// One sample every `stepMs` for `spanMs`, kV counting up from 0 per sample.
void feed(TrendStore &store, qint64 spanMs, qint64 stepMs)
{
    qint64 i = 0;
    for (qint64 t = Start; t < Start + spanMs; t += stepMs, ++i)
        store.add(t, kv(double(i)));
}

} // namespace

class TstTrendStore : public QObject {
    Q_OBJECT
private slots:
    void fullRateKeepsTheLastHour_data()
    {
        QTest::addColumn<qint64>("spanMs");
        QTest::addColumn<qint64>("stepMs");
        QTest::addColumn<qsizetype>("points");
        QTest::newRow("half an hour: everything") << 30 * Minute << qint64(1000) << qsizetype(1800);
        QTest::newRow("two hours: the last hour only") << 120 * Minute << qint64(1000) << qsizetype(3600);
        QTest::newRow("the update cycle's pace") << 90 * Minute << qint64(800) << qsizetype(4500);
        QTest::newRow("a feed far too fast is capped") << 60 * Minute << qint64(50) << TrendStore::MaxPoints;
    }
    void fullRateKeepsTheLastHour()
    {
        QFETCH(qint64, spanMs);
        QFETCH(qint64, stepMs);
        QFETCH(qsizetype, points);
        TrendStore store;
        feed(store, spanMs, stepMs);
        QCOMPARE(store.pointCount(), points);
        const QList<TrendPoint> all = store.points(TrendSeries::Kv, 0, store.latestMs() + 1);
        QCOMPARE(all.size(), points);
        QCOMPARE(all.last().timeMs, store.latestMs());
        QVERIFY(all.first().timeMs > store.latestMs() - TrendStore::FullRateSpanMs);
        for (qsizetype i = 1; i < all.size(); ++i)
            QCOMPARE(all[i].value, all[i - 1].value + 1);   // none lost or reordered
        for (qint64 window : {Minute, 10 * Minute, 60 * Minute})   // the plot's three windows
            QCOMPARE(store.recentPoints(TrendSeries::Kv, window).size(), qMin(points, window / stepMs));
    }

    void bucketsHoldMinAndMax_data()
    {
        QTest::addColumn<QList<double>>("values");   // one a second from a bucket's start; NaN: no value
        QTest::addColumn<double>("min");
        QTest::addColumn<double>("max");
        QTest::newRow("min and max of ten") << QList<double>{5, 3, 9, 1, 7, 2, 8, 4, 6, 0.5} << 0.5 << 9.0;
        QTest::newRow("negative values") << QList<double>{-1, -15.5, -2} << -15.5 << -1.0;
        QTest::newRow("a missing value is no zero") << QList<double>{qQNaN(), 4, qQNaN(), 6} << 4.0 << 6.0;
        QTest::newRow("no value at all is a gap") << QList<double>{qQNaN(), qQNaN()} << qQNaN() << qQNaN();
    }
    void bucketsHoldMinAndMax()
    {
        QFETCH(QList<double>, values);
        QFETCH(double, min);
        QFETCH(double, max);
        TrendStore store;
        for (qsizetype i = 0; i < values.size(); ++i)
            store.add(Start + i * 1000, kv(std::isnan(values[i]) ? std::nullopt : std::optional<double>(values[i])));
        store.add(Start + TrendStore::BucketMs, kv(100));   // the next bucket must not mix in
        const QList<TrendRange> r = store.ranges(TrendSeries::Kv, Start, Start + 2 * TrendStore::BucketMs);
        QCOMPARE(r.size(), 2);
        QCOMPARE(r[0].timeMs, Start);
        QCOMPARE(r[0].min, min);   // QCOMPARE takes two NaNs as equal
        QCOMPARE(r[0].max, max);
        QCOMPARE(r[1].min, 100.0);
        // Full rate keeps the gaps as NaN points too.
        QCOMPARE(store.points(TrendSeries::Kv, Start, Start + TrendStore::BucketMs).size(), values.size());
    }

    void missingBucketsBecomeOneGap()
    {
        TrendStore store;
        store.add(Start, kv(1));
        store.add(Start + 5 * TrendStore::BucketMs, kv(2));   // four buckets without a sample
        const QList<TrendRange> r = store.ranges(TrendSeries::Kv, Start, Start + Minute);
        QCOMPARE(r.size(), 3);
        QCOMPARE(r[1].timeMs, Start + TrendStore::BucketMs);
        QVERIFY(std::isnan(r[1].min) && std::isnan(r[1].max));
        QCOMPARE(r[2].min, 2.0);
    }

    // Samples come once a cycle; more than two cycles without one break the line.
    void gapsBreakTheLine_data()
    {
        QTest::addColumn<QList<qint64>>("gaps");   // ms from each sample to the next
        QTest::addColumn<int>("breaks");
        const QList<qint64> steady(20, 800);
        QTest::newRow("a steady cycle: one line") << steady << 0;
        QTest::newRow("just under two cycles: joined") << steady + QList<qint64>{1599, 800, 800} << 0;
        QTest::newRow("just over two cycles: broken") << steady + QList<qint64>{1601, 800, 800} << 1;
        QTest::newRow("a minute of manual mode: broken") << steady + QList<qint64>{60000, 800, 800} << 1;
        QTest::newRow("a cycle resumed mid-way does not shorten the cycle")
            << steady + QList<qint64>{100, 800, 800, 1200, 800} << 0;
        QTest::newRow("a slower link: its own cycle") << QList<qint64>(20, 1500) + QList<qint64>{2900, 3100} << 1;
    }
    void gapsBreakTheLine()
    {
        QFETCH(QList<qint64>, gaps);
        QFETCH(int, breaks);
        TrendStore store;
        qint64 t = Start;
        store.add(t, kv(1));
        for (qint64 g : gaps)
            store.add(t += g, kv(1));
        const QList<TrendPoint> p = store.points(TrendSeries::Kv, Start, t + 1);
        QCOMPARE(int(std::count_if(p.begin(), p.end(), [](const TrendPoint &x) { return std::isnan(x.value); })), breaks);
        QCOMPARE(p.size(), gaps.size() + 1 + breaks);
    }

    // HV and faults as changes: what held at the window's start, then each change; a gap
    // is unknown from the sample before it.
    void statesAlongTheTime()
    {
        TrendStore store;
        const auto at = [](int second) { return Start + second * 1000; };
        store.add(at(0), kv(1), 0);
        store.add(at(1), kv(1), StateHvOn);
        store.add(at(2), kv(1), StateHvOn);
        store.add(at(3), kv(1), StateHvOn | StateFault);
        store.add(at(60), kv(1), 0);   // after a minute without samples
        const QList<TrendState> s = store.states(at(1) + 500, at(61));
        const QList<std::pair<qint64, int>> got = [&] {
            QList<std::pair<qint64, int>> out;
            for (const TrendState &x : s)
                out.append({x.timeMs, x.flags});
            return out;
        }();
        QCOMPARE(got, (QList<std::pair<qint64, int>>{{at(1) + 500, StateHvOn},
                                                     {at(3), StateHvOn | StateFault},
                                                     {at(3), StateUnknown},
                                                     {at(60), 0}}));
        QCOMPARE(store.states(Start - 1000, Start).value(0).flags, quint8(StateUnknown));   // before the first sample
    }

    void weekIsBounded()
    {
        TrendStore store;
        feed(store, 8 * 24 * 60 * Minute, 5000);   // eight days
        QVERIFY(store.bucketCount() <= TrendStore::MaxBuckets);
        const QList<TrendRange> r = store.ranges(TrendSeries::Kv, 0, store.latestMs() + 1);
        QCOMPARE(r.size(), store.bucketCount());   // no holes in a steady feed
        // Back to a week ago exactly: the oldest bucket holds that instant.
        const qint64 weekAgo = store.latestMs() - TrendStore::HistorySpanMs;
        QVERIFY(r.first().timeMs <= weekAgo && weekAgo < r.first().timeMs + TrendStore::BucketMs);
        QCOMPARE(r.last().max, double(8 * 24 * 60 * 12 - 1));
        QCOMPARE(store.pointCount(), qsizetype(720));
    }

    void recentRangesIncludeTheBucketTheWindowStartsIn()
    {
        TrendStore store;
        feed(store, 3 * Minute, 1000);
        // Latest sample at +179 s: a 2-minute window opens just after +59 s, in the
        // bucket of +50 s, and runs through the bucket of +170 s.
        const QList<TrendRange> r = store.recentRanges(TrendSeries::Kv, 2 * Minute);
        QCOMPARE(r.first().timeMs, Start + 50000);
        QCOMPARE(r.size(), 13);
    }

    void samplesFeedEverySeries()
    {
        Sample s;
        s.time = QDateTime::fromMSecsSinceEpoch(Start, Qt::UTC);
        std::tie(s.kV, s.mA, s.filamentA, s.kVSetpoint, s.mASetpoint, s.filamentLimitA, s.filamentPreheatA) =
            std::tuple(1, 2, 3, 4, 5, 6, 7);
        TrendStore store;
        store.add(s);
        for (int i = 0; i < TrendSeriesCount; ++i)
            QCOMPARE(store.points(TrendSeries(i), Start, Start + 1).value(0).value, double(i + 1));
    }
};

QTEST_GUILESS_MAIN(TstTrendStore)
#include "tst_trendstore.moc"
