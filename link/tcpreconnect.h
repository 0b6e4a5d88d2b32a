#pragma once
// Brings back a TCP link the unit closed: the same host and port are tried again after
// each back-off delay, the way the serial watchdog reopens its port, until a connection
// is made or stop() is called (Disconnect, another link choice, the exit paths).
// Attempts only connect; nothing is written to the unit from here.
#include "link/backoff.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

namespace plv {

class TcpTransport;

class TcpReconnect : public QObject {
    Q_OBJECT
public:
    // The timer is made a child of 'timerParent' (the main window), named tmr_TCPRECONNECT.
    TcpReconnect(TcpTransport &tcp, QObject *timerParent, Backoff backoff = Backoff());

    void start();   // the connection was lost: the first attempt follows the first delay
    void stop();
    bool retrying() const { return m_retrying; }
    QTimer *timer() const { return m_timer; }

signals:
    // An attempt did not connect; 'refused' tells a refusal from other failures.
    void attemptFailed(bool refused, const QString &error);
    void reconnected();

private:
    void attempt();
    void settled();

    TcpTransport &m_tcp;
    QPointer<QTimer> m_timer;   // the window's: it may go first when the console ends
    Backoff m_backoff;
    bool m_retrying = false;
    bool m_attempting = false;
};

} // namespace plv
