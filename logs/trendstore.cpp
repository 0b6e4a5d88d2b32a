#include "logs/trendstore.h"

#include <algorithm>
#include <cmath>

namespace plv::logs {

std::optional<double> trendValue(const Sample &s, TrendSeries series)
{
    switch (series) {
    case TrendSeries::Kv: return s.kV;
    case TrendSeries::Ma: return s.mA;
    case TrendSeries::Filament: return s.filamentA;
    case TrendSeries::KvSetpoint: return s.kVSetpoint;
    case TrendSeries::MaSetpoint: return s.mASetpoint;
    case TrendSeries::FilamentLimit: return s.filamentLimitA;
    case TrendSeries::FilamentPreheat: return s.filamentPreheatA;
    }
    return std::nullopt;
}

void TrendStore::add(const Sample &sample)
{
    Values v;
    for (int i = 0; i < TrendSeriesCount; ++i)
        v[size_t(i)] = trendValue(sample, TrendSeries(i));
    add(sample.time.toMSecsSinceEpoch(), v);
}

void TrendStore::add(qint64 timeMs, const Values &values)
{
    m_latestMs = qMax(m_latestMs, timeMs);
    const qint64 t = m_latestMs;

    Point p{t, {}};
    for (size_t i = 0; i < values.size(); ++i)
        p.value[i] = values[i] && std::isfinite(*values[i]) ? float(*values[i]) : NaN;
    m_points.push_back(p);
    while (!m_points.empty() && (m_points.front().timeMs <= t - FullRateSpanMs || qsizetype(m_points.size()) > MaxPoints))
        m_points.pop_front();

    // Buckets on a grid fixed to the epoch, so a restart lands on the same boundaries.
    const qint64 start = t - t % BucketMs;
    if (m_buckets.empty() || m_buckets.back().startMs != start) {
        Bucket b{start, {}, {}};
        b.min.fill(NaN);
        b.max.fill(NaN);
        m_buckets.push_back(b);
    }
    Bucket &b = m_buckets.back();
    for (size_t i = 0; i < p.value.size(); ++i) {
        const float v = p.value[i];
        if (std::isnan(v))
            continue;
        if (std::isnan(b.min[i]) || v < b.min[i])
            b.min[i] = v;
        if (std::isnan(b.max[i]) || v > b.max[i])
            b.max[i] = v;
    }
    while (!m_buckets.empty()
           && (m_buckets.front().startMs + BucketMs <= t - HistorySpanMs || qsizetype(m_buckets.size()) > MaxBuckets))
        m_buckets.pop_front();
}

void TrendStore::clear()
{
    std::deque<Point>().swap(m_points);
    std::deque<Bucket>().swap(m_buckets);
    m_latestMs = -1;
}

QList<TrendPoint> TrendStore::points(TrendSeries series, qint64 fromMs, qint64 toMs) const
{
    const auto byTime = [](const Point &p, qint64 t) { return p.timeMs < t; };
    const auto first = std::lower_bound(m_points.begin(), m_points.end(), fromMs, byTime);
    const auto last = std::lower_bound(first, m_points.end(), toMs, byTime);
    QList<TrendPoint> out;
    out.reserve(last - first);
    for (auto it = first; it != last; ++it)
        out.append({it->timeMs, double(it->value[size_t(series)])});
    return out;
}

QList<TrendRange> TrendStore::ranges(TrendSeries series, qint64 fromMs, qint64 toMs) const
{
    constexpr double gap = std::numeric_limits<double>::quiet_NaN();
    const auto byStart = [](const Bucket &b, qint64 t) { return b.startMs < t; };
    const auto first = std::lower_bound(m_buckets.begin(), m_buckets.end(), fromMs, byStart);
    const auto last = std::lower_bound(first, m_buckets.end(), toMs, byStart);
    const size_t s = size_t(series);
    QList<TrendRange> out;
    out.reserve(last - first);
    for (auto it = first; it != last; ++it) {
        if (it != first) {
            const qint64 expected = std::prev(it)->startMs + BucketMs;
            if (it->startMs != expected)
                out.append({expected, gap, gap});   // no samples at all: the console was not polling
        }
        out.append({it->startMs, double(it->min[s]), double(it->max[s])});
    }
    return out;
}

qsizetype TrendStore::approxBytes() const
{
    return qsizetype(m_points.size() * sizeof(Point) + m_buckets.size() * sizeof(Bucket));
}

} // namespace plv::logs
