#include "link/tcpreconnect.h"

#include "link/tcptransport.h"

#include <QTimer>

namespace plv {

TcpReconnect::TcpReconnect(TcpTransport &tcp, QObject *timerParent, Backoff backoff)
    : QObject(&tcp), m_tcp(tcp), m_timer(new QTimer(timerParent)), m_backoff(std::move(backoff))
{
    m_timer->setObjectName(QStringLiteral("tmr_TCPRECONNECT"));
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &TcpReconnect::attempt);
    connect(&m_tcp, &TcpTransport::stateSettled, this, &TcpReconnect::settled);
}

void TcpReconnect::start()
{
    m_retrying = true;
    m_attempting = false;
    m_backoff.reset();
    if (m_timer)
        m_timer->start(m_backoff.next());
}

void TcpReconnect::stop()
{
    m_retrying = false;
    m_attempting = false;
    if (m_timer)
        m_timer->stop();
}

void TcpReconnect::attempt()
{
    if (!m_retrying)
        return;
    m_tcp.abort();   // settles nothing of ours
    m_attempting = true;
    m_tcp.connectToUnit();
}

void TcpReconnect::settled()
{
    if (!m_attempting)
        return;   // not ours: the operator's own choice, or a connection closing
    m_attempting = false;
    if (m_tcp.isConnected()) {
        m_retrying = false;
        emit reconnected();
        return;
    }
    const QAbstractSocket::SocketError error = m_tcp.socket().error();
    emit attemptFailed(error == QAbstractSocket::ConnectionRefusedError, m_tcp.socket().errorString());
    if (m_retrying && m_timer)
        m_timer->start(m_backoff.next());
}

} // namespace plv
