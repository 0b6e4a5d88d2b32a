#include "link/tcptransport.h"

#include <utility>

namespace plv {

TcpTransport::TcpTransport(QObject *parent) : Transport(parent)
{
    m_socket.setReadBufferSize(64 * 1024);
    connect(&m_socket, &QTcpSocket::readyRead, this, &Transport::readyRead);
    connect(&m_socket, &QTcpSocket::connected, this, &TcpTransport::connected);
    connect(&m_socket, &QTcpSocket::disconnected, this, [this] {
        if (!std::exchange(m_closing, false))
            emit disconnectedByPeer();
    });
    connect(&m_socket, &QTcpSocket::stateChanged, this, [this] {
        if (settled())
            emit stateSettled();
    });
    connect(&m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        emit errorOccurred(m_socket.errorString());
    });
}

void TcpTransport::connectToUnit()
{
    abort();
    m_socket.connectToHost(m_host, m_portNo);
}

bool TcpTransport::send(const QByteArray &frame)
{
    if (!isConnected())
        return false;
    const bool ok = m_socket.write(frame) == frame.size();
    m_socket.flush();
    return ok;
}

QByteArray TcpTransport::read(qint64 maxBytes)
{
    if (maxBytes <= 0)
        return {};
    return m_socket.read(maxBytes);
}

void TcpTransport::close()
{
    // Drain what the unit sent first: closing with unread data makes the kernel reset
    // the connection, which can discard the last frame we wrote (the shutdown zeroing).
    m_socket.readAll();
    m_socket.flush();
    m_closing = m_socket.state() != QAbstractSocket::UnconnectedState;
    m_socket.disconnectFromHost();
}

} // namespace plv
