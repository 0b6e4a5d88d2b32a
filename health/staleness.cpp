#include "health/staleness.h"

#include <algorithm>
#include <limits>

namespace plv {

Staleness::Staleness(WallClock wall, QObject *parent) : QObject(parent), m_wall(std::move(wall))
{
}

void Staleness::add(const QString &key, Refresh refresh)
{
    m_values[key].refresh = refresh;
    m_nextDueMs = ScanNow;
}

void Staleness::valueRead(const QString &key, qint64 nowMs)
{
    const auto it = m_values.find(key);
    if (it == m_values.end())
        return;
    it->readMs = nowMs;
    it->readWall = m_wall(nowMs);
    m_readThisCycle = true;
    // Its due time is at least this; the cache must not skip it.
    m_nextDueMs = std::min(m_nextDueMs, nowMs + staleAfterMs());
    setStale(key, *it, false);
    tick(nowMs);
}

void Staleness::valueFailed(const QString &key, qint64 nowMs)
{
    const auto it = m_values.find(key);
    if (it != m_values.end() && !m_automatic)
        setStale(key, *it, true);
    tick(nowMs);
}

void Staleness::cycleCompleted(qint64 nowMs)
{
    if (m_cycleStartMs >= 0 && m_readThisCycle) {
        const qint64 measured = std::clamp(nowMs - m_cycleStartMs, MinCycleMs, MaxCycleMs);
        if (measured < m_cycleMs)
            m_nextDueMs = ScanNow;
        m_cycleMs = measured;
    }
    m_cycleStartMs = nowMs;
    m_readThisCycle = false;
    tick(nowMs);
}

void Staleness::setAutomatic(bool on, qint64 nowMs)
{
    if (on && !m_automatic) {
        m_chanceFromMs = nowMs;
        restartMeasure();
    }
    m_automatic = on;
    m_nextDueMs = ScanNow;
}

void Staleness::setLinkUp(bool up, qint64 nowMs)
{
    if (up && !m_linkUp) {
        m_chanceFromMs = nowMs;
        m_cycleMs = DefaultCycleMs;   // a new link may run at another pace
        restartMeasure();
    }
    m_linkUp = up;
    m_nextDueMs = ScanNow;
    if (!up)
        for (auto it = m_values.begin(); it != m_values.end(); ++it)
            setStale(it.key(), *it, true);
}

void Staleness::tick(qint64 nowMs)
{
    if (!timeRuleApplies() || nowMs < m_nextDueMs)
        return;
    const qint64 limit = staleAfterMs();
    qint64 next = std::numeric_limits<qint64>::max();
    for (auto it = m_values.begin(); it != m_values.end(); ++it) {
        if (it->refresh != Refresh::Cycle || it->stale)
            continue;
        // A value that is not stale has been read, so readMs is meaningful.
        const qint64 from = std::max(it->readMs, m_chanceFromMs);
        if (nowMs - from >= limit)
            setStale(it.key(), *it, true);
        else
            next = std::min(next, from + limit);
    }
    m_nextDueMs = next;
}

bool Staleness::isStale(const QString &key) const
{
    const auto it = m_values.constFind(key);
    return it == m_values.cend() || it->stale;
}

QTime Staleness::lastRead(const QString &key) const
{
    const auto it = m_values.constFind(key);
    return it == m_values.cend() ? QTime() : it->readWall;
}

QString Staleness::lastReadText(const QString &key) const
{
    const QTime t = lastRead(key);
    return t.isValid() ? QStringLiteral("last read ") + clockText(t) : QString();
}

void Staleness::setStale(const QString &key, Value &v, bool stale)
{
    if (v.stale == stale)
        return;
    v.stale = stale;
    emit staleChanged(key, stale);
}

void Staleness::restartMeasure()
{
    m_cycleStartMs = -1;
    m_readThisCycle = false;
}

} // namespace plv
