#pragma once
// The event log's lines: the operator's actions (fed by the link choice, the modes, the
// rating, the setpoint editor and the commands sent) and the unit's changes of state,
// read from its decoded replies and status frames.
#include "health/linkhealth.h"
#include "logs/eventlog.h"
#include "panels/setpointeditor.h"
#include "protocol/framemeaning.h"

#include <QObject>

#include <functional>
#include <optional>

namespace plv {

class Session;
class Unit;

class EventFeed : public QObject {
    Q_OBJECT
public:
    // 'eventFolder' empty: the XDG state folder. 'rating' names the selected rating
    // ("70 kV / 600 W"), 'factors' gives its factors.
    EventFeed(Session &session, Unit &unit, std::function<QString()> rating, std::function<Factors()> factors,
              const QString &eventFolder, QObject *parent);

    logs::EventLog &log() { return *m_events; }
    void log(logs::EventCategory c, const QString &text) { m_events->log(c, text); }

    // What the operator did, from the window's parts.
    void linkOpened(LinkKind kind, const QString &where);
    void linkFailed(LinkDown reason, const QString &where);
    void healthChanged(LinkHealth::State state, const QString &text);
    void modeChanged(bool automatic);
    void ratingSelected();
    void setpointSending(Channel c, int count, SetpointEditor::Action action);

private:
    void operatorSent(const QByteArray &payload);
    void operatorAnswered(const Reply &reply);
    void statusSeen(const MainStatus &st);
    void flagsSeen(const FaultFlags &flags);

    std::function<QString()> m_rating;
    std::function<Factors()> m_factors;
    logs::EventLog *m_events;
    QByteArray m_lastSent;   // payload of the last command, for its answer's line

    struct PendingSetpoint {
        Channel channel;
        int count;
        SetpointEditor::Action action;
    };
    std::optional<PendingSetpoint> m_setpoint;   // from the editor, until its frame is answered
    QString m_setpointText;                      // "kV setpoint 35.012 kV", for its answer

    // The unit's state as last read, for its changes.
    MainStatus m_status;
    FaultFlags m_flags;
    LinkHealth::State m_health = LinkHealth::State::NotChosen;
    std::optional<bool> m_automatic;
};

} // namespace plv
