#pragma once
// The link to the unit and the transaction rule: choosing a link, framing and sending a
// command, waiting for its reply, the operator-action queue, and the communication
// counters. What arrives outside a transaction is the Receiver's, the serial port's
// upkeep the SerialWatchdog's, a lost TCP link's return the TcpReconnect's. Protocol
// code never touches a widget: what the status bar and the diagnostics window show
// leaves here as signals.
#include "link/cycletimer.h"
#include "link/receiver.h"
#include "link/watchdog.h"
#include "protocol/linkkind.h"
#include "link/serialtransport.h"
#include "link/tcpreconnect.h"
#include "link/tcptransport.h"
#include "link/usbtransport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QList>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

namespace plv {

// Time as the reply wait sees it, and its sleep until input or a deadline. Tests hand
// in a clock they drive, so time-outs are exact and nothing waits in real time.
class WaitClock {
public:
    virtual ~WaitClock() = default;
    virtual qint64 nowMs() = 0;   // monotonic
    // Returns when 'link' has input, the deadline has come or wake() was called.
    virtual void sleep(Transport &link, qint64 deadlineMs) = 0;
    virtual void wake() = 0;
};

// The real clock: a monotonic timer, and an event loop that keeps the console alive
// while it sleeps.
class SteadyClock : public WaitClock {
public:
    SteadyClock() { m_clock.start(); }
    qint64 nowMs() override { return m_clock.elapsed(); }
    void sleep(Transport &link, qint64 deadlineMs) override;
    void wake() override;

private:
    QElapsedTimer m_clock;
    QEventLoop *m_loop = nullptr;
};

class Session : public QObject {
    Q_OBJECT
public:
    // Longest reply kept; a unit never sends more than a few dozen characters, and a
    // flood without an ETX must not grow memory.
    static constexpr int kReplyLimit = 4096;
    static constexpr int kSerialTcpTimeoutMs = 1000;
    static constexpr int kUsbTimeoutMs = 90;
    // The serial and Ethernet reply wait; the console keeps the default, a script may
    // want a slower or quicker verdict. USB keeps its own rule.
    int replyTimeoutMs() const { return m_replyTimeoutMs; }
    void setReplyTimeoutMs(int ms) { m_replyTimeoutMs = ms; }

    // The three links the session owns; any left out is the real one.
    struct Links {
        Transport *serial = nullptr, *ethernet = nullptr, *usb = nullptr;
    };
    // Timers are created as children of 'window', named as the console names them.
    explicit Session(QObject *window) : Session(window, Links{nullptr, nullptr, nullptr}, nullptr) {}
    Session(QObject *window, Links links, std::unique_ptr<WaitClock> clock);

    // Link mode: "comm1", "comm2", "ethernet", "USB", or empty before the first choice.
    // Only "ethernet" and "USB" are tested; anything else is the serial port. useLink()
    // sets it; a link set up in code (tests, benchmarks) sets the text alone.
    QString CommMode() const { return m_commMode; }
    void setCommMode(const QString &mode) { m_commMode = mode; }
    using LinkKind = plv::LinkKind;
    LinkKind linkKind() const
    {
        return m_commMode == QLatin1String("ethernet") ? LinkKind::Ethernet
               : m_commMode == QLatin1String("USB")    ? LinkKind::Usb
                                                     : LinkKind::Serial;
    }
    bool isEthernet() const { return linkKind() == LinkKind::Ethernet; }
    bool isUsb() const { return linkKind() == LinkKind::Usb; }
    Transport &link(LinkKind kind) const { return *m_links[int(kind)]; }
    Transport &link() const { return link(linkKind()); }

    // The real transports, for their own settings (port name, rate, host, bridge).
    SerialTransport &serial() { return *qobject_cast<SerialTransport *>(m_links[0]); }
    TcpTransport &tcp() { return *qobject_cast<TcpTransport *>(m_links[1]); }
    UsbTransport &usb() { return *qobject_cast<UsbTransport *>(m_links[2]); }

    // Where useLink() goes: the serial device, its line settings ("115200,n,8,1"; empty
    // keeps those set before) and mode text ("comm1" or "comm2"); the TCP host and port
    // (an empty host keeps the address set before).
    struct LinkTarget {
        QString device;
        QString settings;
        QString serialMode = QStringLiteral("comm1");
        QString host;
        quint16 port = 0;
    };
    struct LinkOpened {
        bool open = false;
        bool refused = false;   // TCP: the unit refused the connection
        QString error;          // why it did not open
    };
    // The one way a link is chosen, for the console and plvctl alike: the transport is set
    // up and opened (TCP waits up to 10 s with the event loop running), the mode recorded
    // and the matching receive timer armed. Serial: on failure the mode stays as it was.
    // Ethernet and USB: the mode changes whatever the outcome. A link left for another
    // stays open; only Disconnect and the exit paths close one.
    LinkOpened useLink(LinkKind kind, const LinkTarget &target);
    LinkOpened useLink(LinkKind kind) { return useLink(kind, LinkTarget{}); }

    // Waits, with the event loop running, until the Ethernet connection is made or has
    // failed, at most 'timeoutMs'; a connection still pending then is given up.
    bool waitForConnection(int timeoutMs);
    // The exit paths: the serial port, the TCP connection when Ethernet is chosen (or
    // always), and the USB link; the watchdog and the TCP retries stop for good.
    void closeLinks(bool tcpAlways);
    // Disconnect: the chosen link closes, and nothing reads, reopens or reconnects it.
    void closeLink();

    // The Ethernet link comes back by itself when the unit closes a live connection;
    // null when the Ethernet link is not a real TCP one (tests).
    TcpReconnect *tcpReconnect() const { return m_reconnect; }
    void stopReconnecting()
    {
        if (m_reconnect)
            m_reconnect->stop();
    }

    CycleTimer *tmr_UPDATE;
    ReceiveTimer *tmr_RCVTIMER;    // the receive side's, and the watchdog's
    ReceiveTimer *tmr_NETRCVTMR;
    QTimer *tmr_COMMWDT;

    // Automatic update mode: transactions re-arm tmr_UPDATE while it is on.
    bool AutoUpdate() const { return m_autoUpdate; }
    void setAutoUpdate(bool on) { m_autoUpdate = on; }
    // Transactions that got no reply; never reset.
    int CommErrors() const { return m_commErrors; }
    // Set by every handler that decoded a reply; the watchdog reads it.
    bool CommStatusFlag() const { return m_commStatusFlag; }
    void replyDecoded() { m_commStatusFlag = true; }
    // Frames that were not the awaited reply (wrong echo) and replies whose checksum
    // character is off, as shown in the diagnostics window.
    int EchoMismatches() const { return m_echoMismatches; }
    int ChecksumMismatches() const { return m_checksumMismatches; }

    QByteArray ProcessOutputString(const QByteArray &payload) const;
    void outputOutputString(const QByteArray &payload);
    QByteArray WaitForReply();

    // The transaction pattern around a command: pause the receive and update timers,
    // and afterwards re-arm the current link's receive timer and the update timer.
    void pause();
    void pauseReceiveTimers();
    void rearm();

    // How one transaction runs. The default is the common pattern: pause, send, wait,
    // count a missing reply and show the count, re-arm. Handlers that differ say how.
    struct Exchange {
        enum class Pause { All, ReceiveTimers, Nothing };
        enum class Count { IfEmptyAndShow, IfEmpty, Nothing };
        // ReceiveTimer: the current link's receive timer only, so that a status frame the
        // unit sends afterwards is still read. Nothing: the first of the status pair.
        enum class Rearm { All, ReceiveTimer, Nothing };
        Pause pause = Pause::All;
        bool wait = true;   // false: the reply is left to the receive timer, or to nobody
        Count count = Count::IfEmptyAndShow;
        Rearm rearm = Rearm::All;
    };
    // The one home of the transaction: returns the reply (empty when none came, or when
    // not waited for).
    QByteArray transact(const QByteArray &payload, const Exchange &how);
    QByteArray transact(const QByteArray &payload) { return transact(payload, Exchange{}); }

    void countError() { ++m_commErrors; }
    // Writes the counter into the diagnostics window (through commErrorsShown).
    void showCommErrors(bool leadingSpace = false);

    // One transaction at a time on a link: an operator action that arrives while a
    // reply is awaited runs after that transaction has ended.
    bool waiting() const { return m_waitDepth > 0; }
    void operate(std::function<void()> action);
    // Like operate(), but ahead of every queued action: the emergency HV off.
    void operateFirst(std::function<void()> action);
    // Between the two transactions of one step (the status pair): only what came through
    // operateFirst() runs now; other queued actions wait until the step has ended.
    void runUrgent() { runBetween(true); }

    // A handler that runs several transactions calls this before each one after the
    // first: queued operator actions run now, between transactions, and the result
    // says whether the sequence may go on (false once the operator's choice ended it
    // or the program is ending).
    bool nextTransaction() { return runBetween(false); }
    // The operator chose something that ends any running sequence (manual mode, a new
    // link, an exit path): none of its later transactions is sent.
    void endSequences() { ++m_sequenceEpoch; }

    // The program ends: a wait in progress returns at once, queued actions are dropped,
    // and nothing is sent any more.
    void end();
    bool ended() const { return m_ended; }

    // Serial watchdog's notion of the port to reopen.
    bool serialConfigured() const { return m_watchdog->configured(); }
    void setSerialConfigured(bool on) { m_watchdog->setConfigured(on); }

signals:
    void txFrame(const QByteArray &frame);                 // status bar panel 4, "TX: "
    void rxText(const QByteArray &text, bool prefixed);    // panel 3, "RX: " when prefixed
    void msCommBuffer(const QByteArray &text);             // diagnostics "MSComm Buffer"
    void commErrorsShown(const QString &text);             // diagnostics "Comm Errors"
    void replyFault(const QString &text);                  // diagnostics "Last Error"
    void ending();                                         // end() was called
    // Every awaited reply, or its absence (empty), with the command number it answers.
    void exchanged(const QByteArray &command, const QByteArray &reply);
    void serialReopened();                                 // by the watchdog
    void unsolicitedStatus(const QByteArray &message, bool viaEthernet);
    // Input thrown away on 'link': bytes waiting before a command or after a reply, a
    // piece without an ETX, bytes before an STX, a frame that does not echo the command.
    void inputDiscarded(plv::LinkKind link, const QByteArray &bytes, const QString &reason);
    // A frame the link would not take (not open, or the write failed).
    void sendFailed(const QByteArray &frame);

private:
    QByteArray nextSerialChar();
    void runDeferred();
    bool runBetween(bool urgentOnly);
    void rearmReceiveTimer();
    bool isAwaitedReply(const QByteArray &frame) const;
    void notTheReply(const QByteArray &frame);
    void checkReplyChecksum(const QByteArray &frame);
    // Drops what waits on 'kind', saying so when anything did.
    void discardWaiting(LinkKind kind, const QString &reason);

    QString m_commMode;
    bool m_autoUpdate = false;
    int m_commErrors = 0;
    bool m_commStatusFlag = true;
    int m_echoMismatches = 0;
    int m_checksumMismatches = 0;
    Transport *m_links[3];
    Transport *m_serial;   // the serial link: its watchdog and receive timer
    Receiver *m_receiver;
    SerialWatchdog *m_watchdog;
    TcpReconnect *m_reconnect = nullptr;
    std::unique_ptr<WaitClock> m_clock;
    QByteArray m_afterEtx;        // serial characters read past a reply's ETX
    int m_waitDepth = 0;
    QByteArray m_awaitedEcho;     // command number of the last command sent
    quint64 m_sequenceEpoch = 0;
    bool m_ended = false;
    int m_replyTimeoutMs = kSerialTcpTimeoutMs;
    QList<std::function<void()>> m_deferred;
    QList<std::function<void()>> m_urgent;   // operateFirst(): run before m_deferred
};

} // namespace plv
