#include "health/alarms.h"

namespace plv {

QString alarmName(AlarmCondition c)
{
    switch (c) {
    case AlarmCondition::Arc: return QStringLiteral("ARC fault");
    case AlarmCondition::Temp: return QStringLiteral("TEMP fault");
    case AlarmCondition::OverVoltage: return QStringLiteral("Over Voltage fault");
    case AlarmCondition::UnderVoltage: return QStringLiteral("Under Voltage fault");
    case AlarmCondition::OverCurrent: return QStringLiteral("Over Current fault");
    case AlarmCondition::UnderCurrent: return QStringLiteral("Under Current fault");
    case AlarmCondition::SupplyFault: return QStringLiteral("P.S. FAULT");
    case AlarmCondition::InterlockOpen: return QStringLiteral("Interlock Open");
    case AlarmCondition::HvDropped: return QStringLiteral("HV dropped without HV OFF");
    case AlarmCondition::LinkLost: return QStringLiteral("link lost / no reply");
    case AlarmCondition::RatingMismatch: return QStringLiteral("rating mismatch");
    case AlarmCondition::HvOffNotConfirmed: return QStringLiteral("HV OFF NOT CONFIRMED");
    }
    return {};
}

AlarmList::State AlarmList::Alarm::state() const
{
    return !active ? State::ClearedUnacknowledged
                   : acknowledged ? State::ActiveAcknowledged : State::ActiveUnacknowledged;
}

QString AlarmList::stateText(State s)
{
    switch (s) {
    case State::ActiveUnacknowledged: return QStringLiteral("ACTIVE");
    case State::ActiveAcknowledged: return QStringLiteral("ACTIVE, acknowledged");
    case State::ClearedUnacknowledged: return QStringLiteral("CLEARED, unacknowledged");
    }
    return {};
}

qsizetype AlarmList::indexOf(AlarmCondition c) const
{
    for (qsizetype i = 0; i < m_alarms.size(); ++i)
        if (m_alarms[i].condition == c)
            return i;
    return -1;
}

void AlarmList::observe(const QList<std::pair<AlarmCondition, bool>> &seen, const QDateTime &at)
{
    const bool burstStarts = m_alarms.isEmpty();
    bool any = false;
    for (const auto &[c, active] : seen) {
        const qsizetype i = indexOf(c);
        if (active && i < 0) {
            m_alarms.append({c, at, true, false, burstStarts});
            emit transition(QStringLiteral("alarm %1: ACTIVE%2").arg(alarmName(c), burstStarts ? QStringLiteral(" (first out)") : QString()));
        } else if (active && !m_alarms[i].active) {
            m_alarms[i].active = true;
            emit transition(QStringLiteral("alarm %1: ACTIVE again").arg(alarmName(c)));
        } else if (!active && i >= 0 && m_alarms[i].active) {
            if (m_alarms[i].acknowledged) {
                m_alarms.removeAt(i);
                emit transition(QStringLiteral("alarm %1: cleared").arg(alarmName(c)));
            } else {
                m_alarms[i].active = false;
                emit transition(QStringLiteral("alarm %1: CLEARED, unacknowledged").arg(alarmName(c)));
            }
        } else {
            continue;
        }
        any = true;
    }
    if (any)
        emit changed();
}

void AlarmList::pulse(AlarmCondition c, const QDateTime &at)
{
    observe(c, true, at);
    observe(c, false, at);
}

void AlarmList::acknowledgeAt(qsizetype i, bool &any)
{
    Alarm &a = m_alarms[i];
    if (a.acknowledged)
        return;
    any = true;
    const QString name = alarmName(a.condition);
    if (a.active) {
        a.acknowledged = true;
        emit transition(QStringLiteral("alarm %1: acknowledged, still ACTIVE").arg(name));
    } else {
        m_alarms.removeAt(i);
        emit transition(QStringLiteral("alarm %1: acknowledged").arg(name));
    }
}

void AlarmList::acknowledge(AlarmCondition c)
{
    bool any = false;
    if (const qsizetype i = indexOf(c); i >= 0)
        acknowledgeAt(i, any);
    if (any)
        emit changed();
}

void AlarmList::acknowledgeAll()
{
    bool any = false;
    for (qsizetype i = m_alarms.size() - 1; i >= 0; --i)
        acknowledgeAt(i, any);
    if (any)
        emit changed();
}

int AlarmList::unacknowledged() const
{
    return int(std::count_if(m_alarms.cbegin(), m_alarms.cend(), [](const Alarm &a) { return !a.acknowledged; }));
}

QString AlarmList::headerText() const
{
    if (m_alarms.isEmpty())
        return {};
    return QStringLiteral("ALARMS %1 (%2 unacknowledged)").arg(m_alarms.size()).arg(unacknowledged());
}

} // namespace plv
