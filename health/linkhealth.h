#pragma once
// Whether the unit is reachable and answering, as one state and one label text.
//
// The console reports link events, the outcome of every transaction and the update
// mode; each input carries the monotonic time in milliseconds. tick() lets time-only
// rules fire between inputs (a coarse timer, e.g. 250 ms, is enough).
//
// NO REPLY rules (a "miss" is a transaction that ended in the reply time-out; the
// count is of consecutive misses since the last good reply or since the link opened):
//  - automatic mode: after AutoMissLimit (2) misses, or after one miss once
//    AutoSilenceMs (2500 ms) have passed without a good reply (counted from the last
//    good reply, the link opening or the entry into automatic mode, whichever is
//    latest). With the 1.0 s time-out and 66 ms gaps of the cycle, a unit that goes
//    silent shows NO REPLY after at most about 2.2 s; the silence rule keeps the 3 s
//    bound when a later wait runs longer than the time-out.
//  - manual mode: at the first miss (ManualMissLimit), since the operator's own
//    query is the only evidence there is.
// Only a good reply, or a new link event, leaves NO REPLY; a mode change does not.
// "since" is the wall time of the last good reply, or of the link opening when no
// reply has come on this link.
#include "health/clock.h"
#include "protocol/linkkind.h"

#include <QObject>
#include <QString>
#include <QTime>

namespace plv {

enum class LinkDown { FailedToOpen, Refused, ClosedByUnit, Disconnected };

QString linkKindText(LinkKind kind);        // "Serial", "Ethernet", "USB"
QString linkDownText(LinkDown reason);      // "failed to open", "refused",
                                            // "closed by the unit", "disconnected"

class LinkHealth : public QObject {
    Q_OBJECT
public:
    enum class State { NotChosen, NotConnected, Connected, NoReply };
    Q_ENUM(State)

    static constexpr int AutoMissLimit = 2;
    static constexpr int ManualMissLimit = 1;
    static constexpr qint64 AutoSilenceMs = 2500;

    explicit LinkHealth(WallClock wall = systemWallClock(), QObject *parent = nullptr);

    // The link is open and usable (serial port opened, TCP connected, USB device
    // found). where is "host:port" or the device; it may be empty.
    void linkUp(LinkKind kind, const QString &where, qint64 nowMs);
    // The link could not be opened, was refused, was closed by the unit or by the
    // operator. where names the link concerned.
    void linkDown(LinkDown reason, const QString &where, qint64 nowMs);
    void goodReply(qint64 nowMs);
    void missedReply(qint64 nowMs);
    void setAutomatic(bool on, qint64 nowMs);
    void tick(qint64 nowMs);

    State state() const { return m_state; }
    LinkDown downReason() const { return m_downReason; }
    bool isUp() const { return m_state == State::Connected || m_state == State::NoReply; }
    // "" before any link; "NOT CONNECTED — refused (10.0.0.5:4001)";
    // "CONNECTED — Ethernet 10.0.0.5:4001"; "NO REPLY since 12:00:03 (2 missed)".
    QString text() const;
    QString linkText() const;   // "Ethernet 10.0.0.5:4001", "Serial /dev/ttyS0", "USB"
    int missed() const { return m_missed; }
    QTime silentSince() const { return m_heardWall; }

    bool automatic() const { return m_automatic; }
    QString modeText() const;   // "AUTO" or "MANUAL"
    QTime lastGoodReply() const { return m_lastGoodWall; }
    // "Last reply 12:00:03"; "" before the first good reply.
    QString lastGoodReplyText() const;

signals:
    void stateChanged(plv::LinkHealth::State state);
    void textChanged(const QString &text);
    void linkUpChanged(bool up);
    void modeChanged(bool automatic);
    // Only when the shown text changes (whole seconds), not on every reply.
    void lastGoodReplyTextChanged(const QString &text);

private:
    void update(State s);   // emits what changed between before and after
    bool silenceRuleHolds(qint64 nowMs) const;

    WallClock m_wall;
    State m_state = State::NotChosen;
    LinkKind m_kind = LinkKind::Serial;
    LinkDown m_downReason = LinkDown::Disconnected;
    QString m_where;
    int m_missed = 0;
    bool m_automatic = false;
    qint64 m_quietFromMs = 0;   // reference of the silence rule
    QTime m_heardWall;          // last good reply or link opening
    QTime m_lastGoodWall;
    QString m_shownText;
    QString m_shownLastGood;
};

} // namespace plv
