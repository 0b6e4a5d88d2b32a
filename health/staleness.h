#pragma once
// Which values on screen no longer reflect the unit.
//
// Each value is registered under a key (the console uses the name of the box or
// lamp that shows it) as read by the update cycle or not. Rules:
//  - Link lost: every value is stale.
//  - Automatic mode, a value the cycle reads: stale once StaleAfterCycles (2) cycle
//    times have passed without a good reply for it, counted from its last good reply
//    or from the latest of the link coming up and the entry into automatic mode
//    (the cycle needs its chance first). Elapsed >= the limit is stale.
//  - A value the cycle does not read (model number, hardware and software revision):
//    stale only when the link is lost.
//  - Manual mode: a value is stale when its own query fails.
//  - A good reply for a value clears it. Nothing else does, so a value that went
//    stale stays so across mode changes and a new link until it is read again.
// Until its first good reply a value is stale: what shows is not from the unit.
//
// Cycle time: the span between two consecutive completions of the update cycle
// (its last step done, wrapping to the first), taken only when at least one good
// reply came in between (a wholly silent cycle is 12 s long and says nothing about
// the unit's pace) and held to MinCycleMs..MaxCycleMs (0.5 s..5 s). It is
// DefaultCycleMs (1.0 s) until measured, again after the link comes up, and the
// first completion after the link comes up or automatic mode starts only starts
// the measure (that cycle began mid-way).
//
// No timers here: tick() applies the time rule and returns at once while nothing
// can be due, so a coarse console timer costs next to nothing.
#include "health/clock.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTime>
#include <limits>

namespace plv {

class Staleness : public QObject {
    Q_OBJECT
public:
    enum class Refresh { Cycle, NotCycle };
    Q_ENUM(Refresh)

    static constexpr int StaleAfterCycles = 2;
    static constexpr qint64 DefaultCycleMs = 1000;
    static constexpr qint64 MinCycleMs = 500;
    static constexpr qint64 MaxCycleMs = 5000;

    explicit Staleness(WallClock wall = systemWallClock(), QObject *parent = nullptr);

    // Registers a value, stale until read; registering a key again changes its refresh.
    void add(const QString &key, Refresh refresh);

    void valueRead(const QString &key, qint64 nowMs);     // a good reply carried it
    void valueFailed(const QString &key, qint64 nowMs);   // its query got no reply
    void cycleCompleted(qint64 nowMs);
    void setAutomatic(bool on, qint64 nowMs);
    void setLinkUp(bool up, qint64 nowMs);
    void tick(qint64 nowMs);

    bool isStale(const QString &key) const;   // unknown keys are stale
    QTime lastRead(const QString &key) const; // null before the first good reply
    QString lastReadText(const QString &key) const;   // "last read 12:00:03" or ""
    QStringList keys() const { return m_values.keys(); }
    qint64 cycleMs() const { return m_cycleMs; }
    qint64 staleAfterMs() const { return StaleAfterCycles * m_cycleMs; }

signals:
    // Only on a change, so a view repaints just that value.
    void staleChanged(const QString &key, bool stale);

private:
    struct Value {
        Refresh refresh = Refresh::Cycle;
        bool stale = true;
        qint64 readMs = 0;
        QTime readWall;
    };
    void setStale(const QString &key, Value &v, bool stale);
    void restartMeasure();
    bool timeRuleApplies() const { return m_automatic && m_linkUp; }

    WallClock m_wall;
    QHash<QString, Value> m_values;
    bool m_automatic = false;
    bool m_linkUp = false;
    qint64 m_chanceFromMs = 0;   // latest of link up and entry into automatic mode
    qint64 m_cycleMs = DefaultCycleMs;
    qint64 m_cycleStartMs = -1;  // -1: no completion yet to measure from
    bool m_readThisCycle = false;
    static constexpr qint64 ScanNow = std::numeric_limits<qint64>::min();
    qint64 m_nextDueMs = ScanNow;   // no value can go stale before this
};

} // namespace plv
