#pragma once
// The traffic log's rows, fed by the link (frames sent, frames nobody awaited, input
// thrown away, send and socket failures) and by the unit's decoded replies.
#include "link/session.h"
#include "logs/formatting.h"
#include "logs/trafficlog.h"
#include "protocol/framemeaning.h"

#include <QObject>

#include <array>
#include <functional>

class QTimer;

namespace plv {

class Unit;

class TrafficFeed : public QObject {
    Q_OBJECT
public:
    // 'factors' gives the selected rating's factors when a frame is shown.
    TrafficFeed(Session &session, Unit &unit, std::function<Factors()> factors, QObject *parent);

    logs::TrafficLog &log() { return *m_traffic; }
    // The payload of the last command sent, for what its answer means.
    const QByteArray &lastSent() const { return m_lastSent; }
    // Rows of junk held back are written now.
    void flushDiscarded();

private:
    QString linkName(Session::LinkKind kind) const;
    QString makeLinkName(Session::LinkKind kind) const;
    void addRow(logs::Direction d, Session::LinkKind kind, const QByteArray &frame, const QString &meaning);
    void addRowOn(logs::Direction d, const QString &link, bool checksummed, const QByteArray &frame,
                  const QString &meaning);
    void discarded(Session::LinkKind kind, const QByteArray &bytes, const QString &reason);
    void sent(const QByteArray &frame);
    void replied(const Reply &reply);
    void unsolicited(const QByteArray &frame);

    Session &m_session;
    std::function<Factors()> m_factors;
    logs::MonotonicWallClock m_clock;
    logs::TrafficLog *m_traffic;
    QTimer *m_junkFlush;

    QByteArray m_lastSent;
    QByteArray m_lastUnsolicited;   // and its meaning under those factors
    Factors m_lastUnsolicitedFactors{};
    QString m_lastUnsolicitedMeaning;
    struct LinkNameCache {
        QString address;
        quint16 port = 0;
        QString name;
    };
    mutable std::array<LinkNameCache, 3> m_linkNames;

    // Consecutive pieces of junk on one link become one row.
    struct Junk {
        bool active = false;
        Session::LinkKind link = Session::LinkKind::Serial;
        QString reason;
        QByteArray head;
        qint64 bytes = 0;
        int pieces = 0;
        qint64 timeMs = 0;
    } m_junk;
};

} // namespace plv
