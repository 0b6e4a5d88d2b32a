#include "link/receiver.h"

#include "protocol/framing.h"

#include <QList>
#include <utility>

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

Receiver::Receiver(Transport &serial, Transport &ethernet, QObject *window, std::function<bool()> busy,
                   std::function<LinkKind()> current)
    : QObject(window), serialTimer(new ReceiveTimer(QStringLiteral("tmr_RCVTIMER"), window)),
      netTimer(new ReceiveTimer(QStringLiteral("tmr_NETRCVTMR"), window)), m_serial(serial), m_ethernet(ethernet),
      m_busy(std::move(busy)), m_current(std::move(current))
{
    connect(&m_serial, &Transport::readyRead, serialTimer, &ReceiveTimer::poke);
    connect(&m_ethernet, &Transport::readyRead, netTimer, &ReceiveTimer::poke);
    connect(serialTimer, &ReceiveTimer::tick, this, &Receiver::serialTick);
    connect(netTimer, &ReceiveTimer::tick, this, &Receiver::netTick);
}

namespace {
// Where complete status frames ("22" echoed) lie in 'bytes': [STX, ETX] index pairs.
QList<std::pair<qsizetype, qsizetype>> statusFramesIn(const QByteArray &bytes)
{
    QList<std::pair<qsizetype, qsizetype>> found;
    qsizetype from = 0;
    for (qsizetype etx = bytes.indexOf(ETX); etx >= 0; etx = bytes.indexOf(ETX, from)) {
        const qsizetype stx = bytes.lastIndexOf(STX, etx);
        if (stx >= from && bytes.mid(stx + 1, 2) == "22")
            found.append({stx, etx});
        from = etx + 1;
    }
    return found;
}
} // namespace

void Receiver::dropInput(LinkKind kind, const QByteArray &bytes, const QString &reason, qsizetype reportFrom)
{
    QByteArray rest;
    qsizetype at = 0;
    for (const auto &[stx, etx] : statusFramesIn(bytes)) {
        unsolicitedFrame(bytes.mid(stx, etx - stx + 1), kind == LinkKind::Ethernet);
        rest += bytes.mid(std::max(at, reportFrom), stx - std::max(at, reportFrom));
        at = etx + 1;
    }
    rest += bytes.mid(std::max(at, reportFrom));
    if (!rest.isEmpty())
        emit inputDiscarded(kind, rest, reason);
}

void Receiver::unsolicitedFrame(const QByteArray &frame, bool viaEthernet)
{
    emit frameShown(frame);
    // Only a status frame is decoded as status: line noise ending in an ETX, or a late
    // reply to another command, read by position could light "HV ON".
    if (frame.startsWith(STX) && frame.mid(1, 2) == "22")
        emit unsolicitedStatus(frame, viaEthernet);
}

void Receiver::statusBehindReply(const QByteArray &rest)
{
    for (const auto &[stx, etx] : statusFramesIn(rest))
        unsolicitedFrame(rest.mid(stx, etx - stx + 1), true);
    // A frame begun in that read is finished by the receive timer's next reads.
    m_netFramer.clear();
    const qsizetype begun = rest.indexOf(STX, rest.lastIndexOf(ETX) + 1);
    if (begun >= 0)
        for (const char c : rest.mid(begun))
            m_netFramer.feed(c);
}

void Receiver::serialTick()
{
    // The reply wait owns the link while it runs.
    if (m_busy() || m_current() != LinkKind::Serial)
        return;
    while (serialTimer->isActive() && !m_busy() && m_serial.bytesAvailable() > 0) {
        const QByteArray chunk = m_serial.read(1);
        if (chunk.isEmpty())
            break;
        frameByte(LinkKind::Serial, m_framer, chunk[0]);
    }
}

void Receiver::frameByte(LinkKind kind, SerialFramer &framer, char c)
{
    // The framer drops a frame without its ETX when an STX or its size limit comes.
    const QByteArray &held = framer.pending();
    if (!held.isEmpty() && (c == STX || (c != ETX && held.size() >= SerialFramer::kLimit)))
        emit inputDiscarded(kind, c == STX ? held : held + c,
                            c == STX ? QStringLiteral("no ETX before the next STX")
                                     : QStringLiteral("no ETX within %1 bytes").arg(SerialFramer::kLimit));
    if (const auto frame = framer.feed(c))
        unsolicitedFrame(*frame, kind == LinkKind::Ethernet);
}

void Receiver::netTick()
{
    if (m_busy() || m_current() != LinkKind::Ethernet)
        return;
    while (netTimer->isActive() && !m_busy() && m_ethernet.bytesAvailable() > 0) {
        // Assembled across reads like the serial link's: a status frame that TCP
        // delivers in two pieces is not lost.
        for (const char c : m_ethernet.readAll())
            frameByte(LinkKind::Ethernet, m_netFramer, c);
    }
}

} // namespace plv
