#include "link/session.h"

#include "link/framing.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

namespace plv {

ReceiveTimer::ReceiveTimer(const QString &name, QObject *parent) : QObject(parent)
{
    setObjectName(name);
}

void ReceiveTimer::setActive(bool on)
{
    if (on == m_active)
        return;
    m_active = on;
    emit activeChanged(on);
    if (on)
        poke();   // data that waited while the timer was off is picked up now
}

void ReceiveTimer::poke()
{
    if (!m_active || m_tickQueued)
        return;
    m_tickQueued = true;
    QMetaObject::invokeMethod(this, [this] {
        m_tickQueued = false;
        if (m_active)
            emit tick();
    }, Qt::QueuedConnection);
}

Session::Session(QObject *window)
    : QObject(window),
      tmr_RCVTIMER(new ReceiveTimer(QStringLiteral("tmr_RCVTIMER"), window)),
      tmr_NETRCVTMR(new ReceiveTimer(QStringLiteral("tmr_NETRCVTMR"), window)),
      tmr_COMMWDT(new QTimer(window)),
      tmr_UPDATE(new CycleTimer(QStringLiteral("tmr_UPDATE"), 66, window)),
      m_serial(new SerialTransport(this)),
      m_tcp(new TcpTransport(this)),
      m_usb(new UsbTransport(this))
{
    setObjectName(QStringLiteral("session"));
    tmr_COMMWDT->setObjectName(QStringLiteral("tmr_COMMWDT"));
    tmr_COMMWDT->setInterval(5000);

    connect(m_serial, &Transport::readyRead, tmr_RCVTIMER, &ReceiveTimer::poke);
    connect(m_tcp, &Transport::readyRead, tmr_NETRCVTMR, &ReceiveTimer::poke);
    connect(tmr_RCVTIMER, &ReceiveTimer::tick, this, &Session::serialTick);
    connect(tmr_NETRCVTMR, &ReceiveTimer::tick, this, &Session::netTick);
    connect(tmr_COMMWDT, &QTimer::timeout, this, &Session::watchdogTick);
}

QByteArray Session::ProcessOutputString(const QByteArray &payload) const
{
    return frameCommand(payload, !isEthernet());
}

void Session::outputOutputString(const QByteArray &payload)
{
    const QByteArray frame = ProcessOutputString(payload);
    emit txFrame(frame);
    if (isEthernet()) {
        // Whatever already waits cannot answer this command: a late reply or the
        // unread answer to CANCEL would otherwise be taken for this one's reply. Not
        // while another command's reply is awaited (the exit sequence sends then).
        if (!waiting())
            m_tcp->discardInput();
        m_tcp->send(frame);
    } else if (isUsb()) {
        m_usb->send(frame);
    } else {
        m_serial->discardInput();
        m_serial->send(frame);
    }
}

QByteArray Session::nextSerialChar()
{
    if (!m_afterEtx.isEmpty()) {
        const QByteArray c = m_afterEtx.left(1);
        m_afterEtx.remove(0, 1);
        return c;
    }
    return m_serial->read(1);
}

QByteArray Session::WaitForReply()
{
    const bool eth = isEthernet();
    const bool usb = isUsb();
    Transport *link = eth ? static_cast<Transport *>(m_tcp) : usb ? static_cast<Transport *>(m_usb) : m_serial;
    const qint64 limitMs = usb ? kUsbTimeoutMs : kSerialTcpTimeoutMs;

    QByteArray reply;
    bool etx = false;
    m_afterEtx.clear();
    ++m_waitDepth;

    QElapsedTimer clock;   // monotonic: a jump of the wall clock changes nothing
    clock.start();
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(link, &Transport::readyRead, &loop, &QEventLoop::quit);

    auto keep = [&reply](const QByteArray &bytes) {
        const qsizetype room = kReplyLimit - reply.size();
        if (room > 0)
            reply += bytes.left(room);
    };

    for (;;) {
        // Timer ticks and operator actions are handled while the reply is awaited.
        QCoreApplication::processEvents();
        if (usb) {
            const QByteArray chunk = link->read(0);
            etx = chunk.contains(ETX);
            keep(chunk);
        } else if (eth) {
            const QByteArray chunk = link->readAll();
            etx = chunk.contains(ETX);
            keep(chunk);
        } else {
            // The reply ends with the read that brings the ETX; what follows stays for
            // the two reads after the loop.
            QByteArray chunk = link->readAll();
            const qsizetype at = chunk.indexOf(ETX);
            if (at >= 0) {
                m_afterEtx = chunk.mid(at + 1);
                chunk.truncate(at + 1);
                etx = true;
            }
            keep(chunk);
        }
        if (etx || clock.elapsed() > limitMs)
            break;
        if (!usb && link->bytesAvailable() == 0) {
            deadline.start(int(std::max<qint64>(1, limitMs + 1 - clock.elapsed())));
            loop.exec();
        }
    }

    if (!eth && !usb) {
        keep(nextSerialChar());
        emit msCommBuffer(nextSerialChar());
        tmr_COMMWDT->start();
    }
    emit rxText(reply, true);
    tmr_RCVTIMER->start();
    m_afterEtx.clear();
    if (m_serial->isOpen())
        m_serial->discardInput();

    --m_waitDepth;
    if (!m_deferred.isEmpty() && m_waitDepth == 0)
        QMetaObject::invokeMethod(this, &Session::runDeferred, Qt::QueuedConnection);
    return reply;
}

void Session::pause()
{
    if (tmr_RCVTIMER->isActive())
        tmr_RCVTIMER->stop();
    if (tmr_NETRCVTMR->isActive())
        tmr_NETRCVTMR->stop();
    if (AutoUpdate)
        tmr_UPDATE->stop();
}

void Session::rearm()
{
    if (!isEthernet())
        tmr_RCVTIMER->start();
    else
        tmr_NETRCVTMR->start();
    if (AutoUpdate)
        tmr_UPDATE->start();
}

QByteArray Session::transact(const QByteArray &payload)
{
    pause();
    outputOutputString(payload);
    return WaitForReply();
}

void Session::showCommErrors(bool leadingSpace)
{
    QString text = QString::number(CommErrors);
    if (leadingSpace && CommErrors >= 0)
        text.prepend(QLatin1Char(' '));
    emit commErrorsShown(text);
}

void Session::operate(std::function<void()> action)
{
    if (waiting()) {
        m_deferred.append(std::move(action));
        return;
    }
    action();
}

void Session::runDeferred()
{
    const auto pending = std::exchange(m_deferred, {});
    for (const auto &action : pending)
        operate(action);   // deferred again if an earlier one is now waiting
}

void Session::serialTick()
{
    // The reply wait owns the link while it runs.
    if (waiting() || isEthernet() || isUsb())
        return;
    while (tmr_RCVTIMER->isActive() && !waiting() && m_serial->bytesAvailable() > 0) {
        const QByteArray chunk = m_serial->read(1);
        if (chunk.isEmpty())
            break;
        if (const auto frame = m_framer.feed(chunk[0])) {
            RxBufferFull = 1;
            emit rxText(*frame, false);
            RxBufferFull = 0;
            // Line noise that ends in an ETX is no frame: read by position it could light
            // "HV ON". Only what began with an STX is decoded.
            if (frame->startsWith(STX))
                emit unsolicitedStatus(*frame, false);
        }
    }
}

void Session::netTick()
{
    if (waiting() || !isEthernet())
        return;
    while (tmr_NETRCVTMR->isActive() && !waiting() && m_tcp->bytesAvailable() > 0) {
        // Frames are not assembled across reads on this link: a piece without an ETX is
        // dropped, as the unit's own tools have always done.
        const QByteArray chunk = m_tcp->readAll();
        if (!chunk.contains(ETX))
            continue;
        RxBufferFull = 1;
        emit rxText(chunk, false);
        RxBufferFull = 0;
        m_framer.clear();
        emit unsolicitedStatus(chunk, true);
    }
}

void Session::watchdogTick()
{
    tmr_COMMWDT->stop();
    if (m_serialConfigured) {
        if (CommStatusFlag) {
            if (!m_serial->isOpen())
                m_serial->open();
        } else if (m_serial->isOpen()) {
            m_serial->close();
        } else {
            m_serial->open();
        }
    }
    tmr_COMMWDT->start();
}

} // namespace plv
