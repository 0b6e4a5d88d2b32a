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

quint8 trendState(const Sample &s)
{
    if (!s.hvOn || !s.fault || !s.interlockClosed)
        return StateUnknown;
    const bool flag = s.arc.value_or(false) || s.overTemperature.value_or(false) || s.overVoltage.value_or(false)
                      || s.underVoltage.value_or(false) || s.overCurrent.value_or(false)
                      || s.underCurrent.value_or(false);
    return quint8((*s.hvOn ? StateHvOn : 0) | (*s.fault || flag ? StateFault : 0)
                  | (*s.interlockClosed ? 0 : StateInterlockOpen));
}

void TrendStore::add(const Sample &sample)
{
    Values v;
    for (int i = 0; i < TrendSeriesCount; ++i)
        v[size_t(i)] = trendValue(sample, TrendSeries(i));
    add(sample.time.toMSecsSinceEpoch(), v, trendState(sample));
}

void TrendStore::noteInterval(qint64 ms)
{
    m_intervals[size_t(m_intervalCount % qsizetype(m_intervals.size()))] = ms;
    ++m_intervalCount;
    const size_t n = size_t(std::min<int>(m_intervalCount, int(m_intervals.size())));
    std::array<qint64, 15> sorted = m_intervals;
    std::nth_element(sorted.begin(), sorted.begin() + n / 2, sorted.begin() + n);
    m_cycleMs = sorted[n / 2];
}

void TrendStore::add(qint64 timeMs, const Values &values, quint8 state)
{
    const qint64 previous = m_latestMs;
    m_latestMs = qMax(m_latestMs, timeMs);
    const qint64 t = m_latestMs;
    if (previous >= 0 && isGap(previous, t) && !m_states.empty() && m_states.back().flags != StateUnknown)
        m_states.push_back({previous, StateUnknown});   // nothing is known across a gap
    if (previous >= 0 && t > previous)
        noteInterval(t - previous);
    if (m_states.empty() || m_states.back().flags != state)
        m_states.push_back({t, state});

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
    // The oldest change stays while the next one is still within the week: it holds there.
    while (m_states.size() > 1
           && (m_states[1].timeMs <= t - HistorySpanMs || qsizetype(m_states.size()) > MaxBuckets))
        m_states.pop_front();
}

void TrendStore::clear()
{
    std::deque<Point>().swap(m_points);
    std::deque<Bucket>().swap(m_buckets);
    std::deque<TrendState>().swap(m_states);
    m_latestMs = -1;
    m_intervalCount = 0;
    m_cycleMs = 0;
}

QList<TrendPoint> TrendStore::points(TrendSeries series, qint64 fromMs, qint64 toMs) const
{
    const auto byTime = [](const Point &p, qint64 t) { return p.timeMs < t; };
    const auto first = std::lower_bound(m_points.begin(), m_points.end(), fromMs, byTime);
    const auto last = std::lower_bound(first, m_points.end(), toMs, byTime);
    QList<TrendPoint> out;
    out.reserve(last - first);
    for (auto it = first; it != last; ++it) {
        if (it != first && isGap(std::prev(it)->timeMs, it->timeMs))
            out.append({std::prev(it)->timeMs + 1, std::numeric_limits<double>::quiet_NaN()});
        out.append({it->timeMs, double(it->value[size_t(series)])});
    }
    return out;
}

QList<TrendState> TrendStore::states(qint64 fromMs, qint64 toMs) const
{
    const auto byTime = [](const TrendState &s, qint64 t) { return s.timeMs < t; };
    auto first = std::lower_bound(m_states.begin(), m_states.end(), fromMs, byTime);
    const auto last = std::lower_bound(first, m_states.end(), toMs, byTime);
    QList<TrendState> out;
    out.append({fromMs, first == m_states.begin() ? quint8(StateUnknown) : std::prev(first)->flags});
    for (auto it = first; it != last; ++it)
        out.append(*it);
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
    return qsizetype(m_points.size() * sizeof(Point) + m_buckets.size() * sizeof(Bucket)
                     + m_states.size() * sizeof(TrendState));
}

} // namespace plv::logs
