#include "link/session.h"

#include "protocol/framing.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

namespace plv {

void SteadyClock::sleep(Transport &link, qint64 deadlineMs)
{
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&link, &Transport::readyRead, &loop, &QEventLoop::quit);
    deadline.start(int(std::max<qint64>(1, deadlineMs - nowMs())));
    m_loop = &loop;
    loop.exec();
    m_loop = nullptr;
}

void SteadyClock::wake()
{
    if (m_loop)
        m_loop->quit();
}

Session::Session(QObject *window, Links links, std::unique_ptr<WaitClock> clock)
    : QObject(window),
      tmr_UPDATE(new CycleTimer(QStringLiteral("tmr_UPDATE"), 66, window)),
      m_links{links.serial ? links.serial : new SerialTransport(this),
              links.ethernet ? links.ethernet : new TcpTransport(this), links.usb ? links.usb : new UsbTransport(this)},
      m_serial(m_links[0]),
      m_clock(clock ? std::move(clock) : std::make_unique<SteadyClock>())
{
    setObjectName(QStringLiteral("session"));
    m_receiver = new Receiver(*m_links[0], *m_links[1], window, [this] { return waiting(); }, [this] { return linkKind(); });
    tmr_RCVTIMER = m_receiver->serialTimer;
    tmr_NETRCVTMR = m_receiver->netTimer;
    connect(m_receiver, &Receiver::frameShown, this, [this](const QByteArray &frame) { emit rxText(frame, false); });
    connect(m_receiver, &Receiver::unsolicitedStatus, this, &Session::unsolicitedStatus);
    connect(m_receiver, &Receiver::inputDiscarded, this, &Session::inputDiscarded);
    m_watchdog = new SerialWatchdog(*m_serial, window, [this] { return m_commStatusFlag; });
    tmr_COMMWDT = m_watchdog->timer();
    connect(m_watchdog, &SerialWatchdog::reopened, this, &Session::serialReopened);
    if (auto *tcp = qobject_cast<TcpTransport *>(m_links[1])) {
        m_reconnect = new TcpReconnect(*tcp, window);
        connect(tcp, &TcpTransport::disconnectedByPeer, this, [this] {
            if (isEthernet() && !m_ended)
                m_reconnect->start();
        });
        connect(m_reconnect, &TcpReconnect::reconnected, this, [this] {
            m_receiver->newConnection();
            if (isEthernet() && !m_ended)
                tmr_NETRCVTMR->start();
        });
    }
}

QByteArray Session::ProcessOutputString(const QByteArray &payload) const
{
    return frameCommand(payload, !isEthernet());
}

void Session::outputOutputString(const QByteArray &payload)
{
    if (m_ended)
        return;   // the links are closed: nothing leaves any more
    // A command sent while another's reply is awaited (the exit sequence's) must not
    // change what that wait takes for its reply.
    if (!waiting())
        m_awaitedEcho = payload.left(2);
    const QByteArray frame = ProcessOutputString(payload);
    emit txFrame(frame);
    Transport &out = link();
    switch (linkKind()) {
    case LinkKind::Ethernet:
        // Whatever already waits cannot answer this command: a late reply or the
        // unread answer to CANCEL would otherwise be taken for this one's reply. Not
        // while another command's reply is awaited (the exit sequence sends then).
        if (!waiting())
            discardWaiting(LinkKind::Ethernet, QStringLiteral("waiting before a command"));
        break;
    case LinkKind::Usb:
        break;   // a reply nobody read may still sit in the bridge: the echo rule skips it
    case LinkKind::Serial:
        discardWaiting(LinkKind::Serial, QStringLiteral("waiting before a command"));
        break;
    }
    if (!out.send(frame))
        emit sendFailed(frame);
}

void Session::discardWaiting(LinkKind kind, const QString &reason)
{
    Transport &in = link(kind);
    if (in.bytesAvailable() > 0)
        m_receiver->dropInput(kind, in.readAll(), reason);
    in.discardInput();
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

bool Session::isAwaitedReply(const QByteArray &frame) const
{
    // The unit repeats the command number at positions 2 and 3; anything before the
    // STX shifts them, so such text is never taken for the reply either.
    return m_awaitedEcho.isEmpty() || frame.mid(1, 2) == m_awaitedEcho;
}

void Session::notTheReply(const QByteArray &frame)
{
    ++m_echoMismatches;
    emit inputDiscarded(linkKind(), frame,
                        QStringLiteral("not the reply to %1").arg(QString::fromLatin1(m_awaitedEcho)));
    emit replyFault(QStringLiteral("Reply echoes %1 while %2 is awaited (%3 so far)")
                        .arg(renderFrame(frame.mid(1, 2)), QString::fromLatin1(m_awaitedEcho))
                        .arg(m_echoMismatches));
    if (frame.startsWith(STX) && frame.mid(1, 2) == "22")
        emit unsolicitedStatus(frame, isEthernet());
}

void Session::checkReplyChecksum(const QByteArray &frame)
{
    // Reported only: whether every unit sums its replies by the command rule is not
    // known, so the reply is decoded whatever this says.
    if (frame.size() < 4 || !frame.startsWith(STX) || !frame.endsWith(ETX))
        return;
    const char got = frame.at(frame.size() - 2);
    const char want = checksumChar(frame.mid(1, frame.size() - 3));
    if (got == want)
        return;
    ++m_checksumMismatches;
    emit replyFault(QStringLiteral("Reply checksum %1, expected %2 (%3 so far)")
                        .arg(renderFrame(QByteArray(1, got)), renderFrame(QByteArray(1, want)))
                        .arg(m_checksumMismatches));
}

QByteArray Session::WaitForReply()
{
    if (m_ended)
        return {};
    const bool eth = isEthernet();
    const bool usb = isUsb();
    Transport *in = &link();
    const qint64 limitMs = usb ? kUsbTimeoutMs : m_replyTimeoutMs;

    QByteArray pending;   // the frame being received
    QByteArray reply;
    QByteArray rest;      // what the read that completed the reply brought behind its ETX
    bool complete = false;
    m_afterEtx.clear();
    ++m_waitDepth;

    const qint64 start = m_clock->nowMs();   // monotonic: a jump of the wall clock changes nothing

    auto keep = [](QByteArray &into, const QByteArray &bytes) {
        const qsizetype room = kReplyLimit - into.size();
        if (room > 0)
            into += bytes.left(room);
    };
    // The reply ends at the first ETX of a frame that echoes the command; a frame that
    // does not is set aside and the wait goes on to its deadline.
    auto take = [&](QByteArray chunk) {
        for (;;) {
            const qsizetype at = chunk.indexOf(ETX);
            if (at < 0) {
                keep(pending, chunk);
                return false;
            }
            keep(pending, chunk.left(at + 1));
            chunk.remove(0, at + 1);
            if (isAwaitedReply(pending)) {
                reply = pending;
                rest = chunk;
                return true;
            }
            notTheReply(pending);
            pending.clear();
        }
    };

    // A link that fetches only when asked (USB) makes one read at a time, each asked for
    // here. Its wait ends with the first read that completes past the limit, never while
    // one is on its way: a read left running would hold up the next command's write.
    bool fetching = false;
    qint64 fetchedAt = -1;   // when the latest read completed
    auto fetchedLate = [&] { return fetchedAt >= 0 && fetchedAt - start > limitMs; };
    const QMetaObject::Connection fetched = connect(in, &Transport::readyRead, this, [&] {
        if (fetching) {
            fetching = false;
            fetchedAt = m_clock->nowMs();
        }
    });

    for (;;) {
        // Timer ticks and operator actions are handled while the reply is awaited.
        QCoreApplication::processEvents();
        if (m_ended)
            break;
        complete = take(in->readAll());
        if (complete)
            break;
        if (!fetching && !fetchedLate())
            fetching = in->requestInput();
        if (fetching) {
            // Only the read's readyRead or end() move the wait on; this deadline merely has
            // a read still on its way slept on again.
            constexpr qint64 kRecheckMs = 1000;
            m_clock->sleep(*in, m_clock->nowMs() + kRecheckMs);
            continue;
        }
        if (m_clock->nowMs() - start > limitMs)
            break;
        if (in->bytesAvailable() == 0)
            m_clock->sleep(*in, start + limitMs + 1);
    }
    disconnect(fetched);
    --m_waitDepth;
    if (m_ended)
        return {};   // the program is ending: the handler's chain stops here

    if (complete && !eth)
        checkReplyChecksum(reply);
    if (!complete)
        reply = pending;   // whatever came before the time-out, possibly nothing
    else if (eth || usb)
        keep(reply, rest);   // the whole read that brought the ETX
    else
        m_afterEtx = rest;   // left for the two reads after the loop

    QByteArray lead;   // the serial reads after the loop: read past the reply, not dropped
    if (!eth && !usb) {
        lead = nextSerialChar();
        keep(reply, lead);
        const QByteArray buffer = nextSerialChar();
        lead += buffer;
        emit msCommBuffer(buffer);
        // Started once and left running: restarting it at every wait would keep its
        // tick from ever coming while the update cycle runs.
        if (!tmr_COMMWDT->isActive())
            tmr_COMMWDT->start();
    }
    emit rxText(reply, true);
    emit exchanged(m_awaitedEcho, reply);
    tmr_RCVTIMER->start();
    if (eth) {
        // The reply keeps the whole read; a status frame behind it is status all the same.
        m_receiver->statusBehindReply(rest);
    }
    QByteArray after = lead + std::exchange(m_afterEtx, {});
    if (m_serial->isOpen()) {
        after += m_serial->readAll();
        m_serial->discardInput();
    }
    m_receiver->dropInput(LinkKind::Serial, after, QStringLiteral("after the reply"), lead.size());

    if ((!m_deferred.isEmpty() || !m_urgent.isEmpty()) && m_waitDepth == 0)
        QMetaObject::invokeMethod(this, &Session::runDeferred, Qt::QueuedConnection);
    return reply;
}

void Session::pauseReceiveTimers()
{
    tmr_RCVTIMER->stop();
    tmr_NETRCVTMR->stop();
}

void Session::pause()
{
    pauseReceiveTimers();
    if (m_autoUpdate)
        tmr_UPDATE->stop();
}

void Session::rearmReceiveTimer()
{
    if (m_ended)
        return;
    if (!isEthernet())
        tmr_RCVTIMER->start();
    else
        tmr_NETRCVTMR->start();
}

void Session::rearm()
{
    if (m_ended)
        return;
    rearmReceiveTimer();
    if (m_autoUpdate)
        tmr_UPDATE->start();
}

QByteArray Session::transact(const QByteArray &payload, const Exchange &how)
{
    using E = Exchange;
    if (how.pause == E::Pause::All) {
        pause();
    } else if (how.pause == E::Pause::ReceiveTimers) {
        pauseReceiveTimers();
    }
    outputOutputString(payload);
    QByteArray reply;
    if (how.wait) {
        reply = WaitForReply();
        if (reply.isEmpty() && !m_ended && how.count != E::Count::Nothing) {
            countError();
            if (how.count == E::Count::IfEmptyAndShow)
                showCommErrors();
        }
    }
    if (how.rearm == E::Rearm::All)
        rearm();
    else if (how.rearm == E::Rearm::ReceiveTimer)
        rearmReceiveTimer();
    return reply;
}

Session::LinkOpened Session::useLink(LinkKind kind, const LinkTarget &target)
{
    LinkOpened out;
    switch (kind) {
    case LinkKind::Serial: {
        tmr_RCVTIMER->stop();
        SerialTransport &port = serial();
        port.close();
        port.setPortName(target.device);
        if (!target.settings.isEmpty())
            port.setSettings(target.settings);
        if (!port.open()) {
            out.error = port.port().errorString();
            return out;
        }
        setSerialConfigured(true);
        m_commMode = target.serialMode;
        tmr_RCVTIMER->start();
        tmr_NETRCVTMR->stop();
        out.open = true;
        return out;
    }
    case LinkKind::Ethernet: {
        pauseReceiveTimers();
        m_commMode = QStringLiteral("ethernet");
        TcpTransport &net = tcp();
        if (!target.host.isEmpty())
            net.setRemote(target.host, target.port);
        m_receiver->newConnection();
        net.open();
        out.open = waitForConnection(10000);
        if (m_ended)
            return {};
        if (!out.open) {
            const QAbstractSocket::SocketError e = net.socket().error();
            out.refused = e == QAbstractSocket::ConnectionRefusedError;
            out.error = e == QAbstractSocket::UnknownSocketError ? QStringLiteral("no connection within 10 s")
                                                                 : net.socket().errorString();
        }
        tmr_NETRCVTMR->start();
        return out;
    }
    case LinkKind::Usb: {
        m_commMode = QStringLiteral("USB");
        UsbTransport &bridge = usb();
        bridge.find();   // no device found is the caller's to report
        tmr_RCVTIMER->start();
        tmr_NETRCVTMR->stop();
        out.open = bridge.isOpen();
        if (!bridge.libraryLoaded())
            out.error = QStringLiteral("the USB bridge library is not loaded");
        else if (!out.open)
            out.error = QStringLiteral("no USB unit found");
        return out;
    }
    }
    return out;
}

bool Session::waitForConnection(int timeoutMs)
{
    auto *tcp = qobject_cast<TcpTransport *>(m_links[1]);
    if (!tcp)
        return m_links[1]->isOpen();
    if (!tcp->settled() && !m_ended) {
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        connect(tcp, &TcpTransport::stateSettled, &loop, &QEventLoop::quit);
        connect(this, &Session::ending, &loop, &QEventLoop::quit);
        limit.start(timeoutMs);
        loop.exec();
    }
    if (!tcp->isConnected())
        tcp->abort();   // refused, failed, or not made in time: given up
    return tcp->isConnected() && !m_ended;
}

void Session::closeLinks(bool tcpAlways)
{
    link(LinkKind::Serial).close();
    if (tcpAlways || isEthernet())
        link(LinkKind::Ethernet).close();
    link(LinkKind::Usb).close();   // the bridge stays loaded; nothing more is written to it
    tmr_COMMWDT->stop();
    stopReconnecting();
}

void Session::closeLink()
{
    pauseReceiveTimers();
    tmr_COMMWDT->stop();
    setSerialConfigured(false);
    stopReconnecting();
    link().close();
}

void Session::showCommErrors(bool leadingSpace)
{
    QString text = QString::number(m_commErrors);
    if (leadingSpace && m_commErrors >= 0)
        text.prepend(QLatin1Char(' '));
    emit commErrorsShown(text);
}

void Session::operate(std::function<void()> action)
{
    if (m_ended)
        return;
    if (waiting()) {
        m_deferred.append(std::move(action));
        return;
    }
    action();
}

void Session::operateFirst(std::function<void()> action)
{
    if (m_ended)
        return;
    if (waiting()) {
        m_urgent.append(std::move(action));
        return;
    }
    action();
}

void Session::runDeferred()
{
    // Each is queued again, in its own list, if an earlier one is now waiting.
    for (const auto &action : std::exchange(m_urgent, {}))
        operateFirst(action);
    for (const auto &action : std::exchange(m_deferred, {}))
        operate(action);
}

bool Session::runBetween(bool urgentOnly)
{
    const quint64 epoch = m_sequenceEpoch;
    if (!m_ended && !waiting() && (!m_urgent.isEmpty() || (!urgentOnly && !m_deferred.isEmpty()))) {
        if (urgentOnly) {
            for (const auto &action : std::exchange(m_urgent, {}))
                operateFirst(action);
        } else {
            runDeferred();
        }
        // What ran re-armed the timers; the sequence goes on paused, as it was.
        if (!m_ended && epoch == m_sequenceEpoch)
            pause();
    }
    return !m_ended && epoch == m_sequenceEpoch;
}

void Session::end()
{
    m_ended = true;
    m_deferred.clear();
    m_urgent.clear();
    m_clock->wake();
    emit ending();
    tmr_UPDATE->stop();
    tmr_COMMWDT->stop();
    tmr_RCVTIMER->stop();
    tmr_NETRCVTMR->stop();
    stopReconnecting();
}

} // namespace plv
