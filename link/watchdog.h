#pragma once
// The serial watchdog: first armed by a serial reply wait, then every 5 s, while a port
// is configured, it reopens the port that anything but the exit paths closed.
#include "link/transport.h"

#include <QObject>
#include <functional>

class QTimer;

namespace plv {

class SerialWatchdog : public QObject {
    Q_OBJECT
public:
    // The timer is a child of 'window', named tmr_COMMWDT. 'statusFlag' is CommStatusFlag:
    // false makes each tick close an open port or open a closed one.
    SerialWatchdog(Transport &serial, QObject *window, std::function<bool()> statusFlag);

    QTimer *timer() const { return m_timer; }
    bool configured() const { return m_configured; }
    void setConfigured(bool on) { m_configured = on; }

signals:
    void reopened();

private:
    void tick();

    Transport &m_serial;
    QTimer *m_timer;
    std::function<bool()> m_statusFlag;
    bool m_configured = false;
};

} // namespace plv
