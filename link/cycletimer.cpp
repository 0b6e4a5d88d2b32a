#include "link/cycletimer.h"

#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>

namespace plv {

namespace {
qint64 monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}
} // namespace

CycleTimer::CycleTimer(const QString &name, int intervalMs, QObject *parent) : QObject(parent), m_interval(intervalMs)
{
    setObjectName(name);
    m_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd >= 0) {
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &CycleTimer::expired);
    } else {
        m_fallback = new QTimer(this);
        m_fallback->setTimerType(Qt::PreciseTimer);
        connect(m_fallback, &QTimer::timeout, this, &CycleTimer::expired);
    }
}

CycleTimer::~CycleTimer()
{
    if (m_fd >= 0) {
        delete m_notifier;
        ::close(m_fd);
    }
}

void CycleTimer::setInterval(int ms)
{
    m_interval = ms;
    if (m_active)
        arm(true);
}

void CycleTimer::arm(bool on)
{
    if (m_fallback) {
        if (on)
            m_fallback->start(m_interval);
        else
            m_fallback->stop();
        return;
    }
    itimerspec due{};
    if (on) {
        const long ms = std::max(1, m_interval);
        due.it_value.tv_sec = ms / 1000;
        due.it_value.tv_nsec = (ms % 1000) * 1000000L;
        due.it_interval = due.it_value;
    }
    timerfd_settime(m_fd, 0, &due, nullptr);
    // An expiry that was already pending belongs to the old arming: drop it.
    uint64_t expirations = 0;
    while (::read(m_fd, &expirations, sizeof expirations) > 0) {
    }
}

void CycleTimer::start()
{
    arm(true);
    if (!m_active) {
        m_active = true;
        emit activeChanged(true);
    }
}

void CycleTimer::stop()
{
    arm(false);
    if (m_active) {
        m_active = false;
        emit activeChanged(false);
    }
}

void CycleTimer::expired()
{
    if (m_fd >= 0) {
        uint64_t expirations = 0;
        if (::read(m_fd, &expirations, sizeof expirations) != sizeof expirations)
            return;   // re-armed or stopped since the notifier fired
    }
    if (!m_active)
        return;
    m_lastFireNs = monotonicNs();
    emit timeout();
}

} // namespace plv
