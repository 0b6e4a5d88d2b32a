#pragma once
// What arrives outside a transaction: the two receive timers, the framers that assemble
// unsolicited frames on the serial and Ethernet links, and the rule that a status frame
// in input that is otherwise dropped still reaches the lamps.
#include "link/transport.h"
#include "protocol/linkkind.h"
#include "protocol/serialframer.h"

#include <QObject>
#include <functional>

namespace plv {

// A 1 ms receive timer in name only: it does its work when data arrives, so nothing
// ticks while the line is quiet. 'active' is the enabled flag the console keeps.
class ReceiveTimer : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool active READ isActive NOTIFY activeChanged)
    Q_PROPERTY(int interval READ interval CONSTANT)
public:
    ReceiveTimer(const QString &name, QObject *parent);
    bool isActive() const { return m_active; }
    int interval() const { return 1; }
    void start() { setActive(true); }
    void stop() { setActive(false); }
    void setActive(bool on);
signals:
    void activeChanged(bool on);
    void tick();   // work to do: armed again, or data arrived while armed
public:
    void poke();   // data arrived
private:
    bool m_active = false;
    bool m_tickQueued = false;
};

class Receiver : public QObject {
    Q_OBJECT
public:
    // The timers are children of 'window', named as the console names them. 'busy' says
    // a reply is awaited (the wait owns the links then); 'current' is the link in use.
    Receiver(Transport &serial, Transport &ethernet, QObject *window, std::function<bool()> busy,
             std::function<LinkKind()> current);

    ReceiveTimer *const serialTimer;   // tmr_RCVTIMER
    ReceiveTimer *const netTimer;      // tmr_NETRCVTMR

    // Input that is dropped: a status frame in it still reaches the lamps; the rest from
    // 'reportFrom' on is reported as discarded.
    void dropInput(LinkKind kind, const QByteArray &bytes, const QString &reason, qsizetype reportFrom = 0);
    // Ethernet: status frames in what the read that completed a reply brought behind it,
    // and the start of one that the next reads complete.
    void statusBehindReply(const QByteArray &rest);
    void newConnection() { m_netFramer.clear(); }

signals:
    void frameShown(const QByteArray &frame);   // status bar panel 3, without prefix
    void unsolicitedStatus(const QByteArray &message, bool viaEthernet);
    void inputDiscarded(plv::LinkKind link, const QByteArray &bytes, const QString &reason);

private:
    void serialTick();
    void netTick();
    // One byte of unsolicited input on 'kind' through its framer.
    void frameByte(LinkKind kind, SerialFramer &framer, char c);
    // A frame picked up outside a transaction: shown, and decoded when it is a status frame.
    void unsolicitedFrame(const QByteArray &frame, bool viaEthernet);

    Transport &m_serial;
    Transport &m_ethernet;
    std::function<bool()> m_busy;
    std::function<LinkKind()> m_current;
    SerialFramer m_framer;      // unsolicited frames on the serial link
    SerialFramer m_netFramer;   // and on the Ethernet link, assembled across reads
};

} // namespace plv
