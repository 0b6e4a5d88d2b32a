#include "console/logbooktraffic.h"

#include "protocol/framing.h"
#include "unit/unit.h"

#include <QTimer>

namespace plv {

using logs::Direction;

namespace {

// Junk rows keep this much of what was thrown away; the count says how much there was.
constexpr int kJunkHeadBytes = 64;

logs::ChecksumVerdict verdictOf(const QByteArray &frame)
{
    const auto ok = checksumMatches(frame);
    return !ok ? logs::ChecksumVerdict::NotApplicable : *ok ? logs::ChecksumVerdict::Ok : logs::ChecksumVerdict::Bad;
}

} // namespace

TrafficFeed::TrafficFeed(Session &s, Unit &unit, std::function<Factors()> factors, QObject *parent)
    : QObject(parent), m_session(s), m_factors(std::move(factors)),
      m_traffic(new logs::TrafficLog(logs::TrafficLog::DefaultCapacity, this)), m_junkFlush(new QTimer(parent))
{
    connect(&s, &Session::txFrame, this, &TrafficFeed::sent);
    connect(&unit, &Unit::replied, this, &TrafficFeed::replied);
    connect(&s, &Session::rxText, this, [this](const QByteArray &text, bool awaited) {
        if (!awaited)
            unsolicited(text);
    });
    connect(&s, &Session::inputDiscarded, this, &TrafficFeed::discarded);
    connect(&s, &Session::sendFailed, this, [this](const QByteArray &frame) {
        addRow(Direction::Error, m_session.linkKind(), frame, tr("not sent: the link would not take it"));
    });
    for (const auto kind : {Session::LinkKind::Ethernet, Session::LinkKind::Serial})
        connect(&s.link(kind), &Transport::errorOccurred, this,
                [this, kind](const QString &what) { addRowOn(Direction::Error, linkName(kind), false, {}, what); });
    m_junkFlush->setObjectName(QStringLiteral("tmr_JUNKROWS"));
    m_junkFlush->setSingleShot(true);
    m_junkFlush->setInterval(500);
    connect(m_junkFlush, &QTimer::timeout, this, &TrafficFeed::flushDiscarded);
}

QString TrafficFeed::linkName(Session::LinkKind kind) const
{
    // Made once per link and its address, not for every row.
    LinkNameCache &c = m_linkNames[int(kind)];
    // Links handed in (tests) have no device name or address.
    const auto *serial = qobject_cast<const SerialTransport *>(&m_session.link(Session::LinkKind::Serial));
    const auto *tcp = qobject_cast<const TcpTransport *>(&m_session.link(Session::LinkKind::Ethernet));
    const QString address = kind == Session::LinkKind::Serial     ? (serial ? serial->portName() : QString())
                            : kind == Session::LinkKind::Ethernet ? (tcp ? tcp->host() : QString())
                                                                  : QString();
    const quint16 port = kind == Session::LinkKind::Ethernet && tcp ? tcp->remotePort() : 0;
    if (c.name.isEmpty() || c.address != address || c.port != port)
        c = {address, port, makeLinkName(kind)};
    return c.name;
}

QString TrafficFeed::makeLinkName(Session::LinkKind kind) const
{
    switch (kind) {
    case Session::LinkKind::Serial: {
        // The port keeps "ttyS0" for "/dev/ttyS0": the row names the device as chosen.
        const auto *serial = qobject_cast<const SerialTransport *>(&m_session.link(kind));
        const QString name = serial ? serial->portName() : QString();
        return QStringLiteral("serial ") + (name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name);
    }
    case Session::LinkKind::Ethernet: {
        const auto *tcp = qobject_cast<const TcpTransport *>(&m_session.link(kind));
        return tcp ? QStringLiteral("Ethernet %1:%2").arg(tcp->host()).arg(tcp->remotePort()) : QStringLiteral("Ethernet");
    }
    case Session::LinkKind::Usb: return QStringLiteral("USB");
    }
    return {};
}

void TrafficFeed::addRow(Direction d, Session::LinkKind kind, const QByteArray &frame, const QString &meaning)
{
    addRowOn(d, linkName(kind), kind != Session::LinkKind::Ethernet, frame, meaning);
}

void TrafficFeed::addRowOn(Direction d, const QString &link, bool checksummed, const QByteArray &frame,
                           const QString &meaning)
{
    if (m_junk.active)
        flushDiscarded();
    m_traffic->recordAt(m_clock.nowMs(), d, link, frame,
                        checksummed ? verdictOf(frame) : logs::ChecksumVerdict::NotApplicable, meaning);
}

void TrafficFeed::sent(const QByteArray &frame)
{
    m_lastSent = framePayload(frame);
    addRow(Direction::Tx, m_session.linkKind(), frame, commandMeaning(m_lastSent, m_factors()));
}

void TrafficFeed::replied(const Reply &reply)
{
    const Session::LinkKind kind = m_session.linkKind();
    if (reply.answered()) {
        addRow(Direction::Rx, kind, reply.frame, replyMeaning(reply, m_lastSent, m_factors()));
        return;
    }
    const int limit = kind == Session::LinkKind::Usb ? Session::kUsbTimeoutMs : Session::kSerialTcpTimeoutMs;
    const QString command = QString::fromLatin1(reply.command);
    addRow(Direction::Timeout, kind, reply.frame,
           reply.frame.isEmpty() ? tr("no reply to %1 within %2 ms").arg(command).arg(limit)
                                 : tr("reply to %1 incomplete after %2 ms").arg(command).arg(limit));
}

void TrafficFeed::unsolicited(const QByteArray &frame)
{
    // A unit reporting on its own repeats one frame hundreds of times a second.
    const Factors f = m_factors();
    if (frame != m_lastUnsolicited || !(f == m_lastUnsolicitedFactors)) {
        m_lastUnsolicited = frame;
        m_lastUnsolicitedFactors = f;
        m_lastUnsolicitedMeaning = frameMeaning(frame, f);
    }
    addRow(Direction::RxUnsolicited, m_session.linkKind(), frame, m_lastUnsolicitedMeaning);
}

void TrafficFeed::discarded(Session::LinkKind kind, const QByteArray &bytes, const QString &reason)
{
    // A frame is a row of its own; pieces of junk in a row are counted into one.
    const bool junk = !bytes.contains(ETX);
    if (m_junk.active && (!junk || kind != m_junk.link || reason != m_junk.reason))
        flushDiscarded();
    if (!junk) {
        const QString meaning = frameMeaning(bytes, m_factors());
        addRow(Direction::Discarded, kind, bytes,
               tr("%1 bytes, %2").arg(bytes.size()).arg(reason) + (meaning.isEmpty() ? QString() : QStringLiteral(": ") + meaning));
        return;
    }
    if (!m_junk.active)
        m_junk = {true, kind, reason, bytes.left(kJunkHeadBytes), 0, 0, m_clock.nowMs()};
    m_junk.bytes += bytes.size();
    ++m_junk.pieces;
    m_junkFlush->start();
}

void TrafficFeed::flushDiscarded()
{
    if (!m_junk.active)
        return;
    const Junk j = std::exchange(m_junk, {});
    m_junkFlush->stop();
    QString meaning = j.pieces > 1 ? tr("%1 bytes in %2 pieces, %3").arg(j.bytes).arg(j.pieces).arg(j.reason)
                                   : tr("%1 bytes, %2").arg(j.bytes).arg(j.reason);
    if (j.bytes > j.head.size())
        meaning += tr(" (first %1 shown)").arg(j.head.size());
    m_traffic->recordAt(j.timeMs, Direction::Discarded, linkName(j.link), j.head, logs::ChecksumVerdict::NotApplicable,
                        meaning);
}

} // namespace plv
