#pragma once
// Readback trends: every sample for the last hour, and the minimum and maximum per 10 s
// bucket for the last week. Memory is bounded whatever the console's run time; a missing
// value stays a gap rather than being joined across.
#include "logs/sample.h"

#include <QList>

#include <array>
#include <deque>
#include <limits>
#include <optional>

namespace plv::logs {

enum class TrendSeries : quint8 { Kv, Ma, Filament, KvSetpoint, MaSetpoint, FilamentLimit, FilamentPreheat };
constexpr int TrendSeriesCount = 7;
std::optional<double> trendValue(const Sample &sample, TrendSeries series);
quint8 trendState(const Sample &sample);   // TrendStateFlag bits

struct TrendPoint {
    qint64 timeMs;
    double value;   // NaN: that cycle had no value
};

// What the unit was doing, as flags: from one change to the next.
enum TrendStateFlag : quint8 {
    StateHvOn = 1,
    StateFault = 2,          // the supply's fault, or any of the six fault flags
    StateInterlockOpen = 4,
    StateUnknown = 8,        // no status that cycle, or no sample at all (a gap)
};
struct TrendState {
    qint64 timeMs;
    quint8 flags;
};

struct TrendRange {
    qint64 timeMs;   // the bucket's start
    double min;      // both NaN: a gap, no value in the bucket or buckets missing
    double max;
};

class TrendStore {
public:
    using Values = std::array<std::optional<double>, TrendSeriesCount>;

    static constexpr qint64 FullRateSpanMs = 60 * 60 * 1000;
    static constexpr qint64 BucketMs = 10 * 1000;
    static constexpr qint64 HistorySpanMs = 7 * 24 * 60 * 60 * 1000LL;
    // Bounds that hold even for a feed far faster than the update cycle: an hour at ten
    // samples a second, and one bucket per 10 s of the week.
    static constexpr qsizetype MaxPoints = 36000;
    static constexpr qsizetype MaxBuckets = HistorySpanMs / BucketMs + 1;

    // Times are expected in order; one earlier than the latest is taken as the latest.
    void add(const Sample &sample);
    void add(qint64 timeMs, const Values &values, quint8 state = StateUnknown);
    void clear();

    qint64 latestMs() const { return m_latestMs; }   // -1 before the first sample
    // The usual time from one sample to the next (the median of the last few), 0 before
    // two samples. Twice that without a sample is a gap: manual mode, a lost link, a pause.
    qint64 cycleMs() const { return m_cycleMs; }
    bool isGap(qint64 fromMs, qint64 toMs) const { return m_cycleMs > 0 && toMs - fromMs > 2 * m_cycleMs; }

    // Full-rate points with fromMs <= time < toMs (as far back as the last hour reaches),
    // with a NaN point between two that a gap parts.
    QList<TrendPoint> points(TrendSeries series, qint64 fromMs, qint64 toMs) const;
    // The state that held at fromMs (unknown before the first sample), then each change
    // before toMs; a gap is unknown from the sample before it.
    QList<TrendState> states(qint64 fromMs, qint64 toMs) const;
    // Min/max of the buckets that start in [fromMs, toMs), a NaN range standing in for
    // each run of buckets with no sample at all.
    QList<TrendRange> ranges(TrendSeries series, qint64 fromMs, qint64 toMs) const;

    // The last `spanMs` up to the latest sample: full rate for the 1, 10 and 60 minute
    // windows, buckets for anything longer.
    QList<TrendPoint> recentPoints(TrendSeries series, qint64 spanMs) const
    {
        return points(series, m_latestMs - spanMs + 1, m_latestMs + 1);
    }
    QList<TrendRange> recentRanges(TrendSeries series, qint64 spanMs) const
    {
        const qint64 from = m_latestMs - spanMs + 1;
        return ranges(series, from - from % BucketMs, m_latestMs + 1);   // with the bucket it starts in
    }

    qsizetype pointCount() const { return qsizetype(m_points.size()); }
    qsizetype bucketCount() const { return qsizetype(m_buckets.size()); }
    qsizetype approxBytes() const;

private:
    static constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
    struct Point {
        qint64 timeMs;
        std::array<float, TrendSeriesCount> value;
    };
    struct Bucket {
        qint64 startMs;
        std::array<float, TrendSeriesCount> min;
        std::array<float, TrendSeriesCount> max;
    };

    void noteInterval(qint64 ms);

    std::deque<Point> m_points;
    std::deque<Bucket> m_buckets;
    std::deque<TrendState> m_states;   // changes only; as far back as the buckets
    qint64 m_latestMs = -1;
    std::array<qint64, 15> m_intervals{};
    int m_intervalCount = 0;
    qint64 m_cycleMs = 0;
};

} // namespace plv::logs
