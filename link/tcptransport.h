#pragma once
#include "link/transport.h"
#include <QTcpSocket>

namespace plv {

// Ethernet link. The socket's read buffer is bounded so a peer that floods us is held
// back by TCP flow control instead of growing memory.
class TcpTransport : public Transport {
    Q_OBJECT
public:
    explicit TcpTransport(QObject *parent = nullptr);
    // The socket closes as it goes: that is no news from the unit.
    ~TcpTransport() override { m_closing = true; }

    void setRemote(const QString &host, quint16 port) { m_host = host; m_portNo = port; }
    QString host() const { return m_host; }
    quint16 remotePort() const { return m_portNo; }
    void connectToUnit();
    bool open() override { connectToUnit(); return true; }
    bool isConnected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    // Connected, or given up (refused, failed, closed): nothing more comes of an attempt.
    bool settled() const
    {
        return m_socket.state() == QAbstractSocket::ConnectedState || m_socket.state() == QAbstractSocket::UnconnectedState;
    }
    // Drops the connection or attempt at once; ours, so not reported as the unit's.
    void abort()
    {
        m_closing = m_socket.state() != QAbstractSocket::UnconnectedState;
        m_socket.abort();
        m_closing = false;
    }

    bool isOpen() const override { return isConnected(); }
    bool send(const QByteArray &frame) override;
    qint64 bytesAvailable() const override { return m_socket.bytesAvailable(); }
    QByteArray read(qint64 maxBytes) override;
    void close() override;

    QTcpSocket &socket() { return m_socket; }

signals:
    void connected();
    void stateSettled();   // see settled()
    void disconnectedByPeer();   // the unit (or the network) closed a live connection

private:
    bool m_closing = false;
    QTcpSocket m_socket;
    QString m_host;
    quint16 m_portNo = 0;
};

} // namespace plv
