#include "health/linkhealth.h"

namespace plv {

QString linkKindText(LinkKind kind)
{
    switch (kind) {
    case LinkKind::Serial: return QStringLiteral("Serial");
    case LinkKind::Ethernet: return QStringLiteral("Ethernet");
    case LinkKind::Usb: return QStringLiteral("USB");
    }
    return {};
}

QString linkDownText(LinkDown reason)
{
    switch (reason) {
    case LinkDown::FailedToOpen: return QStringLiteral("failed to open");
    case LinkDown::Refused: return QStringLiteral("refused");
    case LinkDown::ClosedByUnit: return QStringLiteral("closed by the unit");
    case LinkDown::Disconnected: return QStringLiteral("disconnected");
    }
    return {};
}

LinkHealth::LinkHealth(WallClock wall, QObject *parent)
    : QObject(parent), m_wall(std::move(wall))
{
}

void LinkHealth::linkUp(LinkKind kind, const QString &where, qint64 nowMs)
{
    m_kind = kind;
    m_where = where;
    m_missed = 0;
    m_quietFromMs = nowMs;
    m_heardWall = m_wall(nowMs);
    update(State::Connected);
}

void LinkHealth::linkDown(LinkDown reason, const QString &where, qint64)
{
    m_downReason = reason;
    m_where = where;
    m_missed = 0;
    update(State::NotConnected);
}

void LinkHealth::goodReply(qint64 nowMs)
{
    if (!isUp())
        return;   // a late frame after the link went down proves nothing about it
    m_missed = 0;
    m_quietFromMs = nowMs;
    m_heardWall = m_lastGoodWall = m_wall(nowMs);
    update(State::Connected);
}

void LinkHealth::missedReply(qint64 nowMs)
{
    if (!isUp())
        return;
    ++m_missed;
    const int limit = m_automatic ? AutoMissLimit : ManualMissLimit;
    // Misses only add up, so once NO REPLY holds it keeps holding until a reply.
    if (m_missed >= limit || silenceRuleHolds(nowMs))
        update(State::NoReply);
}

void LinkHealth::setAutomatic(bool on, qint64 nowMs)
{
    if (on == m_automatic)
        return;
    if (on)
        m_quietFromMs = nowMs;   // the cycle has not had its chance yet
    m_automatic = on;
    emit modeChanged(on);
}

void LinkHealth::tick(qint64 nowMs)
{
    if (m_state == State::Connected && silenceRuleHolds(nowMs))
        update(State::NoReply);
}

bool LinkHealth::silenceRuleHolds(qint64 nowMs) const
{
    return m_automatic && m_missed >= 1 && nowMs - m_quietFromMs >= AutoSilenceMs;
}

QString LinkHealth::linkText() const
{
    const QString kind = linkKindText(m_kind);
    return m_where.isEmpty() ? kind : kind + u' ' + m_where;
}

QString LinkHealth::text() const
{
    switch (m_state) {
    case State::NotChosen:
        return {};
    case State::NotConnected: {
        QString t = QStringLiteral("NOT CONNECTED \u2014 ") + linkDownText(m_downReason);
        if (!m_where.isEmpty())
            t += QStringLiteral(" (%1)").arg(m_where);
        return t;
    }
    case State::Connected:
        return QStringLiteral("CONNECTED \u2014 ") + linkText();
    case State::NoReply:
        return QStringLiteral("NO REPLY since %1 (%2 missed)").arg(clockText(m_heardWall)).arg(m_missed);
    }
    return {};
}

QString LinkHealth::modeText() const
{
    return m_automatic ? QStringLiteral("AUTO") : QStringLiteral("MANUAL");
}

QString LinkHealth::lastGoodReplyText() const
{
    return m_lastGoodWall.isValid() ? QStringLiteral("Last reply ") + clockText(m_lastGoodWall) : QString();
}

void LinkHealth::update(State s)
{
    const bool wasUp = isUp();
    const bool stateChanges = s != m_state;
    m_state = s;
    if (stateChanges)
        emit stateChanged(s);
    if (wasUp != isUp())
        emit linkUpChanged(isUp());
    const QString t = text();
    if (t != m_shownText) {
        m_shownText = t;
        emit textChanged(t);
    }
    const QString g = lastGoodReplyText();
    if (g != m_shownLastGood) {
        m_shownLastGood = g;
        emit lastGoodReplyTextChanged(g);
    }
}

} // namespace plv
