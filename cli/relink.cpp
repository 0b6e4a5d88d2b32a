// watch and publish keep going when the unit's link goes: they say why, try again after
// the links' back-off and, once it is back, read the status and identity again before
// the update cycle restarts from its first step.
#include "cli/client.h"

#include "health/clock.h"
#include "health/linkhealth.h"
#include "link/session.h"

#include <QCoreApplication>
#include <QTimer>

namespace plv::cli {

void Client::startCycle()
{
    if (!m_cycle) {
        m_cycle = new UpdateCycle(*m_session, [this](UpdateCycle::Step st) { runStep(st); }, &m_root);
        m_session->tmr_UPDATE->setInterval(m_o.intervalMs);
        connect(m_cycle, &UpdateCycle::cycleCompleted, this, &Client::completeSample);
    }
    m_cycle->ctr_AutoUpdate = 0;
    m_lostInCycle = false;
    QTimer::singleShot(0, m_cycle, [this] {
        if (!m_linkDown && !m_stopping)
            m_cycle->mnu_AUTOUPDATE_Click();
    });
}

void Client::watchLink()
{
    m_relink = new QTimer(&m_root);
    m_relink->setObjectName(QStringLiteral("tmr_RELINK"));
    m_relink->setSingleShot(true);
    connect(m_relink, &QTimer::timeout, this, &Client::retryLink);
    connect(&m_session->tcp(), &TcpTransport::disconnectedByPeer, this,
            [this] { linkLost(QStringLiteral("closed by the unit"), false); });
    for (auto kind : {Session::LinkKind::Serial, Session::LinkKind::Usb}) {
        Transport &t = m_session->link(kind);
        connect(&t, &Transport::errorOccurred, this, [this, &t, kind] {
            if (m_session->linkKind() == kind && !t.isOpen())
                linkLost(QStringLiteral("device gone"), false);
        });
    }
    // A frame the link would not take: the loss may not have been signalled yet.
    connect(m_session, &Session::sendFailed, this, [this] {
        if (!m_session->link().isOpen())
            linkLost(m_session->isEthernet() ? QStringLiteral("closed by the unit") : QStringLiteral("device gone"), false);
    });
}

void Client::linkLost(const QString &why, bool refused)
{
    if (m_stopping || (m_linkDown && m_relink->isActive()))
        return;
    const bool wasUp = !m_linkDown;
    m_linkDown = true;
    m_lostInCycle = true;
    if (m_cycle)
        m_cycle->mnu_MANUAL_Click();   // ends the cycle's sequence; nothing more is sent
    if (m_session->isEthernet())
        m_session->tcp().abort();
    else if (m_session->link().isOpen())
        m_session->link().close();
    if (m_health)
        m_health->linkDown(refused ? LinkDown::Refused : LinkDown::ClosedByUnit,
                           m_o.linkName().section(QLatin1Char(' '), 1), monotonicMs());
    if (m_mqtt)
        dropRequests("no link", why);
    if (wasUp && m_cycle)
        ++m_droppedCycles;   // the cycle under way publishes nothing
    const int delay = m_backoff.next();
    if (wasUp || m_backoff.attempts() == 1)
        say(QStringLiteral("link down: %1; trying again in %2 s").arg(why).arg(delay / 1000.0, 0, 'f', 1));
    m_relink->start(delay);
}

void Client::retryLink()
{
    if (m_stopping)
        return;
    if (!openLink()) {
        const bool refused = m_session->isEthernet()
                             && m_session->tcp().socket().error() == QAbstractSocket::ConnectionRefusedError;
        linkLost(refused ? QStringLiteral("refused") : QStringLiteral("cannot connect"), refused);
        return;
    }
    say(QStringLiteral("link back"));
    ++m_linkReconnects;
    linkBack();
}

void Client::linkBack()
{
    m_linkDown = false;
    m_backoff.reset();
    m_silent = false;
    if (m_health)
        m_health->linkUp(m_o.link == LinkType::Tcp      ? LinkKind::Ethernet
                         : m_o.link == LinkType::Serial ? LinkKind::Serial
                                                        : LinkKind::Usb,
                         m_o.linkName().section(QLatin1Char(' '), 1), monotonicMs());
    // What may have changed while it was away: the status, and which unit it is.
    readStatus();
    const logs::Sample status = m_builder.sample();   // its status columns are this reading's
    if (m_mqtt)
        m_lastStatus = status;
    if (!checkRating() && !m_mqtt) {
        stop(Usage);   // another unit answers there now
        return;
    }
    if (m_mqtt) {
        identity(Identity::SoftwareRevision, 2);
        identity(Identity::HardwareRevision, 3);
        identity(Identity::WebRevision, 1);
        publishState(false);
        publishInfo(false);
    }
    if (!m_linkDown)
        startCycle();
}

} // namespace plv::cli
