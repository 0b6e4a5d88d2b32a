#pragma once
// The update cycle's timer. Qt's timers wake on whole milliseconds counted from when
// the event loop next sleeps, which stretches each 66 ms gap by about half a
// millisecond; a timerfd armed at start() keeps the gaps to the microsecond.
#include <QObject>

class QSocketNotifier;
class QTimer;

namespace plv {

class CycleTimer : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool active READ isActive NOTIFY activeChanged)
    Q_PROPERTY(int interval READ interval WRITE setInterval)
public:
    CycleTimer(const QString &name, int intervalMs, QObject *parent);
    ~CycleTimer() override;

    bool isActive() const { return m_active; }
    int interval() const { return m_interval; }
    void setInterval(int ms);
    // Starts or restarts the interval from now; repeats until stopped.
    void start();
    void stop();
    // CLOCK_MONOTONIC nanoseconds at the last expiry, taken before timeout() is emitted.
    qint64 lastFireNs() const { return m_lastFireNs; }

signals:
    void timeout();
    void activeChanged(bool on);

private:
    void expired();
    void arm(bool on);
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_fallback = nullptr;   // where timerfd is not available
    int m_interval;
    bool m_active = false;
    qint64 m_lastFireNs = 0;
};

} // namespace plv
