#pragma once
// Latched alarms: one row per condition, from the moment it first rose until it has
// both cleared and been acknowledged. A condition seen in a single reply stays listed
// (cleared but unacknowledged) until the operator acknowledges it; acknowledging never
// removes a condition that is still active. The conditions rising in the first reply
// of a burst (a reply that finds the list empty) carry the first-out mark.
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

namespace plv {

enum class AlarmCondition {
    Arc, Temp, OverVoltage, UnderVoltage, OverCurrent, UnderCurrent,   // the six fault flags
    SupplyFault, InterlockOpen, HvDropped, LinkLost, RatingMismatch, HvOffNotConfirmed,
};
QString alarmName(AlarmCondition c);   // "TEMP fault", "Interlock Open", ...

class AlarmList : public QObject {
    Q_OBJECT
public:
    enum class State { ActiveUnacknowledged, ActiveAcknowledged, ClearedUnacknowledged };
    struct Alarm {
        AlarmCondition condition;
        QDateTime firstRose;
        bool active = true;
        bool acknowledged = false;
        bool firstOut = false;
        State state() const;
    };
    static QString stateText(State s);   // "ACTIVE", "ACTIVE, acknowledged", "CLEARED, unacknowledged"

    using QObject::QObject;

    // What one reply (or one change the console saw) says: each listed condition is set
    // as given; the others keep their state.
    void observe(const QList<std::pair<AlarmCondition, bool>> &seen, const QDateTime &at);
    void observe(AlarmCondition c, bool active, const QDateTime &at) { observe({{c, active}}, at); }
    // Seen and gone at once (an event rather than a state): latched until acknowledged.
    void pulse(AlarmCondition c, const QDateTime &at);
    void acknowledge(AlarmCondition c);
    void acknowledgeAll();

    const QList<Alarm> &alarms() const { return m_alarms; }   // in the order they rose
    int unacknowledged() const;
    // "ALARMS 2 (1 unacknowledged)", or "" with none listed.
    QString headerText() const;

signals:
    void changed();
    // Every transition, as the event log words it: "alarm TEMP fault: ACTIVE (first out)".
    void transition(const QString &text);

private:
    qsizetype indexOf(AlarmCondition c) const;
    void acknowledgeAt(qsizetype i, bool &any);

    QList<Alarm> m_alarms;
};

} // namespace plv
