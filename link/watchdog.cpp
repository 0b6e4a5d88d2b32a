#include "link/watchdog.h"

#include <QTimer>

namespace plv {

SerialWatchdog::SerialWatchdog(Transport &serial, QObject *window, std::function<bool()> statusFlag)
    : QObject(window), m_serial(serial), m_timer(new QTimer(window)), m_statusFlag(std::move(statusFlag))
{
    m_timer->setObjectName(QStringLiteral("tmr_COMMWDT"));
    m_timer->setInterval(5000);
    connect(m_timer, &QTimer::timeout, this, &SerialWatchdog::tick);
}

void SerialWatchdog::tick()
{
    m_timer->stop();
    if (m_configured) {
        if (m_statusFlag()) {
            if (!m_serial.isOpen() && m_serial.open())
                emit reopened();
        } else if (m_serial.isOpen()) {
            m_serial.close();
        } else {
            m_serial.open();
        }
    }
    m_timer->start();
}

} // namespace plv
